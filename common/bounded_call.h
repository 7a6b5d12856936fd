#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>

// Runs work() on a thread of its own and waits at most `bound` for its result; for the
// Windows calls that offer no bound of their own, or one that Wine does not keep. A thread
// still busy after the bound is left behind: it owns work (moved in) and the shared slot, and
// its result is dropped. Empty when the bound passed or no thread could be started. work must
// not throw.
template <typename Work>
auto CallWithinBound(Work work, std::chrono::milliseconds bound)
    -> std::optional<decltype(work())> {
    using Result = decltype(work());
    struct Slot {
        std::mutex lock;
        std::condition_variable filled;
        std::optional<Result> result;
    };
    const auto slot = std::make_shared<Slot>();
    try {
        std::thread([slot, work = std::move(work)]() mutable {
            Result result = work();
            const std::lock_guard<std::mutex> hold(slot->lock);
            slot->result = std::move(result);
            slot->filled.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return std::nullopt;
    }
    std::unique_lock<std::mutex> hold(slot->lock);
    if (!slot->filled.wait_for(hold, bound, [&slot] { return slot->result.has_value(); })) {
        return std::nullopt;
    }
    return std::move(slot->result);
}
