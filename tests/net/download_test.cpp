#include <gtest/gtest.h>

#include <windows.h>
#include <winhttp.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "net/download.h"
#include "tests/net/server_test_support.h"

namespace {

struct Report {
    std::uint64_t received;
    std::uint64_t expected;
};

// One download into a fresh folder, with the reports it made and its request tag.
struct DownloadRun {
    bool ok = false;
    std::string message = "caller's text";
    std::string savePath;
    std::string tag;
    std::vector<Report> reports;
};

std::string WithTag(const std::string& path, const std::string& tag) {
    return path + (path.find('?') == std::string::npos ? "?id=" : "&id=") + tag;
}

DownloadRun Download(const std::string& path) {
    DownloadRun run;
    run.tag = UniqueTag();
    run.savePath = NewScratchFolder() + "setup.exe";
    std::vector<Report>* reports = &run.reports;
    run.ok = DownloadFile(TestOrigin() + WithTag(path, run.tag), run.savePath, run.message,
                          [reports](std::uint64_t received, std::uint64_t expected) {
                              reports->push_back({received, expected});
                          });
    return run;
}

std::string Encoded(const std::string& url) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : url) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_') {
            out.push_back(static_cast<char>(c));
        } else {
            out += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    return out;
}

std::string RedirectPath(int status, const std::string& target) {
    return "/t/redirect/" + std::to_string(status) + "?to=" + Encoded(target);
}

// -- status handling -----------------------------------------------------------------

class RefusedStatus : public testing::TestWithParam<int> {};

TEST_P(RefusedStatus, FailsWithTheCodeAndLeavesNoFile) {
    const DownloadRun run = Download("/t/status/" + std::to_string(GetParam()));
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.message, "HTTP status not OK: " + std::to_string(GetParam()));
    EXPECT_FALSE(FileExists(run.savePath));
    EXPECT_TRUE(run.reports.empty());
}

INSTANTIATE_TEST_SUITE_P(NotOk, RefusedStatus, testing::Values(201, 204, 206, 300, 304, 404, 500));

// -- redirects that reach our own code -----------------------------------------------

struct RedirectCase {
    const char* name;
    std::string path;
};

void PrintTo(const RedirectCase& c, std::ostream* out) { *out << c.name; }

class UnfollowedRedirect : public testing::TestWithParam<RedirectCase> {};

// Which step fails (WinHTTP itself, or our own redirect code) is WinHTTP's business and its
// wording differs between systems; what the user gets is not: a failure, no file, one request.
TEST_P(UnfollowedRedirect, FailsAfterOneRequestAndLeavesNoFile) {
    const DownloadRun run = Download(GetParam().path);
    EXPECT_FALSE(run.ok);
    EXPECT_NE(run.message, "caller's text");
    EXPECT_FALSE(FileExists(run.savePath));
    EXPECT_TRUE(run.reports.empty());
    const std::vector<LoggedRequest> requests = LoggedRequestsWith(run.tag);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].user_agent, "HalvexInstaller/1.0");
}

// No Location, an http target, one that is not ASCII, an impossible port, or one too long.
INSTANTIATE_TEST_SUITE_P(
    Cases, UnfollowedRedirect,
    testing::Values(
        RedirectCase{"HttpsToHttp302", RedirectPath(302, "http://localhost/t/bytes/10")},
        RedirectCase{"HttpsToHttp303", RedirectPath(303, "http://localhost/t/bytes/10")},
        RedirectCase{"HttpsToHttp308", RedirectPath(308, "http://localhost/t/bytes/10")},
        RedirectCase{"Missing301", "/t/redirect/301"},
        RedirectCase{"Missing302", "/t/redirect/302"},
        RedirectCase{"Missing303", "/t/redirect/303"},
        RedirectCase{"Missing307", "/t/redirect/307"},
        RedirectCase{"Missing308", "/t/redirect/308"},
        RedirectCase{"NonAsciiLocation302", RedirectPath(302, "http://localhost/caf\xC3\xA9")},
        RedirectCase{"NonAsciiLocation308", RedirectPath(308, "http://localhost/caf\xC3\xA9")},
        // Wine's WinHTTP misreads this target as a relative path on the same server.
        RedirectCase{"PortBeyond32Bits302",
                     RedirectPath(302, "https://localhost:99999999999/t/bytes/5")},
        RedirectCase{"PortBeyond32Bits308",
                     RedirectPath(308, "https://localhost:99999999999/t/bytes/5")},
        RedirectCase{"PortZero308", RedirectPath(308, "https://localhost:0/t/bytes/5")},
        RedirectCase{"Location2047Units", "/t/location-len/2047?status=308"},
        // Wine hands back a Location that does not fit the 4096-byte buffer instead of
        // failing the query.
        RedirectCase{"Location2048Units", "/t/location-len/2048?status=308"},
        RedirectCase{"Location10000Units", "/t/location-len/10000?status=308"},
        RedirectCase{"Location2047Units302", "/t/location-len/2047"},
        RedirectCase{"Https2047UnitLocation302", "/t/location-len/2047?scheme=https"},
        RedirectCase{"Https10000UnitLocation302", "/t/location-len/10000?scheme=https"}),
    [](const testing::TestParamInfo<RedirectCase>& info) { return info.param.name; });

