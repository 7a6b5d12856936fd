#pragma once

#include <string>
#include <vector>

// The URL a proxy script is asked about, written as browsers hand it over: without the port
// when it is https' default, so rules such as shExpMatch(url, "https://host/*") match.
std::wstring ScriptQueryUrl(const std::wstring& host, int port, const std::wstring& path);

// The ways a proxy script's answer ("PROXY a:8080; PROXY b:8080; DIRECT", or WinHTTP's plain
// "a:8080;b:8080") names, in the order they are to be tried: each a proxy "host:port", or empty
// for a direct connection, which ends the list. SOCKS and HTTPS proxies are left out; an answer
// that names nothing usable means direct, as browsers read it.
std::vector<std::wstring> ParseProxyList(const std::wstring& answer);
