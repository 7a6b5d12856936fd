// Stands in for the product's setup program in tests and demonstrations. Its settings come
// from C:\halvex-tests\standin-settings.ini (section [standin]), not from its
// environment, which the installer builds from the machine's. It appends one line
// "<command line>\t<current directory>\t<TEMP>\t<TMP>\n" (UTF-8) to the file named by `record`,
// shows a window saying what it is for `seconds` seconds (default 3; 0 shows none) and exits
// with 0. Given `load`, it first loads that library by its bare name, as setup programs load
// theirs: from their own folder first. Given `environment`, it writes its environment there,
// one variable a line. Given `child_seconds`, it unpacks a file and a
// copy of itself into its TEMP and starts that copy, which reads the file after that many
// seconds and records its run with a fifth field: what it read, or "missing".
#include <windows.h>

#include <cwchar>
#include <memory>
#include <string>

#include "common/closer.h"
#include "common/unique_handle.h"
#include "common/write_all.h"

namespace {

constexpr wchar_t kClassName[] = L"Halvex Nefo Setup (stand-in)";
constexpr wchar_t kMessage[] =
    L"这是产品安装程序的替身，仅供测试使用。\n"
    L"This is the stand-in for the product's setup program, for tests only.\n\n"
    L"几秒后自动关闭。 It closes by itself in a few seconds.";
constexpr int kWidth = 460;
constexpr int kHeight = 170;
constexpr UINT_PTR kCloseTimer = 1;

constexpr wchar_t kSettingsPath[] = L"C:\\halvex-tests\\standin-settings.ini";
constexpr wchar_t kSection[] = L"standin";
constexpr wchar_t kChildArgument[] = L"child";
constexpr wchar_t kUnpackedName[] = L"\\unpacked.txt";
constexpr wchar_t kChildName[] = L"\\standin-child.exe";
constexpr char kUnpackedText[] = "unpacked by the setup program";

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

std::string ReadWholeFile(const std::wstring& path) {
    const UniqueHandle file = AdoptHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                      nullptr, OPEN_EXISTING, 0, nullptr));
    std::string bytes;
    char chunk[4096];
    DWORD got = 0;
    while (file && ReadFile(file.get(), chunk, sizeof(chunk), &got, nullptr) && got > 0) {
        bytes.append(chunk, got);
    }
    return bytes;
}

// The file is UTF-16 with a byte-order mark, which the profile functions read as such.
std::wstring Setting(const wchar_t* name) {
    wchar_t value[MAX_PATH] = {};
    (void)GetPrivateProfileStringW(kSection, name, L"", value, MAX_PATH, kSettingsPath);
    return value;
}

std::string Narrow(const std::wstring& wide) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(size), '\0');
    (void)WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(),
                              size, nullptr, nullptr);
    return bytes;
}

long SettingNumber(const wchar_t* name, long fallback) {
    return static_cast<int>(
        GetPrivateProfileIntW(kSection, name, static_cast<int>(fallback), kSettingsPath));
}

std::wstring CurrentDirectory() {
    const DWORD size = GetCurrentDirectoryW(0, nullptr);
    std::wstring directory(size, L'\0');
    const DWORD length = GetCurrentDirectoryW(size, directory.data());
    directory.resize(length < size ? length : 0);
    return directory;
}

bool AppendTo(const std::wstring& path, const std::string& bytes) {
    const UniqueHandle file =
        AdoptHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && WriteAll(file.get(), bytes.data(), bytes.size());
}

void RecordRun(const std::string& extra = {}) {
    const std::wstring recordPath = Setting(L"record");
    if (recordPath.empty()) {
        return;
    }
    const std::string line = Narrow(GetCommandLineW()) + "\t" + Narrow(CurrentDirectory()) + "\t" +
                             Narrow(Environment(L"TEMP")) + "\t" + Narrow(Environment(L"TMP")) +
                             extra + "\n";
    (void)AppendTo(recordPath, line);
}

void WriteEnvironment() {
    const std::wstring path = Setting(L"environment");
    const std::unique_ptr<wchar_t, Closer<FreeEnvironmentStringsW>> block(GetEnvironmentStringsW());
    if (path.empty() || !block) {
        return;
    }
    std::string lines;
    for (const wchar_t* entry = block.get(); *entry != L'\0'; entry += std::wcslen(entry) + 1) {
        lines += Narrow(entry) + "\n";
    }
    (void)AppendTo(path, lines);
}

std::wstring OwnPath() {
    wchar_t path[MAX_PATH] = {};
    return GetModuleFileNameW(nullptr, path, MAX_PATH) < MAX_PATH ? path : L"";
}

// As many setup programs do: unpack into TEMP, start the real installer from there, go.
void StartChild() {
    const std::wstring temp = Environment(L"TEMP");
    const std::wstring child = temp + kChildName;
    std::wstring commandLine = L"\"" + child + L"\" " + kChildArgument;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    if (SettingNumber(L"child_seconds", 0) <= 0 || temp.empty() ||
        !AppendTo(temp + kUnpackedName, kUnpackedText) ||
        !CopyFileW(OwnPath().c_str(), child.c_str(), TRUE) ||
        !CreateProcessW(child.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &created)) {
        return;
    }
    const UniqueHandle thread = AdoptHandle(created.hThread);
    const UniqueHandle process = AdoptHandle(created.hProcess);
}

int RunChild() {
    Sleep(static_cast<DWORD>(SettingNumber(L"child_seconds", 0)) * 1000u);
    const std::string unpacked = ReadWholeFile(Environment(L"TEMP") + kUnpackedName);
    RecordRun("\t" + (unpacked.empty() ? std::string("missing") : unpacked));
    return 0;
}

bool IsChild() {
    const std::wstring line = GetCommandLineW();
    const std::wstring ending = std::wstring(L"\" ") + kChildArgument;
    return line.size() > ending.size() &&
           line.compare(line.size() - ending.size(), ending.size(), ending) == 0;
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
    const std::wstring name = Setting(L"load");
    const HMODULE library = name.empty() ? nullptr : LoadLibraryW(name.c_str());
    if (library != nullptr) {
        (void)FreeLibrary(library);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    if (IsChild()) {
        return RunChild();
    }
    RecordRun();
    WriteEnvironment();
    LoadLibraryByName();
    StartChild();
    const long seconds = SettingNumber(L"seconds", 3);
    if (seconds > 0) {
        ShowForSeconds(instance, seconds);
    }
    return 0;
}
