#include "app/single_instance.h"

#include <windows.h>

#include "app/main_window.h"

namespace {

constexpr wchar_t kMutexName[] = L"Local\\HalvexInstaller.SingleInstance";

// A hidden window means the running installer has handed over to its setup program,
// which then owns the screen; showing the installer again would only get in its way.
void BringRunningInstallerForward() {
    const HWND running = FindWindowW(kWindowClassName, nullptr);
    if (running == nullptr || !IsWindowVisible(running)) {
        return;
    }
    // Async, so a busy installer cannot hold this start up. A process the user just started
    // may take the foreground while it has no window of its own.
    if (IsIconic(running)) {
        (void)ShowWindowAsync(running, SW_RESTORE);
    }
    (void)SetForegroundWindow(running);
}

}  // namespace

bool ClaimSingleInstance(UniqueHandle& claim) {
    const HANDLE mutex = CreateMutexW(nullptr, FALSE, kMutexName);
    const DWORD error = GetLastError();
    claim = AdoptHandle(mutex);
    // Access denied also means the name is taken. Any other failure leaves the installer
    // free to run: a missing mutex must not keep the user from installing.
    if (error == ERROR_ALREADY_EXISTS || (!claim && error == ERROR_ACCESS_DENIED)) {
        claim.reset();
        BringRunningInstallerForward();
        return false;
    }
    return true;
}
