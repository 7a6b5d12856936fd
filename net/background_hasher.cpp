#include "net/background_hasher.h"

BackgroundHasher::BackgroundHasher()
    : storage_(new std::uint8_t[kBuffers * kBufferBytes]), thread_(&BackgroundHasher::Run, this) {}

BackgroundHasher::~BackgroundHasher() { Stop(false); }

std::uint8_t* BackgroundHasher::NextBuffer() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return submitted_ - hashed_ < kBuffers; });
    return storage_.get() + (submitted_ % kBuffers) * kBufferBytes;
}

void BackgroundHasher::Submit(std::size_t size) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        sizes_[submitted_ % kBuffers] = size;
        ++submitted_;
    }
    changed_.notify_all();
}

PieceDigestList BackgroundHasher::Finish() {
    Stop(true);
    return digests_.Finish();
}

void BackgroundHasher::Stop(bool drain) {
    if (!thread_.joinable()) {
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        draining_ = true;
        abandoned_ = !drain;
    }
    changed_.notify_all();
    thread_.join();
}

void BackgroundHasher::Run() {
    for (;;) {
        const std::uint8_t* buffer = nullptr;
        std::size_t size = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return hashed_ < submitted_ || draining_; });
            if (abandoned_ || hashed_ == submitted_) {
                return;
            }
            buffer = storage_.get() + (hashed_ % kBuffers) * kBufferBytes;
            size = sizes_[hashed_ % kBuffers];
        }
        digests_.Update(buffer, size);
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            ++hashed_;
        }
        changed_.notify_all();
    }
}
