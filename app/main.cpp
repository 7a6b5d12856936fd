#include <windows.h>
#include <commctrl.h>

#include "app/dll_search.h"
#include "app/main_window.h"
#include "app/redirection_trust.h"
#include "app/single_instance.h"
#include "app/window_math.h"

namespace {

constexpr wchar_t kStartFailedText[] = L"安装程序窗口创建失败！";
constexpr wchar_t kErrorCaption[] = L"错误";

// Without a window nothing would ever post the quit message, so the loop would wait for ever.
int FailStart() {
    (void)MessageBoxW(nullptr, kStartFailedText, kErrorCaption, MB_OK | MB_ICONERROR);
    return 1;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    EnforceRedirectionTrust();
    LimitDllSearchToSystem32();

    UniqueHandle instanceClaim;
    if (!ClaimSingleInstance(instanceClaim)) {
        return 0;
    }

    g_instance = instance;

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    (void)InitCommonControlsEx(&controls);

    WNDCLASSW windowClass{};
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.style = 0;
    windowClass.lpfnWndProc = MainWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClassName;

    LoadBackgroundPicture(nullptr);

    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResourceId));
    if (RegisterClassW(&windowClass) == 0) {
        return FailStart();
    }

    const HWND mainWindow =
        CreateWindowExW(0, kWindowClassName, kWindowTitle, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                        kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
    if (mainWindow == nullptr) {
        return FailStart();
    }

    RECT frame{};
    (void)GetWindowRect(mainWindow, &frame);
    const int x = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), frame.right - frame.left);
    const int y = CentredOrigin(GetSystemMetrics(SM_CYSCREEN), frame.bottom - frame.top);
    (void)SetWindowPos(mainWindow, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);

    (void)ShowWindow(mainWindow, showCommand);
    (void)UpdateWindow(mainWindow);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) != 0) {
        (void)TranslateMessage(&message);
        (void)DispatchMessageW(&message);
    }
    return 0;
}
