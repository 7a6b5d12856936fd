#include "net/proxy_list.h"

#include <cwctype>

namespace {

constexpr int kDefaultHttpsPort = 443;
// Each way that is down costs up to the download's time-out before the next is tried.
constexpr std::size_t kMostWays = 8;

bool IsSeparator(wchar_t c) {
    return c == L';' || c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

bool IsDirect(const std::wstring& word) {
    constexpr wchar_t kDirect[] = L"DIRECT";
    constexpr std::size_t kDirectLength = sizeof(kDirect) / sizeof(kDirect[0]) - 1;
    if (word.size() != kDirectLength) {
        return false;
    }
    for (std::size_t i = 0; i < kDirectLength; ++i) {
        if (std::towupper(word[i]) != static_cast<std::wint_t>(kDirect[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::wstring ScriptQueryUrl(const std::wstring& host, int port) {
    std::wstring url = L"https://" + host;
    if (port != kDefaultHttpsPort) {
        url += L":" + std::to_wstring(port);
    }
    return url + L"/";
}

std::vector<std::wstring> ParseProxyList(const std::wstring& list) {
    std::vector<std::wstring> ways;
    std::size_t i = 0;
    while (i < list.size() && ways.size() < kMostWays) {
        while (i < list.size() && IsSeparator(list[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < list.size() && !IsSeparator(list[i])) {
            ++i;
        }
        if (i == start) {
            break;
        }
        const std::wstring word = list.substr(start, i - start);
        if (IsDirect(word)) {
            ways.emplace_back();
            break;
        }
        ways.push_back(word);
    }
    if (ways.empty()) {
        ways.emplace_back();
    }
    return ways;
}
