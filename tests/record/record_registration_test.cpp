// Registration against the prefix's real profile folder. Whatever .halvex folder
// was there before is moved aside and put back afterwards.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "record/record_scanner.h"
#include "record/register_product.h"
#include "tests/record/record_test_support.h"

namespace {

namespace fs = std::filesystem;
using Entries = std::vector<SoftwareEntry>;

const SoftwareEntry kDefaultRecord = {kChineseName, "6", "1"};

class Registration : public ::testing::Test {
  protected:
    void SetUp() override {
        wchar_t profile[MAX_PATH];
        ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile),
                  S_OK);
        folder_ = fs::path(profile) / L".halvex";
        file_ = folder_ / L"config.toml";
        saved_ = fs::path(profile) / L".halvex-kept-during-test";
        ASSERT_FALSE(fs::exists(saved_)) << "left over from an interrupted run";
        if (fs::exists(folder_)) {
            ASSERT_TRUE(MoveFileW(folder_.c_str(), saved_.c_str()));
        }
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
        if (fs::exists(saved_)) {
            EXPECT_TRUE(MoveFileW(saved_.c_str(), folder_.c_str()));
        }
    }

    void StageFile(const std::string& bytes) {
        ASSERT_TRUE(fs::create_directory(folder_));
        WriteWholeFile(file_, bytes);
    }

    fs::path folder_;
    fs::path file_;
    fs::path saved_;
};

TEST_F(Registration, FreshProfileGetsAHiddenFolderAndTheDefaultRecord) {
    RegisterProduct();
    EXPECT_EQ(GetFileAttributesW(folder_.c_str()),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(ReadWholeFile(file_), kDefaultRecordBytes);

    RegisterProduct();
    EXPECT_EQ(ReadWholeFile(file_), kDefaultRecordBytes);
}

// The durable replace is skipped when it would write the same bytes; anything else is
// still rewritten (the cases below).
TEST_F(Registration, UpToDateFileIsLeftUntouched) {
    StageFile(kDefaultRecordBytes);
    const auto staged = fs::last_write_time(file_) - std::chrono::hours(24);
    fs::last_write_time(file_, staged);
    RegisterProduct();
    EXPECT_EQ(ReadWholeFile(file_), kDefaultRecordBytes);
    EXPECT_EQ(fs::last_write_time(file_), staged);
}

TEST_F(Registration, ExistingFolderEndsWithHiddenAsItsOnlyAttribute) {
    ASSERT_TRUE(fs::create_directory(folder_));
    ASSERT_TRUE(SetFileAttributesW(folder_.c_str(), FILE_ATTRIBUTE_SYSTEM));
    RegisterProduct();
    EXPECT_EQ(GetFileAttributesW(folder_.c_str()),
              FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(ReadWholeFile(file_), kDefaultRecordBytes);
}

TEST_F(Registration, UpdatesTheFirstProductSixOrAppendsTheDefaultRecord) {
    struct Case {
        const char* what;
        std::string before;
        Entries after;
    };
    const std::vector<Case> cases = {
        {"other distributor updated, name kept",
         "[[software]]\nname = \"Old name\"\nproduct_id = \"6\"\ndistributor_id = \"7\"\n",
         {{"Old name", "6", "1"}}},
        {"only the first of two product 6 records changes",
         "[[software]]\nname = \"a\"\nproduct_id = \"6\"\ndistributor_id = \"7\"\n"
         "[[software]]\nname = \"b\"\nproduct_id = \"6\"\ndistributor_id = \"8\"\n",
         {{"a", "6", "1"}, {"b", "6", "8"}}},
        {"06 does not match",
         "[[software]]\nproduct_id = \"06\"\ndistributor_id = \"7\"\n",
         {{"", "06", "7"}, kDefaultRecord}},
        {"6 with a trailing space does not match",
         "[[software]]\nproduct_id = \"6\" \ndistributor_id = \"7\"\n",
         {{"", "6 ", "7"}, kDefaultRecord}},
        {"other products keep their order, the new record comes last",
         "[[software]]\nname = \"b\"\nproduct_id = \"3\"\n"
         "[[software]]\nname = \"a\"\nproduct_id = \"2\"\ndistributor_id = \"9\"\n",
         {{"b", "3", ""}, {"a", "2", "9"}, kDefaultRecord}},
        {"comments, other keys and id-less blocks vanish",
         "# kept by hand\n[[software]]\nname = \"orphan\"\ndistributor_id = \"4\"\n\n"
         "[[software]]\nchannel = \"beta\"\nname = \"p\"\nproduct_id = \"6\"\n",
         {{"p", "6", "1"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StageFile(c.before);
        RegisterProduct();
        EXPECT_EQ(ScanSoftwareEntries(ReadWholeFile(file_)), c.after);
        EXPECT_EQ(ReadWholeFile(file_), FormatSoftwareEntries(c.after));
        fs::remove_all(folder_);
    }
}

}  // namespace
