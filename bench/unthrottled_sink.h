#pragma once

#include <windows.h>

#include "net/progress_callback.h"

// The progress sink as it was before it learnt to skip reports that change nothing on
// screen: a synchronous PBM_SETPOS and an invalidation on every report. Kept so the
// benchmark can show what that costs.
ProgressCallback MakeUnthrottledProgressSink(HWND mainWindow);
