#include "record/register_product.h"

#include <windows.h>
#include <shlobj.h>

#include <optional>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "record/record_file.h"
#include "record/record_folder.h"
#include "record/record_scanner.h"

namespace {

constexpr char kProductId[] = "6";
constexpr char kDistributorId[] = "1";
// "halvex青禾工坊" in UTF-8, spelled as bytes so every compiler stores the same.
constexpr char kProductName[] = "halvex\xE9\x9D\x92\xE7\xA6\xBE\xE5\xB7\xA5\xE5\x9D\x8A";

void UpdateOrAppendProduct(std::vector<SoftwareEntry>& entries) {
    for (SoftwareEntry& entry : entries) {
        if (entry.product_id == kProductId) {
            entry.distributor_id = kDistributorId;
            return;
        }
    }
    entries.push_back(SoftwareEntry{kProductName, kProductId, kDistributorId});
}

void RegisterInProfile() {
    wchar_t profile[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, SHGFP_TYPE_CURRENT, profile))) {
        return;
    }
    const UniqueHandle folder = OpenRecordFolder(profile);
    if (!folder) {
        return;
    }
    const std::optional<std::string> current = ReadRecordBytes(folder.get());
    if (!current) {
        return;
    }
    std::vector<SoftwareEntry> entries = ScanSoftwareEntries(*current);
    UpdateOrAppendProduct(entries);
    // A file that already holds exactly what would be written is left as it is: its
    // durable replace (flush, then rename) is the dearest step before the window shows.
    const std::string bytes = FormatSoftwareEntries(entries);
    if (bytes != *current) {
        WriteRecordBytes(folder.get(), bytes);
    }
}

}  // namespace

void RegisterProduct() noexcept {
    // Registration must never stop the installer: allocation failures and other
    // library errors are dropped like the file system's.
    try {
        RegisterInProfile();
    } catch (...) {
    }
}
