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
    testing::Values(ListCase{L"DIRECT", {L""}}, ListCase{L"DIRECT; a:8080", {L""}},
                    ListCase{L"a:1;;  b:2 ", {L"a:1", L"b:2"}}, ListCase{L"", {L""}},
                    ListCase{L"a:1;b:2 c:3", {L"a:1", L"b:2", L"c:3"}},
                    // WinHTTP's plain lists, as Windows hands a script's answer back.
                    ListCase{L"a:8080;b:8080", {L"a:8080", L"b:8080"}},
                    ListCase{L" a:8080 ;  b:8080 ;", {L"a:8080", L"b:8080"}},
                    ListCase{L"a:8080;DIRECT", {L"a:8080", L""}},
                    ListCase{L"a:8080 DIRECT", {L"a:8080", L""}},
                    // At most 8 ways, a DIRECT past them included.
                    ListCase{L"a:1;b:2;c:3;d:4;e:5;f:6;g:7;h:8;i:9;DIRECT",
                             {L"a:1", L"b:2", L"c:3", L"d:4", L"e:5", L"f:6", L"g:7", L"h:8"}},
                    ListCase{L"a:1;b:2;c:3;d:4;e:5;f:6;g:7;direct;h:8",
                             {L"a:1", L"b:2", L"c:3", L"d:4", L"e:5", L"f:6", L"g:7", L""}}));

}  // namespace
