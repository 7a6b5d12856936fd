#pragma once

// What the bare loops share: each piece their reader hands over is written straight to the
// save file, no hashing, no callback.

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/unique_handle.h"

// read(buffer, size, delivered) reads one piece as the loop's engine does; false is a
// failed read, 0 bytes the end of the body. Counts the body bytes; on failure names the
// step in error.
template <typename ReadPiece>
bool WriteBodyToFile(const std::string& savePath, DWORD readBytes, ReadPiece read,
                     std::uint64_t& bytes, std::string& error) {
    const std::wstring widePath(savePath.begin(), savePath.end());
    const UniqueHandle file =
        AdoptHandle(CreateFileW(widePath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        error = "file";
        return false;
    }
    std::vector<std::uint8_t> buffer(readBytes);
    for (;;) {
        DWORD delivered = 0;
        if (!read(buffer.data(), readBytes, delivered)) {
            error = "read";
            return false;
        }
        if (delivered == 0) {
            return true;
        }
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), delivered, &written, nullptr) ||
            written != delivered) {
            error = "write";
            return false;
        }
        bytes += delivered;
    }
}

// The engine that installer builders' download pages use, bare: WinINet with the user's
// preconfigured proxy settings, reads of readBytes written straight to savePath, no
// hashing and no callback. Counts the body bytes; on failure names the step in error.
bool WinInetDownload(const std::string& url, const std::string& savePath, DWORD readBytes,
                     std::uint64_t& bytes, std::string& error);
