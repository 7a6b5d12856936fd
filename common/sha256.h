#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Incremental SHA-256 of the downloaded bytes, so the file on disk can be checked
// against what arrived before it is run.
class Sha256 {
  public:
    using Digest = std::array<std::uint8_t, 32>;
    // kFastest uses the processor's SHA instructions where it has them; kPortable never
    // does (so both can be tested on one machine).
    enum class Rounds { kFastest, kPortable };

    explicit Sha256(Rounds rounds = Rounds::kFastest);
    void Update(const void* data, std::size_t size);
    Digest Finish();

  private:
    void Compress(const std::uint8_t* blocks, std::size_t count);
    void CompressPortable(const std::uint8_t* block);

    Rounds rounds_;
    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> block_{};
    std::size_t blockUsed_ = 0;
    std::uint64_t totalBytes_ = 0;
};

// Runs the compression of count 64-byte blocks with the processor's SHA instructions;
// false, with state untouched, where the processor or the build has none.
bool Sha256CompressAccelerated(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count,
                               const std::uint32_t* roundConstants);
