#include "bench/unthrottled_sink.h"

#include <commctrl.h>

#include <cstdint>

#include "app/progress_sink.h"
#include "app/window_math.h"

ProgressCallback MakeUnthrottledProgressSink(HWND mainWindow) {
    return [mainWindow](std::uint64_t received, std::uint64_t expected) {
        const std::int32_t percent = ProgressPercent(received, expected);
        (void)SendMessageW(GetDlgItem(mainWindow, kProgressBarId), PBM_SETPOS,
                           static_cast<WPARAM>(static_cast<INT_PTR>(percent)), 0);
        g_progressState.bytes_received.store(received, std::memory_order_relaxed);
        g_progressState.bytes_expected.store(expected, std::memory_order_relaxed);
        (void)InvalidateRect(mainWindow, nullptr, FALSE);
    };
}
