#include <windows.h>

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "install/clean_room.h"
#include "install/setup_environment.h"

namespace {

bool IsSid(PSID sid, WELL_KNOWN_SID_TYPE type) { return IsWellKnownSid(sid, type) != FALSE; }

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void MakeFile(const std::wstring& path, DWORD attributes = FILE_ATTRIBUTE_NORMAL) {
    const UniqueHandle file = AdoptHandle(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, attributes, nullptr));
    ASSERT_TRUE(file) << "cannot make " << std::string(path.begin(), path.end());
}

// Wine neither keeps nor enforces a folder's descriptor (it reads back one made from the Unix
// mode), so what is checked here is the descriptor the folder is created with.
TEST(CleanRoom, SecurityAdmitsOnlySystemAndAdministratorsAndInheritsNothing) {
    const UniqueSecurityDescriptor security = CleanRoomSecurity();
    ASSERT_TRUE(security);
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(security.get(), &control, &revision));
    EXPECT_NE(control & SE_DACL_PROTECTED, 0) << "entries of the parent folder would flow in";

    PSID owner = nullptr;
    BOOL ownerDefaulted = FALSE;
    ASSERT_TRUE(GetSecurityDescriptorOwner(security.get(), &owner, &ownerDefaulted));
    ASSERT_NE(owner, nullptr);
    EXPECT_TRUE(IsSid(owner, WinBuiltinAdministratorsSid));

    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(security.get(), &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl != nullptr) << "no list at all would admit everyone";
    ASSERT_EQ(dacl->AceCount, 2);
    const WELL_KNOWN_SID_TYPE kAdmitted[] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* entry = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, &entry));
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
        EXPECT_EQ(allowed->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(allowed->Header.AceFlags, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(allowed->Mask, static_cast<ACCESS_MASK>(FILE_ALL_ACCESS));
        EXPECT_TRUE(IsSid(const_cast<DWORD*>(&allowed->SidStart), kAdmitted[i])) << i;
    }
}

// Whatever the setup program leaves in its folder goes with it.
TEST(CleanRoom, IsNewUnderWindowsTempAndGoesWithAllItHolds) {
    wchar_t windows[MAX_PATH] = {};
    ASSERT_NE(GetSystemWindowsDirectoryW(windows, MAX_PATH), 0u);
    const std::wstring temp = std::wstring(windows) + L"\\Temp\\";

    std::wstring first;
    {
        const CleanRoom room = MakeCleanRoom();
        const CleanRoom other = MakeCleanRoom();
        ASSERT_TRUE(room && other);
        first = *room;
        EXPECT_EQ(_wcsnicmp(first.c_str(), temp.c_str(), temp.size()), 0);
        EXPECT_NE(*room, *other);
        EXPECT_TRUE(Exists(first));
        MakeFile(first + L"\\halvex-nefo-setup.exe");
        MakeFile(first + L"\\read-only.dat", FILE_ATTRIBUTE_READONLY);
        ASSERT_TRUE(CreateDirectoryW((first + L"\\payload").c_str(), nullptr));
        MakeFile(first + L"\\payload\\part.bin");
    }
    EXPECT_FALSE(Exists(first));
}

// The setup program's TEMP, TMP and account variables replace the machine's whatever their
// case, look-alike names are kept, and the block is sorted as CreateProcess asks
// (case-insensitively).
TEST(CleanRoom, SetupEnvironmentSetsTheGivenVariablesOverTheMachines) {
    using namespace std::string_literals;
    const std::vector<EnvironmentVariable> kSet = {
        {L"TEMP", L"R"}, {L"TMP", L"R"}, {L"USERPROFILE", L"C:\\Users\\u"}};
    const struct {
        const char* name;
        std::wstring machine;
        std::wstring expected;
    } kCases[] = {
        {"replaced",
         L"=C:=C:\\x\0windir=w\0temp=u\0Path=p\0Tmp=u\0TMPDIR=k\0UserProfile=d\0TEMPLATE=t\0\0"s,
         L"=C:=C:\\x\0Path=p\0TEMP=R\0TEMPLATE=t\0TMP=R\0TMPDIR=k\0USERPROFILE=C:\\Users\\u\0"
         L"windir=w\0\0"s},
        {"added", L"Path=p\0\0"s, L"Path=p\0TEMP=R\0TMP=R\0USERPROFILE=C:\\Users\\u\0\0"s},
    };
    for (const auto& row : kCases) {
        EXPECT_EQ(EnvironmentBlock(row.machine.c_str(), kSet), row.expected) << row.name;
    }
}

TEST(CleanRoom, HomeVariablesAreSplitFromAProfileOnADriveOnly) {
    const struct {
        const wchar_t* profile;
        const wchar_t* drive;
        const wchar_t* path;
    } kCases[] = {
        {L"C:\\Users\\u", L"C:", L"\\Users\\u"},
        {L"d:\\p", L"d:", L"\\p"},
        {L"\\\\server\\share\\u", nullptr, nullptr},
        {L"C:", nullptr, nullptr},
        {L"", nullptr, nullptr},
    };
    for (const auto& row : kCases) {
        const std::vector<EnvironmentVariable> home = HomeVariables(row.profile);
        if (row.drive == nullptr) {
            EXPECT_TRUE(home.empty())
                << std::string(row.profile, row.profile + wcslen(row.profile));
            continue;
        }
        ASSERT_EQ(home.size(), 2u);
        EXPECT_EQ(home[0].name + L"=" + home[0].value, std::wstring(L"HOMEDRIVE=") + row.drive);
        EXPECT_EQ(home[1].name + L"=" + home[1].value, std::wstring(L"HOMEPATH=") + row.path);
    }
}

}  // namespace
