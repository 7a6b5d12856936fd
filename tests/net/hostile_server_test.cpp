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

INSTANTIATE_TEST_SUITE_P(
    Cases, HostileServer,
    testing::Values(
        HostileCase{"LengthNotANumber", "/t/bad-length/abc", "?"},
        HostileCase{"LengthNegative", "/t/bad-length/-5", "?"},
        HostileCase{"LengthWithBlank", "/t/bad-length/12%2034", "?"},
        HostileCase{"LengthAbove2To63", "/t/bad-length/9223372036854775808", "?"},
        HostileCase{"LengthAbove2To64", "/t/bad-length/18446744073709551616", "?"},
        HostileCase{"LengthHuge", "/t/bad-length/99999999999999999999999999999", "?"},
        HostileCase{"BodyLongerThanLength", "/t/long-body/1000", "?"},
        HostileCase{"NonAsciiHttpLocation", "/t/redirect/302?to=http%3A%2F%2F127.0.0.1%2Fcaf%C3%A9",
                    "?"},
        HostileCase{"PortBeyond32BitsInLocation",
                    "/t/redirect/302?to=https%3A%2F%2F127.0.0.1%3A99999999999%2Ft%2Fbytes%2F5",
                    "?"},
        HostileCase{"PortZeroInLocation",
                    "/t/redirect/302?to=https%3A%2F%2F127.0.0.1%3A0%2Ft%2Fbytes%2F5", "?"},
        HostileCase{"Https2047UnitLocation", "/t/location-len/2047?scheme=https", "?"},
        HostileCase{"Https10000UnitLocation", "/t/location-len/10000?scheme=https", "?"},
        HostileCase{"StallMidBody", "/t/stall/200000?seconds=45", "?"}),
    [](const testing::TestParamInfo<HostileCase>& info) { return info.param.name; });

}  // namespace
