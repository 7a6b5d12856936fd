#pragma once

#include <string>

// A proxy script (PAC), fetched and asked with the system's own evaluator: jsproxy.dll, the one
// WinHTTP uses, which hands back the script's whole answer list (WinHTTP keeps its first entry).
// Each call blocks; the caller bounds it.

// The script's URL found by automatic detection (DHCP, then DNS), or false.
bool DetectProxyScriptUrl(std::wstring& scriptUrl);

// Fetches an http or https script directly (a script is never fetched through a proxy).
bool FetchProxyScript(const std::wstring& scriptUrl, std::string& script);

// The script's answer for url, such as "PROXY a:8080; DIRECT", or false.
bool AskProxyScript(const std::string& script, const std::wstring& url, const std::wstring& host,
                    std::wstring& answer);
