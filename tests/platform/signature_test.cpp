#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/unique_handle.h"
#include "install/setup_signature.h"
#include "installer_path.h"

namespace {

// The build signs the installer with the key of the publisher it pins (HALVEX_SIGNED_BY, the
// first pinned key HALVEX_SIGNED_BY_KEY), so the installer's own signature goes through the
// check it makes of the setup program.
TEST(InstallerSignature, VerifiesAsSignedByExactlyItsPublisherAndKey) {
    const char* signer = std::getenv("HALVEX_SIGNED_BY");
    const char* signerKey = std::getenv("HALVEX_SIGNED_BY_KEY");
    ASSERT_NE(signer, nullptr);
    ASSERT_NE(signerKey, nullptr);
    const std::string narrow = signer;
    const std::wstring publisher(narrow.begin(), narrow.end());
    const std::string key = signerKey;
    const std::string otherKey(64, 'a');
    const std::wstring path = InstallerPath();
    const UniqueHandle file = AdoptHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file) << "cannot open the installer";

    struct Pin {
        std::wstring name;
        std::string keys;
        bool accepted;
    };
    const Pin kPins[] = {
        {publisher, "", true},
        {publisher, key, true},
        {publisher, otherKey + ";" + key, true},
        {publisher, otherKey, false},
        {publisher, key.substr(1), false},
        {publisher.substr(0, publisher.size() - 1), key, false},
        {publisher + L" ", "", false},
        {L"", "", false},
    };
    for (const Pin& pin : kPins) {
        EXPECT_EQ(IsSignedByPublisher(file.get(), path.c_str(), pin.name.c_str(), pin.keys.c_str()),
                  pin.accepted)
            << "\"" << std::string(pin.name.begin(), pin.name.end()) << "\" keys \"" << pin.keys
            << "\"";
    }
}

}  // namespace
