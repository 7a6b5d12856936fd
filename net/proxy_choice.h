#pragma once

#include <windows.h>

#include <string>

// How one request's WinHTTP session is opened: the access type for WinHttpOpen and, for a
// named proxy, the proxy and bypass lists (empty bypass: none).
struct SessionProxy {
    DWORD access_type;
    std::wstring proxy;
    std::wstring bypass;
};

// Picks the proxy for a request to https://host:port/path, the way Windows' own
// components do: the machine's WinHTTP proxy when one is set; else the user's settings,
// a proxy script (its URL, or found by auto-detection) asked about this very URL, then the
// user's manual proxy with its bypass list; else direct. A script that cannot be had in a
// few seconds counts as none, and is not asked again by this process. Never fails.
SessionProxy ChooseProxy(const std::wstring& host, int port, const std::wstring& path);
