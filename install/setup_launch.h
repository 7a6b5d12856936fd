#pragma once

#include <string>

// Starts `program` with no arguments in `folder`, with `environment` (a Unicode block), and
// waits without limit until it and every process it started have ended, except those that
// chose to leave its job (CREATE_BREAKAWAY_FROM_JOB) or were started through the desktop
// shell. Where no job can hold it, waits for the program alone. False when it cannot start.
bool RunAndWaitForAll(const std::wstring& program, const std::wstring& folder,
                      std::wstring& environment);
