// Downloads one URL and prints what it cost as one line of key=value pairs.
//   download_bench installer URL FILE    DownloadFile with the installer's progress sink, bound
//                                        to a live window like the installer's
//   download_bench winhttp URL FILE [N]  WinHTTP alone: reads of N bytes (1 MiB) written straight
//                                        to the file
//   download_bench winhttp-8k URL FILE   the same with the downloader's 8 KiB reads
//   download_bench wininet URL FILE      WinINet alone (preconfigured proxy use, 64 KiB reads)
//   download_bench signature FILE [PUBLISHER]
//                                        the install worker's signature check of a saved file
//                                        with PUBLISHER pinned; without it, as a build with no
//                                        pin makes it (none)
#include <windows.h>
#include <commctrl.h>
#include <psapi.h>
#include <winhttp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "app/progress_sink.h"
#include "app/window_math.h"
#include "app/window_painting.h"
#include "bench/body_file.h"
#include "bench/wininet_loop.h"
#include "common/unique_handle.h"
#include "install/setup_signature.h"
#include "net/download.h"
#include "net/url.h"
#include "net/winhttp_handle.h"

namespace {

constexpr wchar_t kClassName[] = L"HalvexBenchWindow";
constexpr int kBitmapId = 102;
constexpr UINT kDownloadDone = WM_APP + 1;
constexpr DWORD kBareReadBytes = 1 << 20;
constexpr DWORD kDownloaderReadBytes = 8192;
constexpr DWORD kWinInetReadBytes = 64 << 10;

struct WindowDestroyer {
    void operator()(HWND window) const { (void)DestroyWindow(window); }
};
using UniqueWindow = std::unique_ptr<std::remove_pointer_t<HWND>, WindowDestroyer>;

class Stopwatch {
  public:
    Stopwatch() {
        (void)QueryPerformanceFrequency(&frequency_);
        (void)QueryPerformanceCounter(&start_);
    }
    double Seconds() const {
        LARGE_INTEGER now{};
        (void)QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - start_.QuadPart) /
               static_cast<double>(frequency_.QuadPart);
    }

  private:
    LARGE_INTEGER frequency_{};
    LARGE_INTEGER start_{};
};

// Main-thread counters of the bench window: position messages the bar received and paints.
std::uint64_t g_positionMessages = 0;
std::uint64_t g_paints = 0;
WNDPROC g_barProc = nullptr;
UniqueBitmap g_picture;

LRESULT CALLBACK CountingBarProc(HWND bar, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) {
        ++g_positionMessages;
    }
    return CallWindowProcW(g_barProc, bar, message, wParam, lParam);
}

LRESULT CALLBACK BenchWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_PAINT:
            ++g_paints;
            PaintMainWindow(window, g_picture.get());
            return 0;
        case kDownloadDone:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wParam, lParam);
    }
}

// A shown window like the installer's: same size, picture, bar (id 1001, range 0-100,
// its colours) and painting, centred on the screen.
UniqueWindow CreateBenchWindow() {
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_PROGRESS_CLASS};
    (void)InitCommonControlsEx(&controls);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = BenchWndProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    (void)RegisterClassW(&windowClass);
    g_picture.reset(static_cast<HBITMAP>(
        LoadImageW(instance, MAKEINTRESOURCEW(kBitmapId), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR)));

    UniqueWindow window(CreateWindowExW(0, kClassName, L"Halvex bench", WS_POPUP, CW_USEDEFAULT,
                                        CW_USEDEFAULT, kWindowWidth, kWindowHeight, nullptr,
                                        nullptr, instance, nullptr));
    if (!window) {
        return window;
    }
    const HWND bar = CreateProgressBar(window.get(), instance);
    g_barProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(CountingBarProc)));

    const int x = CentredOrigin(GetSystemMetrics(SM_CXSCREEN), kWindowWidth);
    const int y = CentredOrigin(GetSystemMetrics(SM_CYSCREEN), kWindowHeight);
    (void)SetWindowPos(window.get(), nullptr, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
    (void)ShowWindow(window.get(), SW_SHOWNORMAL);
    (void)UpdateWindow(window.get());
    return window;
}

