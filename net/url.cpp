#include "net/url.h"

#include <algorithm>
#include <charconv>
#include <optional>
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

// A URI reference split as RFC 3986 appendix B splits it; a part that is absent is empty.
struct Reference {
    std::optional<std::string> scheme;
    std::optional<std::string> authority;
    std::string path;
    std::optional<std::string> query;
    std::optional<std::string> fragment;
};

Reference Split(const std::string& text) {
    Reference parts;
    std::size_t at = 0;
    const std::size_t colon = text.find_first_of(":/?#");
    if (colon != std::string::npos && colon > 0 && text[colon] == ':') {
        parts.scheme = text.substr(0, colon);
        at = colon + 1;
    }
    if (text.compare(at, 2, "//") == 0) {
        const std::size_t end = std::min(text.find_first_of("/?#", at + 2), text.size());
        parts.authority = text.substr(at + 2, end - at - 2);
        at = end;
    }
    const std::size_t pathEnd = std::min(text.find_first_of("?#", at), text.size());
    parts.path = text.substr(at, pathEnd - at);
    at = pathEnd;
    if (at < text.size() && text[at] == '?') {
        const std::size_t end = std::min(text.find('#', at), text.size());
        parts.query = text.substr(at + 1, end - at - 1);
        at = end;
    }
    if (at < text.size()) {
        parts.fragment = text.substr(at + 1);
    }
    return parts;
}

bool StartsWith(const std::string& text, std::size_t at, const char* prefix) {
    return text.compare(at, std::char_traits<char>::length(prefix), prefix) == 0;
}

bool RestIs(const std::string& text, std::size_t at, const char* rest) {
    return text.compare(at, std::string::npos, rest) == 0;
}

void DropLastSegment(std::string& output) {
    const std::size_t slash = output.rfind('/');
    output.erase(slash == std::string::npos ? 0 : slash);
}

// RFC 3986 section 5.2.4, reading the input by position instead of cutting its front off.
std::string RemoveDotSegments(const std::string& input) {
    std::string output;
    std::size_t at = 0;
    while (at < input.size()) {
        if (StartsWith(input, at, "../")) {
            at += 3;
        } else if (StartsWith(input, at, "./") || StartsWith(input, at, "/./")) {
            at += 2;
        } else if (RestIs(input, at, "/.")) {
            output += '/';
            break;
        } else if (StartsWith(input, at, "/../")) {
            at += 3;
            DropLastSegment(output);
        } else if (RestIs(input, at, "/..")) {
            DropLastSegment(output);
            output += '/';
            break;
        } else if (RestIs(input, at, ".") || RestIs(input, at, "..")) {
            break;
        } else {
            const std::size_t end = std::min(input.find('/', at + 1), input.size());
            output.append(input, at, end - at);
            at = end;
        }
    }
    return output;
}

// RFC 3986 section 5.2.3.
std::string Merge(const Reference& base, const std::string& path) {
    if (base.authority && base.path.empty()) {
        return "/" + path;
    }
    const std::size_t slash = base.path.rfind('/');
    return (slash == std::string::npos ? std::string() : base.path.substr(0, slash + 1)) + path;
}

bool ResolveOrThrow(const std::string& baseText, const std::string& referenceText,
                    std::string& target) {
    const Reference base = Split(baseText);
    if (!base.scheme) {
        return false;
    }
    const Reference reference = Split(referenceText);
    Reference result;
    if (reference.scheme) {
        result = reference;
        result.path = RemoveDotSegments(reference.path);
    } else {
        result.scheme = base.scheme;
        if (reference.authority) {
            result.authority = reference.authority;
            result.path = RemoveDotSegments(reference.path);
            result.query = reference.query;
        } else {
            result.authority = base.authority;
            if (reference.path.empty()) {
                result.path = base.path;
                result.query = reference.query ? reference.query : base.query;
            } else {
                result.path = RemoveDotSegments(
                    reference.path[0] == '/' ? reference.path : Merge(base, reference.path));
                result.query = reference.query;
            }
        }
        result.fragment = reference.fragment;
    }
    if (result.authority && result.path.empty()) {
        result.path = "/";
    }
    // Section 5.3.
    std::string text = *result.scheme + ":";
    if (result.authority) {
        text += "//" + *result.authority;
    } else if (result.path.compare(0, 2, "//") == 0) {
        // Read again, "//" would start a host; "/." keeps it a path (as WHATWG writes it).
        text += "/.";
    }
    text += result.path;
    if (result.query) {
        text += "?" + *result.query;
    }
    if (result.fragment) {
        text += "#" + *result.fragment;
    }
    target.swap(text);
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

bool ResolveReference(const std::string& base, const std::string& reference, std::string& target) {
    try {
        return ResolveOrThrow(base, reference, target);
    } catch (const std::exception&) {
        return false;
    }
}
