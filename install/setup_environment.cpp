#include "install/setup_environment.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string_view>
#include <vector>

namespace {

// A name may begin with '=' (the current folder of each drive: "=C:=C:\dir").
std::wstring_view Name(std::wstring_view entry) { return entry.substr(0, entry.find(L'=', 1)); }

int CompareNames(std::wstring_view first, std::wstring_view second) {
    return CompareStringOrdinal(first.data(), static_cast<int>(first.size()), second.data(),
                                static_cast<int>(second.size()), TRUE);
}

bool IsTempName(std::wstring_view name) {
    return CompareNames(name, L"TEMP") == CSTR_EQUAL || CompareNames(name, L"TMP") == CSTR_EQUAL;
}

}  // namespace

std::wstring EnvironmentWithTemp(const wchar_t* inherited, const std::wstring& temp) {
    std::vector<std::wstring> entries{L"TEMP=" + temp, L"TMP=" + temp};
    for (const wchar_t* entry = inherited; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        if (!IsTempName(Name(entry))) {
            entries.emplace_back(entry);
        }
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const std::wstring& first, const std::wstring& second) {
                         return CompareNames(Name(first), Name(second)) == CSTR_LESS_THAN;
                     });
    std::wstring block;
    for (const std::wstring& entry : entries) {
        block += entry;
        block += L'\0';
    }
    return block + L'\0';
}
