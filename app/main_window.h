#pragma once

#include <windows.h>

#include "app/window_painting.h"

inline constexpr wchar_t kWindowClassName[] = L"HalvexInstaller";
inline constexpr wchar_t kWindowTitle[] = L"Halvex Installer";
inline constexpr int kIconResourceId = 101;
inline constexpr int kBackgroundBitmapId = 102;

// The module instance, set by the entry point before anything else.
extern HINSTANCE g_instance;

// Loads the background picture into the window's picture slot unless it holds the picture
// already. A failed load leaves the slot empty and tells the user in a box owned by owner
// (none when owner is null), so the next call tries again.
void LoadBackgroundPicture(HWND owner);

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
