// One bare download, the platform's own limit beside the installer's downloader: no
// redirects, no callback, no window, each piece written straight to the file. Prints
// "mode=… read_bytes=… ok=… bytes=… error=…"; exits 0 only when the whole body was saved.
//   download_bench winhttp URL FILE [N]  WinHTTP, reads of N bytes (default 1 MiB)
//   download_bench winhttp-8k URL FILE   the same with the downloader's 8 KiB reads
//   download_bench wininet URL FILE      WinINet (preconfigured proxy use, 64 KiB reads)
#include <windows.h>
#include <winhttp.h>

#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <string>

#include "bench/bare_loop.h"
#include "net/url.h"
#include "net/winhttp_handle.h"

namespace {

bool WinHttpDownload(const std::string& url, const std::string& savePath, DWORD readBytes,
                     std::uint64_t& bytes, std::string& error) {
    std::wstring host;
    std::wstring path;
    int port = 0;
    if (!ParseUrl(url, host, port, path)) {
        error = "url";
        return false;
    }
    const UniqueInternet session(WinHttpOpen(L"HalvexBench/1.0", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
    const UniqueInternet connection(
        session ? WinHttpConnect(session.get(), host.c_str(), static_cast<INTERNET_PORT>(port), 0)
                : nullptr);
    const UniqueInternet request(
        connection ? WinHttpOpenRequest(connection.get(), L"GET", path.c_str(), nullptr,
                                        WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        WINHTTP_FLAG_SECURE)
                   : nullptr);
    if (!request ||
        !WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0) ||
        !WinHttpReceiveResponse(request.get(), nullptr)) {
        error = "request";
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof(status);
    (void)WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                              WINHTTP_NO_HEADER_INDEX);
    if (status != 200) {
        error = "status-" + std::to_string(status);
        return false;
    }
    return WriteBodyToFile(
        savePath, readBytes,
        [&request](std::uint8_t* buffer, DWORD capacity, DWORD& delivered) {
            return WinHttpReadData(request.get(), buffer, capacity, &delivered) != FALSE;
        },
        bytes, error);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring mode = argc > 1 ? argv[1] : L"";
    DWORD readBytes = 0;
    if (mode == L"winhttp" && (argc == 4 || argc == 5)) {
        readBytes = argc == 5 ? std::wcstoul(argv[4], nullptr, 10) : 1 << 20;
    } else if (mode == L"winhttp-8k" && argc == 4) {
        readBytes = 8192;
    } else if (mode == L"wininet" && argc == 4) {
        readBytes = 64 << 10;
    }
    if (readBytes == 0) {
        std::fputs("usage: download_bench winhttp|winhttp-8k|wininet URL FILE [READ_BYTES]\n",
                   stderr);
        return 2;
    }
    const std::string url(argv[2], argv[2] + std::wcslen(argv[2]));
    const std::string savePath(argv[3], argv[3] + std::wcslen(argv[3]));
    std::uint64_t bytes = 0;
    std::string error;
    const bool ok = mode == L"wininet" ? WinInetDownload(url, savePath, readBytes, bytes, error)
                                       : WinHttpDownload(url, savePath, readBytes, bytes, error);
    std::printf("mode=%ls read_bytes=%lu ok=%d bytes=%llu error=%s\n", mode.c_str(), readBytes,
                ok ? 1 : 0, static_cast<unsigned long long>(bytes), ok ? "-" : error.c_str());
    return ok ? 0 : 1;
}
