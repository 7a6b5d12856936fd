#include "install/install_worker.h"

#include <memory>
#include <string>

#include "app/progress_sink.h"
#include "common/unique_handle.h"
#include "generated/vendor_urls.h"
#include "install/clean_room.h"
#include "install/error_dialogs.h"
#include "install/machine_environment.h"
#include "install/setup_launch.h"
#include "install/setup_signature.h"
#include "install/setup_version.h"
#include "install/version_gate.h"
#include "install/webview2_probe.h"
#include "net/download.h"

namespace {

constexpr char kReleasePath[] = "/halvex-nefo/release";
constexpr char kRuntimeMissingPath[] = "/halvex-nefo/ebwebview";
// Fixed, and ending in .exe: the file is run under the name it was saved and checked by.
constexpr wchar_t kSaveName[] = L"halvex-nefo-setup.exe";
constexpr wchar_t kWindows7Text[] = L"不支持win7系统!";
constexpr wchar_t kWindows7Caption[] = L"错误";
constexpr wchar_t kDownloadFailedText[] = L"下载失败，请检查网络连接或联系客服。";
constexpr wchar_t kLaunchFailedText[] = L"安装程序启动失败，请检查安装包或联系客服。";

// The downloader takes its save path in UTF-8.
bool ToUtf8(const std::wstring& wide, std::string& narrow) {
    const int bytes =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(),
                            static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) {
        return false;
    }
    narrow.resize(static_cast<std::size_t>(bytes));
    return WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(),
                               static_cast<int>(wide.size()), &narrow[0], bytes, nullptr,
                               nullptr) == bytes;
}

// Starts the setup program by its full path, in its own folder, with no arguments and the
// machine's environment, and waits without limit for it and what it starts. Its TEMP and TMP
// are a folder inside that one, made with the folder's protection, not the user's %TEMP%:
// every unelevated process of the user can write there, and setup programs unpack libraries
// to their temporary folder and load them.
bool RunSetupProgram(const std::wstring& launchName, const std::wstring& folder) {
    const std::wstring temp = folder + L"\\tmp";
    std::wstring environment;
    if (!CreateDirectoryW(temp.c_str(), nullptr) || !MachineEnvironment(temp, environment)) {
        return false;
    }
    return RunAndWaitForAll(launchName, folder, environment);
}

enum class Outcome { kDownloadFailed, kLaunchFailed, kRan };

// Everything that touches the clean room, so that it is gone, with the setup program, before
// any box is shown.
Outcome DownloadAndRun(HWND mainWindow, const std::string& url) {
    const CleanRoom room = MakeCleanRoom();
    if (!room) {
        return Outcome::kDownloadFailed;
    }
    const std::wstring downloadedName = *room + L"\\" + kSaveName;
    std::string savePath;
    if (!ToUtf8(downloadedName, savePath)) {
        return Outcome::kDownloadFailed;
    }
    std::string errorText;
    // Declared after the room, so it lets go of the file before the room is removed.
    UniqueHandle heldFile;
    if (!DownloadFile(url, savePath, errorText, MakeProgressSink(mainWindow), &heldFile)) {
        return Outcome::kDownloadFailed;
    }

    // Checked through the held handle, so what is checked is what will run. A setup program
    // without the pinned publisher's signature is neither run nor kept.
    if (kSetupPublisher[0] != L'\0' && !IsSignedByPublisher(heldFile.get(), downloadedName.c_str(),
                                                            kSetupPublisher, kSetupPublisherKeys)) {
        return Outcome::kDownloadFailed;
    }
    // Then which program it is: any program the publisher ever signed carries the signature.
    if ((kSetupHasVersionFloor || kSetupProduct[0] != u'\0') &&
        !IsWantedSetupProgram(heldFile.get(),
                              {kSetupHasVersionFloor, kSetupVersionFloor, kSetupProduct})) {
        return Outcome::kDownloadFailed;
    }

    (void)ShowWindow(mainWindow, SW_HIDE);
    // The held handle keeps every other process from writing, renaming or deleting the file
    // until the setup program and what it started have ended; it goes on return, just before
    // the room.
    return RunSetupProgram(downloadedName, *room) ? Outcome::kRan : Outcome::kLaunchFailed;
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

    switch (DownloadAndRun(mainWindow, url)) {
        case Outcome::kDownloadFailed:
            ShowErrorWithSupportLink(mainWindow, kDownloadFailedText);
            return;
        case Outcome::kLaunchFailed:
            ShowErrorWithSupportLink(mainWindow, kLaunchFailedText);
            break;
        case Outcome::kRan:
            break;
    }
    (void)PostMessageW(mainWindow, WM_CLOSE, 0, 0);
}
