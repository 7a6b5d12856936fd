#pragma once

#include <windows.h>

#include <cstdint>

#include "net/piece_digests.h"

// True when the file behind the handle is exactly length bytes whose pieces have the given
// digests. Reads only through this handle (positioned reads, so it may be shared) and hashes
// on every core, since the whole file is read again.
bool FileMatchesPieces(HANDLE file, std::uint64_t length, const PieceDigestList& pieces);
