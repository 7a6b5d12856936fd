#pragma once

#include <windows.h>

// The whole install sequence, run once on its own thread: version gate, choice and download
// of the setup program, its run and deletion. The main window is closed once the setup program
// has run or failed to start; after the version refusal or a failed download it stays open
// once the error box is dismissed, for the user to close.
void InstallWorker(HWND mainWindow);