// WinHTTP follows https redirects itself; both requests carry our user agent.
TEST(FollowedRedirect, HttpsTargetIsFetched) {
    const std::string tag = UniqueTag();
    const DownloadRun run = Download(RedirectPath(302, TestOrigin() + "/t/bytes/1000?id=" + tag));
    ASSERT_TRUE(run.ok) << run.message;
    EXPECT_EQ(ReadWholeFile(run.savePath), PatternBytes(1000));
    // The first path carries the target's tag in its query too.
    const std::vector<LoggedRequest> requests = LoggedRequestsWith(tag);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].path, "/t/bytes/1000?id=" + tag);
    for (const LoggedRequest& request : requests) {
        EXPECT_EQ(request.user_agent, "HalvexInstaller/1.0");
    }
}

// -- the ways of a route -------------------------------------------------------------

// Routes given as ChooseProxy makes them from a script's answer on Windows: Wine's WinHTTP keeps
// only the first entry of an answer, so no script can stage a list here. The ways are real: the
// tinyproxy the tests start, and a port of 127.0.0.1 where nothing listens.
std::wstring TestProxy() {
    const char* proxy = std::getenv("HALVEX_TEST_PROXY");
    return Widen(proxy != nullptr ? proxy : "");
}
constexpr wchar_t kProxyThatIsDown[] = L"127.0.0.1:1";

SessionProxy Through(const std::wstring& proxy) {
    return SessionProxy{WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy, {}};
}

ProxyRoute DownThenProxy(const std::wstring&, int) {
    return ProxyRoute{{Through(kProxyThatIsDown), Through(TestProxy())}, false};
}

ProxyRoute ProxyThenDown(const std::wstring&, int) {
    return ProxyRoute{{Through(TestProxy()), Through(kProxyThatIsDown)}, false};
}

ProxyRoute ScriptSaysDirect(const std::wstring&, int) {
    return ProxyRoute{{SessionProxy{WINHTTP_ACCESS_TYPE_NO_PROXY, {}, {}}}, true};
}

DownloadRun DownloadVia(const std::string& url, const std::string& tag, RouteChooser route) {
    DownloadRun run;
    run.tag = tag;
    run.savePath = NewScratchFolder() + "setup.exe";
    run.ok = DownloadFile(url, run.savePath, run.message, nullptr, nullptr, route);
    return run;
}

TEST(Route, FirstWayDownSecondCarriesTheDownload) {
    const std::string tag = UniqueTag();
    const DownloadRun run =
        DownloadVia(TestOrigin() + "/t/bytes/100000?id=" + tag, tag, DownThenProxy);
    ASSERT_TRUE(run.ok) << run.message;
    EXPECT_EQ(ReadWholeFile(run.savePath), PatternBytes(100000));
    EXPECT_EQ(LoggedRequestsWith(tag).size(), 1u);
}

// The way after it is down: had the loop moved on, the message would be that way's failure.
TEST(Route, AResponseThroughTheFirstWayIsTheAnswer) {
    const std::string tag = UniqueTag();
    const DownloadRun run =
        DownloadVia(TestOrigin() + "/t/status/500?id=" + tag, tag, ProxyThenDown);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.message, "HTTP status not OK: 500");
    EXPECT_FALSE(FileExists(run.savePath));
    EXPECT_EQ(LoggedRequestsWith(tag).size(), 1u);
}

