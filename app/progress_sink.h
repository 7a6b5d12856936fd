#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "net/progress_callback.h"

// Control identifier of the progress bar; the sink finds the bar through it.
inline constexpr int kProgressBarId = 1001;

// The latest report, written by the sink on the worker thread and read by painting on the
// main thread. Each field is loaded and stored whole (relaxed); no order between the two.
struct ProgressState {
    std::atomic<std::uint64_t> bytes_received{0};
    std::atomic<std::uint64_t> bytes_expected{0};
};

extern ProgressState g_progressState;

// The callback handed to the downloader: records the counts on every report, and moves the
// bar and asks the window to repaint when the percentage it shows changes.
ProgressCallback MakeProgressSink(HWND mainWindow);
