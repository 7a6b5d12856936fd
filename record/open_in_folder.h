#pragma once

#include <windows.h>

#include "common/unique_handle.h"

// Opens or creates the file or folder `name` inside an open folder, relative to that folder's
// handle and never following a reparse point, for synchronous I/O. `disposition` and `options` are
// the native ones (FILE_OPEN, FILE_CREATE, FILE_OPEN_IF; FILE_DIRECTORY_FILE, ...). On failure
// returns null and, when asked, the Win32 error.
UniqueHandle OpenInFolder(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options, DWORD* error = nullptr);
