#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Incremental SHA-256 of the downloaded bytes, so the file on disk can be checked
// against what arrived before it is run.
class Sha256 {
  public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    void Update(const void* data, std::size_t size);
    Digest Finish();

  private:
    void Compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> block_{};
    std::size_t blockUsed_ = 0;
    std::uint64_t totalBytes_ = 0;
};
