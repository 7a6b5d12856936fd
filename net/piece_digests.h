#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "net/sha256.h"

// The SHA-256 of each 4 MiB piece of a byte stream, the last piece shorter. Comparing two
// streams piece by piece is as strong as comparing one digest of each, and lets the check
// of a file on disk run on several cores at once.
inline constexpr std::uint64_t kDigestPieceBytes = 4u << 20;
using PieceDigestList = std::vector<Sha256::Digest>;

class PieceDigests {
  public:
    void Update(const std::uint8_t* data, std::size_t size);
    // The digests of every piece so far, the unfinished one included; ends the stream.
    PieceDigestList Finish();

  private:
    Sha256 piece_;
    std::uint64_t pieceUsed_ = 0;
    PieceDigestList done_;
};

// How many pieces a stream of length bytes has.
inline std::uint64_t PieceCount(std::uint64_t length) {
    return length / kDigestPieceBytes + (length % kDigestPieceBytes != 0 ? 1 : 0);
}
