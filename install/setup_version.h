#pragma once

#include <windows.h>

#include "install/version_resource.h"

// True when the program open as `file` meets `wanted` (version_resource.h). Reads the file
// through `file`, mapped read-only as data, so what is judged is what is held and signed.
bool IsWantedSetupProgram(HANDLE file, const SetupRequirement& wanted);
