#include "net/download.h"

#include <winhttp.h>

#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "net/proxy_choice.h"
#include "net/sha256.h"
#include "net/url.h"
#include "net/winhttp_handle.h"

namespace {

constexpr wchar_t kUserAgent[] = L"HalvexInstaller/1.0";
constexpr wchar_t kVerb[] = L"GET";
constexpr int kTimeoutMs = 30000;
constexpr int kMaxRequests = 3;
constexpr DWORD kLocationBufferBytes = 4096;
constexpr DWORD kReadBufferBytes = 8192;
constexpr DWORD kVerifyBufferBytes = 256 * 1024;
// Longest Content-Length text worth reading: 20 digits hold every 64-bit value.
constexpr DWORD kContentLengthUnits = 32;

constexpr char kUrlParseFailed[] = "URL parse failed";
constexpr char kOpenFailed[] = "WinHttpOpen failed";
constexpr char kConnectFailed[] = "WinHttpConnect failed";
constexpr char kOpenRequestFailed[] = "WinHttpOpenRequest failed";
constexpr char kSendFailed[] = "WinHttpSendRequest failed";
constexpr char kReceiveFailed[] = "WinHttpReceiveResponse failed";
constexpr char kStatusNotOk[] = "HTTP status not OK: ";
constexpr char kTooManyRedirects[] = "Too many redirects";
constexpr char kBadContentLength[] = "invalid Content-Length";
constexpr char kCreateFailed[] = "failed to create save file";
constexpr char kReadFailed[] = "WinHttpReadData failed";
constexpr char kWriteFailed[] = "failed to write save file";
constexpr char kCloseFailed[] = "failed to close save file";
constexpr char kIncomplete[] = "download incomplete";
constexpr char kTooLong[] = "download longer than Content-Length";
constexpr char kReopenFailed[] = "failed to reopen save file";
constexpr char kChangedOnDisk[] = "save file changed after download";
// Both fit the short-string buffer, so reporting them cannot itself allocate.
constexpr char kOutOfMemory[] = "out of memory";
constexpr char kUnexpected[] = "download error";

// The handles of one request, declared in creation order so that they close in
// reverse order (request, connection, session) on every path.
struct Exchange {
    UniqueInternet session;
    UniqueInternet connection;
    UniqueInternet request;
};

enum class Outcome { kFailed, kRedirected, kSaved };

// Deletes the partly written save file on every path that does not keep it. Declared
// before the file's handle, so the handle is closed first.
class FileRemover {
  public:
    FileRemover() = default;
    FileRemover(const FileRemover&) = delete;
    FileRemover& operator=(const FileRemover&) = delete;
    ~FileRemover() {
        if (path_ != nullptr) {
            (void)DeleteFileW(path_);
        }
    }
    void Arm(const std::wstring& path) { path_ = path.c_str(); }
    void Keep() { path_ = nullptr; }

