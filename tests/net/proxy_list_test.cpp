#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/proxy_list.h"

namespace {

TEST(ScriptQueryUrl, NamesTheHostAndOnlyAPortThatIsNotTheDefault) {
    EXPECT_EQ(ScriptQueryUrl(L"dl.halvex.net", 443), L"https://dl.halvex.net/");
    EXPECT_EQ(ScriptQueryUrl(L"dl.halvex.net", 8443), L"https://dl.halvex.net:8443/");
}

struct ListCase {
    std::wstring answer;
    std::vector<std::wstring> ways;
};

class ProxyList : public testing::TestWithParam<ListCase> {};

TEST_P(ProxyList, NamesTheWaysInOrder) {
    EXPECT_EQ(ParseProxyList(GetParam().answer), GetParam().ways);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ProxyList,
    testing::Values(ListCase{L"PROXY a:8080; PROXY b:8080; DIRECT", {L"a:8080", L"b:8080", L""}},
                    ListCase{L"DIRECT; PROXY a:8080", {L""}},
                    ListCase{L"proxy a:1;;  HTTP b:2 ", {L"a:1", L"b:2"}},
                    ListCase{L"SOCKS s:1080; HTTPS h:443; PROXY a:1", {L"a:1"}},
                    ListCase{L"SOCKS5 s:1080", {L""}}, ListCase{L"", {L""}},
                    ListCase{L"a:1;b:2 c:3", {L"a:1", L"b:2", L"c:3"}},
                    // WinHTTP's plain lists, as Windows hands a script's answer back.
                    ListCase{L"a:8080;b:8080", {L"a:8080", L"b:8080"}},
                    ListCase{L" a:8080 ;  b:8080 ;", {L"a:8080", L"b:8080"}},
                    ListCase{L"a:8080;DIRECT", {L"a:8080", L""}},
                    // At most 8 ways, a DIRECT past them included.
                    ListCase{L"a:1;b:2;c:3;d:4;e:5;f:6;g:7;h:8;i:9;DIRECT",
                             {L"a:1", L"b:2", L"c:3", L"d:4", L"e:5", L"f:6", L"g:7", L"h:8"}},
                    ListCase{L"PROXY a:1; PROXY b:2; PROXY c:3; PROXY d:4; PROXY e:5; PROXY f:6; "
                             L"PROXY g:7; DIRECT; PROXY h:8",
                             {L"a:1", L"b:2", L"c:3", L"d:4", L"e:5", L"f:6", L"g:7", L""}}));

}  // namespace
