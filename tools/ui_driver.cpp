// Looks at and drives other programs' windows for the end-to-end tests, the way a person
// would see and press them. One subcommand per run; it prints one JSON line (non-ASCII as
// \u escapes, so no console code page is involved) and exits 0 on success, 1 when the
// awaited state did not come within --timeout seconds, 2 on bad usage.
//
//   window   --class C | --title T [--state visible|hidden|exists] [--timeout S]
//   progress --class C [--at-least N] [--timeout S]      position of the bar, child 1001
//   box      [--owner-class C] [--timeout S]             a message box, its text and buttons,
//                                                        whether it is in front and has the
//                                                        keyboard
//   activate --class C                                   makes that window the foreground one
//   press    [--owner-class C] --button ok|cancel|ID [--timeout S]
//   sync     --class C                                   a round trip through its message loop
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cwchar>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr int kProgressBarId = 1001;
constexpr int kMessageBoxTextId = 0xFFFF;
constexpr DWORD kPollMs = 50;

using Options = std::map<std::wstring, std::wstring>;

struct UsageError {
    std::wstring what;
};

std::string JsonString(const std::wstring& text) {
    std::string out = "\"";
    for (wchar_t c : text) {
        if (c == L'"' || c == L'\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c) & 0xFFFFu);
            out += escaped;
        }
    }
    return out + "\"";
}

std::string JsonHandle(HWND window) {
    return std::to_string(static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(window)));
}

int Print(const std::string& json, int exitCode) {
    (void)std::puts(json.c_str());
    return exitCode;
}

int Fail(const std::string& error, const std::string& lastSeen = "") {
    std::string json =
        "{\"ok\":false,\"error\":" + JsonString(std::wstring(error.begin(), error.end()));
    if (!lastSeen.empty()) {
        json += ",\"last\":" + lastSeen;
    }
    return Print(json + "}", 1);
}

const std::wstring* Find(const Options& options, const wchar_t* name) {
    auto it = options.find(name);
    return it == options.end() ? nullptr : &it->second;
}

std::wstring Need(const Options& options, const wchar_t* name) {
    if (const std::wstring* value = Find(options, name)) {
        return *value;
    }
    throw UsageError{std::wstring(L"missing --") + name};
}

long Number(const std::wstring& text) {
    wchar_t* end = nullptr;
    long value = std::wcstol(text.c_str(), &end, 10);
    if (text.empty() || *end != L'\0') {
        throw UsageError{L"not a number: " + text};
    }
    return value;
}

DWORD TimeoutMs(const Options& options) {
    const std::wstring* seconds = Find(options, L"timeout");
    return seconds == nullptr ? 10000 : static_cast<DWORD>(Number(*seconds)) * 1000;
}

// Polls until `done` holds or the bound passes; `done` runs at least once.
template <typename Done>
bool WaitUntil(DWORD timeoutMs, Done done) {
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    for (;;) {
        if (done()) {
            return true;
        }
        if (GetTickCount64() >= deadline) {
            return false;
        }
        Sleep(kPollMs);
    }
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    (void)GetClassNameW(window, name, 256);
    return name;
}

