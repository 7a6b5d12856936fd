#pragma once

#include <string>
#include <vector>

struct EnvironmentVariable {
    std::wstring name;
    std::wstring value;
};

// The environment block (Unicode "NAME=value" entries, each ending in a NUL, then one more
// NUL) for the setup program: `machine`, a block as CreateEnvironmentBlock gives it, with
// each of `variables` set, replacing an entry of the same name in whatever case it was
// written, sorted by name as CreateProcess asks (case-insensitive, ordinal).
std::wstring EnvironmentBlock(const wchar_t* machine,
                              const std::vector<EnvironmentVariable>& variables);

// HOMEDRIVE and HOMEPATH split from a profile folder on a drive ("C:\Users\name"), as Windows
// sets them for an account without a home folder of its own; none for any other form.
std::vector<EnvironmentVariable> HomeVariables(const std::wstring& profile);
