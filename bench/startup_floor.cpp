// The least a program must do to show the installer's kind of window: register a class,
// create a 560 x 310 pop-up, centre and show it, paint it once (one solid colour) and run
// the message loop. The start-up benchmark compares the installer with it.
#include <windows.h>

namespace {

constexpr wchar_t kClassName[] = L"HalvexStartupFloor";
constexpr int kWidth = 560;
constexpr int kHeight = 310;
constexpr COLORREF kColour = RGB(117, 130, 225);

LRESULT CALLBACK FloorWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT: {
            PAINTSTRUCT paint{};
            const HDC dc = BeginPaint(window, &paint);
            const HBRUSH brush = CreateSolidBrush(kColour);
            (void)FillRect(dc, &paint.rcPaint, brush);
            (void)DeleteObject(brush);
            (void)EndPaint(window, &paint);
            return 0;
        }
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = FloorWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    if (RegisterClassW(&windowClass) == 0) {
        return 1;
    }
    const HWND window =
        CreateWindowExW(0, kClassName, L"Halvex start-up floor", WS_POPUP, CW_USEDEFAULT,
                        CW_USEDEFAULT, kWidth, kHeight, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    (void)SetWindowPos(window, nullptr, (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2,
                       (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2, 0, 0,
                       SWP_NOZORDER | SWP_NOSIZE);
    (void)ShowWindow(window, showCommand);
    (void)UpdateWindow(window);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        (void)TranslateMessage(&message);
        (void)DispatchMessageW(&message);
    }
    return 0;
}
