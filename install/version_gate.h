#pragma once

#include <windows.h>

// True when the running Windows reports at least this version; a failed check
// counts as an older system.
bool IsWindowsVersionAtLeast(WORD major, WORD minor, WORD servicePackMajor);

// True exactly when Windows reports version 6.1 (Windows 7 and Server 2008 R2),
// which the installer refuses; older and newer systems pass.
bool IsWindowsVersionRefused();
