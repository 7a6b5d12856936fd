#include "net/piece_digests.h"

#include <algorithm>
#include <utility>

void PieceDigests::Update(const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(size, kDigestPieceBytes - pieceUsed_));
        piece_.Update(data, take);
        pieceUsed_ += take;
        data += take;
        size -= take;
        if (pieceUsed_ == kDigestPieceBytes) {
            done_.push_back(piece_.Finish());
            piece_ = Sha256();
            pieceUsed_ = 0;
        }
    }
}

PieceDigestList PieceDigests::Finish() {
    if (pieceUsed_ > 0) {
        done_.push_back(piece_.Finish());
        piece_ = Sha256();
        pieceUsed_ = 0;
    }
    return std::move(done_);
}
