#pragma once

#include <windows.h>
#include <winhttp.h>

#include <memory>

// One owner per WinHTTP handle (session, connection or request).
struct InternetCloser {
    void operator()(HINTERNET handle) const { (void)WinHttpCloseHandle(handle); }
};
using UniqueInternet = std::unique_ptr<void, InternetCloser>;
