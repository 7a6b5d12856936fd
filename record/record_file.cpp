#include "record/record_file.h"

#include <windows.h>
#include <winternl.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "common/delete_on_close.h"
#include "common/random_hex.h"
#include "common/unique_handle.h"
#include "common/write_all.h"
#include "record/open_in_folder.h"
#include "record/record_folder.h"

namespace {

constexpr wchar_t kRecordName[] = L"config.toml";
// Far beyond any real record; a larger file is left as it is.
constexpr DWORD kMaxRecordBytes = 1u << 20;

// A plain disk file with no other name, no reparse point, and the final path of the folder's
// own record: a pipe or a link planted under the record's name never qualifies.
bool IsPlainRecordFile(HANDLE file, HANDLE folder) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    FILE_STANDARD_INFO standard{};
    if (GetFileType(file) != FILE_TYPE_DISK ||
        !GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof(tag)) ||
        !GetFileInformationByHandleEx(file, FileStandardInfo, &standard, sizeof(standard))) {
        return false;
    }
    return (tag.FileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
           !standard.Directory && standard.NumberOfLinks == 1 &&
           standard.EndOfFile.QuadPart <= kMaxRecordBytes &&
           IsPathOfChild(FinalPathOf(file), FinalPathOf(folder), kRecordName);
}

// Renames the file over the record, naming the target relative to the held folder. Through
// the native call, looked up at run time since not every SDK declares it: Wine's
// SetFileInformationByHandle makes a relative target name absolute against the current folder.
bool ReplaceRecordWith(HANDLE file, HANDLE folder) {
    using SetInformationFn = NTSTATUS(NTAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);
    constexpr ULONG kFileRenameInformation = 10;
    const auto setInformation = reinterpret_cast<SetInformationFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtSetInformationFile")));
    if (setInformation == nullptr) {
        return false;
    }
    const DWORD nameBytes = sizeof(kRecordName) - sizeof(wchar_t);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = TRUE;
    rename->RootDirectory = folder;
    rename->FileNameLength = nameBytes;
    std::copy_n(kRecordName, nameBytes / sizeof(wchar_t), rename->FileName);
    IO_STATUS_BLOCK status{};
    return setInformation(file, &status, rename, static_cast<ULONG>(buffer.size()),
                          kFileRenameInformation) >= 0;
}

}  // namespace

std::optional<std::string> ReadRecordBytes(HANDLE folder) {
    DWORD error = ERROR_SUCCESS;
    const UniqueHandle file =
        OpenInFolder(folder, kRecordName, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                     FILE_OPEN, FILE_NON_DIRECTORY_FILE, &error);
    if (!file) {
        return error == ERROR_FILE_NOT_FOUND ? std::optional<std::string>(std::string())
                                             : std::nullopt;
    }
    if (!IsPlainRecordFile(file.get(), folder)) {
        return std::nullopt;
    }
    // A read that fails, or a file that grows past the bound meanwhile, keeps the file as it is
    // instead of replacing it with what little was read.
    std::string bytes;
    char buffer[8192];
    DWORD read = 0;
    do {
        if (!ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) {
            return std::nullopt;
        }
        bytes.append(buffer, read);
    } while (read > 0 && bytes.size() <= kMaxRecordBytes);
    if (bytes.size() > kMaxRecordBytes) {
        return std::nullopt;
    }
    return bytes;
}

std::wstring NewTemporaryRecordName() {
    std::wstring name = std::wstring(kRecordName) + L'.';
    return AppendRandomHex(name) ? name + L".tmp" : std::wstring();
}

UniqueHandle CreateTemporaryRecord(HANDLE folder) {
    const std::wstring name = NewTemporaryRecordName();
    if (name.empty()) {
        return nullptr;
    }
    // Created new, so a file or folder that already has the name is never opened. Plain
    // attributes, since the replaced file takes them over.
    UniqueHandle file = OpenInFolder(folder, name.c_str(), GENERIC_WRITE | DELETE, 0, FILE_CREATE,
                                     FILE_NON_DIRECTORY_FILE);
    if (!file || !SetDeleteOnClose(file.get(), true)) {
        return nullptr;
    }
    return file;
}

void WriteRecordBytes(HANDLE folder, const std::string& bytes) {
    const UniqueHandle temporary = CreateTemporaryRecord(folder);
    if (!temporary || !WriteAll(temporary.get(), bytes.data(), bytes.size()) ||
        !FlushFileBuffers(temporary.get())) {
        return;
    }
    // Cleared only just before the rename, which must not take a file about to go; marked
    // again when the rename fails.
    if (!SetDeleteOnClose(temporary.get(), false) || !ReplaceRecordWith(temporary.get(), folder)) {
        (void)SetDeleteOnClose(temporary.get(), true);
    }
}
