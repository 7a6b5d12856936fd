#include "net/download.h"

#include <winhttp.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "net/download_failure.h"
#include "net/proxy_choice.h"
#include "net/save_body.h"
#include "net/url.h"
#include "net/winhttp_handle.h"

namespace {

constexpr wchar_t kUserAgent[] = L"HalvexInstaller/1.0";
constexpr wchar_t kVerb[] = L"GET";
constexpr int kTimeoutMs = 30000;
constexpr int kMaxRequests = 3;
constexpr DWORD kLocationBufferBytes = 4096;

constexpr char kUrlParseFailed[] = "URL parse failed";
constexpr char kOpenFailed[] = "WinHttpOpen failed";
constexpr char kConnectFailed[] = "WinHttpConnect failed";
constexpr char kOpenRequestFailed[] = "WinHttpOpenRequest failed";
constexpr char kSendFailed[] = "WinHttpSendRequest failed";
constexpr char kReceiveFailed[] = "WinHttpReceiveResponse failed";
constexpr char kStatusNotOk[] = "HTTP status not OK: ";
constexpr char kTooManyRedirects[] = "Too many redirects";
// Both fit the short-string buffer, so reporting them cannot itself allocate.
constexpr char kOutOfMemory[] = "out of memory";
constexpr char kUnexpected[] = "download error";

// The handles of one request, declared in creation order so that they close in
// reverse order (request, connection, session) on every path.
struct Exchange {
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
};

enum class Outcome { kFailed, kRedirected, kSaved };

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

enum class Reached { kAnswered, kUnreachable, kFailed };

// No response came back through this way: the proxy could not be reached, or not in time.
// Only then is the next way tried; a response, whatever it says, is the answer.
bool NoResponseCameBack(DWORD error) {
    return error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED ||
           error == ERROR_WINHTTP_TIMEOUT;
}

Reached Unanswered(std::string& errorMessage, const char* message) {
    const DWORD error = GetLastError();
    Fail(errorMessage, message);
    return NoResponseCameBack(error) ? Reached::kUnreachable : Reached::kFailed;
}

// Wine honours a proxy only when the session is opened with it, so each way gets a session.
Reached OpenExchangeVia(const SessionProxy& way, bool ownRedirects, const std::wstring& host,
                        int port, const std::wstring& path, Exchange& exchange,
                        std::string& errorMessage) {
    exchange.session.reset(WinHttpOpen(
        kUserAgent, way.access_type, way.proxy.empty() ? WINHTTP_NO_PROXY_NAME : way.proxy.c_str(),
        way.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : way.bypass.c_str(), 0));
    if (!exchange.session) {
        Fail(errorMessage, kOpenFailed);
        return Reached::kFailed;
    }
    (void)WinHttpSetTimeouts(exchange.session.get(), kTimeoutMs, kTimeoutMs, kTimeoutMs,
                             kTimeoutMs);
    // ParseUrl admits only 1-65535, so the narrowing keeps the value.
    exchange.connection.reset(
        WinHttpConnect(exchange.session.get(), host.c_str(), static_cast<INTERNET_PORT>(port), 0));
    if (!exchange.connection) {
        Fail(errorMessage, kConnectFailed);
        return Reached::kFailed;
    }
    exchange.request.reset(WinHttpOpenRequest(exchange.connection.get(), kVerb, path.c_str(),
                                              nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!exchange.request) {
        Fail(errorMessage, kOpenRequestFailed);
        return Reached::kFailed;
    }
    if (ownRedirects) {
        // The script must be asked about every hop, so WinHTTP hands each redirect back.
        DWORD disabled = WINHTTP_DISABLE_REDIRECTS;
        if (!WinHttpSetOption(exchange.request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &disabled,
                              sizeof(disabled))) {
            Fail(errorMessage, kOpenRequestFailed);
            return Reached::kFailed;
        }
    }
    if (!WinHttpSendRequest(exchange.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return Unanswered(errorMessage, kSendFailed);
    }
    if (!WinHttpReceiveResponse(exchange.request.get(), nullptr)) {
        return Unanswered(errorMessage, kReceiveFailed);
    }
    return Reached::kAnswered;
}

// Tries the ways of one request's route in order.
bool OpenExchange(const ProxyRoute& route, const std::wstring& host, int port,
                  const std::wstring& path, Exchange& exchange, std::string& errorMessage) {
    for (const SessionProxy& way : route.ways) {
        Exchange tried;
        switch (OpenExchangeVia(way, route.from_script, host, port, path, tried, errorMessage)) {
            case Reached::kAnswered:
                exchange = std::move(tried);
                return true;
            case Reached::kFailed:
                return false;
            case Reached::kUnreachable:
                break;
        }
    }
    return false;
}

DWORD QueryStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    (void)WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                              WINHTTP_NO_HEADER_INDEX);
    return status;
}

// False when there is no Location or it does not fit the buffer with its terminator.
bool QueryLocation(HINTERNET request, std::string& target) {
    wchar_t location[kLocationBufferBytes / sizeof(wchar_t)] = {};
    DWORD size = kLocationBufferBytes;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                             location, &size, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    target.clear();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, location, -1, nullptr, 0, nullptr, nullptr);
    if (bytes > 1) {
        target.resize(static_cast<std::size_t>(bytes));
        (void)WideCharToMultiByte(CP_UTF8, 0, location, -1, &target[0], bytes, nullptr, nullptr);
        target.resize(static_cast<std::size_t>(bytes) - 1);
    }
    return true;
}

