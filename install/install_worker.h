#pragma once

#include <windows.h>

// The whole install sequence, run once on its own thread: version gate, choice and download
// of the setup program, its run and deletion, then the main window is closed.
void InstallWorker(HWND mainWindow);
