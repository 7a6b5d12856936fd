#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

// The engine that installer builders' download pages use, bare: WinINet with the user's
// preconfigured proxy settings, reads of readBytes written straight to savePath, no
// hashing and no callback. Counts the body bytes; on failure names the step in error.
bool WinInetDownload(const std::string& url, const std::string& savePath, DWORD readBytes,
                     std::uint64_t& bytes, std::string& error);
