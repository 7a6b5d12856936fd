#pragma once

#include <cstdlib>
#include <string>

// The built installer, named by ctest in HALVEX_INSTALLER_EXE as a Linux path; Wine
// reaches the Linux root through drive Z:.
inline std::wstring InstallerPath() {
    const char* value = std::getenv("HALVEX_INSTALLER_EXE");
    std::string path = value ? value : "";
    std::wstring result;
    if (!path.empty() && path[0] == '/') result = L"Z:";
    for (char c : path) result += c == '/' ? L'\\' : static_cast<wchar_t>(c);
    return result;
}
