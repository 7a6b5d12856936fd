#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "net/piece_digests.h"

// Hashes received bytes on a thread of its own, so the thread that reads the network only
// reads and writes. The caller fills one buffer at a time and hands them over in order; a
// few buffers in flight let both threads run without waiting on each other.
class BackgroundHasher {
  public:
    static constexpr std::size_t kBufferBytes = std::size_t{256} * 1024;

    // Starts the thread; throws std::system_error when it cannot.
    BackgroundHasher();
    // Stops the thread, dropping what was not hashed yet.
    ~BackgroundHasher();
    BackgroundHasher(const BackgroundHasher&) = delete;
    BackgroundHasher& operator=(const BackgroundHasher&) = delete;

    // The buffer to fill next, kBufferBytes long; waits while all are still being hashed.
    std::uint8_t* NextBuffer();
    // Hands over the buffer NextBuffer gave, holding size bytes.
    void Submit(std::size_t size);
    // Waits until every handed-over byte is hashed and returns the pieces' digests.
    PieceDigestList Finish();

  private:
    static constexpr std::size_t kBuffers = 4;

    void Run();
    void Stop(bool drain);

    std::unique_ptr<std::uint8_t[]> storage_;
    std::array<std::size_t, kBuffers> sizes_{};
    std::mutex mutex_;
    std::condition_variable changed_;
    std::uint64_t submitted_ = 0;
    std::uint64_t hashed_ = 0;
    bool draining_ = false;
    bool abandoned_ = false;
    PieceDigests digests_;
    // Last, so it starts only once everything it uses exists.
    std::thread thread_;
};
