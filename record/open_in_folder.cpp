#include "record/open_in_folder.h"

#include <windows.h>
#include <winternl.h>

UniqueHandle OpenInFolder(HANDLE folder, const wchar_t* name, ACCESS_MASK access, ULONG share,
                          ULONG disposition, ULONG options, DWORD* error) {
    UNICODE_STRING objectName;
    RtlInitUnicodeString(&objectName, name);
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &objectName, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK status{};
    HANDLE opened = nullptr;
    const NTSTATUS result = NtCreateFile(
        &opened, access | SYNCHRONIZE, &attributes, &status, nullptr, FILE_ATTRIBUTE_NORMAL, share,
        disposition, options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (result < 0) {
        if (error != nullptr) {
            *error = RtlNtStatusToDosError(result);
        }
        return {};
    }
    return AdoptHandle(opened);
}
