#pragma once

#include <string>

// The environment block (Unicode "NAME=value" entries, each ending in a NUL, then one more
// NUL) for the setup program: `inherited`, a block as GetEnvironmentStringsW gives it, with
// TEMP and TMP, in whatever case they were written, both set to `temp`, sorted by name as
// CreateProcess asks (case-insensitive, ordinal). Everything else stays as inherited.
std::wstring EnvironmentWithTemp(const wchar_t* inherited, const std::wstring& temp);
