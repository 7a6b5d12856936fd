#pragma once

#include <windows.h>

#include <memory>
#include <type_traits>

#include "common/closer.h"

inline constexpr int kWindowWidth = 560;
inline constexpr int kWindowHeight = 310;

using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, Closer<DeleteObject>>;

// Creates the window's progress bar (id 1001, range 0-100, white, in the bar colour).
HWND CreateProgressBar(HWND window, HINSTANCE instance);

// Paints the main window: the picture stretched over the client area (or the system window
// colour where there is none), the close glyph and the percentage from ProgressState.
void PaintMainWindow(HWND window, HBITMAP picture);
