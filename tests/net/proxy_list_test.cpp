#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/proxy_list.h"

namespace {

TEST(ScriptQueryUrl, LeavesOutOnlyTheDefaultPort) {
    EXPECT_EQ(ScriptQueryUrl(L"dl.halvex.net", 443, L"/a/b?c"), L"https://dl.halvex.net/a/b?c");
    EXPECT_EQ(ScriptQueryUrl(L"dl.halvex.net", 8443, L"/"), L"https://dl.halvex.net:8443/");
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
                    ListCase{L"a:1;b:2 c:3", {L"a:1", L"b:2", L"c:3"}}));

}  // namespace
