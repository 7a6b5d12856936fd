#pragma once

#include <string>

// Splits an absolute https URL into host, port (1-65535, 443 when absent) and object
// path ("/" when absent). Outputs are written only when the result is true; never throws.
bool ParseUrl(const std::string& url, std::wstring& host, int& port, std::wstring& path);
