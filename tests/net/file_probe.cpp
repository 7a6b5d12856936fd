// Run by the held-file tests as a separate process. "probe PATH" tries to open PATH for
// writing, rename it and delete it, and to open it for reading; the exit code has bit 1, 2
// and 4 set for each change refused with a sharing violation and bit 8 when reading worked.
// "exit N" just exits with N (to show a held download can still be started).
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

constexpr int kWriteRefused = 1;
constexpr int kRenameRefused = 2;
constexpr int kDeleteRefused = 4;
constexpr int kReadAllowed = 8;

bool RefusedBySharing(BOOL succeeded) {
    return !succeeded && GetLastError() == ERROR_SHARING_VIOLATION;
}

int Probe(const std::wstring& path) {
    int result = 0;
    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (writer != INVALID_HANDLE_VALUE) {
        CloseHandle(writer);
    } else if (GetLastError() == ERROR_SHARING_VIOLATION) {
        result |= kWriteRefused;
    }
    const std::wstring moved = path + L".moved";
    if (RefusedBySharing(MoveFileExW(path.c_str(), moved.c_str(), 0))) {
        result |= kRenameRefused;
    }
    if (RefusedBySharing(DeleteFileW(path.c_str()))) {
        result |= kDeleteRefused;
    }
    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (reader != INVALID_HANDLE_VALUE) {
        result |= kReadAllowed;
        CloseHandle(reader);
    }
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc == 3 && std::wstring(argv[1]) == L"probe") {
        return Probe(argv[2]);
    }
    if (argc == 3 && std::wstring(argv[1]) == L"exit") {
        return std::wcstol(argv[2], nullptr, 10);
    }
    return 100;
}
