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

DWORD ProbeFrom(const std::string& path) {
    return RunProcess(BesideThisProgram(L"net_file_probe.exe"), L"probe \"" + Widen(path) + L"\"")
        .exitCode;
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
    EXPECT_EQ(RunProcess(Widen(savePath), L"exit 42").exitCode, 42u);
}

}  // namespace
