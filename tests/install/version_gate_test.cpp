// The gate under the real VerifyVersionInfoW: a probe program is started under
// Wine's per-program version setting for each Windows release.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include "tests/support/test_support.h"

namespace {

constexpr wchar_t kProbeName[] = L"version_gate_probe.exe";
constexpr wchar_t kOverrideKey[] = L"Software\\Wine\\AppDefaults\\version_gate_probe.exe";

struct KeyCloser {
    void operator()(HKEY key) const { (void)RegCloseKey(key); }
};
using UniqueKey = std::unique_ptr<std::remove_pointer_t<HKEY>, KeyCloser>;

// Sets the probe's Windows version for as long as it lives.
class VersionOverride {
  public:
    explicit VersionOverride(const std::wstring& version) {
        HKEY key = nullptr;
        ok_ = RegCreateKeyExW(HKEY_CURRENT_USER, kOverrideKey, 0, nullptr, 0, KEY_SET_VALUE,
                              nullptr, &key, nullptr) == ERROR_SUCCESS;
        const UniqueKey owned(key);
        ok_ = ok_ && RegSetValueExW(key, L"Version", 0, REG_SZ,
                                    reinterpret_cast<const BYTE*>(version.c_str()),
                                    static_cast<DWORD>((version.size() + 1) * sizeof(wchar_t))) ==
                         ERROR_SUCCESS;
    }
    VersionOverride(const VersionOverride&) = delete;
    VersionOverride& operator=(const VersionOverride&) = delete;
    ~VersionOverride() { (void)RegDeleteKeyW(HKEY_CURRENT_USER, kOverrideKey); }
    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
};

// The probe's exit code, or -1 when it could not be run to its end.
long RunProbe(const std::wstring& arguments) {
    const ProcessRun run = RunProcess(BesideThisProgram(kProbeName), arguments);
    return run.ended ? static_cast<long>(run.exitCode) : -1;
}

TEST(VersionGate, RefusesExactlyVersionSixPointOne) {
    // Questions in bit order: the gate, then "at least" versions that pin down
    // how major, minor and service pack are compared.
    const std::wstring questions = L"gate 6.0.2 6.0.3 6.1.0 6.1.1 6.1.2 6.2.0 10.0.0";
    struct Case {
        const wchar_t* version;
        std::vector<bool> answers;
    };
    const Case cases[] = {
        {L"winxp64", {false, false, false, false, false, false, false, false}},
        {L"vista", {false, true, false, false, false, false, false, false}},
        {L"win2008", {false, true, false, false, false, false, false, false}},
        {L"win7", {true, true, true, true, true, false, false, false}},
        {L"win2008r2", {true, true, true, true, true, false, false, false}},
        {L"win8", {false, true, true, true, true, true, true, false}},
        // Without a manifest naming them, later systems answer as 6.2.
        {L"win81", {false, true, true, true, true, true, true, false}},
        {L"win10", {false, true, true, true, true, true, true, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "Windows version " << c.version);
        const VersionOverride override(c.version);
        ASSERT_TRUE(override.ok());
        const long code = RunProbe(questions);
        ASSERT_GE(code, 0);
        std::vector<bool> answers;
        for (size_t bit = 0; bit < c.answers.size(); ++bit) {
            answers.push_back((code >> bit) & 1);
        }
        EXPECT_EQ(answers, c.answers);
    }
}

}  // namespace
