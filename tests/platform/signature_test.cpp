#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/unique_handle.h"
#include "install/setup_signature.h"
#include "installer_path.h"

namespace {

// The build signs the installer with the key of the publisher it pins (HALVEX_SIGNED_BY),
// so the installer's own signature goes through the check it makes of the setup program.
TEST(InstallerSignature, VerifiesAsSignedByExactlyItsPublisher) {
    const char* signer = std::getenv("HALVEX_SIGNED_BY");
    ASSERT_NE(signer, nullptr);
    const std::string narrow = signer;
    const std::wstring publisher(narrow.begin(), narrow.end());
    const std::wstring path = InstallerPath();
    const UniqueHandle file = AdoptHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file) << "cannot open the installer";

    EXPECT_TRUE(IsSignedByPublisher(file.get(), path.c_str(), publisher.c_str()));
    for (const std::wstring& other :
         {publisher.substr(0, publisher.size() - 1), publisher + L" ", std::wstring(L"")}) {
        EXPECT_FALSE(IsSignedByPublisher(file.get(), path.c_str(), other.c_str()))
            << "accepted as \"" << std::string(other.begin(), other.end()) << "\"";
    }
}

}  // namespace
