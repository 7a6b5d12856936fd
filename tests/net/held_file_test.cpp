#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "common/unique_handle.h"
#include "net/download.h"
#include "tests/net/server_test_support.h"

namespace {

constexpr DWORD kWriteRefused = 1;
constexpr DWORD kRenameRefused = 2;
constexpr DWORD kDeleteRefused = 4;
constexpr DWORD kReadAllowed = 8;
constexpr DWORD kProcessWaitMs = 60000;

std::wstring ProbeExe() {
    wchar_t self[MAX_PATH] = {};
    (void)GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring folder(self);
    return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"net_file_probe.exe";
}

// Runs program with the arguments in another process and returns its exit code.
DWORD RunProcess(const std::wstring& program, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &info)) {
        ADD_FAILURE() << "CreateProcessW failed with " << GetLastError();
        return 1000;
    }
    UniqueHandle process = AdoptHandle(info.hProcess);
    UniqueHandle thread = AdoptHandle(info.hThread);
    if (WaitForSingleObject(process.get(), kProcessWaitMs) != WAIT_OBJECT_0) {
        (void)TerminateProcess(process.get(), 1001);
        ADD_FAILURE() << "process did not end";
        return 1001;
    }
    DWORD code = 0;
    (void)GetExitCodeProcess(process.get(), &code);
    return code;
}

DWORD ProbeFrom(const std::string& path) {
    return RunProcess(ProbeExe(), L"probe \"" + Widen(path) + L"\"");
}

// Marked for deletion while it is written, the file cannot even be read by others then.
TEST(HeldFile, OthersCannotTouchItWhileDownloading) {
    const std::string savePath = NewScratchFolder() + "setup.exe";
    DWORD during = 0;
    bool probed = false;
    std::string message;
    const bool ok = DownloadFile(TestOrigin() + "/t/paced/1000000?bps=400000&id=" + UniqueTag(),
                                 savePath, message, [&](std::uint64_t received, std::uint64_t) {
                                     if (!probed && received > 0) {
                                         probed = true;
                                         during = ProbeFrom(savePath);
                                     }
                                 });
    ASSERT_TRUE(ok) << message;
    ASSERT_TRUE(probed);
    EXPECT_EQ(during, kWriteRefused | kRenameRefused | kDeleteRefused);
    EXPECT_EQ(ReadWholeFile(savePath), PatternBytes(1000000));
}

TEST(HeldFile, HandedOverHandleKeepsOthersFromChangingIt) {
    const std::string savePath = NewScratchFolder() + "setup.exe";
    std::string message;
    UniqueHandle held;
    ASSERT_TRUE(DownloadFile(TestOrigin() + "/t/paced/300000?bps=400000&id=" + UniqueTag(),
                             savePath, message, nullptr, &held))
        << message;
    ASSERT_TRUE(held);
    EXPECT_EQ(ProbeFrom(savePath), kWriteRefused | kRenameRefused | kDeleteRefused | kReadAllowed);
    EXPECT_EQ(ReadWholeFile(savePath), PatternBytes(300000));

    held.reset();
    EXPECT_EQ(ProbeFrom(savePath) & kWriteRefused, 0u);
}

TEST(HeldFile, WithoutHolderTheFileIsLeftFree) {
    const std::string savePath = NewScratchFolder() + "setup.exe";
    std::string message;
    ASSERT_TRUE(
        DownloadFile(TestOrigin() + "/t/bytes/1000?id=" + UniqueTag(), savePath, message, nullptr))
        << message;
    EXPECT_EQ(ProbeFrom(savePath) & kWriteRefused, 0u);
}

// The hand-over must not keep the downloaded program from being started.
TEST(HeldFile, HeldProgramCanStillBeStarted) {
    const std::string savePath = NewScratchFolder() + "probe-copy.exe";
    std::string message;
    UniqueHandle held;
    ASSERT_TRUE(DownloadFile(TestOrigin() + "/t/probe.exe?id=" + UniqueTag(), savePath, message,
                             nullptr, &held))
        << message;
    ASSERT_TRUE(held);
    EXPECT_EQ(RunProcess(Widen(savePath), L"exit 42"), 42u);
}

}  // namespace
