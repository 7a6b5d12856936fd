// Measures how long a program takes from process creation to the first paint of its window,
// the same way for any program, from outside it:
//   startup_launcher CLASS X Y RRGGBB TIMEOUT_MS PROGRAM.exe
// The clock starts right before CreateProcessW. The window counts as shown once a window of
// CLASS owned by the new process is visible, and as painted once the screen pixel at (X, Y)
// inside that window has the colour RRGGBB (what the program's painting puts there). The
// program and everything it started are then ended through their job. Prints one line of
// key=value pairs.
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <memory>
#include <string>
#include <type_traits>

#include "common/unique_handle.h"

namespace {

constexpr DWORD kExitWaitMs = 10000;

struct ScreenDcReleaser {
    void operator()(HDC dc) const { (void)ReleaseDC(nullptr, dc); }
};
using UniqueScreenDc = std::unique_ptr<std::remove_pointer_t<HDC>, ScreenDcReleaser>;

double MillisecondsSince(const LARGE_INTEGER& start) {
    LARGE_INTEGER now{};
    LARGE_INTEGER frequency{};
    (void)QueryPerformanceCounter(&now);
    (void)QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

// The visible top-level window of the given class that belongs to the process, if any.
HWND FindProcessWindow(const wchar_t* className, DWORD processId) {
    HWND window = nullptr;
    while ((window = FindWindowExW(nullptr, window, className, nullptr)) != nullptr) {
        DWORD owner = 0;
        (void)GetWindowThreadProcessId(window, &owner);
        if (owner == processId && IsWindowVisible(window)) {
            return window;
        }
    }
    return nullptr;
}

UniqueHandle MakeKillingJob() {
    UniqueHandle job = AdoptHandle(CreateJobObjectW(nullptr, nullptr));
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        (void)SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                      sizeof(limits));
    }
    return job;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 7) {
        std::fputs("usage: startup_launcher CLASS X Y RRGGBB TIMEOUT_MS PROGRAM.exe\n", stderr);
        return 2;
    }
    const wchar_t* className = argv[1];
    const int x = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
    const int y = static_cast<int>(std::wcstol(argv[3], nullptr, 10));
    const unsigned long rgb = std::wcstoul(argv[4], nullptr, 16);
    const COLORREF expected = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
    const double timeoutMs = static_cast<double>(std::wcstoul(argv[5], nullptr, 10));
    std::wstring commandLine = L"\"" + std::wstring(argv[6]) + L"\"";

    const UniqueHandle job = MakeKillingJob();
    const UniqueScreenDc screen(GetDC(nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION created{};

    LARGE_INTEGER start{};
    (void)QueryPerformanceCounter(&start);
    if (!CreateProcessW(argv[6], &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED,
                        nullptr, nullptr, &startup, &created)) {
        std::printf("ok=0 error=create-process-%lu\n", GetLastError());
        return 1;
    }
    const UniqueHandle thread = AdoptHandle(created.hThread);
    const UniqueHandle process = AdoptHandle(created.hProcess);
    (void)AssignProcessToJobObject(job.get(), process.get());
    (void)ResumeThread(thread.get());

    double visibleMs = -1;
    double paintMs = -1;
    for (;;) {
        const double elapsed = MillisecondsSince(start);
        if (elapsed > timeoutMs || WaitForSingleObject(process.get(), 0) == WAIT_OBJECT_0) {
            break;
        }
        const HWND window = FindProcessWindow(className, created.dwProcessId);
        if (window != nullptr) {
            if (visibleMs < 0) {
                visibleMs = elapsed;
            }
            RECT frame{};
            if (GetWindowRect(window, &frame) &&
                GetPixel(screen.get(), frame.left + x, frame.top + y) == expected) {
                paintMs = MillisecondsSince(start);
                break;
            }
        }
        Sleep(1);
    }

    (void)TerminateJobObject(job.get(), 0);
    (void)WaitForSingleObject(process.get(), kExitWaitMs);
    std::printf("ok=%d visible_ms=%.3f paint_ms=%.3f\n", paintMs >= 0 ? 1 : 0, visibleMs, paintMs);
    return paintMs >= 0 ? 0 : 1;
}
