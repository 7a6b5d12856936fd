#pragma once

#include <string>
#include <vector>

// The URL a proxy script is asked about for any request to host: "https://host/", with the port
// only when it is not https' default, as browsers hand https URLs over. Neither path nor query
// goes to a script (they can carry tokens, and a detected script can leak what it is given).
std::wstring ScriptQueryUrl(const std::wstring& host, int port);

// The ways a proxy script's answer ("PROXY a:8080; PROXY b:8080; DIRECT", or WinHTTP's plain
// "a:8080;b:8080") names, in the order they are to be tried: each a proxy "host:port", or empty
// for a direct connection, which ends the list; at most 8 of them. SOCKS and HTTPS proxies are
// left out; an answer that names nothing usable means direct, as browsers read it.
std::vector<std::wstring> ParseProxyList(const std::wstring& answer);
