// The record folder and file on the real file system: reading, the written bytes, the
// replace that keeps the old file whenever a write cannot complete, and what is left alone.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "record/record_file.h"
#include "record/record_folder.h"
#include "tests/record/record_test_support.h"

namespace {

namespace fs = std::filesystem;

const std::string kOldBytes = "[[software]]\nname = \"old\"\nproduct_id = \"2\"\n";

std::vector<std::wstring> FolderNames(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().wstring());
    }
    return names;
}

// A record folder of its own in a profile-like folder, held as registration holds it.
class RecordFile : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        profile_ =
            fs::path(temp) / (L"halvex-record-file-" + std::to_wstring(GetCurrentProcessId()));
        fs::remove_all(profile_);
        ASSERT_TRUE(fs::create_directories(profile_));
        held_ = OpenRecordFolder(profile_.wstring());
        ASSERT_TRUE(held_);
        folder_ = profile_ / L".halvex";
        file_ = folder_ / L"config.toml";
    }
    void TearDown() override {
        held_.reset();
        std::error_code ignored;
        fs::remove_all(profile_, ignored);
    }

    fs::path profile_;
    fs::path folder_;
    fs::path file_;
    UniqueHandle held_;
};

TEST_F(RecordFile, ReadsMissingAndEmptyFilesAsEmptyAndLeavesOthersAlone) {
    EXPECT_EQ(ReadRecordBytes(held_.get()), std::string());
    WriteWholeFile(file_, "");
    EXPECT_EQ(ReadRecordBytes(held_.get()), std::string());

    const std::string largest(1u << 20, 'x');
    WriteWholeFile(file_, largest);
    EXPECT_EQ(ReadRecordBytes(held_.get()), largest);
    WriteWholeFile(file_, largest + "x");
    EXPECT_EQ(ReadRecordBytes(held_.get()), std::nullopt) << "larger than any real record";

    fs::remove(file_);
    ASSERT_TRUE(fs::create_directory(file_));
    EXPECT_EQ(ReadRecordBytes(held_.get()), std::nullopt) << "a folder";
}

TEST_F(RecordFile, ReadsWhileAnotherProcessHasItOpenForWriting) {
    WriteWholeFile(file_, kOldBytes);
    UniqueHandle writer = AdoptHandle(CreateFileW(file_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(ReadRecordBytes(held_.get()), kOldBytes);
}

TEST_F(RecordFile, WritesExactBytesAsAPlainFileAndLeavesNothingElse) {
    WriteWholeFile(file_, kOldBytes + kOldBytes);
    WriteRecordBytes(held_.get(), kDefaultRecordBytes);
    EXPECT_EQ(ReadWholeFile(file_), kDefaultRecordBytes);
    const DWORD unwanted = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_TEMPORARY;
    EXPECT_EQ(GetFileAttributesW(file_.c_str()) & unwanted, 0u);
    EXPECT_EQ(FolderNames(folder_), std::vector<std::wstring>{L"config.toml"});

    WriteRecordBytes(held_.get(), "");
    EXPECT_TRUE(fs::exists(file_));
    EXPECT_EQ(fs::file_size(file_), 0u);
    EXPECT_EQ(FolderNames(folder_), std::vector<std::wstring>{L"config.toml"});

    fs::remove(file_);
    WriteRecordBytes(held_.get(), kOldBytes);
    EXPECT_EQ(ReadWholeFile(file_), kOldBytes) << "created when missing";
}

// A replace that cannot happen must leave the old bytes in place and no temporary
// file behind. An in-place writer would already have truncated the locked file.
TEST_F(RecordFile, FailedReplaceKeepsTheOldFileAndRemovesTheTemporary) {
    // Wine replaces a read-only target where Windows refuses, so only open handles
    // without delete sharing can stage the refusal here.
    const struct {
        const char* what;
        DWORD access;
    } holders[] = {
        {"target held open by a reader", GENERIC_READ},
        {"target held open by another writer", GENERIC_WRITE},
    };
    for (const auto& holder : holders) {
        SCOPED_TRACE(holder.what);
        WriteWholeFile(file_, kOldBytes);
        {
            const UniqueHandle held = AdoptHandle(
                CreateFileW(file_.c_str(), holder.access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(held);
            WriteRecordBytes(held_.get(), kDefaultRecordBytes);
        }
        EXPECT_EQ(ReadWholeFile(file_), kOldBytes);
        EXPECT_EQ(FolderNames(folder_), std::vector<std::wstring>{L"config.toml"});
    }
}

TEST_F(RecordFile, WritingOverAFolderLeavesTheFolderAndNoTemporary) {
    ASSERT_TRUE(fs::create_directory(file_));
    WriteRecordBytes(held_.get(), kDefaultRecordBytes);
    EXPECT_TRUE(fs::is_directory(file_));
    EXPECT_EQ(FolderNames(folder_), std::vector<std::wstring>{L"config.toml"});
}

// A process killed between making the temporary file and the rename has its handles closed
// for it; the file must go with them.
TEST_F(RecordFile, TemporaryFileGoesWithItsHandleFromTheStart) {
    UniqueHandle temporary = CreateTemporaryRecord(held_.get());
    ASSERT_TRUE(temporary);
    ASSERT_EQ(FolderNames(folder_).size(), 1u);
    EXPECT_EQ(FolderNames(folder_)[0].rfind(L"config.toml.", 0), 0u);
    temporary.reset();
    EXPECT_EQ(FolderNames(folder_), std::vector<std::wstring>{});
}

TEST(TemporaryRecordName, IsNewEachTimeAndStaysInTheFolder) {
    const std::wstring first = NewTemporaryRecordName();
    const std::wstring second = NewTemporaryRecordName();
    EXPECT_NE(first, second);
    for (const std::wstring& name : {first, second}) {
        EXPECT_EQ(name.rfind(L"config.toml.", 0), 0u);
        EXPECT_EQ(name.size(), std::wstring(L"config.toml..tmp").size() + 32);
        EXPECT_EQ(name.find_first_of(L"\\/:"), std::wstring::npos);
    }
}

TEST(RecordFolderPath, OnlyTheNamedChildOfThatVeryFolderMatches) {
    const wchar_t kProfile[] = L"\\Device\\HarddiskVolume2\\Users\\ann";
    const struct {
        const wchar_t* path;
        bool expected;
    } cases[] = {
        {L"\\Device\\HarddiskVolume2\\Users\\ann\\.halvex", true},
        {L"\\Device\\HarddiskVolume2\\USERS\\Ann\\.Halvex", true},
        {L"\\Device\\HarddiskVolume2\\Users\\ann", false},
        {L"\\Device\\HarddiskVolume2\\Users\\ann\\.halvex2", false},
        {L"\\Device\\HarddiskVolume2\\Users\\ann\\.halvex\\.halvex", false},
        {L"\\Device\\HarddiskVolume2\\Users\\ann2\\.halvex", false},
        {L"\\Device\\HarddiskVolume2\\Windows\\System32\\.halvex", false},
        {L"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsPathOfChild(c.path, kProfile, L".halvex"), c.expected) << c.path;
    }
    EXPECT_FALSE(IsPathOfChild(L"\\.halvex", L"", L".halvex")) << "a folder whose path is unknown";
}

}  // namespace
