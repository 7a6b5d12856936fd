#include "app/dll_search.h"

#include <windows.h>

// The DLLs outside Windows' known-DLL list are delay-loaded, so they load after this.
// Looked up at run time: a Windows 7 without the update that added it must still get
// as far as the refusal message.
void LimitDllSearchToSystem32() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        (void)SetDllDirectoryW(L"");
    }
}
