#include "net/held_file_check.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kReadBytes = 256 * 1024;
constexpr unsigned kMostWorkers = 4;

// A positioned read on a synchronous handle: several threads may use the handle at once.
bool ReadAt(HANDLE file, std::uint64_t offset, std::uint8_t* buffer, DWORD size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD read = 0;
    return ReadFile(file, buffer, size, &read, &at) && read == size;
}

bool PieceMatches(HANDLE file, std::uint64_t length, std::uint64_t index,
                  const Sha256::Digest& expected, std::uint8_t* buffer) {
    const std::uint64_t begin = index * kDigestPieceBytes;
    const std::uint64_t end = std::min(length, begin + kDigestPieceBytes);
    Sha256 hash;
    for (std::uint64_t at = begin; at < end;) {
        const auto size = static_cast<DWORD>(std::min<std::uint64_t>(kReadBytes, end - at));
        if (!ReadAt(file, at, buffer, size)) {
            return false;
        }
        hash.Update(buffer, size);
        at += size;
    }
    return hash.Finish() == expected;
}

}  // namespace

bool FileMatchesPieces(HANDLE file, std::uint64_t length, const PieceDigestList& pieces) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != length ||
        PieceCount(length) != pieces.size()) {
        return false;
    }

    std::atomic<std::size_t> next{0};
    std::atomic<bool> same{true};
    // Each worker takes the next unchecked piece, so any number of workers covers them all.
    const auto work = [&] {
        const std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[kReadBytes]);
        if (!buffer) {
            same = false;
            return;
        }
        for (std::size_t i = next++; i < pieces.size() && same; i = next++) {
            if (!PieceMatches(file, length, i, pieces[i], buffer.get())) {
                same = false;
            }
        }
    };

    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, kMostWorkers);
    std::vector<std::thread> helpers;
    helpers.reserve(workers - 1);
    try {
        while (helpers.size() + 1 < std::min<std::size_t>(workers, pieces.size())) {
            helpers.emplace_back(work);
        }
    } catch (const std::system_error&) {
        // Fewer helpers only make the check slower; this thread does the rest.
    }
    work();
    for (std::thread& helper : helpers) {
        helper.join();
    }
    return same;
}
