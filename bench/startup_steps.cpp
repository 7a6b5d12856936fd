// The installer's start-up, step by step: the same calls in the same order, made with the
// product's own functions, each timed, up to the first paint. It registers the installer's
// class, so startup_launcher measures it from outside exactly like the installer; after the
// first paint it writes its steps (see step_clock.h) and runs its message loop until it is
// ended. With HALVEX_STEPS_WITHOUT_WORKER set it starts no install worker, which shows what
// the worker's work alongside costs the window.
#include <windows.h>
#include <commctrl.h>

#include <thread>

#include "app/dll_search.h"
#include "app/main_window.h"
#include "app/window_math.h"
#include "bench/step_clock.h"
#include "install/install_worker.h"
#include "record/register_product.h"

namespace {

StepClock* g_clock = nullptr;
bool g_withoutWorker = false;

// The installer's procedure, with its creation handling split into timed steps.
LRESULT CALLBACK StepsWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != WM_CREATE) {
        return MainWndProc(window, message, wParam, lParam);
    }
    g_clock->Step("create_window");
    LoadBackgroundPicture(window);
    g_clock->Step("picture2");
    (void)CreateProgressBar(window, g_instance);
    g_clock->Step("bar");
    if (!g_withoutWorker) {
        std::thread(InstallWorker, window).detach();
    }
    g_clock->Step("worker_start");
    RegisterProduct();
    g_clock->Step("register");
    return 0;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    const double loadMs = StepClock::MillisecondsSinceCreation();
    StepClock clock;
    g_clock = &clock;
    g_withoutWorker = GetEnvironmentVariableW(L"HALVEX_STEPS_WITHOUT_WORKER", nullptr, 0) > 0;

    LimitDllSearchToSystem32();
    g_instance = instance;
    clock.Step("dll_search");

    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_PROGRESS_CLASS;
    (void)InitCommonControlsEx(&controls);
    clock.Step("common_controls");

    WNDCLASSW windowClass{};
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpfnWndProc = StepsWndProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWindowClassName;
    clock.Step("cursor");

    LoadBackgroundPicture(nullptr);
    clock.Step("picture1");

    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconResourceId));
    clock.Step("icon");
    if (RegisterClassW(&windowClass) == 0) {
        return 1;
    }
    clock.Step("class");

    const HWND window =
        CreateWindowExW(0, kWindowClassName, kWindowTitle, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT,
                        kWindowWidth, kWindowHeight, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    clock.Step("create_return");

    RECT frame{};
    (void)GetWindowRect(window, &frame);
    const int x = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), frame.right - frame.left);
    const int y = CentredOrigin(GetSystemMetrics(SM_CYSCREEN), frame.bottom - frame.top);
    (void)SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    clock.Step("centre");
    (void)ShowWindow(window, showCommand);
    clock.Step("show");
    (void)UpdateWindow(window);
    clock.Step("first_paint");
    clock.Report(loadMs);

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) != 0) {
        (void)TranslateMessage(&message);
        (void)DispatchMessageW(&message);
    }
    return 0;
}
