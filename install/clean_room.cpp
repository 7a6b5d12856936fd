#include "install/clean_room.h"

#include <sddl.h>

#include <memory>
#include <utility>
#include <vector>

#include "common/closer.h"
#include "common/random_hex.h"

namespace {

// Owner Administrators; full control for SYSTEM and Administrators, inherited by what is
// made inside; protected, so nothing of %SystemRoot%\Temp's own entries flows in.
constexpr wchar_t kSecurity[] = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
constexpr wchar_t kNamePrefix[] = L"halvex-";

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

// Random, so no other process can make the folder first or predict where the setup program
// will be.
bool RandomName(std::wstring& name) {
    name = kNamePrefix;
    return AppendRandomHex(name);
}

// Not now: at the next restart, when nothing can hold the file open any more.
void RemoveLater(const std::wstring& path) {
    (void)MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
}

using UniqueSearch = std::unique_ptr<void, Closer<FindClose>>;

// Removes what the folder holds and returns the real folders found inside; a link is removed
// as a link, and what it points to is never entered.
void EmptyFolder(const std::wstring& folder, std::vector<std::wstring>& subfolders) {
    WIN32_FIND_DATAW found{};
    const HANDLE first = FindFirstFileExW((folder + L"\\*").c_str(), FindExInfoBasic, &found,
                                          FindExSearchNameMatch, nullptr, 0);
    if (first == INVALID_HANDLE_VALUE) {
        return;
    }
    const UniqueSearch search(first);
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring path = folder + L"\\" + name;
        const DWORD attributes = found.dwFileAttributes;
        const bool isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isFolder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
            subfolders.push_back(path);
            continue;
        }
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
            (void)SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        if (!(isFolder ? RemoveDirectoryW(path.c_str()) : DeleteFileW(path.c_str()))) {
            RemoveLater(path);
        }
    } while (FindNextFileW(search.get(), &found));
}

void RemoveTree(const std::wstring& root) {
    std::vector<std::wstring> folders{root};
    for (std::size_t next = 0; next < folders.size(); ++next) {
        const std::wstring folder = folders[next];
        EmptyFolder(folder, folders);
    }
    // Each folder was found after the one that holds it, so this order empties them first.
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
        if (!RemoveDirectoryW(folder->c_str())) {
            RemoveLater(*folder);
        }
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
