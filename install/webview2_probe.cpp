#include "install/webview2_probe.h"

#include <windows.h>
#include <shlwapi.h>

#include <cwchar>
#include <memory>
#include <string>

#include "common/closer.h"

namespace {

// Fixed on purpose: neither the system drive nor the reported program-files
// folders are consulted.
constexpr const wchar_t* kBaseFolders[] = {
    L"C:\\Program Files (x86)\\Microsoft\\EdgeWebView\\Application",
    L"C:\\Program Files\\Microsoft\\EdgeWebView\\Application",
};
constexpr const wchar_t* kMarkerFiles[] = {
    L"EmbeddedBrowserWebView.dll",
    L"msedgewebview2.exe",
};

using UniqueFind = std::unique_ptr<void, Closer<FindClose>>;

bool IsDotEntry(const wchar_t* name) {
    return std::wcscmp(name, L".") == 0 || std::wcscmp(name, L"..") == 0;
}

// PathFileExistsW accepts folders too, so a folder bearing a marker name counts.
bool HoldsMarker(const std::wstring& subfolder) {
    for (const wchar_t* marker : kMarkerFiles) {
        if (PathFileExistsW((subfolder + L"\\" + marker).c_str())) {
            return true;
        }
    }
    return false;
}

bool HoldsRuntime(const std::wstring& base) {
    WIN32_FIND_DATAW entry;
    const HANDLE first = FindFirstFileW((base + L"\\*").c_str(), &entry);
    if (first == INVALID_HANDLE_VALUE) {
        return false;
    }
    const UniqueFind search(first);
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
            IsDotEntry(entry.cFileName)) {
            continue;
        }
        if (HoldsMarker(base + L"\\" + entry.cFileName)) {
            return true;
        }
    } while (FindNextFileW(search.get(), &entry));
    return false;
}

}  // namespace

bool IsWebView2RuntimePresent() {
    for (const wchar_t* base : kBaseFolders) {
        if (HoldsRuntime(base)) {
            return true;
        }
    }
    return false;
}
