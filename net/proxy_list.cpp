#include "net/proxy_list.h"

#include <cwctype>

namespace {

constexpr int kDefaultHttpsPort = 443;
// Each way that is down costs up to the download's time-out before the next is tried.
constexpr std::size_t kMostWays = 8;

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n'; }

bool SameWord(const std::wstring& word, const wchar_t* keyword) {
    std::size_t i = 0;
    for (; i < word.size() && keyword[i] != L'\0'; ++i) {
        if (std::towupper(word[i]) != static_cast<std::wint_t>(keyword[i])) {
            return false;
        }
    }
    return i == word.size() && keyword[i] == L'\0';
}

// Ways WinHTTP cannot go.
bool IsUnusable(const std::wstring& keyword) {
    for (const wchar_t* unusable : {L"SOCKS", L"SOCKS4", L"SOCKS5", L"HTTPS", L"QUIC"}) {
        if (SameWord(keyword, unusable)) {
            return true;
        }
    }
    return false;
}

std::vector<std::wstring> Words(const std::wstring& entry) {
    std::vector<std::wstring> words;
    std::size_t i = 0;
    while (i < entry.size()) {
        while (i < entry.size() && IsBlank(entry[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < entry.size() && !IsBlank(entry[i])) {
            ++i;
        }
        if (i > start) {
            words.push_back(entry.substr(start, i - start));
        }
    }
    return words;
}

}  // namespace

std::wstring ScriptQueryUrl(const std::wstring& host, int port) {
    std::wstring url = L"https://" + host;
    if (port != kDefaultHttpsPort) {
        url += L":" + std::to_wstring(port);
    }
    return url + L"/";
}

std::vector<std::wstring> ParseProxyList(const std::wstring& answer) {
    std::vector<std::wstring> ways;
    std::size_t start = 0;
    while (start <= answer.size()) {
        std::size_t end = answer.find(L';', start);
        if (end == std::wstring::npos) {
            end = answer.size();
        }
        const std::vector<std::wstring> words = Words(answer.substr(start, end - start));
        start = end + 1;
        if (words.empty() || IsUnusable(words[0])) {
            continue;
        }
        if (SameWord(words[0], L"DIRECT")) {
            ways.emplace_back();
            break;
        }
        if (SameWord(words[0], L"PROXY") || SameWord(words[0], L"HTTP")) {
            if (words.size() == 2) {
                ways.push_back(words[1]);
            }
            continue;
        }
        // WinHTTP's own rendering: bare proxies, split by blanks as well.
        ways.insert(ways.end(), words.begin(), words.end());
    }
    if (ways.empty()) {
        ways.emplace_back();
    }
    if (ways.size() > kMostWays) {
        ways.resize(kMostWays);
    }
    return ways;
}
