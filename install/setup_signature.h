#pragma once

#include <windows.h>

// True only when the file open as `file` (named `path`) carries a valid Authenticode
// signature whose signer chains to a trusted root for code signing and whose leaf
// certificate's simple display name is exactly `publisher`. Checks offline, without UI and
// without revocation; reads the file through `file`, so what is checked is what is held.
bool IsSignedByPublisher(HANDLE file, const wchar_t* path, const wchar_t* publisher);
