#pragma once

#include <string>

// A proxy script (PAC), fetched and asked in this process with jsproxy.dll from System32, the
// evaluator Wine's WinHTTP uses, which hands back the script's whole answer list (Wine's WinHTTP
// keeps only its first entry). Only for systems without a proxy service that evaluates scripts
// away from this process, as under Wine. Each call blocks; the caller bounds it.

// The script's URL found by automatic detection (DHCP, then DNS), or false.
bool DetectProxyScriptUrl(std::wstring& scriptUrl);

// Fetches an http or https script directly (a script is never fetched through a proxy).
bool FetchProxyScript(const std::wstring& scriptUrl, std::string& script);

// The script's answer for url, such as "PROXY a:8080; DIRECT", or false.
bool AskProxyScript(const std::string& script, const std::wstring& url, const std::wstring& host,
                    std::wstring& answer);