// While a script is in use this code follows redirects, each hop asked about: two, not three.
TEST(Route, AThirdRedirectUnderAScriptFailsTheDownload) {
    const std::string tag = UniqueTag();
    std::string url = TestOrigin() + "/t/bytes/1000?id=" + tag;
    for (int hop = 0; hop < 2; ++hop) {
        url = TestOrigin() + RedirectPath(302, url);
    }
    const DownloadRun twice = DownloadVia(url, tag, ScriptSaysDirect);
    ASSERT_TRUE(twice.ok) << twice.message;
    EXPECT_EQ(ReadWholeFile(twice.savePath), PatternBytes(1000));
    EXPECT_EQ(LoggedRequestsWith(tag).size(), 3u);

    const std::string thrice = UniqueTag();
    url = TestOrigin() + "/t/bytes/1000?id=" + thrice;
    for (int hop = 0; hop < 3; ++hop) {
        url = TestOrigin() + RedirectPath(302, url);
    }
    const DownloadRun run = DownloadVia(url, thrice, ScriptSaysDirect);
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.message, "Too many redirects");
    EXPECT_FALSE(FileExists(run.savePath));
    EXPECT_EQ(LoggedRequestsWith(thrice).size(), 3u);
}

// A relative Location (RFC 9110 allows one) that reaches this code, under a script or as a 308
// Wine hands back, is read against the URL that answered it, in each of its forms.
TEST(Route, RelativeLocationIsReadAgainstTheUrlThatAnswered) {
    const std::string authority = TestOrigin().substr(std::string("https:").size());
    const struct {
        int status;
        RouteChooser route;
        std::string (*location)(const std::string& target, const std::string& authority);
    } cases[] = {
        {302, ScriptSaysDirect, [](auto& target, auto&) { return target; }},
        {308, ChooseProxy, [](auto& target, auto&) { return target; }},
        {302, ScriptSaysDirect, [](auto& target, auto&) { return "./../" + target.substr(3); }},
        {307, ScriptSaysDirect, [](auto& target, auto& host) { return host + target; }},
        {302, ScriptSaysDirect, [](auto& target, auto&) { return "?to=" + Encoded(target); }},
    };
    for (const auto& c : cases) {
        const std::string tag = UniqueTag();
        const std::string target = "/t/bytes/1000?id=" + tag;
        const std::string location = c.location(target, authority);
        SCOPED_TRACE(location);
        const DownloadRun run =
            DownloadVia(TestOrigin() + RedirectPath(c.status, location), tag, c.route);
        ASSERT_TRUE(run.ok) << run.message;
        EXPECT_EQ(ReadWholeFile(run.savePath), PatternBytes(1000));
        EXPECT_EQ(LoggedRequestsWith(tag).back().path, target);
    }
}

// -- bodies --------------------------------------------------------------------------

TEST(Body, EmptyBodyMakesEmptyFileWithoutReports) {
    const DownloadRun run = Download("/t/bytes/0");
    ASSERT_TRUE(run.ok) << run.message;
    EXPECT_TRUE(FileExists(run.savePath));
    EXPECT_EQ(ReadWholeFile(run.savePath), "");
    EXPECT_TRUE(run.reports.empty());
}

TEST(Body, ChunkedBodyReportsNoExpectedLength) {
    const DownloadRun run = Download("/t/chunked/100000");
    ASSERT_TRUE(run.ok) << run.message;
    EXPECT_EQ(ReadWholeFile(run.savePath), PatternBytes(100000));
    ASSERT_FALSE(run.reports.empty());
    for (const Report& r : run.reports) {
        EXPECT_EQ(r.expected, 0u);
    }
    EXPECT_EQ(run.reports.back().received, 100000u);
}

TEST(Body, ExactBytesWrittenAndCallerMessageKept) {
    const DownloadRun run = Download("/t/bytes/1000003");
    ASSERT_TRUE(run.ok) << run.message;
    EXPECT_EQ(run.message, "caller's text");
    EXPECT_EQ(ReadWholeFile(run.savePath), PatternBytes(1000003));
    const std::vector<LoggedRequest> requests = LoggedRequestsWith(run.tag);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].path, "/t/bytes/1000003?id=" + run.tag);
    EXPECT_EQ(requests[0].user_agent, "HalvexInstaller/1.0");
}

TEST(Body, ExistingLongerFileIsTruncated) {
    const std::string savePath = NewScratchFolder() + "setup.exe";
    WriteWholeFile(savePath, std::string(2000000, 'x'));
    std::string message;
    ASSERT_TRUE(DownloadFile(TestOrigin() + "/t/bytes/1000?id=" + UniqueTag(), savePath, message,
                             ProgressCallback()))
        << message;
    EXPECT_EQ(ReadWholeFile(savePath), PatternBytes(1000));
}

