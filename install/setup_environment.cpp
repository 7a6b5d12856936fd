#include "install/setup_environment.h"

#include <windows.h>

#include <algorithm>
#include <cwchar>
#include <string_view>

namespace {

// A name may begin with '=' (the current folder of each drive: "=C:=C:\dir").
std::wstring_view Name(std::wstring_view entry) { return entry.substr(0, entry.find(L'=', 1)); }

int CompareNames(std::wstring_view first, std::wstring_view second) {
    return CompareStringOrdinal(first.data(), static_cast<int>(first.size()), second.data(),
                                static_cast<int>(second.size()), TRUE);
}

bool IsSetHere(std::wstring_view name, const std::vector<EnvironmentVariable>& variables) {
    return std::any_of(variables.begin(), variables.end(), [name](const EnvironmentVariable& set) {
        return CompareNames(name, set.name) == CSTR_EQUAL;
    });
}

}  // namespace

std::wstring EnvironmentBlock(const wchar_t* machine,
                              const std::vector<EnvironmentVariable>& variables) {
    std::vector<std::wstring> entries;
    entries.reserve(variables.size());
    for (const EnvironmentVariable& variable : variables) {
        entries.push_back(variable.name + L"=" + variable.value);
    }
    for (const wchar_t* entry = machine; *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        if (!IsSetHere(Name(entry), variables)) {
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

std::vector<EnvironmentVariable> HomeVariables(const std::wstring& profile) {
    const bool onDrive =
        profile.size() > 2 && profile[1] == L':' && profile[2] == L'\\' &&
        ((profile[0] >= L'A' && profile[0] <= L'Z') || (profile[0] >= L'a' && profile[0] <= L'z'));
    if (!onDrive) {
        return {};
    }
    return {{L"HOMEDRIVE", profile.substr(0, 2)}, {L"HOMEPATH", profile.substr(2)}};
}