  private:
    const wchar_t* path_ = nullptr;
};

bool IsRedirect(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

bool Fail(std::string& errorMessage, const std::string& message) {
    errorMessage = message;
    return false;
}

bool OpenExchange(const std::wstring& host, int port, const std::wstring& path, Exchange& exchange,
                  std::string& errorMessage) {
    // Wine honours a proxy only when the session is opened with it, so each attempt's
    // session is opened for its own URL (a redirect may lead past the proxy, or to another).
    const SessionProxy proxy = ChooseProxy(host, port, path);
    exchange.session.reset(WinHttpOpen(
        kUserAgent, proxy.access_type,
        proxy.proxy.empty() ? WINHTTP_NO_PROXY_NAME : proxy.proxy.c_str(),
        proxy.bypass.empty() ? WINHTTP_NO_PROXY_BYPASS : proxy.bypass.c_str(), 0));
    if (!exchange.session) {
        return Fail(errorMessage, kOpenFailed);
    }
    (void)WinHttpSetTimeouts(exchange.session.get(), kTimeoutMs, kTimeoutMs, kTimeoutMs,
                             kTimeoutMs);
    // ParseUrl admits only 1-65535, so the narrowing keeps the value.
    exchange.connection.reset(
        WinHttpConnect(exchange.session.get(), host.c_str(), static_cast<INTERNET_PORT>(port), 0));
    if (!exchange.connection) {
        return Fail(errorMessage, kConnectFailed);
    }
    exchange.request.reset(WinHttpOpenRequest(exchange.connection.get(), kVerb, path.c_str(),
                                              nullptr, WINHTTP_NO_REFERER,
                                              WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!exchange.request) {
        return Fail(errorMessage, kOpenRequestFailed);
    }
    if (!WinHttpSendRequest(exchange.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                            WINHTTP_NO_REQUEST_DATA, 0, 0, 0)) {
        return Fail(errorMessage, kSendFailed);
    }
    if (!WinHttpReceiveResponse(exchange.request.get(), nullptr)) {
        return Fail(errorMessage, kReceiveFailed);
    }
    return true;
}

DWORD QueryStatus(HINTERNET request) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    (void)WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                              WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                              WINHTTP_NO_HEADER_INDEX);
    return status;
}

// False when there is no Location or it does not fit the buffer with its terminator.
bool QueryLocation(HINTERNET request, std::string& target) {
    wchar_t location[kLocationBufferBytes / sizeof(wchar_t)] = {};
    DWORD size = kLocationBufferBytes;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_LOCATION, WINHTTP_HEADER_NAME_BY_INDEX,
                             location, &size, WINHTTP_NO_HEADER_INDEX)) {
        return false;
    }
    target.clear();
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, location, -1, nullptr, 0, nullptr, nullptr);
    if (bytes > 1) {
        target.resize(static_cast<std::size_t>(bytes));
        (void)WideCharToMultiByte(CP_UTF8, 0, location, -1, &target[0], bytes, nullptr, nullptr);
        target.resize(static_cast<std::size_t>(bytes) - 1);
    }
    return true;
}

// Content-Length read as text, so bodies of 4 GiB and more are counted right. Absent
// gives hasLength false; present but not a plain 64-bit decimal gives false.
bool QueryContentLength(HINTERNET request, bool& hasLength, std::uint64_t& length) {
    wchar_t text[kContentLengthUnits] = {};
    DWORD size = sizeof(text);
    hasLength = false;
    length = 0;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
        return GetLastError() == ERROR_WINHTTP_HEADER_NOT_FOUND;
    }
    const std::size_t units = size / sizeof(wchar_t);
    if (units == 0) {
        return false;
    }
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < units; ++i) {
        if (text[i] < L'0' || text[i] > L'9') {
            return false;
        }
        const std::uint64_t digit = static_cast<std::uint64_t>(text[i] - L'0');
        if (value > (UINT64_MAX - digit) / 10) {
            return false;
        }
        value = value * 10 + digit;
    }
    hasLength = true;
    length = value;
    return true;
}

bool WidenFileName(const std::string& name, std::wstring& wide) {
    if (name.empty()) {
        return false;
    }
    const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                                          static_cast<int>(name.size()), nullptr, 0);
    if (units <= 0) {
        return false;
    }
    wide.resize(static_cast<std::size_t>(units));
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name.data(),
                               static_cast<int>(name.size()), &wide[0], units) == units;
}

bool WriteAll(HANDLE file, const std::uint8_t* data, DWORD size) {
    DWORD written = 0;
    return WriteFile(file, data, size, &written, nullptr) && written == size;
}

bool CloseWriter(UniqueHandle& writer) { return CloseHandle(writer.release()) != FALSE; }

// Hashes the file as it now is on disk, through the handle that keeps it from changing.
// Read in large pieces: this pass re-reads the whole body, and under Wine each read is
// costly enough that 8 KiB pieces double its time.
bool HashFile(HANDLE file, Sha256::Digest& digest) {
    Sha256 hash;
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kVerifyBufferBytes]);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.get(), kVerifyBufferBytes, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            digest = hash.Finish();
            return true;
        }
        hash.Update(buffer.get(), read);
    }
}