TEST(Body, FiftyMegabytesArriveExactly) {
    const std::size_t size = 50u * 1024 * 1024;
    const DownloadRun run = Download("/t/bytes/" + std::to_string(size));
    ASSERT_TRUE(run.ok) << run.message;
    const std::string written = ReadWholeFile(run.savePath);
    ASSERT_EQ(written.size(), size);
    EXPECT_TRUE(written == PatternBytes(size));
}

// -- progress ------------------------------------------------------------------------

TEST(Progress, ReportsGrowToTheFileSize) {
    const DownloadRun run = Download("/t/bytes/300000");
    ASSERT_TRUE(run.ok) << run.message;
    ASSERT_FALSE(run.reports.empty());
    std::uint64_t previous = 0;
    for (const Report& r : run.reports) {
        EXPECT_GT(r.received, previous);
        EXPECT_LE(r.received - previous, 8192u);
        EXPECT_EQ(r.expected, 300000u);
        previous = r.received;
    }
    EXPECT_EQ(run.reports.back().received, ReadWholeFile(run.savePath).size());
}

TEST(Progress, EmptyCallableIsFine) {
    const std::string savePath = NewScratchFolder() + "setup.exe";
    std::string message;
    ASSERT_TRUE(DownloadFile(TestOrigin() + "/t/bytes/50000?id=" + UniqueTag(), savePath, message,
                             ProgressCallback()))
        << message;
    EXPECT_EQ(ReadWholeFile(savePath), PatternBytes(50000));
}

// -- failures ------------------------------------------------------------------------

TEST(Failure, UnparsableUrlsSendNothing) {
    for (const std::string& url : {std::string("http://127.0.0.1/x"), std::string("/t/bytes/5"),
                                   TestOrigin().substr(0, 16) + ":70000/t/bytes/5",
                                   TestOrigin().substr(0, 16) + ":0/t/bytes/5"}) {
        std::string message;
        const std::string savePath = NewScratchFolder() + "setup.exe";
        EXPECT_FALSE(DownloadFile(url, savePath, message, ProgressCallback())) << url;
        EXPECT_EQ(message, "URL parse failed") << url;
        EXPECT_FALSE(FileExists(savePath)) << url;
    }
}

TEST(Failure, NothingListeningFailsToSend) {
    std::string message;
    const std::string savePath = NewScratchFolder() + "setup.exe";
    EXPECT_FALSE(DownloadFile("https://127.0.0.1:1/t/bytes/5", savePath, message, nullptr));
    EXPECT_EQ(message, "WinHttpSendRequest failed");
    EXPECT_FALSE(FileExists(savePath));
}

TEST(Failure, MissingFolderFailsToCreateAfterTheRequest) {
    const std::string tag = UniqueTag();
    const std::string savePath = NewScratchFolder() + "no-such-folder\\setup.exe";
    std::string message;
    EXPECT_FALSE(DownloadFile(TestOrigin() + "/t/bytes/5?id=" + tag, savePath, message, nullptr));
    EXPECT_EQ(message, "failed to create save file");
    EXPECT_EQ(LoggedRequestsWith(tag).size(), 1u);
}

TEST(Failure, FullDiskFailsToWriteAndLeavesNoFile) {
    const char* disk = std::getenv("HALVEX_TEST_SMALL_DISK");
    if (disk == nullptr || !FileExists(std::string(disk) + "/mounted")) {
        GTEST_SKIP() << "no full disk to write to: mounting a small tmpfs was refused";
    }
    const std::string tag = UniqueTag();
    const std::string savePath = std::string(disk) + "/setup-" + tag + ".exe";
    std::string message;
    EXPECT_FALSE(
        DownloadFile(TestOrigin() + "/t/bytes/1048576?id=" + tag, savePath, message, nullptr));
    EXPECT_EQ(message, "failed to write save file");
    EXPECT_FALSE(FileExists(savePath));
}

TEST(Failure, TruncatedBodyFailsAndLeavesNoFile) {
    const DownloadRun run = Download("/t/truncated/100000");
    EXPECT_FALSE(run.ok);
    EXPECT_EQ(run.message, "download incomplete");
    EXPECT_FALSE(FileExists(run.savePath));
}

TEST(Failure, ThrowingCallbackFailsAndLeavesNoFile) {
    const std::string savePath = NewScratchFolder() + "setup.exe";
    std::string message;
    EXPECT_FALSE(
        DownloadFile(TestOrigin() + "/t/bytes/100000?id=" + UniqueTag(), savePath, message,
                     [](std::uint64_t, std::uint64_t) { throw std::runtime_error("sink gone"); }));
    EXPECT_EQ(message, "download error");
    EXPECT_FALSE(FileExists(savePath));
}

}  // namespace