// One request: parse, open, send, receive; then follow, refuse or save. Each asks for its own
// URL's ways: a redirect may lead past the proxy, or to another.
Outcome RunAttempt(std::string& currentUrl, const std::string& savePath,
                   const ProgressCallback& progress, UniqueHandle* heldFile,
                   std::string& errorMessage, RouteChooser chooseRoute) {
    std::wstring host;
    std::wstring path;
    int port = 0;
    if (!ParseUrl(currentUrl, host, port, path)) {
        Fail(errorMessage, kUrlParseFailed);
        return Outcome::kFailed;
    }
    Exchange exchange;
    if (!OpenExchange(chooseRoute(host, port), host, port, path, exchange, errorMessage)) {
        return Outcome::kFailed;
    }
    const DWORD status = QueryStatus(exchange.request.get());
    // A relative Location is read against the URL that answered; the next attempt checks the
    // result as any target.
    std::string location;
    if (IsRedirect(status) && QueryLocation(exchange.request.get(), location) &&
        ResolveReference(currentUrl, location, currentUrl)) {
        return Outcome::kRedirected;
    }
    if (status != 200) {
        Fail(errorMessage, kStatusNotOk + std::to_string(status));
        return Outcome::kFailed;
    }
    return SaveBody(exchange.request.get(), savePath, progress, heldFile, errorMessage)
               ? Outcome::kSaved
               : Outcome::kFailed;
}

bool Download(const std::string& url, const std::string& savePath, std::string& errorMessage,
              const ProgressCallback& progress, UniqueHandle* heldFile, RouteChooser chooseRoute) {
    std::string currentUrl = url;
    for (int attempt = 0; attempt < kMaxRequests; ++attempt) {
        switch (RunAttempt(currentUrl, savePath, progress, heldFile, errorMessage, chooseRoute)) {
            case Outcome::kSaved:
                return true;
            case Outcome::kFailed:
                return false;
            case Outcome::kRedirected:
                break;
        }
    }
    return Fail(errorMessage, kTooManyRedirects);
}

}  // namespace

bool DownloadFile(const std::string& url, const std::string& savePath, std::string& errorMessage,
                  const ProgressCallback& progress, UniqueHandle* heldFile,
                  RouteChooser chooseRoute) {
    try {
        return Download(url, savePath, errorMessage, progress, heldFile, chooseRoute);
    } catch (const std::bad_alloc&) {
        errorMessage = kOutOfMemory;
    } catch (const std::exception&) {
        errorMessage = kUnexpected;
    }
    return false;
}
