#pragma once

#include <string>
#include <vector>

// The URL a proxy script is asked about for any request to host: "https://host/", with the port
// only when it is not https' default, as browsers hand https URLs over. Neither path nor query
// goes to a script (they can carry tokens, and a detected script can leak what it is given).
std::wstring ScriptQueryUrl(const std::wstring& host, int port);

// The ways a proxy list names, in the order they are to be tried: the list as WinHTTP renders a
// script's answer ("a:8080;b:8080", split by ';' or blanks), or "DIRECT". Each a proxy
// "host:port", or empty for a direct connection, which ends the list; at most 8 of them. A list
// that names nothing means direct.
std::vector<std::wstring> ParseProxyList(const std::wstring& list);
