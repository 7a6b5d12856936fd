#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "common/unique_handle.h"

// The record file `config.toml` of a record folder held open (OpenRecordFolder), read and
// replaced only through handles relative to that folder.

// Its bytes, used unchanged; empty when there is no such file. Nothing when it must be left
// as it is: a link or anything but a plain file of that very folder, larger than any real
// record, or unreadable.
std::optional<std::string> ReadRecordBytes(HANDLE folder);

// The name of a new temporary file beside the record: random, so nobody can prepare it.
// Empty when Windows gives no random bytes.
std::wstring NewTemporaryRecordName();

// A new temporary file beside the record, open for writing, marked to go when its last handle
// closes, however this process ends; nothing when it cannot be made and marked.
UniqueHandle CreateTemporaryRecord(HANDLE folder);

// Replaces the record file's content with the bytes, atomically: the old file stays intact on
// any failure, and no temporary file is left, even by a process killed before the rename.
// Reports nothing.
void WriteRecordBytes(HANDLE folder, const std::string& bytes);