// Streams the 200 body into the save file, then swaps the writer for a read handle that
// shares reading only and checks that the bytes on disk are the ones that arrived.
// From creation on, other processes may read the file but not write, rename or delete it.
bool SaveBody(HINTERNET request, const std::string& savePath, const ProgressCallback& progress,
              UniqueHandle* heldFile, std::string& errorMessage) {
    bool hasLength = false;
    std::uint64_t expected = 0;
    if (!QueryContentLength(request, hasLength, expected)) {
        return Fail(errorMessage, kBadContentLength);
    }
    std::wstring widePath;
    if (!WidenFileName(savePath, widePath)) {
        return Fail(errorMessage, kCreateFailed);
    }

    FileRemover remover;
    UniqueHandle writer =
        AdoptHandle(CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!writer) {
        return Fail(errorMessage, kCreateFailed);
    }
    remover.Arm(widePath);

    Sha256 hash;
    std::uint64_t received = 0;
    std::uint8_t buffer[kReadBufferBytes];
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer, kReadBufferBytes, &read)) {
            return Fail(errorMessage, kReadFailed);
        }
        if (read == 0) {
            break;
        }
        if (!WriteAll(writer.get(), buffer, read)) {
            return Fail(errorMessage, kWriteFailed);
        }
        hash.Update(buffer, read);
        received += read;
        if (hasLength && received > expected) {
            return Fail(errorMessage, kTooLong);
        }
        if (progress) {
            progress(received, expected);
        }
    }
    // A dropped connection ends the body like a clean end; only the length tells them apart.
    if (hasLength && received != expected) {
        return Fail(errorMessage, kIncomplete);
    }
    const Sha256::Digest arrived = hash.Finish();

    if (!CloseWriter(writer)) {
        return Fail(errorMessage, kCloseFailed);
    }
    // The writer is gone; whatever another process did in that moment, it either keeps this
    // open from succeeding or shows in the hash. The read handle still lets the file run.
    UniqueHandle reader =
        AdoptHandle(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!reader) {
        return Fail(errorMessage, kReopenFailed);
    }
    Sha256::Digest onDisk{};
    if (!HashFile(reader.get(), onDisk) || onDisk != arrived) {
        return Fail(errorMessage, kChangedOnDisk);
    }
    remover.Keep();
    if (heldFile != nullptr) {
        *heldFile = std::move(reader);
    }
    return true;
}

// One request: parse, open, send, receive; then follow, refuse or save.
Outcome RunAttempt(std::string& currentUrl, const std::string& savePath,
                   const ProgressCallback& progress, UniqueHandle* heldFile,
                   std::string& errorMessage) {
    std::wstring host;
    std::wstring path;
    int port = 0;
    if (!ParseUrl(currentUrl, host, port, path)) {
        Fail(errorMessage, kUrlParseFailed);
        return Outcome::kFailed;
    }
    Exchange exchange;
    if (!OpenExchange(host, port, path, exchange, errorMessage)) {
        return Outcome::kFailed;
    }
    const DWORD status = QueryStatus(exchange.request.get());
    if (IsRedirect(status) && QueryLocation(exchange.request.get(), currentUrl)) {
        return Outcome::kRedirected;
    }
    if (status != 200) {
        Fail(errorMessage, kStatusNotOk + std::to_string(status));
        return Outcome::kFailed;
    }
    return SaveBody(exchange.request.get(), savePath, progress, heldFile, errorMessage)
               ? Outcome::kSaved
               : Outcome::kFailed;
}

bool Download(const std::string& url, const std::string& savePath, std::string& errorMessage,
              const ProgressCallback& progress, UniqueHandle* heldFile) {
    std::string currentUrl = url;
    for (int attempt = 0; attempt < kMaxRequests; ++attempt) {
        switch (RunAttempt(currentUrl, savePath, progress, heldFile, errorMessage)) {
            case Outcome::kSaved:
                return true;
            case Outcome::kFailed:
                return false;
            case Outcome::kRedirected:
                break;
        }
    }
    return Fail(errorMessage, kTooManyRedirects);
}

}  // namespace

bool DownloadFile(const std::string& url, const std::string& savePath, std::string& errorMessage,
                  ProgressCallback progress, UniqueHandle* heldFile) {
    try {
        return Download(url, savePath, errorMessage, progress, heldFile);
    } catch (const std::bad_alloc&) {
        errorMessage = kOutOfMemory;
    } catch (const std::exception&) {
        errorMessage = kUnexpected;
    }
    return false;
}
