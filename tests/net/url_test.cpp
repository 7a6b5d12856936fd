#include <gtest/gtest.h>

#include <string>

#include "net/url.h"

namespace {

struct UrlCase {
    std::string url;
    bool parses;
    std::wstring host;
    int port;
    std::wstring path;
};

void PrintTo(const UrlCase& c, std::ostream* out) { *out << '"' << c.url << '"'; }

class UrlSyntax : public testing::TestWithParam<UrlCase> {};

TEST_P(UrlSyntax, SplitsOrLeavesOutputsAlone) {
    const UrlCase& c = GetParam();
    std::wstring host = L"untouched host";
    int port = -7;
    std::wstring path = L"untouched path";
    ASSERT_EQ(ParseUrl(c.url, host, port, path), c.parses);
    if (c.parses) {
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(port, c.port);
        EXPECT_EQ(path, c.path);
    } else {
        EXPECT_EQ(host, L"untouched host");
        EXPECT_EQ(port, -7);
        EXPECT_EQ(path, L"untouched path");
    }
}

UrlCase Fails(const std::string& url) { return {url, false, L"", 0, L""}; }

INSTANTIATE_TEST_SUITE_P(
    Accepted, UrlSyntax,
    testing::Values(UrlCase{"https://dl.example.net", true, L"dl.example.net", 443, L"/"},
                    UrlCase{"https://h:8443", true, L"h", 8443, L"/"},
                    UrlCase{"https://h:8443/a/b.exe", true, L"h", 8443, L"/a/b.exe"},
                    UrlCase{"https://h:0443/", true, L"h", 443, L"/"},
                    UrlCase{"https://h:1/", true, L"h", 1, L"/"},
                    UrlCase{"https://h:65535/", true, L"h", 65535, L"/"},
                    UrlCase{"https://h:000000000000000000000080/", true, L"h", 80, L"/"},
                    UrlCase{"https://h?a=1", true, L"h?a=1", 443, L"/"},
                    UrlCase{"https://user@h/x", true, L"user@h", 443, L"/x"},
                    UrlCase{"https://h/a b?q=1#frag", true, L"h", 443, L"/a b?q=1#frag"},
                    UrlCase{"https://h//x", true, L"h", 443, L"//x"},
                    UrlCase{"https://h/caf\xC3\xA9", true, L"h", 443, L"/caf%C3%A9"},
                    UrlCase{"https://h/\x80\xFF%41", true, L"h", 443, L"/%80%FF%41"}));

INSTANTIATE_TEST_SUITE_P(
    Refused, UrlSyntax,
    testing::Values(Fails("http://h/"), Fails("HTTPS://h/"), Fails("ftp://h/"),
                    Fails(" https://h/"), Fails("https://h:443 "), Fails("/x"), Fails(""),
                    Fails("https://"), Fails("https:///x"), Fails("https://h:"),
                    Fails("https://h:/x"), Fails("https://[::1]/"), Fails("https://user:pw@h/"),
                    Fails("https://h:0/"), Fails("https://h:65536/"), Fails("https://h:70000/"),
                    Fails("https://h:2147483648/"), Fails("https://h:99999999999/"),
                    Fails("https://h:99999999999999999999999999/"), Fails("https://h:-1/"),
                    Fails("https://h:+443/"), Fails("https://h/a\nb"), Fails("https://h/a\rb"),
                    Fails("https://caf\xC3\xA9/"), Fails("https://h\xFF:443/")));

TEST(UrlLength, LongestAcceptedUrlIs2048Bytes) {
    const std::string head = "https://h/";
    std::wstring host;
    int port = 0;
    std::wstring path;
    EXPECT_TRUE(ParseUrl(head + std::string(2048 - head.size(), 'a'), host, port, path));
    EXPECT_EQ(path.size(), 2048 - head.size() + 1);
    EXPECT_FALSE(ParseUrl(head + std::string(2049 - head.size(), 'a'), host, port, path));
}

// A redirect can carry a Location of 2047 units, 6141 UTF-8 bytes; the matcher's recursion
// must not be reached with such input.
TEST(UrlLength, HugeUrlsFailWithoutExhaustingTheStack) {
    std::wstring host;
    int port = 0;
    std::wstring path;
    EXPECT_FALSE(ParseUrl("https://h/" + std::string(200000, 'a'), host, port, path));
    EXPECT_FALSE(ParseUrl("https://" + std::string(200000, 'h'), host, port, path));
    std::string multibyte = "https://h/";
    for (int i = 0; i < 2047; ++i) {
        multibyte += "\xE2\x82\xAC";
    }
    EXPECT_FALSE(ParseUrl(multibyte, host, port, path));
}

// RFC 3986 section 5.4's examples, on its base with https, and what ParseUrl then says of the
// result: a redirect's target is checked as any other.
TEST(RelativeLocation, ResolvesAsRfc3986AndIsCheckedAsAnyTarget) {
    const std::string base = "https://a/b/c/d;p?q";
    const struct {
        const char* reference;
        const char* resolved;
        bool parses;
    } cases[] = {
        {"g", "https://a/b/c/g", true},
        {"./g", "https://a/b/c/g", true},
        {"g/", "https://a/b/c/g/", true},
        {"/g", "https://a/g", true},
        {"//g", "https://g/", true},
        {"//g:8443/x/../y", "https://g:8443/y", true},
        {"?y", "https://a/b/c/d;p?y", true},
        {"g?y/./x", "https://a/b/c/g?y/./x", true},
        {"", "https://a/b/c/d;p?q", true},
        {".", "https://a/b/c/", true},
        {"..", "https://a/b/", true},
        {"../g", "https://a/b/g", true},
        {"../..", "https://a/", true},
        {"../../../g", "https://a/g", true},
        {"/./g", "https://a/g", true},
        {"g.", "https://a/b/c/g.", true},
        {"./../g", "https://a/b/g", true},
        {"g/./h/../i", "https://a/b/c/g/i", true},
        {"g;x=1/../y", "https://a/b/c/y", true},
        {"https://x/p/./q/../r", "https://x/p/r", true},
        {"http://x/g", "http://x/g", false},
        {"HTTPS://x/g", "HTTPS://x/g", false},
        {"//x:0/", "https://x:0/", false},
        {"g:h", "g:h", false},
    };
    for (const auto& c : cases) {
        std::string resolved;
        ASSERT_TRUE(ResolveReference(base, c.reference, resolved)) << c.reference;
        EXPECT_EQ(resolved, c.resolved) << c.reference;
        std::wstring host;
        int port = 0;
        std::wstring path;
        EXPECT_EQ(ParseUrl(resolved, host, port, path), c.parses) << c.reference;
    }
}

}  // namespace
