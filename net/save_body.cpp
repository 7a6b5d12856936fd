#include "net/save_body.h"

#include <cstdint>
#include <utility>

#include "common/delete_on_close.h"
#include "common/write_all.h"
#include "net/download_failure.h"

namespace {

constexpr DWORD kReadBytes = 8192;
// Longest Content-Length text worth reading: 20 digits hold every 64-bit value.
constexpr DWORD kContentLengthUnits = 32;

constexpr char kBadContentLength[] = "invalid Content-Length";
constexpr char kCreateFailed[] = "failed to create save file";
constexpr char kReadFailed[] = "WinHttpReadData failed";
constexpr char kWriteFailed[] = "failed to write save file";
constexpr char kCloseFailed[] = "failed to close save file";
constexpr char kIncomplete[] = "download incomplete";
constexpr char kTooLong[] = "download longer than Content-Length";
constexpr char kReopenFailed[] = "failed to reopen save file";

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

bool CloseWriter(UniqueHandle& writer) { return CloseHandle(writer.release()) != FALSE; }

}  // namespace

// From creation on, other processes may not write, rename or delete the file, and until the
// body is complete it is marked for deletion, so a part written by a process that ends (the
// window closed during the download) goes with it; never registered for removal at restart.
// The writer must be closed before the file can run; the read handle that replaces it shares
// reading only. In the moment between the two only the folder's security keeps others out,
// and the signature check reads through the read handle.
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

    UniqueHandle writer =
        AdoptHandle(CreateFileW(widePath.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!writer || !SetDeleteOnClose(writer.get(), true)) {
        return Fail(errorMessage, kCreateFailed);
    }

    std::uint64_t received = 0;
    std::uint8_t buffer[kReadBytes];
    for (;;) {
        DWORD read = 0;
        if (!WinHttpReadData(request, buffer, kReadBytes, &read)) {
            return Fail(errorMessage, kReadFailed);
        }
        if (read == 0) {
            break;
        }
        if (!WriteAll(writer.get(), buffer, read)) {
            return Fail(errorMessage, kWriteFailed);
        }
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

    if (!SetDeleteOnClose(writer.get(), false) || !CloseWriter(writer)) {
        (void)DeleteFileW(widePath.c_str());
        return Fail(errorMessage, kCloseFailed);
    }
    UniqueHandle reader =
        AdoptHandle(CreateFileW(widePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!reader) {
        (void)DeleteFileW(widePath.c_str());
        return Fail(errorMessage, kReopenFailed);
    }
    if (heldFile != nullptr) {
        *heldFile = std::move(reader);
    }
    return true;
}
