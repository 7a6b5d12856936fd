// The setup program of the paced benchmark: it writes the moment it was launched, in seconds
// since 1970 (the clock the benchmark's own timer reads), to the file named by
// HALVEX_LAUNCH_STAMP, and exits. The moment is its process's creation time, which the
// system takes when the launcher calls CreateProcessW: the time Wine then needs to bring a
// new process up to its entry point belongs to neither launcher. bench/run.sh pads it with random
// bytes to the size it serves; a PE image ignores data appended after its sections.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/unique_handle.h"

namespace {

// Between 1601-01-01 and 1970-01-01, in 100 ns units.
constexpr std::uint64_t kUnixEpochTicks = 116444736000000000ull;

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
        return 1;
    }
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(created.dwHighDateTime) << 32) | created.dwLowDateTime;

    wchar_t path[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(L"HALVEX_LAUNCH_STAMP", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return 1;
    }
    const UniqueHandle file = AdoptHandle(CreateFileW(
        path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    char line[64];
    const int size = std::snprintf(line, sizeof(line), "%.7f\n",
                                   static_cast<double>(ticks - kUnixEpochTicks) / 1e7);
    DWORD written = 0;
    return file && size > 0 &&
                   WriteFile(file.get(), line, static_cast<DWORD>(size), &written, nullptr) &&
                   written == static_cast<DWORD>(size)
               ? 0
               : 1;
}
