#include "tests/net/server_test_support.h"

#include <atomic>
#include <fstream>

namespace {

// Reads the string value of "key" in one JSON line the server wrote (escapes as json.dumps
// writes them for ASCII text).
std::string JsonField(const std::string& line, const std::string& key) {
    const std::string marker = "\"" + key + "\": \"";
    std::size_t at = line.find(marker);
    if (at == std::string::npos) {
        return "";
    }
    std::string value;
    for (at += marker.size(); at < line.size() && line[at] != '"'; ++at) {
        if (line[at] == '\\' && at + 1 < line.size()) {
            ++at;
        }
        value.push_back(line[at]);
    }
    return value;
}

}  // namespace

std::string TestOrigin() {
    // Wine's certificate check matches the host name against DNS names only, never an IP
    // address in the certificate, so the server is reached by the name it also carries.
    std::string origin = Environment("HALVEX_TEST_ORIGIN");
    const std::string ip = "127.0.0.1";
    const std::size_t at = origin.find(ip);
    if (at != std::string::npos) {
        origin.replace(at, ip.size(), "localhost");
    }
    return origin;
}

std::string UniqueTag() {
    static std::atomic<int> counter{0};
    // Wine reuses process ids, and the server's log outlives a test process: the moment
    // this process first asked keeps its tags apart from an earlier process's.
    static const ULONGLONG start = [] {
        LARGE_INTEGER now{};
        (void)QueryPerformanceCounter(&now);
        return static_cast<ULONGLONG>(now.QuadPart);
    }();
    // The closing "z" keeps one tag from being the start of another ("x1z" is not in "x10z").
    return "t" + std::to_string(GetCurrentProcessId()) + "y" + std::to_string(start) + "x" +
           std::to_string(++counter) + "z";
}

std::vector<LoggedRequest> LoggedRequestsWith(const std::string& tag) {
    std::vector<LoggedRequest> found;
    std::ifstream log(WinePath(Environment("HALVEX_TEST_SERVER_LOG")).c_str(), std::ios::binary);
    std::string line;
    while (std::getline(log, line)) {
        LoggedRequest request{JsonField(line, "path"), JsonField(line, "user_agent")};
        if (request.path.find(tag) != std::string::npos) {
            found.push_back(request);
        }
    }
    return found;
}

std::string PatternBytes(std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>(i % 251);
    }
    return bytes;
}

std::string NewScratchFolder() {
    wchar_t temp[MAX_PATH] = {};
    (void)GetTempPathW(MAX_PATH, temp);
    // Wine reuses process ids, so a tag can name a folder an earlier test process left
    // behind: only a folder made here and now counts as new.
    for (;;) {
        const std::wstring folder =
            std::wstring(temp) + L"halvex-net-" + Widen(UniqueTag()) + L"\\";
        if (CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() != ERROR_ALREADY_EXISTS) {
            return Narrow(folder);
        }
    }
}