std::wstring TextOf(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(
        static_cast<size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

BOOL CALLBACK Collect(HWND window, LPARAM found) {
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

std::vector<HWND> TopLevelWindows() {
    std::vector<HWND> windows;
    (void)EnumWindows(Collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

std::vector<HWND> ChildWindows(HWND parent) {
    std::vector<HWND> windows;
    (void)EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// Top-level windows matching --class and/or --title.
std::vector<HWND> MatchingWindows(const Options& options) {
    const std::wstring* className = Find(options, L"class");
    const std::wstring* title = Find(options, L"title");
    if (className == nullptr && title == nullptr) {
        throw UsageError{L"give --class or --title"};
    }
    std::vector<HWND> matches;
    for (HWND window : TopLevelWindows()) {
        if ((className == nullptr || ClassOf(window) == *className) &&
            (title == nullptr || TextOf(window) == *title)) {
            matches.push_back(window);
        }
    }
    return matches;
}

std::string Describe(HWND window) {
    RECT rect = {};
    (void)GetWindowRect(window, &rect);
    return "{\"hwnd\":" + JsonHandle(window) +
           ",\"visible\":" + (IsWindowVisible(window) ? "true" : "false") + ",\"rect\":[" +
           std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
           std::to_string(rect.right) + "," + std::to_string(rect.bottom) + "]}";
}

int CommandWindow(const Options& options) {
    const std::wstring* stateOption = Find(options, L"state");
    const std::wstring state = stateOption == nullptr ? L"exists" : *stateOption;
    if (state != L"visible" && state != L"hidden" && state != L"exists") {
        throw UsageError{L"unknown --state " + state};
    }
    HWND found = nullptr;
    std::string lastSeen;
    bool reached = WaitUntil(TimeoutMs(options), [&] {
        std::vector<HWND> matches = MatchingWindows(options);
        lastSeen = matches.empty() ? "" : Describe(matches.front());
        for (HWND window : matches) {
            bool visible = IsWindowVisible(window) != FALSE;
            if (state == L"exists" || visible == (state == L"visible")) {
                found = window;
                return true;
            }
        }
        return false;
    });
    if (!reached) {
        return Fail("timeout", lastSeen);
    }
    return Print("{\"ok\":true,\"window\":" + Describe(found) + "}", 0);
}

// The first window `find` gives within the bound, or null.
template <typename Find>
HWND Await(const Options& options, Find find) {
    HWND found = nullptr;
    (void)WaitUntil(TimeoutMs(options), [&] { return (found = find()) != nullptr; });
    return found;
}

HWND FirstWindow(const Options& options) {
    return Await(options, [&] {
        std::vector<HWND> matches = MatchingWindows(options);
        return matches.empty() ? nullptr : matches.front();
    });
}

// The bar is created while the window is being created, so it is looked for inside the wait.
int CommandProgress(const Options& options) {
    const std::wstring* atLeastOption = Find(options, L"at-least");
    const long atLeast = atLeastOption == nullptr ? LONG_MIN : Number(*atLeastOption);
    HWND bar = nullptr;
    long position = 0;
    bool reached = WaitUntil(TimeoutMs(options), [&] {
        std::vector<HWND> windows = MatchingWindows(options);
        bar = windows.empty() ? nullptr : GetDlgItem(windows.front(), kProgressBarId);
        DWORD_PTR result = 0;
        if (bar == nullptr ||
            SendMessageTimeoutW(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &result) == 0) {
            return false;
        }
        position = static_cast<long>(static_cast<int>(result));
        return position >= atLeast;
    });
    if (bar == nullptr) {
        return Fail("no such window with a child 1001");
    }
    DWORD_PTR low = 0;
    DWORD_PTR high = 0;
    (void)SendMessageTimeoutW(bar, PBM_GETRANGE, TRUE, 0, SMTO_ABORTIFHUNG, 2000, &low);
    (void)SendMessageTimeoutW(bar, PBM_GETRANGE, FALSE, 0, SMTO_ABORTIFHUNG, 2000, &high);
    std::string json = "{\"ok\":" + std::string(reached ? "true" : "false") +
                       ",\"pos\":" + std::to_string(position) + ",\"range\":[" +
                       std::to_string(static_cast<int>(low)) + "," +
                       std::to_string(static_cast<int>(high)) + "]";
    if (!reached) {
        json += ",\"error\":\"timeout\"";
    }
    return Print(json + "}", reached ? 0 : 1);
}

// A message box is a top-level dialog; it is found by its owner's class, if given.
HWND FindMessageBox(const Options& options) {
    const std::wstring* ownerClass = Find(options, L"owner-class");
    for (HWND window : TopLevelWindows()) {
        if (ClassOf(window) != L"#32770" || !IsWindowVisible(window)) {
            continue;
        }
        HWND owner = GetWindow(window, GW_OWNER);
        if (ownerClass == nullptr || (owner != nullptr && ClassOf(owner) == *ownerClass)) {
            return window;
        }
    }
    return nullptr;
}

int CommandBox(const Options& options) {
    HWND box = Await(options, [&] { return FindMessageBox(options); });
    if (box == nullptr) {
        return Fail("timeout");
    }
    std::string buttons;
    bool hasIcon = false;
    for (HWND child : ChildWindows(box)) {
        const std::wstring childClass = ClassOf(child);
        if (childClass == L"Button" && IsWindowVisible(child)) {
            buttons += std::string(buttons.empty() ? "" : ",") +
                       "{\"id\":" + std::to_string(GetDlgCtrlID(child)) +
                       ",\"text\":" + JsonString(TextOf(child)) + "}";
        } else if (childClass == L"Static" &&
                   (GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON &&
                   IsWindowVisible(child)) {
            hasIcon = SendMessageW(child, STM_GETICON, 0, 0) != 0;
        }
    }
    HWND owner = GetWindow(box, GW_OWNER);
    HWND text = GetDlgItem(box, kMessageBoxTextId);
    GUITHREADINFO input{};
    input.cbSize = sizeof(input);
    const bool hasKeyboard = GetGUIThreadInfo(GetWindowThreadProcessId(box, nullptr), &input) &&
                             input.hwndActive == box &&
                             (input.hwndFocus == box || IsChild(box, input.hwndFocus));
    return Print(
        "{\"ok\":true,\"hwnd\":" + JsonHandle(box) + ",\"caption\":" + JsonString(TextOf(box)) +
            ",\"text\":" + JsonString(text == nullptr ? L"" : TextOf(text)) +
            ",\"icon\":" + (hasIcon ? "true" : "false") + ",\"buttons\":[" + buttons +
            "],\"foreground\":" + (GetForegroundWindow() == box ? "true" : "false") +
            ",\"keyboard\":" + (hasKeyboard ? "true" : "false") +
            ",\"owner\":" + (owner == nullptr ? std::string("null") : Describe(owner)) + "}",
        0);
}

// Presses a box's button the way the dialog itself reports a click, then waits for the box to go.
int CommandPress(const Options& options) {
    const std::wstring button = Need(options, L"button");
    const int id = button == L"ok"       ? IDOK
                   : button == L"cancel" ? IDCANCEL
                                         : static_cast<int>(Number(button));
    HWND box = Await(options, [&] { return FindMessageBox(options); });
    if (box == nullptr) {
        return Fail("timeout");
    }
    HWND control = GetDlgItem(box, id);
    if (control == nullptr) {
        return Fail("the box has no such button");
    }
    if (!PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(control))) {
        return Fail("PostMessageW failed");
    }
    if (!WaitUntil(TimeoutMs(options), [&] { return IsWindow(box) == FALSE; })) {
        return Fail("the box stayed");
    }
    return Print("{\"ok\":true}", 0);
}

// Sets the foreground as a person's click would; a disabled window takes it too.
int CommandActivate(const Options& options) {
    HWND window = FirstWindow(options);
    if (window == nullptr) {
        return Fail("no such window");
    }
    (void)SetForegroundWindow(window);
    return Print("{\"ok\":true}", 0);
}

int CommandSync(const Options& options) {
    HWND window = FirstWindow(options);
    if (window == nullptr) {
        return Fail("no such window");
    }
    DWORD_PTR result = 0;
    if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, TimeoutMs(options), &result) ==
        0) {
        return Fail("no answer");
    }
    return Print("{\"ok\":true}", 0);
}

int Run(int argc, wchar_t** argv) {
    if (argc < 2) {
        throw UsageError{L"no command"};
    }
    Options options;
    for (int i = 2; i < argc; i += 2) {
        std::wstring name = argv[i];
        if (name.rfind(L"--", 0) != 0 || i + 1 >= argc) {
            throw UsageError{L"bad option " + name};
        }
        options[name.substr(2)] = argv[i + 1];
    }
    const std::wstring command = argv[1];
    if (command == L"window") return CommandWindow(options);
    if (command == L"progress") return CommandProgress(options);
    if (command == L"box") return CommandBox(options);
    if (command == L"press") return CommandPress(options);
    if (command == L"activate") return CommandActivate(options);
    if (command == L"sync") return CommandSync(options);
    throw UsageError{L"unknown command " + command};
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        return Run(argc, argv);
    } catch (const UsageError& error) {
        Print("{\"ok\":false,\"error\":" + JsonString(L"usage: " + error.what) + "}", 2);
        return 2;
    }
}
