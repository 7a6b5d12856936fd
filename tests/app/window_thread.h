#pragma once

#include <windows.h>
#include <commctrl.h>

#include "app/progress_sink.h"
#include "common/unique_handle.h"

// A shown window of the given procedure with the installer's kind of progress bar, owned
// and pumped by a thread of its own, as the main thread does while the worker reports.
// The bar's range is 0-1000, so a figure above 100 is kept as sent rather than clamped;
// prepareBar, when given, runs on the window's thread before the window is shown.
class WindowThread {
  public:
    static constexpr DWORD kBoundMs = 30000;

    // Where a test's procedure sends what it does not handle: the thread ends with the window.
    static LRESULT CALLBACK DefaultProcedure(HWND window, UINT message, WPARAM wParam,
                                             LPARAM lParam) {
        if (message == WM_DESTROY) {
            PostQuitMessage(0);
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    WindowThread(const wchar_t* className, WNDPROC procedure, void (*prepareBar)(HWND) = nullptr)
        : className_(className), procedure_(procedure), prepareBar_(prepareBar) {
        thread_ = AdoptHandle(CreateThread(nullptr, 0, &WindowThread::Run, this, 0, nullptr));
    }
    ~WindowThread() {
        if (window_ != nullptr) {
            (void)PostMessageW(window_, WM_CLOSE, 0, 0);
        }
        (void)WaitForSingleObject(thread_.get(), kBoundMs);
    }
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    bool WaitUntilShown() {
        return WaitForSingleObject(ready_.get(), kBoundMs) == WAIT_OBJECT_0 && window_ != nullptr;
    }
    bool CloseAndWait() {
        (void)PostMessageW(window_, WM_CLOSE, 0, 0);
        return WaitForSingleObject(thread_.get(), kBoundMs) == WAIT_OBJECT_0;
    }
    HWND window() const { return window_; }
    HWND bar() const { return GetDlgItem(window_, kProgressBarId); }

  private:
    static DWORD WINAPI Run(void* self) {
        static_cast<WindowThread*>(self)->Pump();
        return 0;
    }

    void Pump() {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
        (void)InitCommonControlsEx(&controls);
        const HINSTANCE instance = GetModuleHandleW(nullptr);
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = procedure_;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = className_;
        (void)RegisterClassW(&windowClass);
        const HWND window = CreateWindowExW(0, className_, className_, WS_POPUP, 0, 0, 560, 310,
                                            nullptr, nullptr, instance, nullptr);
        const HWND bar = CreateWindowExW(
            0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE, 0, 300, 560, 10, window,
            reinterpret_cast<HMENU>(static_cast<INT_PTR>(kProgressBarId)), instance, nullptr);
        (void)SendMessageW(bar, PBM_SETRANGE32, 0, 1000);
        if (prepareBar_ != nullptr) {
            prepareBar_(bar);
        }
        (void)ShowWindow(window, SW_SHOWNOACTIVATE);
        (void)UpdateWindow(window);
        window_ = window;
        (void)SetEvent(ready_.get());
        MSG message{};
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            (void)DispatchMessageW(&message);
        }
    }

    const wchar_t* className_;
    WNDPROC procedure_;
    void (*prepareBar_)(HWND);
    UniqueHandle ready_ = AdoptHandle(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    HWND window_ = nullptr;
    UniqueHandle thread_;
};
