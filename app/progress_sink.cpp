#include "app/progress_sink.h"

#include <commctrl.h>

#include "app/window_math.h"

ProgressState g_progressState;

namespace {

struct ProgressSink {
    HWND mainWindow;

    void operator()(std::uint64_t received, std::uint64_t expected) const {
        const std::int32_t percent = ProgressPercent(received, expected);
        // Synchronous: returns once the main thread has moved the bar. A destroyed window
        // has no bar, and the message then goes nowhere.
        (void)SendMessageW(GetDlgItem(mainWindow, kProgressBarId), PBM_SETPOS,
                           static_cast<WPARAM>(static_cast<INT_PTR>(percent)), 0);
        g_progressState.bytes_received.store(received, std::memory_order_relaxed);
        g_progressState.bytes_expected.store(expected, std::memory_order_relaxed);
        (void)InvalidateRect(mainWindow, nullptr, FALSE);
    }
};

}  // namespace

ProgressCallback MakeProgressSink(HWND mainWindow) { return ProgressSink{mainWindow}; }
