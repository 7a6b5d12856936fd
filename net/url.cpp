#include "net/url.h"

#include <charconv>
#include <regex>
#include <system_error>

namespace {

constexpr int kDefaultPort = 443;
constexpr int kHighestPort = 65535;
// The standard matcher recurses once per character; a longer URL (a hostile Location
// can carry 6000 UTF-8 bytes) would exhaust a thread's stack instead of failing.
constexpr std::size_t kLongestUrl = 2048;

bool IsAscii(char byte) { return static_cast<unsigned char>(byte) < 0x80; }

// A host is handed to name resolution as is; a byte outside ASCII has no meaning there.
bool WidenHost(const std::string& text, std::wstring& out) {
    out.reserve(text.size());
    for (char byte : text) {
        if (!IsAscii(byte)) {
            return false;
        }
        out.push_back(static_cast<wchar_t>(byte));
    }
    return true;
}

// Bytes outside ASCII (a UTF-8 Location, say) go on the wire percent-encoded, so the
// server sees the same bytes the URL held.
std::wstring WidenPath(const std::string& text) {
    static constexpr char kHexDigits[] = "0123456789ABCDEF";
    std::wstring out;
    out.reserve(text.size());
    for (char byte : text) {
        const auto value = static_cast<unsigned char>(byte);
        if (value < 0x80) {
            out.push_back(static_cast<wchar_t>(value));
        } else {
            out.push_back(L'%');
            out.push_back(static_cast<wchar_t>(kHexDigits[value >> 4]));
            out.push_back(static_cast<wchar_t>(kHexDigits[value & 0x0F]));
        }
    }
    return out;
}

bool ParsePort(const std::string& digits, int& port) {
    int value = 0;
    const char* const end = digits.data() + digits.size();
    const auto [stop, error] = std::from_chars(digits.data(), end, value);
    if (error != std::errc() || stop != end || value < 1 || value > kHighestPort) {
        return false;
    }
    port = value;
    return true;
}

bool ParseUrlOrThrow(const std::string& url, std::wstring& host, int& port, std::wstring& path) {
    if (url.size() > kLongestUrl) {
        return false;
    }
    const std::regex pattern("https://([^/:]+)(:(\\d+))?(/.*)?", std::regex::ECMAScript);
    std::smatch match;
    if (!std::regex_match(url, match, pattern)) {
        return false;
    }
    std::wstring parsedHost;
    if (!WidenHost(match[1].str(), parsedHost)) {
        return false;
    }
    int parsedPort = kDefaultPort;
    if (match[3].matched && !ParsePort(match[3].str(), parsedPort)) {
        return false;
    }
    std::wstring parsedPath = match[4].matched ? WidenPath(match[4].str()) : std::wstring(L"/");

    host.swap(parsedHost);
    port = parsedPort;
    path.swap(parsedPath);
    return true;
}

}  // namespace

bool ParseUrl(const std::string& url, std::wstring& host, int& port, std::wstring& path) {
    // Outputs are built aside and swapped in last, so a failure (allocation or regex
    // complexity included) leaves all three as the caller had them.
    try {
        return ParseUrlOrThrow(url, host, port, path);
    } catch (const std::exception&) {
        return false;
    }
}
