#pragma once

#include <string>
#include <vector>

#include "record/software_entry.h"

// The bytes of the record file at the path, used unchanged. A file that cannot be opened
// reads as empty; a read error ends the read with what was read.
std::string ReadRecordBytes(const std::wstring& path);

// Reads the whole record file at the path, used unchanged. A file that cannot be
// opened reads as no records; a read error ends the scan with what was read.
std::vector<SoftwareEntry> ReadSoftwareEntries(const std::wstring& path);

// Replaces the record file's content with the entries, atomically: the old file
// stays intact on any failure. Reports nothing.
void WriteSoftwareEntries(const std::wstring& path, const std::vector<SoftwareEntry>& entries);
