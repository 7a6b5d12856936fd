#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/download.h"
#include "tests/net/server_test_support.h"

namespace {

struct Outcome {
    bool ok = false;
    std::string message;
    bool fileLeft = false;
    std::string tag;
};

Outcome Fetch(const std::string& path) {
    Outcome outcome;
    outcome.tag = UniqueTag();
    const std::string savePath = NewScratchFolder() + "setup.exe";
    const std::string url =
        TestOrigin() + path + (path.find('?') == std::string::npos ? "?id=" : "&id=") + outcome.tag;
    outcome.ok = DownloadFile(url, savePath, outcome.message, nullptr);
    outcome.fileLeft = FileExists(savePath);
    return outcome;
}

struct HostileCase {
    const char* name;
    std::string path;
    std::string message;
};

void PrintTo(const HostileCase& c, std::ostream* out) { *out << c.name; }

class HostileServer : public testing::TestWithParam<HostileCase> {};

TEST_P(HostileServer, EndsInFailureWithNothingLeft) {
    const Outcome outcome = Fetch(GetParam().path);
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, GetParam().message);
    EXPECT_FALSE(outcome.fileLeft);
}

// Each case names what reaches the downloader; redirects it does not follow are in
// download_test.cpp.
INSTANTIATE_TEST_SUITE_P(
    Cases, HostileServer,
    testing::Values(
        HostileCase{"LengthNotANumber", "/t/bad-length/abc", "invalid Content-Length"},
        HostileCase{"LengthNegative", "/t/bad-length/-5", "invalid Content-Length"},
        HostileCase{"LengthWithBlank", "/t/bad-length/12%2034", "invalid Content-Length"},
        HostileCase{"LengthAbove2To64", "/t/bad-length/18446744073709551616",
                    "invalid Content-Length"},
        HostileCase{"LengthHuge", "/t/bad-length/99999999999999999999999999999",
                    "invalid Content-Length"},
        // Fits 64 bits, so it is a length; the body falls short of it.
        HostileCase{"LengthAbove2To63", "/t/bad-length/9223372036854775808", "download incomplete"},
        // The 30-second receive time-out ends the read.
        HostileCase{"StallMidBody", "/t/stall/200000?seconds=45", "WinHttpReadData failed"}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

// WinHTTP delivers no more than the announced length, so the surplus never reaches the file.
TEST(HostileServerBody, SurplusBeyondContentLengthIsNotWritten) {
    const std::string savePath = NewScratchFolder() + "setup.exe";
    std::string message;
    ASSERT_TRUE(DownloadFile(TestOrigin() + "/t/long-body/1000?id=" + UniqueTag(), savePath,
                             message, nullptr))
        << message;
    EXPECT_EQ(ReadWholeFile(savePath), PatternBytes(1000));
}

}  // namespace
