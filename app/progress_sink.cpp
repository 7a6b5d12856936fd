#include "app/progress_sink.h"

#include <commctrl.h>

#include <limits>
#include <memory>

#include "app/window_math.h"

ProgressState g_progressState;

namespace {

// No percentage is ever this, so the first report of a sink always reaches the bar.
constexpr std::int64_t kNothingShown = std::numeric_limits<std::int64_t>::min();

struct ProgressSink {
    HWND mainWindow;
    // The figure the bar was last given, shared by every copy of the sink so that a copy
    // never skips a figure that another copy has moved the bar away from.
    std::shared_ptr<std::atomic<std::int64_t>> shown;

    void operator()(std::uint64_t received, std::uint64_t expected) const {
        const std::int32_t percent = ProgressPercent(received, expected);
        // The bar and the text show only the percentage, so a report that keeps it changes
        // nothing on screen. Under Wine the synchronous message and the repaint cost about
        // half a millisecond, which at one report per 8 KiB would cap the download.
        const bool changed = shown->exchange(percent, std::memory_order_relaxed) != percent;
        if (changed) {
            // Synchronous: returns once the main thread has moved the bar. A destroyed
            // window has no bar, and the message then goes nowhere.
            (void)SendMessageW(GetDlgItem(mainWindow, kProgressBarId), PBM_SETPOS,
                               static_cast<WPARAM>(static_cast<INT_PTR>(percent)), 0);
        }
        g_progressState.bytes_received.store(received, std::memory_order_relaxed);
        g_progressState.bytes_expected.store(expected, std::memory_order_relaxed);
        if (changed) {
            (void)InvalidateRect(mainWindow, nullptr, FALSE);
        }
    }
};

}  // namespace

ProgressCallback MakeProgressSink(HWND mainWindow) {
    return ProgressSink{mainWindow, std::make_shared<std::atomic<std::int64_t>>(kNothingShown)};
}
