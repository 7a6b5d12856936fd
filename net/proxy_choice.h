#pragma once

#include <windows.h>

#include <string>
#include <vector>

// How one request's WinHTTP session is opened: the access type for WinHttpOpen and, for a
// named proxy, the proxy and bypass lists (empty bypass: none).
struct SessionProxy {
    DWORD access_type;
    std::wstring proxy;
    std::wstring bypass;
};

// The ways to try for one request, in order: the next is for when no response came back
// through the one before. from_script: a proxy script chose them, so a redirect target must
// be asked about on its own.
struct ProxyRoute {
    std::vector<SessionProxy> ways;
    bool from_script = false;
};

// Picks the ways for a request to https://host:port/..., as Windows' own components do: the
// machine's WinHTTP proxy when one is set; else the user's settings, a proxy script (found by
// auto-detection, then the one at the configured URL, each step within its own few seconds;
// evaluated by WinHTTP's proxy service only) asked about https://host:port/, then the user's
// manual proxy with its bypass list; else direct. The script found is asked again for later
// requests; one that cannot be had counts as none, and is not looked for again by this process.
// Never fails.
ProxyRoute ChooseProxy(const std::wstring& host, int port);

// How a download picks each request's ways: ChooseProxy, or a test's fixed route.
using RouteChooser = ProxyRoute (*)(const std::wstring& host, int port);
