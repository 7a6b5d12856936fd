// ParseUrl on arbitrary bytes: it never throws, a rejected URL leaves the caller's values
// alone, and an accepted one splits into parts that rebuild the URL exactly. The same bytes as
// a redirect's Location, resolved against a fixed URL: nothing is left to resolve in the
// result, and a reference without a scheme keeps https (and the host, without "//").
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/url.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const std::wstring kHostSentinel = L"untouched-host";
constexpr int kPortSentinel = -7;
const std::wstring kPathSentinel = L"untouched-path";
const std::string kScheme = "https://";

bool IsAsciiUnit(wchar_t unit) { return static_cast<unsigned>(unit) <= 0x7F; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(wchar_t unit) {
    if (unit >= L'0' && unit <= L'9') return unit - L'0';
    if (unit >= L'A' && unit <= L'F') return unit - L'A' + 10;
    if (unit >= L'a' && unit <= L'f') return unit - L'a' + 10;
    return -1;
}

// The wide path carries the URL's bytes: ASCII as itself, any other byte as %XX.
bool PathCarriesBytes(const std::wstring& path, const std::string& bytes) {
    size_t at = 0;
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            if (at >= path.size() || path[at] != static_cast<wchar_t>(byte)) return false;
            ++at;
            continue;
        }
        if (at + 3 > path.size() || path[at] != L'%') return false;
        const int high = HexValue(path[at + 1]);
        const int low = HexValue(path[at + 2]);
        if (high < 0 || low < 0 || high * 16 + low != byte) return false;
        at += 3;
    }
    return at == path.size();
}

// Decimal value of the digits, or -1 once it passes the largest port.
long PortValue(const std::string& digits) {
    long value = 0;
    for (char c : digits) {
        value = value * 10 + (c - '0');
        if (value > 65535) return -1;
    }
    return value;
}

void CheckAccepted(const std::string& url, const std::wstring& host, int port,
                   const std::wstring& path) {
    FuzzCheck(!host.empty(), "host is empty");
    for (wchar_t unit : host) {
        FuzzCheck(unit != L'/' && unit != L':', "host holds '/' or ':'");
        FuzzCheck(IsAsciiUnit(unit), "host holds a unit above 0x7F");
    }
    FuzzCheck(port >= 1 && port <= 65535, "port outside 1..65535");
    FuzzCheck(!path.empty() && path[0] == L'/', "path does not begin with '/'");
    for (wchar_t unit : path) {
        FuzzCheck(IsAsciiUnit(unit), "path holds a unit above 0x7F");
    }

    FuzzCheck(url.compare(0, kScheme.size(), kScheme) == 0, "accepted without https://");
    const std::string hostBytes = url.substr(kScheme.size(), host.size());
    FuzzCheck(std::wstring(hostBytes.begin(), hostBytes.end()) == host,
              "host is not the text after the scheme");
    std::string rest = url.substr(kScheme.size() + host.size());
    int expectedPort = 443;
    if (!rest.empty() && rest[0] == ':') {
        size_t digits = 1;
        while (digits < rest.size() && IsDigit(rest[digits])) ++digits;
        FuzzCheck(digits > 1, "accepted a colon without port digits");
        expectedPort = static_cast<int>(PortValue(rest.substr(1, digits - 1)));
        rest.erase(0, digits);
    }
    FuzzCheck(port == expectedPort, "port is not the URL's digits (or 443)");
    if (rest.empty()) {
        FuzzCheck(path == L"/", "missing path is not \"/\"");
    } else {
        FuzzCheck(rest[0] == '/', "accepted text between host or port and path");
        FuzzCheck(PathCarriesBytes(path, rest), "path does not carry the URL's bytes");
    }
}

const std::string kBase = "https://h:8443/a/b/c?q";

void CheckResolved(const std::string& reference) {
    std::string resolved;
    FuzzCheck(ResolveReference(kBase, reference, resolved), "an absolute base was refused");
    std::string again;
    FuzzCheck(ResolveReference(kBase, resolved, again) && again == resolved,
              "the result resolves to something else again");
    if (reference.find(':') == std::string::npos) {
        const bool sameHost = reference.compare(0, 2, "//") != 0;
        FuzzCheck(resolved.compare(0, 6, "https:") == 0, "a relative reference lost https");
        FuzzCheck(!sameHost || resolved.compare(0, 15, "https://h:8443/") == 0,
                  "a reference without a host left the base's");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string url(reinterpret_cast<const char*>(data), size);
    std::wstring host = kHostSentinel;
    int port = kPortSentinel;
    std::wstring path = kPathSentinel;
    bool accepted = false;
    try {
        accepted = ParseUrl(url, host, port, path);
    } catch (...) {
        FuzzCheck(false, "ParseUrl threw");
    }
    try {
        CheckResolved(url);
    } catch (...) {
        FuzzCheck(false, "ResolveReference threw");
    }
    if (accepted) {
        CheckAccepted(url, host, port, path);
    } else {
        FuzzCheck(host == kHostSentinel && port == kPortSentinel && path == kPathSentinel,
                  "a rejected URL changed the outputs");
    }
    return 0;
}
