// Stands in for the web browser in the end-to-end tests: registered as the https handler of
// the test prefix as `https_recorder.exe RECORD-FILE "%1"`, it appends the address it was
// asked to open and the image name of the process that started it, "<address>\t<name>", to
// RECORD-FILE as one UTF-8 line and exits.
#include <windows.h>
#include <shellapi.h>
#include <tlhelp32.h>

#include <string>

#include "common/local_memory.h"
#include "common/unique_handle.h"
#include "common/write_all.h"
#include "tests/support/test_support.h"

namespace {

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
    const UniqueLocal<wchar_t*> argv(CommandLineToArgvW(GetCommandLineW(), &argc));
    if (!argv || argc != 3) {
        return 2;
    }
    const UniqueHandle record =
        AdoptHandle(CreateFileW(argv.get()[1], FILE_APPEND_DATA, FILE_SHARE_READ, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!record) {
        return 1;
    }
    const std::string line = Narrow(argv.get()[2]) + "\t" + Narrow(ParentImageName()) + "\n";
    return WriteAll(record.get(), line.data(), line.size()) ? 0 : 1;
}
