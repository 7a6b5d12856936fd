#pragma once

#include <string>

// Splits an absolute https URL into host, port (1-65535, 443 when absent) and object
// path ("/" when absent). Outputs are written only when the result is true; never throws.
bool ParseUrl(const std::string& url, std::wstring& host, int& port, std::wstring& path);

// The target of `reference` (a redirect's Location) read against the absolute URL `base`, as
// RFC 3986 section 5.2 resolves it: an absolute URL, "//host/...", "/path", "path" (dot
// segments removed), "?query". An empty path under a host becomes "/". Pure string work; the
// result is checked with ParseUrl as any target is. False only when `base` has no scheme.
bool ResolveReference(const std::string& base, const std::string& reference, std::string& target);
