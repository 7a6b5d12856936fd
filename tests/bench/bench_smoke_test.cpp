// A seconds-long run of each benchmark program on a small body from the fixture server:
// the bare loops must download the right bytes, the launcher see a window painted. No speed
// is judged.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "common/unique_handle.h"
#include "tests/net/server_test_support.h"

namespace {

constexpr DWORD kBoundMs = 120000;
constexpr std::size_t kBodyBytes = 1 << 20;

struct ProgramRun {
    DWORD exitCode = STILL_ACTIVE;
    std::map<std::string, std::string> fields;
};

// HALVEX_TEST_TOOLS is a Unix path; Wine shows it on its Z: drive.
std::wstring Tool(const wchar_t* name) {
    std::wstring path = L"Z:" + Widen(std::getenv("HALVEX_TEST_TOOLS")) + L"\\" + name;
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

// Runs a program with its standard output on a pipe, within the bound, and parses the
// key=value pairs of what it printed.
ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    ProgramRun run;
    if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        return run;
    }
    const UniqueHandle reader = AdoptHandle(readEnd);
    UniqueHandle writer = AdoptHandle(writeEnd);
    (void)SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writer.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                        nullptr, &startup, &created)) {
        return run;
    }
    const UniqueHandle thread = AdoptHandle(created.hThread);
    const UniqueHandle process = AdoptHandle(created.hProcess);
    writer.reset();

    std::string output;
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        output.append(buffer, read);
    }
    if (WaitForSingleObject(process.get(), kBoundMs) != WAIT_OBJECT_0) {
        (void)TerminateProcess(process.get(), 1);
        (void)WaitForSingleObject(process.get(), kBoundMs);
    }
    (void)GetExitCodeProcess(process.get(), &run.exitCode);

    std::istringstream words(output);
    std::string word;
    while (words >> word) {
        const std::size_t equals = word.find('=');
        if (equals != std::string::npos) {
            run.fields[word.substr(0, equals)] = word.substr(equals + 1);
        }
    }
    return run;
}

std::string Text(const ProgramRun& run, const std::string& key) {
    const auto found = run.fields.find(key);
    return found == run.fields.end() ? "" : found->second;
}

double Number(const ProgramRun& run, const std::string& key) {
    const auto found = run.fields.find(key);
    return found == run.fields.end() ? -1 : std::strtod(found->second.c_str(), nullptr);
}

class BenchSmokeTest : public ::testing::Test {
  protected:
    ProgramRun Download(const std::wstring& mode) {
        const std::string url =
            TestOrigin() + "/t/bytes/" + std::to_string(kBodyBytes) + "?bench=" + UniqueTag();
        return RunProgram(Tool(L"download_bench.exe"),
                          mode + L" " + Widen(url) + L" \"" + Widen(savePath_) + L"\"");
    }

    const std::string savePath_ = NewScratchFolder() + "body.bin";
};

TEST_F(BenchSmokeTest, EveryBareLoopFetchesTheWholeBody) {
    for (const wchar_t* mode : {L"winhttp", L"winhttp-8k", L"wininet"}) {
        SCOPED_TRACE(Narrow(mode));
        const ProgramRun run = Download(mode);
        EXPECT_EQ(run.exitCode, 0u);
        EXPECT_EQ(Text(run, "ok"), "1") << Text(run, "error");
        EXPECT_EQ(Number(run, "bytes"), static_cast<double>(kBodyBytes));
        EXPECT_TRUE(ReadWholeFile(savePath_) == PatternBytes(kBodyBytes));
    }
}

// hyperfine takes a run that exits 0 for one that fetched the file.
TEST_F(BenchSmokeTest, AFailedDownloadExitsNonZero) {
    const ProgramRun run = RunProgram(
        Tool(L"download_bench.exe"),
        L"winhttp-8k " + Widen(TestOrigin() + "/t/status/404") + L" \"" + Widen(savePath_) + L"\"");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(Text(run, "ok"), "0");
}

TEST_F(BenchSmokeTest, LauncherSeesTheMinimalWindowShownAndPainted) {
    const ProgramRun run =
        RunProgram(Tool(L"startup_launcher.exe"), L"HalvexStartupFloor 150 120 7582E1 60000 \"" +
                                                      Tool(L"startup_floor.exe") + L"\"");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Text(run, "ok"), "1");
    EXPECT_GT(Number(run, "visible_ms"), 0);
    EXPECT_GE(Number(run, "paint_ms"), Number(run, "visible_ms"));
}

TEST_F(BenchSmokeTest, LauncherGivesUpOnAColourTheWindowNeverShows) {
    const ProgramRun run =
        RunProgram(Tool(L"startup_launcher.exe"), L"HalvexStartupFloor 150 120 010203 3000 \"" +
                                                      Tool(L"startup_floor.exe") + L"\"");
    EXPECT_EQ(run.exitCode, 1u);
    EXPECT_EQ(Text(run, "ok"), "0");
    // The program was ended with its job, so no window of it is left behind.
    EXPECT_EQ(FindWindowW(L"HalvexStartupFloor", nullptr), nullptr);
}

TEST_F(BenchSmokeTest, SizeFloorReallyMatchesUrls) {
    EXPECT_EQ(RunProgram(Tool(L"size_floor.exe"), L"https://localhost:4443/x").exitCode, 0u);
    EXPECT_EQ(RunProgram(Tool(L"size_floor.exe"), L"ftp://localhost/x").exitCode, 1u);
}

}  // namespace
