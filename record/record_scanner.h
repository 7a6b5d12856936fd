#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "record/software_entry.h"

// The record file's line scanner and writer, on bytes alone. The scanner accepts
// any bytes and keeps only records with a non-empty product_id.
std::vector<SoftwareEntry> ScanSoftwareEntries(std::string_view bytes);

// The exact bytes of a record file holding the entries in list order: four CR LF
// lines per record, no escaping; an empty list gives an empty string.
std::string FormatSoftwareEntries(const std::vector<SoftwareEntry>& entries);
