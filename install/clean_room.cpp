#include "install/clean_room.h"

#include <ntsecapi.h>
#include <sddl.h>

#include <cstdint>
#include <utility>

namespace {

// Owner Administrators; full control for SYSTEM and Administrators, inherited by what is
// made inside; protected, so nothing of %SystemRoot%\Temp's own entries flows in.
constexpr wchar_t kSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kNamePrefix[] = L"halvex-";
constexpr std::size_t kRandomBytes = 16;

bool WindowsTempFolder(std::wstring& folder) {
    wchar_t windows[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(windows, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return false;
    }
    folder.assign(windows, length);
    if (folder.back() != L'\\') {
        folder += L'\\';
    }
    folder += L"Temp\\";
    return true;
}

// 128 bits from the system's cryptographic generator, so no other process can make the
// folder first or predict where the setup program will be.
bool RandomName(std::wstring& name) {
    std::uint8_t random[kRandomBytes] = {};
    if (!RtlGenRandom(random, sizeof(random))) {
        return false;
    }
    constexpr wchar_t kHex[] = L"0123456789abcdef";
    name = kNamePrefix;
    for (const std::uint8_t byte : random) {
        name += kHex[byte >> 4];
        name += kHex[byte & 0x0f];
    }
    return true;
}

// Not now: at the next restart, when nothing can hold the file open any more.
void RemoveLater(const std::wstring& path) {
    (void)MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

// A link inside is removed as a link: what it points to is never entered.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found{};
    const HANDLE search = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                           FindExSearchNameMatch, nullptr, 0);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            const std::wstring path = folder + L"\\" + name;
            const DWORD attributes = found.dwFileAttributes;
            const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isFolder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
                RemoveTree(path);
                continue;
            }
            if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
                (void)SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            }
            if (!(isFolder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str()))) {
                RemoveLater(path);
            }
        } while (FindNextFileW(search, &found));
        (void)FindClose(search);
    }
    if (!RemoveDirectoryW(folder.c_str())) {
        RemoveLater(folder);
    }
}

}  // namespace

void CleanRoomRemover::operator()(const std::wstring* folder) const {
    RemoveTree(*folder);
    delete folder;
}

UniqueSecurityDescriptor CleanRoomSecurity() {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(kSecurity, SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return nullptr;
    }
    return UniqueSecurityDescriptor(descriptor);
}

CleanRoom MakeCleanRoom() {
    std::wstring folder;
    std::wstring name;
    const UniqueSecurityDescriptor security = CleanRoomSecurity();
    if (!security || !WindowsTempFolder(folder) || !RandomName(name)) {
        return nullptr;
    }
    folder += name;
    // Allocated before the folder exists, so nothing can fail between making and owning it.
    auto path = std::make_unique<const std::wstring>(std::move(folder));
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = security.get();
    // Fails if the name exists: a folder someone else made is never used.
    if (!CreateDirectoryW(path->c_str(), &attributes)) {
        return nullptr;
    }
    return CleanRoom(path.release());
}
