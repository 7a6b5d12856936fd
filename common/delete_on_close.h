#pragma once

#include <windows.h>

// Marks a file, open with DELETE access, to go when its last handle closes, however the process
// ends; cleared, it stays. Through the handle, so it is this very file, whatever its name now.
inline bool SetDeleteOnClose(HANDLE file, bool deleteOnClose) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = deleteOnClose ? TRUE : FALSE;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                      sizeof(disposition)) != FALSE;
}
