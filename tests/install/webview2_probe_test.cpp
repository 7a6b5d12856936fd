// Runtime detection against real folders in the prefix's drive C. The runtime's
// folders are created for each case and removed again.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "install/webview2_probe.h"

namespace {

namespace fs = std::filesystem;

const fs::path kX86Vendor = L"C:\\Program Files (x86)\\Microsoft";
const fs::path kX64Vendor = L"C:\\Program Files\\Microsoft";
const fs::path kX86Base = kX86Vendor / L"EdgeWebView" / L"Application";
const fs::path kX64Base = kX64Vendor / L"EdgeWebView" / L"Application";

struct Entry {
    fs::path path;
    bool folder;
};

class WebView2Folders : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const fs::path& vendor : {kX86Vendor, kX64Vendor}) {
            ASSERT_FALSE(fs::exists(vendor / L"EdgeWebView")) << "the prefix has its own runtime";
            createdVendor_.push_back(!fs::exists(vendor));
        }
    }
    void TearDown() override { RemoveStaged(); }

    void Stage(const std::vector<Entry>& entries) {
        for (const Entry& entry : entries) {
            fs::create_directories(entry.folder ? entry.path : entry.path.parent_path());
            if (!entry.folder) {
                std::ofstream(entry.path) << "x";
            }
        }
    }

    void RemoveStaged() {
        const fs::path vendors[] = {kX86Vendor, kX64Vendor};
        for (size_t i = 0; i < 2; ++i) {
            std::error_code ignored;
            fs::remove_all(createdVendor_.at(i) ? vendors[i] : vendors[i] / L"EdgeWebView",
                           ignored);
        }
    }

    std::vector<bool> createdVendor_;
};

TEST_F(WebView2Folders, FindsAMarkerOnlyInASubfolderOfEitherBase) {
    struct Case {
        const char* what;
        std::vector<Entry> entries;
        bool present;
    };
    const std::vector<Case> cases = {
        {"neither base present", {}, false},
        {"empty bases", {{kX86Base, true}, {kX64Base, true}}, false},
        {"library in a version folder of the x86 base",
         {{kX86Base / L"120.0.2210.91" / L"EmbeddedBrowserWebView.dll", false}},
         true},
        {"executable alone in a version folder of the x86 base",
         {{kX86Base / L"120.0.2210.91" / L"msedgewebview2.exe", false}},
         true},
        {"library alone under the x64 base",
         {{kX64Base / L"121.0.1" / L"EmbeddedBrowserWebView.dll", false}},
         true},
        {"executable alone under the x64 base after an x86 base without one",
         {{kX86Base / L"121.0.1" / L"setup.exe", false},
          {kX64Base / L"121.0.1" / L"msedgewebview2.exe", false}},
         true},
        {"markers directly in the bases",
         {{kX86Base / L"EmbeddedBrowserWebView.dll", false},
          {kX86Base / L"msedgewebview2.exe", false},
          {kX64Base / L"EmbeddedBrowserWebView.dll", false},
          {kX64Base / L"msedgewebview2.exe", false}},
         false},
        {"markers two levels down",
         {{kX86Base / L"120.0" / L"bin" / L"EmbeddedBrowserWebView.dll", false},
          {kX64Base / L"120.0" / L"bin" / L"msedgewebview2.exe", false}},
         false},
        {"only plain files in the bases, named like folders or markers",
         {{kX86Base / L"120.0.2210.91", false},
          {kX86Base / L"msedgewebview2.exe", false},
          {kX64Base / L"EmbeddedBrowserWebView.dll", false}},
         false},
        {"a folder named like a marker",
         {{kX64Base / L"120.0" / L"msedgewebview2.exe", true}},
         true},
        {"a subfolder whose name starts with a dot",
         {{kX86Base / L".staged" / L"EmbeddedBrowserWebView.dll", false}},
         true},
        {"a marker beside the bases, in their parent",
         {{kX86Base.parent_path() / L"msedgewebview2.exe", false}, {kX64Base / L"1.0", true}},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Stage(c.entries);
        EXPECT_EQ(IsWebView2RuntimePresent(), c.present);
        RemoveStaged();
    }
}

}  // namespace
