// Stands in for the web browser in the end-to-end tests: registered as the https handler of
// the test prefix as `https_recorder.exe RECORD-FILE "%1"`, it appends the address it was
// asked to open and the image name of the process that started it, "<address>\t<name>", to
// RECORD-FILE as one UTF-8 line and exits.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <memory>
#include <string>

#include "common/unique_handle.h"

namespace {

struct LocalFreer {
    void operator()(wchar_t** memory) const { (void)LocalFree(memory); }
};

std::string Utf8(const std::wstring& text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    (void)WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(),
                              size, nullptr, nullptr);
    return out;
}

bool FindProcess(DWORD pid, PROCESSENTRY32W& found) {
    const UniqueHandle snapshot = AdoptHandle(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = snapshot && Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (entry.th32ProcessID == pid) {
            found = entry;
            return true;
        }
    }
    return false;
}

std::wstring ParentImageName() {
    PROCESSENTRY32W self{};
    PROCESSENTRY32W parent{};
    return FindProcess(GetCurrentProcessId(), self) && FindProcess(self.th32ParentProcessID, parent)
               ? parent.szExeFile
               : L"?";
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    int argc = 0;
    std::unique_ptr<wchar_t*, LocalFreer> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    if (!argv || argc != 3) {
        return 2;
    }
    UniqueHandle record =
        AdoptHandle(CreateFileW(argv.get()[1], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!record) {
        return 1;
    }
    const std::string line = Utf8(argv.get()[2]) + "\t" + Utf8(ParentImageName()) + "\n";
    DWORD written = 0;
    return WriteFile(record.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                     nullptr) &&
                   written == line.size()
               ? 0
               : 1;
}
