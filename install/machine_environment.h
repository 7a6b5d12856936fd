#pragma once

#include <string>

// The setup program's environment block: the machine's variables, with none of the values in
// the user's HKCU\Environment or HKCU\Volatile Environment (every unelevated process of the
// user writes those: windir, PATH, profiler libraries), then those that name this process's
// account and its folders, and TEMP and TMP set to `temp`. False when any cannot be found.
bool MachineEnvironment(const std::wstring& temp, std::wstring& block);
