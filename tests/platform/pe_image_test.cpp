#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "installer_path.h"

namespace {

// The installer's image as it lies in the file, read with bounds checks: a truncated or
// malformed header yields zeros, and the tests then fail on the values.
class PeImage {
  public:
    explicit PeImage(std::vector<char> bytes) : bytes_(std::move(bytes)) {
        const auto dos = Read<IMAGE_DOS_HEADER>(0);
        if (dos.e_magic != IMAGE_DOS_SIGNATURE) return;
        nt_offset_ = static_cast<size_t>(dos.e_lfanew);
        nt_ = Read<IMAGE_NT_HEADERS64>(nt_offset_);
    }
    bool valid() const {
        return nt_.Signature == IMAGE_NT_SIGNATURE &&
               nt_.OptionalHeader.Magic == IMAGE_NT_OPTIONAL_HDR64_MAGIC;
    }
    const IMAGE_NT_HEADERS64& nt() const { return nt_; }

    // Names of the DLLs in the import directory (loaded at start), lower case.
    std::vector<std::string> StartImportedDlls() const {
        std::vector<std::string> names;
        const auto& dirs = nt_.OptionalHeader.DataDirectory;
        for (size_t at = FileOffset(dirs[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress); at;
             at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
            const auto entry = Read<IMAGE_IMPORT_DESCRIPTOR>(at);
            if (entry.Name == 0) break;
            names.push_back(Name(entry.Name));
        }
        return names;
    }

    // Names of the DLLs in the import and delay-import directories, lower case.
    std::vector<std::string> ImportedDlls() const {
        std::vector<std::string> names = StartImportedDlls();
        const auto& dirs = nt_.OptionalHeader.DataDirectory;
        for (size_t at = FileOffset(dirs[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT].VirtualAddress); at;
             at += sizeof(IMAGE_DELAYLOAD_DESCRIPTOR)) {
            const auto entry = Read<IMAGE_DELAYLOAD_DESCRIPTOR>(at);
            if (entry.DllNameRVA == 0) break;
            names.push_back(Name(entry.DllNameRVA));
        }
        return names;
    }

  private:
    template <typename T>
    T Read(size_t offset) const {
        T value{};
        if (offset <= bytes_.size() && sizeof(T) <= bytes_.size() - offset) {
            std::memcpy(&value, bytes_.data() + offset, sizeof(T));
        }
        return value;
    }

    // 0 for an address outside every section (or 0 itself).
    size_t FileOffset(DWORD rva) const {
        if (rva == 0) return 0;
        const size_t sections = nt_offset_ + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                nt_.FileHeader.SizeOfOptionalHeader;
        for (WORD i = 0; i < nt_.FileHeader.NumberOfSections; ++i) {
            const auto s = Read<IMAGE_SECTION_HEADER>(sections + i * sizeof(IMAGE_SECTION_HEADER));
            if (rva >= s.VirtualAddress && rva < s.VirtualAddress + s.SizeOfRawData) {
                return s.PointerToRawData + (rva - s.VirtualAddress);
            }
        }
        return 0;
    }

    std::string Name(DWORD rva) const {
        std::string name;
        for (size_t at = FileOffset(rva); at && at < bytes_.size() && bytes_[at]; ++at) {
            name += static_cast<char>(std::tolower(static_cast<unsigned char>(bytes_[at])));
        }
        return name;
    }

    std::vector<char> bytes_;
    size_t nt_offset_ = 0;
    IMAGE_NT_HEADERS64 nt_{};
};

class InstallerImage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        const std::string bytes = ReadWholeFile(InstallerPath());
        image_ = new PeImage(std::vector<char>(bytes.begin(), bytes.end()));
    }
    static void TearDownTestSuite() {
        delete image_;
        image_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(image_->valid()) << "not a 64-bit PE image"; }
    static const PeImage& Image() { return *image_; }

  private:
    static PeImage* image_;
};
PeImage* InstallerImage::image_ = nullptr;

TEST_F(InstallerImage, IsA64BitGuiProgramWithoutATimestamp) {
    const auto& nt = Image().nt();
    EXPECT_EQ(nt.FileHeader.Machine, IMAGE_FILE_MACHINE_AMD64);
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
    // Two builds of one commit must give the same bytes.
    EXPECT_EQ(nt.FileHeader.TimeDateStamp, 0u);
}

TEST_F(InstallerImage, ImportsOnlyWindowsSystemDlls) {
    const std::set<std::string> system = {
        "kernel32.dll", "user32.dll",   "gdi32.dll", "comctl32.dll", "shell32.dll", "shlwapi.dll",
        "winhttp.dll",  "advapi32.dll", "ole32.dll", "msvcrt.dll",   "crypt32.dll", "bcrypt.dll",
        "wintrust.dll", "oleaut32.dll", "ntdll.dll", "userenv.dll"};
    const std::vector<std::string> dlls = Image().ImportedDlls();
    EXPECT_NE(std::find(dlls.begin(), dlls.end(), "kernel32.dll"), dlls.end())
        << "the import directory was not found";
    for (const std::string& dll : dlls) {
        // The universal C runtime arrives through API sets.
        const bool api_set = dll.rfind("api-ms-win-", 0) == 0;
        EXPECT_TRUE(system.count(dll) || api_set) << dll << " is not a Windows system DLL";
    }
}

// A DLL imported at start is looked for beside the exe (a Downloads folder) before wWinMain
// limits the search, unless Windows maps it as a known DLL; every other DLL is delay-loaded.
// Known here: what both Windows 7 and Windows 10/11 list under the registry key
// HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs (it must load on Windows 7
// to refuse it), ntdll.dll (always mapped first) and API sets (resolved by the loader, never
// searched for).
TEST_F(InstallerImage, LoadsNoDllOutsideTheKnownListAtStart) {
    const std::set<std::string> known = {
        "advapi32.dll", "clbcatq.dll", "comdlg32.dll", "difxapi.dll",  "gdi32.dll",
        "imagehlp.dll", "imm32.dll",   "kernel32.dll", "msctf.dll",    "msvcrt.dll",
        "normaliz.dll", "nsi.dll",     "ole32.dll",    "oleaut32.dll", "psapi.dll",
        "rpcrt4.dll",   "sechost.dll", "setupapi.dll", "shell32.dll",  "shlwapi.dll",
        "user32.dll",   "wldap32.dll", "ws2_32.dll",   "ntdll.dll"};
    const std::vector<std::string> atStart = Image().StartImportedDlls();
    EXPECT_EQ(std::count(atStart.begin(), atStart.end(), "kernel32.dll"), 1)
        << "the import directory was not found";
    for (const std::string& dll : atStart) {
        const bool apiSet = dll.rfind("api-ms-win-", 0) == 0 || dll.rfind("ext-ms-", 0) == 0;
        EXPECT_TRUE(known.count(dll) || apiSet) << dll << " is imported at start";
    }
}

}  // namespace
