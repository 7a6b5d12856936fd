// A seconds-long run of each benchmark program on a small body from the fixture server:
// the bare loops must download the right bytes, the launcher see a window painted. No speed
// is judged.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>

#include "tests/net/server_test_support.h"

namespace {

constexpr std::size_t kBodyBytes = 1 << 20;

struct ProgramRun {
    DWORD exitCode = STILL_ACTIVE;
    std::map<std::string, std::string> fields;
};

// The benchmark programs are built beside this one.
std::wstring Tool(const wchar_t* name) { return BesideThisProgram(name); }

// Runs a program within the bound and parses the key=value pairs of what it printed.
ProgramRun RunProgram(const std::wstring& program, const std::wstring& arguments) {
    const ProcessRun process = RunProcess(program, arguments, true);
    ProgramRun run;
    run.exitCode = process.exitCode;
    std::istringstream words(process.output);
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

// The launcher on the minimal window, waiting for the colour at its probe for at most timeoutMs.
ProgramRun LaunchFloor(const std::wstring& colour, const std::wstring& timeoutMs) {
    return RunProgram(Tool(L"startup_launcher.exe"), L"HalvexStartupFloor 150 120 " + colour +
                                                         L" " + timeoutMs + L" \"" +
                                                         Tool(L"startup_floor.exe") + L"\"");
}

TEST_F(BenchSmokeTest, LauncherSeesTheMinimalWindowShownAndPainted) {
    const ProgramRun run = LaunchFloor(L"7582E1", L"60000");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Text(run, "ok"), "1");
    EXPECT_GT(Number(run, "visible_ms"), 0);
    EXPECT_GE(Number(run, "paint_ms"), Number(run, "visible_ms"));
}

TEST_F(BenchSmokeTest, LauncherGivesUpOnAColourTheWindowNeverShows) {
    const ProgramRun run = LaunchFloor(L"010203", L"3000");
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
