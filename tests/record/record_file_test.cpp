// The record file on the real file system: reading, the written bytes, and the
// replace that keeps the old file whenever a write cannot complete.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "record/record_file.h"
#include "tests/record/record_test_support.h"

namespace {

namespace fs = std::filesystem;
using Entries = std::vector<SoftwareEntry>;

const std::string kOldBytes = "[[software]]\nname = \"old\"\nproduct_id = \"2\"\n";

std::vector<std::wstring> FolderNames(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().wstring());
    }
    return names;
}

class RecordFile : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        ASSERT_NE(GetTempPathW(MAX_PATH, temp), 0u);
        folder_ =
            fs::path(temp) / (L"halvex-record-file-" + std::to_wstring(GetCurrentProcessId()));
        fs::remove_all(folder_);
        ASSERT_TRUE(fs::create_directories(folder_));
        file_ = folder_ / L"config.toml";
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    fs::path folder_;
    fs::path file_;
};

TEST_F(RecordFile, ReadsNoRecordsFromMissingEmptyOrFolderPaths) {
    EXPECT_TRUE(ReadSoftwareEntries(file_.wstring()).empty());
    WriteBytes(file_, "");
    EXPECT_TRUE(ReadSoftwareEntries(file_.wstring()).empty());
    EXPECT_TRUE(ReadSoftwareEntries(folder_.wstring()).empty());
}

TEST_F(RecordFile, ReadsWhileAnotherProcessHasItOpenForWriting) {
    WriteBytes(file_, kOldBytes);
    UniqueHandle writer = AdoptHandle(CreateFileW(file_.c_str(), GENERIC_READ | GENERIC_WRITE,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer);
    EXPECT_EQ(ReadSoftwareEntries(file_.wstring()), (Entries{{"old", "2", ""}}));
}

TEST_F(RecordFile, ReadsBackAFileLargerThanOneReadBuffer) {
    Entries many;
    for (int i = 0; i < 2000; ++i) {
        many.push_back({"product " + std::to_string(i), std::to_string(i + 1), "1"});
    }
    WriteSoftwareEntries(file_.wstring(), many);
    EXPECT_EQ(ReadSoftwareEntries(file_.wstring()), many);
}

TEST_F(RecordFile, WritesExactBytesAsAPlainFileAndLeavesNothingElse) {
    WriteBytes(file_, kOldBytes + kOldBytes);
    WriteSoftwareEntries(file_.wstring(), {{kChineseName, "6", "1"}});
    EXPECT_EQ(ReadBytes(file_), kDefaultRecordBytes);
    EXPECT_EQ(ReadSoftwareEntries(file_.wstring()), (Entries{{kChineseName, "6", "1"}}));
    const DWORD unwanted = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_TEMPORARY;
    EXPECT_EQ(GetFileAttributesW(file_.c_str()) & unwanted, 0u);
    EXPECT_EQ(FolderNames(folder_), std::vector<std::wstring>{L"config.toml"});

    WriteSoftwareEntries(file_.wstring(), {});
    EXPECT_TRUE(fs::exists(file_));
    EXPECT_EQ(fs::file_size(file_), 0u);
    EXPECT_EQ(FolderNames(folder_), std::vector<std::wstring>{L"config.toml"});
}

TEST_F(RecordFile, CreatesTheFileWhenMissingButNotItsFolder) {
    WriteSoftwareEntries(file_.wstring(), {{"a", "6", "1"}});
    EXPECT_EQ(ReadSoftwareEntries(file_.wstring()), (Entries{{"a", "6", "1"}}));

    const fs::path nowhere = folder_ / L"missing" / L"config.toml";
    WriteSoftwareEntries(nowhere.wstring(), {{"a", "6", "1"}});
    EXPECT_FALSE(fs::exists(nowhere.parent_path()));
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
        WriteBytes(file_, kOldBytes);
        {
            const UniqueHandle held = AdoptHandle(
                CreateFileW(file_.c_str(), holder.access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
            ASSERT_TRUE(held);
            WriteSoftwareEntries(file_.wstring(), {{kChineseName, "6", "1"}});
        }
        EXPECT_EQ(ReadBytes(file_), kOldBytes);
        EXPECT_EQ(FolderNames(folder_), std::vector<std::wstring>{L"config.toml"});
    }
}

TEST_F(RecordFile, WritingOverAFolderLeavesTheFolderAndNoTemporary) {
    ASSERT_TRUE(fs::create_directory(file_));
    WriteSoftwareEntries(file_.wstring(), {{"a", "6", "1"}});
    EXPECT_TRUE(fs::is_directory(file_));
    EXPECT_EQ(FolderNames(folder_), std::vector<std::wstring>{L"config.toml"});
}

}  // namespace
