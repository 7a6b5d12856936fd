#pragma once

#include <windows.h>

#include <algorithm>
#include <cstddef>

// Writes all `size` bytes at the file's position, in pieces a single WriteFile can take.
inline bool WriteAll(HANDLE file, const void* data, std::size_t size) {
    constexpr std::size_t kMaxPiece = 1u << 30;
    const auto* bytes = static_cast<const char*>(data);
    std::size_t offset = 0;
    while (offset < size) {
        const DWORD piece = static_cast<DWORD>(std::min(size - offset, kMaxPiece));
        DWORD written = 0;
        if (!WriteFile(file, bytes + offset, piece, &written, nullptr) || written == 0) {
            return false;
        }
        offset += written;
    }
    return true;
}
