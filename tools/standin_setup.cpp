// Stands in for the product's setup program in tests and demonstrations. It appends one
// line "<command line>\t<current directory>\t<TEMP>\t<TMP>\n" (UTF-8) to the file named by
// HALVEX_STANDIN_RECORD, shows a window saying what it is for HALVEX_STANDIN_SECONDS
// seconds (default 3; 0 shows none) and exits with HALVEX_STANDIN_EXIT_CODE (default 0).
// Given HALVEX_STANDIN_LOAD, it first loads that library by its bare name, as setup
// programs load theirs: from their own folder first.
#include <windows.h>

#include <cwchar>
#include <string>

#include "common/unique_handle.h"

namespace {

constexpr wchar_t kClassName[] = L"Halvex Nefo Setup (stand-in)";
constexpr wchar_t kMessage[] =
    L"这是产品安装程序的替身，仅供测试使用。\n"
    L"This is the stand-in for the product's setup program, for tests only.\n\n"
    L"几秒后自动关闭。 It closes by itself in a few seconds.";
constexpr int kWidth = 460;
constexpr int kHeight = 170;
constexpr UINT_PTR kCloseTimer = 1;

std::wstring Environment(const wchar_t* name) {
    const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) {
        return {};
    }
    std::wstring value(size, L'\0');
    const DWORD length = GetEnvironmentVariableW(name, value.data(), size);
    value.resize(length < size ? length : 0);
    return value;
}

long EnvironmentNumber(const wchar_t* name, long fallback) {
    const std::wstring text = Environment(name);
    if (text.empty()) {
        return fallback;
    }
    wchar_t* end = nullptr;
    const long value = std::wcstol(text.c_str(), &end, 10);
    return *end == L'\0' ? value : fallback;
}

std::string Utf8(const std::wstring& wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    (void)WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(),
                              size, nullptr, nullptr);
    return bytes;
}

std::wstring CurrentDirectory() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::wstring directory(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, directory.data());
    directory.resize(length < size ? length : 0);
    return directory;
}

void RecordRun() {
    const std::wstring recordPath = Environment(L"HALVEX_STANDIN_RECORD");
    if (recordPath.empty()) {
        return;
    }
    const UniqueHandle record = AdoptHandle(
        CreateFileW(recordPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!record) {
        return;
    }
    const std::string line = Utf8(GetCommandLineW()) + "\t" + Utf8(CurrentDirectory()) + "\t" +
                             Utf8(Environment(L"TEMP")) + "\t" + Utf8(Environment(L"TMP")) + "\n";
    DWORD written = 0;
    (void)WriteFile(record.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

void Paint(HWND window) {
    PAINTSTRUCT paint{};
    const HDC dc = BeginPaint(window, &paint);
    RECT client{};
    (void)GetClientRect(window, &client);
    (void)InflateRect(&client, -16, -16);
    const HGDIOBJ previous = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    (void)SetBkMode(dc, TRANSPARENT);
    // Measured first so the block of lines sits in the middle of the window.
    RECT text = client;
    (void)DrawTextW(dc, kMessage, -1, &text, DT_CENTER | DT_WORDBREAK | DT_CALCRECT);
    const LONG spare = (client.bottom - client.top) - (text.bottom - text.top);
    client.top += spare > 0 ? spare / 2 : 0;
    (void)DrawTextW(dc, kMessage, -1, &client, DT_CENTER | DT_WORDBREAK);
    (void)SelectObject(dc, previous);
    (void)EndPaint(window, &paint);
}

LRESULT CALLBACK StandInWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            Paint(window);
            return 0;
        case WM_TIMER:
            (void)DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

void ShowForSeconds(HINSTANCE instance, long seconds) {
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = StandInWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
    windowClass.lpszClassName = kClassName;
    if (RegisterClassW(&windowClass) == 0) {
        return;
    }
    const HWND window = CreateWindowExW(
        0, kClassName, kClassName, WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU,
        (GetSystemMetrics(SM_CXSCREEN) - kWidth) / 2, (GetSystemMetrics(SM_CYSCREEN) - kHeight) / 2,
        kWidth, kHeight, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return;
    }
    (void)SetTimer(window, kCloseTimer, static_cast<UINT>(seconds) * 1000u, nullptr);
    (void)ShowWindow(window, SW_SHOWNORMAL);
    (void)UpdateWindow(window);
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        (void)TranslateMessage(&message);
        (void)DispatchMessageW(&message);
    }
}

void LoadLibraryByName() {
    const std::wstring name = Environment(L"HALVEX_STANDIN_LOAD");
    const HMODULE library = name.empty() ? nullptr : LoadLibraryW(name.c_str());
    if (library != nullptr) {
        (void)FreeLibrary(library);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    RecordRun();
    LoadLibraryByName();
    const long seconds = EnvironmentNumber(L"HALVEX_STANDIN_SECONDS", 3);
    if (seconds > 0) {
        ShowForSeconds(instance, seconds);
    }
    return static_cast<int>(EnvironmentNumber(L"HALVEX_STANDIN_EXIT_CODE", 0));
}
