#include "install/install_worker.h"

#include <string>
#include <utility>

#include "app/progress_sink.h"
#include "common/unique_handle.h"
#include "generated/vendor_urls.h"
#include "install/error_dialogs.h"
#include "install/setup_signature.h"
#include "install/version_gate.h"
#include "install/webview2_probe.h"
#include "net/download.h"

namespace {

constexpr char kReleasePath[] = "/halvex-nefo/release";
constexpr char kRuntimeMissingPath[] = "/halvex-nefo/ebwebview";
constexpr char kSaveName[] = "halvex-nefo-setup.exe";
constexpr wchar_t kRequiredExtension[] = L".exe";
constexpr wchar_t kWindows7Text[] = L"不支持win7系统!";
constexpr wchar_t kWindows7Caption[] = L"错误";
constexpr wchar_t kDownloadFailedText[] = L"下载失败，请检查网络连接或联系客服。";
constexpr wchar_t kLaunchFailedText[] = L"安装程序启动失败，请检查安装包或联系客服。";

// Each byte becomes one UTF-16 unit; the name is ASCII, so no code page is involved.
std::wstring Widen(const std::string& bytes) {
    std::wstring wide;
    wide.reserve(bytes.size());
    for (const char byte : bytes) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(byte)));
    }
    return wide;
}

// Exact code-unit comparison: an upper-case ".EXE" still counts as missing.
bool NeedsExtension(const std::wstring& name) {
    const std::wstring extension = kRequiredExtension;
    return name.size() < extension.size() ||
           name.compare(name.size() - extension.size(), extension.size(), extension) != 0;
}

// Starts the setup program with no arguments and waits for it without limit. The held
// read handle keeps other processes from rewriting the file until the process exists;
// it is let go right after, so the setup program owns its file and it can be deleted.
bool RunSetupProgram(const std::wstring& launchName, UniqueHandle heldFile) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    const BOOL started = CreateProcessW(launchName.c_str(), nullptr, nullptr, nullptr, FALSE, 0,
                                        nullptr, nullptr, &startup, &created);
    heldFile.reset();
    if (!started) {
        return false;
    }
    // Declared thread first so the process handle is closed first.
    const UniqueHandle thread = AdoptHandle(created.hThread);
    const UniqueHandle process = AdoptHandle(created.hProcess);
    (void)WaitForSingleObject(process.get(), INFINITE);
    return true;
}

}  // namespace

void InstallWorker(HWND mainWindow) {
    if (IsWindowsVersionRefused()) {
        (void)MessageBoxW(mainWindow, kWindows7Text, kWindows7Caption, MB_OK | MB_ICONERROR);
        return;
    }

    std::string url = std::string(kDownloadOrigin) + kReleasePath;
    if (!IsWebView2RuntimePresent()) {
        url = std::string(kDownloadOrigin) + kRuntimeMissingPath;
    }

    const std::string saveName = kSaveName;
    std::string errorText;
    UniqueHandle heldFile;
    if (!DownloadFile(url, saveName, errorText, MakeProgressSink(mainWindow), &heldFile)) {
        ShowErrorWithSupportLink(mainWindow, kDownloadFailedText);
        return;
    }

    const std::wstring downloadedName = Widen(saveName);
    // Checked through the held handle, so what is checked is what will run. A setup program
    // without the pinned publisher's signature is neither run nor kept.
    if (kSetupPublisher[0] != L'\0' &&
        !IsSignedByPublisher(heldFile.get(), downloadedName.c_str(), kSetupPublisher)) {
        heldFile.reset();
        (void)DeleteFileW(downloadedName.c_str());
        ShowErrorWithSupportLink(mainWindow, kDownloadFailedText);
        return;
    }

    std::wstring launchName = downloadedName;
    if (NeedsExtension(downloadedName)) {
        launchName += kRequiredExtension;
        // A held file cannot be renamed; the fixed save name never takes this road.
        heldFile.reset();
        (void)MoveFileW(downloadedName.c_str(), launchName.c_str());
    }

    (void)ShowWindow(mainWindow, SW_HIDE);
    if (RunSetupProgram(launchName, std::move(heldFile))) {
        (void)DeleteFileW(launchName.c_str());
    } else {
        ShowErrorWithSupportLink(mainWindow, kLaunchFailedText);
    }
    (void)PostMessageW(mainWindow, WM_CLOSE, 0, 0);
}
