// The installer's start-up, step by step: the same calls in the same order, made with the
// product's own functions, each timed, up to the first paint. It registers the installer's
// class, so startup_launcher measures it from outside exactly like the installer; after the
// first paint it writes one line of key=value pairs (milliseconds) to the file named by
// HALVEX_STEPS_REPORT and runs its message loop until it is ended.
//   load_ms  process creation to the entry point: the image, its imported DLLs, the runtime
#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>
#include <thread>

#include "app/main_window.h"
#include "app/window_math.h"
#include "install/install_worker.h"
#include "net/unique_handle.h"
#include "record/register_product.h"

namespace {

LARGE_INTEGER g_frequency{};

double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) {
    return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
           static_cast<double>(g_frequency.QuadPart);
}

// Marks the end of one step and appends its duration to the report.
class StepClock {
  public:
    StepClock() { (void)QueryPerformanceCounter(&last_); }
    void Step(const char* name) {
        LARGE_INTEGER now{};
        (void)QueryPerformanceCounter(&now);
        char field[64];
        (void)std::snprintf(field, sizeof(field), " %s_ms=%.3f", name, Milliseconds(last_, now));
        report_ += field;
        last_ = now;
    }
    const std::string& report() const { return report_; }

  private:
    LARGE_INTEGER last_{};
    std::string report_;
};

StepClock* g_clock = nullptr;

std::uint64_t Ticks(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// Time from this process's creation to now, from the system clock both are kept in.
double MillisecondsSinceCreation() {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return -1;
    }
    return static_cast<double>(Ticks(now) - Ticks(created)) / 1e4;
}

// As the installer's entry point does first.
void LimitDllSearchToSystem32() {
    using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
    const auto setDefault = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDefault == nullptr || !setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
        (void)SetDllDirectoryW(L"");
    }
}

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
    std::thread(InstallWorker, window).detach();
    g_clock->Step("worker_start");
    RegisterProduct();
    g_clock->Step("register");
    return 0;
}

void WriteReport(const std::string& line) {
    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"HALVEX_STEPS_REPORT", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return;
    }
    const UniqueHandle file = AdoptHandle(CreateFileW(
        path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    (void)WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    const double loadMs = MillisecondsSinceCreation();
    (void)QueryPerformanceFrequency(&g_frequency);
    StepClock clock;
    g_clock = &clock;
    LARGE_INTEGER entry{};
    (void)QueryPerformanceCounter(&entry);

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

    LARGE_INTEGER painted{};
    (void)QueryPerformanceCounter(&painted);
    char totals[96];
    (void)std::snprintf(totals, sizeof(totals), "ok=1 load_ms=%.3f main_ms=%.3f", loadMs,
                        Milliseconds(entry, painted));
    WriteReport(totals + clock.report() + "\n");

    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) != 0) {
        (void)TranslateMessage(&message);
        (void)DispatchMessageW(&message);
    }
    return 0;
}
