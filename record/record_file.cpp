#include "record/record_file.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>

#include "common/unique_handle.h"
#include "record/record_scanner.h"

namespace {

// Removes the temporary file on every path on which the rename did not consume it.
class TemporaryFile {
  public:
    explicit TemporaryFile(std::wstring path) : path_(std::move(path)) {}
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (!consumed_) {
            (void)DeleteFileW(path_.c_str());
        }
    }
    const std::wstring& path() const { return path_; }
    void MarkConsumed() { consumed_ = true; }

  private:
    std::wstring path_;
    bool consumed_ = false;
};

bool WriteAll(HANDLE file, const std::string& bytes) {
    constexpr size_t kMaxChunk = 1u << 30;
    size_t offset = 0;
    while (offset < bytes.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min(bytes.size() - offset, kMaxChunk));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + offset, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        offset += written;
    }
    return true;
}

// Writes the bytes to the temporary file and makes them durable; the caller
// renames it over the target only when this succeeded.
bool WriteDurably(const std::wstring& path, const std::string& bytes) {
    UniqueHandle file = AdoptHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return false;
    }
    if (!WriteAll(file.get(), bytes) || !FlushFileBuffers(file.get())) {
        return false;
    }
    return CloseHandle(file.release()) != FALSE;
}

}  // namespace

std::string ReadRecordBytes(const std::wstring& path) {
    UniqueHandle file =
        AdoptHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return {};
    }
    std::string bytes;
    char buffer[8192];
    DWORD read = 0;
    while (ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        bytes.append(buffer, read);
    }
    return bytes;
}

std::vector<SoftwareEntry> ReadSoftwareEntries(const std::wstring& path) {
    return ScanSoftwareEntries(ReadRecordBytes(path));
}

void WriteSoftwareEntries(const std::wstring& path, const std::vector<SoftwareEntry>& entries) {
    const std::string bytes = FormatSoftwareEntries(entries);
    // Same folder, so the rename stays on one volume; plain attributes, since the
    // replaced file takes them over. The process id keeps two writers apart.
    TemporaryFile temporary(path + L"." + std::to_wstring(GetCurrentProcessId()) + L".tmp");
    if (!WriteDurably(temporary.path(), bytes)) {
        return;
    }
    if (MoveFileExW(temporary.path().c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        temporary.MarkConsumed();
    }
}
