#pragma once

#include <string>

#include "tests/support/test_support.h"

// The built installer, named by ctest in HALVEX_INSTALLER_EXE.
inline std::wstring InstallerPath() { return WinePath(Environment("HALVEX_INSTALLER_EXE")); }
