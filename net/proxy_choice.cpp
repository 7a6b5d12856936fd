#include "net/proxy_choice.h"

#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "net/winhttp_handle.h"

namespace {

// Auto-detection asks DHCP and DNS and a script may have to be fetched: on a network
// without either this must not hold the download up for long.
constexpr auto kAutoProxyBound = std::chrono::seconds(5);

struct GlobalFreer {
    void operator()(wchar_t* text) const { (void)GlobalFree(text); }
};
// WinHTTP hands its proxy strings over for the caller to free with GlobalFree.
using GlobalText = std::unique_ptr<wchar_t, GlobalFreer>;

std::wstring Copy(const GlobalText& text) {
    return text ? std::wstring(text.get()) : std::wstring();
}

// What this process goes by; read once, since each read costs registry round trips and
// the settings do not change under one short run.
struct ProxySettings {
    bool machine_proxy = false;
    bool auto_detect = false;
    std::wstring script_url;
    std::wstring proxy;
    std::wstring bypass;
};

ProxySettings ReadSettings() {
    ProxySettings settings;
    WINHTTP_PROXY_INFO machine{};
    if (WinHttpGetDefaultProxyConfiguration(&machine)) {
        const GlobalText proxy(machine.lpszProxy);
        const GlobalText bypass(machine.lpszProxyBypass);
        settings.machine_proxy = machine.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
    }
    if (settings.machine_proxy) {
        return settings;
    }
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG user{};
    if (WinHttpGetIEProxyConfigForCurrentUser(&user)) {
        const GlobalText scriptUrl(user.lpszAutoConfigUrl);
        const GlobalText proxy(user.lpszProxy);
        const GlobalText bypass(user.lpszProxyBypass);
        settings.auto_detect = user.fAutoDetect != FALSE;
        settings.script_url = Copy(scriptUrl);
        settings.proxy = Copy(proxy);
        settings.bypass = Copy(bypass);
    }
    return settings;
}

const ProxySettings& Settings() {
    static const ProxySettings settings = ReadSettings();
    return settings;
}

std::atomic<bool> g_scriptUnavailable{false};

// WinHTTP's default access: the machine's proxy, direct where none is set.
SessionProxy DefaultAccess() { return SessionProxy{WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, {}, {}}; }

SessionProxy Named(std::wstring proxy, std::wstring bypass) {
    return SessionProxy{WINHTTP_ACCESS_TYPE_NAMED_PROXY, std::move(proxy), std::move(bypass)};
}

bool AskProxyScript(const std::wstring& url, bool autoDetect, const std::wstring& scriptUrl,
                    SessionProxy& choice) {
    const UniqueInternet session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return false;
    }
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (autoDetect) {
        options.dwFlags |= WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    if (!scriptUrl.empty()) {
        options.dwFlags |= WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = scriptUrl.c_str();
    }
    WINHTTP_PROXY_INFO answer{};
    if (!WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &answer)) {
        return false;
    }
    const GlobalText proxy(answer.lpszProxy);
    const GlobalText bypass(answer.lpszProxyBypass);
    choice = answer.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy
                 ? Named(Copy(proxy), Copy(bypass))
                 : DefaultAccess();
    return true;
}

// The answer of one script lookup, shared with the thread that makes it: a thread still
// stuck after the bound keeps it alive until it ends.
struct ScriptLookup {
    std::mutex lock;
    std::condition_variable finished;
    bool done = false;
    bool answered = false;
    SessionProxy choice = DefaultAccess();
};

// WinHTTP offers no bound on detection, so the lookup runs on a thread of its own that is
// left behind if it takes too long.
bool AskProxyScriptWithinBound(const std::wstring& url, const ProxySettings& settings,
                               SessionProxy& choice) {
    const auto lookup = std::make_shared<ScriptLookup>();
    try {
        std::thread([lookup, url, autoDetect = settings.auto_detect,
                     scriptUrl = settings.script_url] {
            SessionProxy answer = DefaultAccess();
            bool answered = false;
            try {
                answered = AskProxyScript(url, autoDetect, scriptUrl, answer);
            } catch (const std::exception&) {
                answered = false;
            }
            const std::lock_guard<std::mutex> hold(lookup->lock);
            lookup->done = true;
            lookup->answered = answered;
            lookup->choice = std::move(answer);
            lookup->finished.notify_one();
        }).detach();
    } catch (const std::system_error&) {
        return false;
    }
    std::unique_lock<std::mutex> hold(lookup->lock);
    if (!lookup->finished.wait_for(hold, kAutoProxyBound, [&lookup] { return lookup->done; }) ||
        !lookup->answered) {
        return false;
    }
    choice = std::move(lookup->choice);
    return true;
}

}  // namespace

SessionProxy ChooseProxy(const std::wstring& host, int port, const std::wstring& path) {
    const ProxySettings& settings = Settings();
    if (settings.machine_proxy) {
        return DefaultAccess();
    }
    const bool hasScript = settings.auto_detect || !settings.script_url.empty();
    if (hasScript && !g_scriptUnavailable.load()) {
        SessionProxy choice = DefaultAccess();
        const std::wstring url = L"https://" + host + L":" + std::to_wstring(port) + path;
        if (AskProxyScriptWithinBound(url, settings, choice)) {
            return choice;
        }
        g_scriptUnavailable.store(true);
    }
    if (!settings.proxy.empty()) {
        return Named(settings.proxy, settings.bypass);
    }
    return DefaultAccess();
}
