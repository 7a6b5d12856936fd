#include "app/single_instance.h"

#include <windows.h>

#include "app/main_window.h"

namespace {

constexpr wchar_t kMutexName[] = L"Local\\HalvexInstaller.SingleInstance";

bool IsShownBoxOf(HWND window, HWND owner) {
    return window != owner && GetWindow(window, GW_OWNER) == owner && IsWindowVisible(window) &&
           IsWindowEnabled(window);
}

// The box the user must answer: the last active popup, or, once the disabled window itself was
// activated last (a click on it, say), the shown box it owns (the worker's thread shows it).
HWND BoxOf(HWND owner) {
    const HWND last = GetLastActivePopup(owner);
    if (last != nullptr && IsShownBoxOf(last, owner)) {
        return last;
    }
    struct Search {
        HWND owner;
        HWND box;
    } search{owner, nullptr};
    (void)EnumWindows(
        [](HWND window, LPARAM found) -> BOOL {
            auto* search = reinterpret_cast<Search*>(found);
            if (IsShownBoxOf(window, search->owner)) {
                search->box = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.box;
}

// What the user must answer comes first: while the installer shows a box, its window is
// disabled and the box has the keyboard, so the box is brought forward, even while the window
// is hidden (a launch failure is reported after the window made way for the setup program).
// Without a box, a hidden window means the setup program owns the screen; showing the
// installer again would only get in its way.
void BringRunningInstallerForward() {
    const HWND running = FindWindowW(kWindowClassName, nullptr);
    if (running == nullptr) {
        return;
    }
    const HWND popup = BoxOf(running);
    if (popup != nullptr) {
        (void)SetForegroundWindow(popup);
        return;
    }
    if (!IsWindowVisible(running)) {
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
