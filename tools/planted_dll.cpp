// A DLL planted beside the installer under the name of a system DLL. If it is ever
// loaded it leaves "<its own path>.loaded" behind, so a test can tell.
#include <windows.h>

#include <string>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH];
        const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        if (length > 0 && length < MAX_PATH) {
            const std::wstring marker = std::wstring(path, length) + L".loaded";
            const HANDLE file = CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr,
                                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
            if (file != INVALID_HANDLE_VALUE) {
                (void)CloseHandle(file);
            }
        }
    }
    return TRUE;
}
