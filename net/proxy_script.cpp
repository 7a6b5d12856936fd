#include "net/proxy_script.h"

#include <windows.h>
#include <winhttp.h>

#include <memory>
#include <mutex>
#include <vector>

#include "common/local_memory.h"
#include "net/winhttp_handle.h"

namespace {

constexpr int kFetchTimeoutMs = 5000;
// Office scripts run to tens of kilobytes; anything near this is no script.
constexpr std::size_t kLongestScript = std::size_t{1} << 20;
constexpr DWORD kReadBytes = 8192;

// wininet.h, which declares these, does not build beside winhttp.h.
struct ScriptBuffer {
    DWORD dwStructSize;
    LPSTR lpszScriptBuffer;
    DWORD dwScriptBufferSize;
};
using InitializeFn = BOOL(CALLBACK*)(DWORD, LPSTR, LPSTR, void*, ScriptBuffer*);
using GetProxyInfoFn = BOOL(CALLBACK*)(LPCSTR, DWORD, LPSTR, DWORD, LPSTR*, LPDWORD);
using DeinitializeFn = BOOL(CALLBACK*)(LPSTR, DWORD);

struct Evaluator {
    InitializeFn initialize = nullptr;
    GetProxyInfoFn getProxyInfo = nullptr;
    DeinitializeFn deinitialize = nullptr;
    // The evaluator holds one script for the whole process.
    std::mutex lock;
};

// Loaded once from System32 (never beside the exe) and never unloaded or destroyed: a lookup
// thread left behind after its bound may still be inside it when the process exits.
Evaluator& TheEvaluator() {
    static Evaluator& evaluator = *[] {
        auto* loaded = new Evaluator;
        const HMODULE module =
            LoadLibraryExW(L"jsproxy.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module != nullptr) {
            loaded->initialize = reinterpret_cast<InitializeFn>(
                reinterpret_cast<void*>(GetProcAddress(module, "InternetInitializeAutoProxyDll")));
            loaded->getProxyInfo = reinterpret_cast<GetProxyInfoFn>(
                reinterpret_cast<void*>(GetProcAddress(module, "InternetGetProxyInfo")));
            loaded->deinitialize = reinterpret_cast<DeinitializeFn>(reinterpret_cast<void*>(
                GetProcAddress(module, "InternetDeInitializeAutoProxyDll")));
        }
        return loaded;
    }();
    return evaluator;
}

// The evaluator takes a new script only after it has let go of the one before.
struct ScriptLoaded {
    DeinitializeFn deinitialize;
    ~ScriptLoaded() { (void)deinitialize(nullptr, 0); }
};

// URLs and host names reach the evaluator as narrow text; they are ASCII.
std::string Narrow(const std::wstring& text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (const wchar_t c : text) {
        if (c >= 0x80) {
            return {};
        }
        narrow.push_back(static_cast<char>(c));
    }
    return narrow;
}

std::wstring Widen(const char* text) {
    std::wstring wide;
    for (; *text != '\0'; ++text) {
        wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(*text)));
    }
    return wide;
}

bool ReadBody(HINTERNET request, std::string& body) {
    std::vector<char> buffer(kReadBytes);
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer.data(), kReadBytes, &read)) {
            return false;
        }
        if (read == 0) {
            return !body.empty();
        }
        if (body.size() + read > kLongestScript) {
            return false;
        }
        body.append(buffer.data(), read);
    }
}

}  // namespace

bool DetectProxyScriptUrl(std::wstring& scriptUrl) {
    wchar_t* found = nullptr;
    if (!WinHttpDetectAutoProxyConfigUrl(
            WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A, &found)) {
        return false;
    }
    const UniqueGlobal<wchar_t> owned(found);
    if (owned == nullptr) {
        return false;
    }
    scriptUrl = owned.get();
    return true;
}

bool FetchProxyScript(const std::wstring& scriptUrl, std::string& script) {
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(scriptUrl.c_str(), 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        return false;
    }
    const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    const UniqueInternet session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return false;
    }
    (void)WinHttpSetTimeouts(session.get(), kFetchTimeoutMs, kFetchTimeoutMs, kFetchTimeoutMs,
                             kFetchTimeoutMs);
    const UniqueInternet connection(WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
    if (!connection) {
        return false;
    }
    const UniqueInternet request(
        WinHttpOpenRequest(connection.get(), L"GET", path.empty() ? L"/" : path.c_str(), nullptr,
                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                           parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0));
    if (!request ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                             WINHTTP_NO_HEADER_INDEX) ||
        status != 200) {
        return false;
    }
    std::string body;
    if (!ReadBody(request.get(), body)) {
        return false;
    }
    script.swap(body);
    return true;
}

bool AskProxyScript(const std::string& script, const std::wstring& url, const std::wstring& host,
                    std::wstring& answer) {
    Evaluator& evaluator = TheEvaluator();
    std::string narrowUrl = Narrow(url);
    std::string narrowHost = Narrow(host);
    if (evaluator.initialize == nullptr || evaluator.getProxyInfo == nullptr ||
        evaluator.deinitialize == nullptr || script.empty() || narrowUrl.empty() ||
        narrowHost.empty()) {
        return false;
    }
    std::string text = script;
    ScriptBuffer buffer{sizeof(ScriptBuffer), text.data(), static_cast<DWORD>(text.size() + 1)};
    const std::lock_guard<std::mutex> hold(evaluator.lock);
    if (!evaluator.initialize(0, nullptr, nullptr, nullptr, &buffer)) {
        return false;
    }
    const ScriptLoaded loaded{evaluator.deinitialize};
    LPSTR result = nullptr;
    DWORD resultLength = 0;
    if (!evaluator.getProxyInfo(narrowUrl.c_str(), static_cast<DWORD>(narrowUrl.size()),
                                narrowHost.data(), static_cast<DWORD>(narrowHost.size()), &result,
                                &resultLength)) {
        return false;
    }
    const UniqueGlobal<char> owned(result);
    if (owned == nullptr) {
        return false;
    }
    answer = Widen(owned.get());
    return true;
}
