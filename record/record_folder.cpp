#include "record/record_folder.h"

#include <windows.h>
#include <winternl.h>

#include <string>
#include <string_view>

#include "record/open_in_folder.h"

namespace {

constexpr wchar_t kFolderName[] = L".halvex";

bool IsPlainFolder(HANDLE folder) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!GetFileInformationByHandleEx(folder, FileAttributeTagInfo, &tag, sizeof(tag))) {
        return false;
    }
    return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

std::wstring FinalPathOf(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                      FILE_NAME_NORMALIZED | VOLUME_NAME_NT);
        if (length == 0) {
            return {};
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);
    }
}

bool IsPathOfChild(std::wstring_view path, std::wstring_view folder, std::wstring_view name) {
    if (folder.empty()) {
        return false;
    }
    std::wstring expected(folder);
    if (expected.back() != L'\\') {
        expected += L'\\';
    }
    expected += name;
    return CompareStringOrdinal(path.data(), static_cast<int>(path.size()), expected.data(),
                                static_cast<int>(expected.size()), TRUE) == CSTR_EQUAL;
}

UniqueHandle OpenRecordFolder(const std::wstring& profile) {
    // Followed: a junction above the profile (C:\Users on another drive) is the administrator's.
    const UniqueHandle profileFolder =
        AdoptHandle(CreateFileW(profile.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!profileFolder) {
        return {};
    }
    // Created or opened in one step without following a reparse point, and held without
    // delete sharing, so the folder checked below is the one used until the handle closes.
    UniqueHandle folder =
        OpenInFolder(profileFolder.get(), kFolderName, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF, FILE_DIRECTORY_FILE);
    if (!folder || !IsPlainFolder(folder.get()) ||
        !IsPathOfChild(FinalPathOf(folder.get()), FinalPathOf(profileFolder.get()), kFolderName)) {
        return {};
    }
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_HIDDEN;
    (void)SetFileInformationByHandle(folder.get(), FileBasicInfo, &basic, sizeof(basic));
    return folder;
}
