#pragma once

#include <windows.h>

#include <cstdint>

#include "net/sha256.h"

// True when the file behind the handle is exactly length bytes with the given SHA-256. Reads
// from the start through this handle only, so what is checked is what the handle holds.
bool FileMatchesDigest(HANDLE file, std::uint64_t length, const Sha256::Digest& expected);
