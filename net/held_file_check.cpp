#include "net/held_file_check.h"

#include <memory>

namespace {

// Under Wine each read costs enough that 8 KiB pieces would double the time of this pass.
constexpr DWORD kReadBytes = 256 * 1024;

}  // namespace

bool FileMatchesDigest(HANDLE file, std::uint64_t length, const Sha256::Digest& expected) {
    LARGE_INTEGER size{};
    const LARGE_INTEGER start{};
    if (!GetFileSizeEx(file, &size) || static_cast<std::uint64_t>(size.QuadPart) != length ||
        !SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    Sha256 hash;
    const std::unique_ptr<std::uint8_t[]> buffer(new std::uint8_t[kReadBytes]);
    std::uint64_t total = 0;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, buffer.get(), kReadBytes, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        hash.Update(buffer.get(), read);
        total += read;
    }
    return total == length && hash.Finish() == expected;
}