std::uint64_t PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters))) {
        return 0;
    }
    return counters.PeakWorkingSetSize;
}

// User and kernel time of this process so far. Wine answers this only for the calling
// process, so every program reports its own.
double CpuSeconds() {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 0;
    }
    const auto ticks = [](const FILETIME& time) {
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e7;
}

// Worker-thread timings of one DownloadFile call. The tail is what follows the last
// report: closing the file, reopening it and hashing it again.
struct SinkRun {
    bool ok = false;
    std::string error;
    std::uint64_t bytes = 0;
    std::uint64_t reports = 0;
    double seconds = 0;
    double firstReportSeconds = 0;
    double lastReportSeconds = 0;
};

int RunInstallerPath(const std::string& url, const std::string& savePath) {
    const UniqueWindow window = CreateBenchWindow();
    if (!window) {
        std::printf("ok=0 error=window\n");
        return 1;
    }
    const HWND mainWindow = window.get();
    SinkRun run;
    std::thread worker([&run, mainWindow, url, savePath] {
        const ProgressCallback sink = MakeProgressSink(mainWindow);
        const Stopwatch clock;
        ProgressCallback counted = [&run, &clock, &sink](std::uint64_t received,
                                                         std::uint64_t expected) {
            if (run.reports++ == 0) {
                run.firstReportSeconds = clock.Seconds();
            }
            sink(received, expected);
            run.bytes = received;
            if (received == expected) {
                run.lastReportSeconds = clock.Seconds();
            }
        };
        UniqueHandle heldFile;
        run.ok = DownloadFile(url, savePath, run.error, std::move(counted), &heldFile);
        run.seconds = clock.Seconds();
        (void)PostMessageW(mainWindow, kDownloadDone, 0, 0);
    });
    MSG message{};
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        (void)TranslateMessage(&message);
        (void)DispatchMessageW(&message);
    }
    worker.join();

    const double tail = run.lastReportSeconds > 0 ? run.seconds - run.lastReportSeconds : 0;
    std::printf(
        "mode=installer ok=%d bytes=%llu seconds=%.6f mbps=%.2f reports=%llu setpos=%llu "
        "paints=%llu first_report_s=%.6f tail_s=%.6f peak_ws=%llu error=%s\n",
        run.ok ? 1 : 0, static_cast<unsigned long long>(run.bytes), run.seconds,
        run.seconds > 0 ? static_cast<double>(run.bytes) / run.seconds / 1e6 : 0.0,
        static_cast<unsigned long long>(run.reports),
        static_cast<unsigned long long>(g_positionMessages),
        static_cast<unsigned long long>(g_paints), run.firstReportSeconds, tail,
        static_cast<unsigned long long>(PeakWorkingSet()),
        run.error.empty() ? "-" : run.error.c_str());
    return run.ok ? 0 : 1;
}

// The platform's own limit: no redirects, no hashing, no callback, big reads.
bool BareDownload(const std::string& url, const std::string& savePath, DWORD readBytes,
                  std::uint64_t& bytes, std::string& error) {
    std::wstring host;
    std::wstring path;
    int port = 0;
    if (!ParseUrl(url, host, port, path)) {
        error = "url";
        return false;
    }
    const UniqueInternet session(WinHttpOpen(L"HalvexBench/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    const UniqueInternet connection(
        session ? WinHttpConnect(session.get(), host.c_str(), static_cast<INTERNET_PORT>(port), 0)
                : nullptr);
    const UniqueInternet request(
        connection ? WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        WINHTTP_FLAG_SECURE)
                   : nullptr);
    if (!request ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        error = "request";
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    (void)WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                              WINHTTP_NO_HEADER_INDEX);
    if (status != 200) {
        error = "status " + std::to_string(status);
        return false;
    }
    return WriteBodyToFile(
        savePath, readBytes,
        [&request](std::uint8_t* buffer, DWORD capacity, DWORD& delivered) {
            return WinHttpReadData(request.get(), buffer, capacity, &delivered) != FALSE;
        },
        bytes, error);
}

