#include "net/proxy_choice.h"

#include <winhttp.h>

#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "common/bounded_call.h"
#include "common/local_memory.h"
#include "net/proxy_list.h"
#include "net/winhttp_handle.h"

namespace {

// Auto-detection asks DHCP and DNS and a script has to be fetched: on a network without
// either, neither step may hold the download up for long, nor starve the other.
constexpr auto kScriptStepBound = std::chrono::seconds(5);

// WinHTTP hands its proxy strings over for the caller to free with GlobalFree.
using GlobalText = UniqueGlobal<wchar_t>;

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

// The process-wide values below are made on first use and never destroyed: closing the window
// ends the process while the worker, or a lookup left behind after its bound, may still read
// them, and exit-time destructors would free them under it. Nothing joins those threads.
const ProxySettings& Settings() {
    static const ProxySettings& settings = *new ProxySettings(ReadSettings());
    return settings;
}

// The script found, by detection or at the configured URL: later requests (a redirect's
// target) ask it again without looking for it again.
struct FoundScript {
    std::mutex lock;
    std::wstring url;
};

FoundScript& Found() {
    static FoundScript& found = *new FoundScript;
    return found;
}

std::atomic<bool> g_scriptUnavailable{false};

// WinHTTP's default access: the machine's proxy, direct where none is set.
SessionProxy DefaultAccess() { return SessionProxy{WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, {}, {}}; }

SessionProxy Named(std::wstring proxy, std::wstring bypass) {
    return SessionProxy{WINHTTP_ACCESS_TYPE_NAMED_PROXY, std::move(proxy), std::move(bypass)};
}

ProxyRoute Only(SessionProxy way) {
    ProxyRoute route;
    route.ways.push_back(std::move(way));
    return route;
}

// The script's URL found by automatic detection (DHCP, then DNS), or false.
bool DetectScriptUrl(std::wstring& scriptUrl) {
    wchar_t* found = nullptr;
    if (!WinHttpDetectAutoProxyConfigUrl(
            WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A, &found)) {
        return false;
    }
    const GlobalText owned(found);
    scriptUrl = Copy(owned);
    return !scriptUrl.empty();
}

// A script's answer for a URL, and the script that gave it.
struct ScriptAnswer {
    std::wstring script;
    std::wstring answer;
};

// The answer of the script at scriptUrl for url, as WinHTTP hands it back ("a:8080;b:8080", or
// DIRECT). On Windows only WinHTTP's proxy service fetches and runs it, never this elevated
// process: where that service is disabled, WinHTTP refuses and the script counts as none. (Wine
// has no such service and runs it here, flag or not.)
bool AskScriptAt(const std::wstring& scriptUrl, const std::wstring& url, ScriptAnswer& result) {
    const UniqueInternet session(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    if (!session) {
        return false;
    }
    WINHTTP_AUTOPROXY_OPTIONS options{};
    options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL | WINHTTP_AUTOPROXY_RUN_OUTPROCESS_ONLY;
    options.lpszAutoConfigUrl = scriptUrl.c_str();
    WINHTTP_PROXY_INFO info{};
    if (!WinHttpGetProxyForUrl(session.get(), url.c_str(), &options, &info)) {
        return false;
    }
    const GlobalText proxy(info.lpszProxy);
    const GlobalText bypass(info.lpszProxyBypass);
    result.script = scriptUrl;
    result.answer =
        info.dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy ? Copy(proxy) : L"DIRECT";
    return true;
}

// WinHTTP offers no bound on detection, nor on fetching and running a script, so each step
// runs within a bound of its own.
bool WithinBound(std::function<bool(ScriptAnswer&)> step, ScriptAnswer& result) {
    std::optional<std::optional<ScriptAnswer>> outcome = CallWithinBound(
        [step = std::move(step)]() -> std::optional<ScriptAnswer> {
            ScriptAnswer found;
            try {
                return step(found) ? std::optional<ScriptAnswer>(std::move(found)) : std::nullopt;
            } catch (const std::exception&) {
                return std::nullopt;
            }
        },
        kScriptStepBound);
    if (!outcome || !*outcome) {
        return false;
    }
    result = std::move(**outcome);
    return true;
}

std::wstring FoundUrl() {
    FoundScript& found = Found();
    const std::lock_guard<std::mutex> hold(found.lock);
    return found.url;
}

// The script's answer for url: the script found before, else auto-detection's, else the
// configured one's, each within its own bound. Only a script that answered within its bound is
// remembered: a step left behind must not change which script later requests ask.
bool AskTheScript(const ProxySettings& settings, const std::wstring& url, std::wstring& answer) {
    const auto askAt = [&url](const std::wstring& script) {
        return [script, url](ScriptAnswer& result) { return AskScriptAt(script, url, result); };
    };
    const auto detectAndAsk = [url](ScriptAnswer& result) {
        std::wstring detected;
        return DetectScriptUrl(detected) && AskScriptAt(detected, url, result);
    };
    const std::wstring known = FoundUrl();
    ScriptAnswer found;
    const bool answered =
        !known.empty()
            ? WithinBound(askAt(known), found)
            : (settings.auto_detect && WithinBound(detectAndAsk, found)) ||
                  (!settings.script_url.empty() && WithinBound(askAt(settings.script_url), found));
    if (!answered) {
        return false;
    }
    FoundScript& remembered = Found();
    const std::lock_guard<std::mutex> hold(remembered.lock);
    remembered.url = found.script;
    answer = std::move(found.answer);
    return true;
}

ProxyRoute FromAnswer(const std::wstring& answer) {
    ProxyRoute route;
    route.from_script = true;
    for (std::wstring& way : ParseProxyList(answer)) {
        route.ways.push_back(way.empty() ? SessionProxy{WINHTTP_ACCESS_TYPE_NO_PROXY, {}, {}}
                                         : Named(std::move(way), {}));
    }
    return route;
}

}  // namespace

ProxyRoute ChooseProxy(const std::wstring& host, int port) {
    const ProxySettings& settings = Settings();
    if (settings.machine_proxy) {
        return Only(DefaultAccess());
    }
    const bool hasScript = settings.auto_detect || !settings.script_url.empty();
    if (hasScript && !g_scriptUnavailable.load()) {
        std::wstring answer;
        if (AskTheScript(settings, ScriptQueryUrl(host, port), answer)) {
            return FromAnswer(answer);
        }
        g_scriptUnavailable.store(true);
    }
    if (!settings.proxy.empty()) {
        return Only(Named(settings.proxy, settings.bypass));
    }
    return Only(DefaultAccess());
}
