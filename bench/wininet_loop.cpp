#include "bench/bare_loop.h"

#include <wininet.h>

#include <memory>

namespace {

// WinINet's handles share the name HINTERNET with WinHTTP's, but not the closer; the two
// headers cannot meet in one file, so this one lives apart.
struct WinInetCloser {
    void operator()(HINTERNET handle) const { (void)InternetCloseHandle(handle); }
};
using UniqueWinInet = std::unique_ptr<void, WinInetCloser>;

}  // namespace

bool WinInetDownload(const std::string& url, const std::string& savePath, DWORD readBytes,
                     std::uint64_t& bytes, std::string& error) {
    const std::wstring wideUrl(url.begin(), url.end());
    const UniqueWinInet session(
        InternetOpenW(L"HalvexBench/1.0", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    // Straight from the server into the file: no cache copy, as a download page does.
    const UniqueWinInet request(
        session ? InternetOpenUrlW(
                      session.get(), wideUrl.c_str(), nullptr, 0,
                      INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_NO_UI, 0)
                : nullptr);
    if (!request) {
        error = "request";
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    (void)HttpQueryInfoW(request.get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                         &size, nullptr);
    if (status != 200) {
        error = "status " + std::to_string(status);
        return false;
    }
    return WriteBodyToFile(
        savePath, readBytes,
        [&request](std::uint8_t* buffer, DWORD capacity, DWORD& delivered) {
            return InternetReadFile(request.get(), buffer, capacity, &delivered) != FALSE;
        },
        bytes, error);
}