using BareLoop = bool (*)(const std::string& url, const std::string& savePath, DWORD readBytes,
                          std::uint64_t& bytes, std::string& error);

int RunBare(const char* mode, BareLoop loop, DWORD readBytes, const std::string& url,
            const std::string& savePath) {
    const Stopwatch clock;
    std::uint64_t bytes = 0;
    std::string error;
    const bool ok = loop(url, savePath, readBytes, bytes, error);
    const double seconds = clock.Seconds();
    std::printf(
        "mode=%s read_bytes=%lu ok=%d bytes=%llu seconds=%.6f mbps=%.2f cpu_s=%.3f peak_ws=%llu "
        "error=%s\n",
        mode, readBytes, ok ? 1 : 0, static_cast<unsigned long long>(bytes), seconds,
        seconds > 0 ? static_cast<double>(bytes) / seconds / 1e6 : 0.0, CpuSeconds(),
        static_cast<unsigned long long>(PeakWorkingSet()), error.empty() ? "-" : error.c_str());
    return ok ? 0 : 1;
}

int RunSignature(const wchar_t* path, const std::wstring& publisher) {
    const UniqueHandle file =
        AdoptHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file || !GetFileSizeEx(file.get(), &size)) {
        std::printf("mode=signature ok=0 error=file\n");
        return 1;
    }
    const Stopwatch clock;
    // The worker's own condition: an empty pin checks nothing.
    const bool accepted =
        publisher.empty() || IsSignedByPublisher(file.get(), path, publisher.c_str(), "");
    const double seconds = clock.Seconds();
    std::printf("mode=signature pinned=%d ok=%d bytes=%lld seconds=%.6f mbps=%.2f\n",
                publisher.empty() ? 0 : 1, accepted ? 1 : 0, static_cast<long long>(size.QuadPart),
                seconds, seconds > 0 ? static_cast<double>(size.QuadPart) / seconds / 1e6 : 0.0);
    return accepted ? 0 : 1;
}

std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text != L'\0'; ++text) {
        narrow.push_back(static_cast<char>(*text));
    }
    return narrow;
}

int Usage() {
    std::fputs(
        "usage: download_bench installer|winhttp-8k|wininet URL FILE\n"
        "       download_bench winhttp URL FILE [READ_BYTES]\n"
        "       download_bench signature FILE [PUBLISHER]\n",
        stderr);
    return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        return Usage();
    }
    const std::wstring mode = argv[1];
    if (mode == L"signature" && argc <= 4) {
        return RunSignature(argv[2], argc == 4 ? argv[3] : L"");
    }
    if (argc != 4 && !(argc == 5 && mode == L"winhttp")) {
        return Usage();
    }
    const std::string url = Narrow(argv[2]);
    const std::string savePath = Narrow(argv[3]);
    if (mode == L"installer") {
        return RunInstallerPath(url, savePath);
    }
    if (mode == L"winhttp") {
        const DWORD readBytes = argc == 5 ? std::wcstoul(argv[4], nullptr, 10) : kBareReadBytes;
        return readBytes > 0 ? RunBare("winhttp", BareDownload, readBytes, url, savePath) : Usage();
    }
    if (mode == L"winhttp-8k") {
        return RunBare("winhttp", BareDownload, kDownloaderReadBytes, url, savePath);
    }
    if (mode == L"wininet") {
        return RunBare("wininet", WinInetDownload, kWinInetReadBytes, url, savePath);
    }
    return Usage();
}
