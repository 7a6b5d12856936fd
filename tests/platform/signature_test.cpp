#include <windows.h>

#include <gtest/gtest.h>

#include <wincrypt.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "common/unique_handle.h"
#include "install/setup_signature.h"
#include "install/signature_time.h"
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

using UniqueCertificate =
    std::unique_ptr<const CERT_CONTEXT, decltype(&CertFreeCertificateContext)>;

// A certificate of the build's signing folder (HALVEX_SIGNING_DIR, a Linux path), DER or PEM.
UniqueCertificate SigningCertificate(const char* name) {
    const char* folder = std::getenv("HALVEX_SIGNING_DIR");
    std::ifstream file("Z:" + std::string(folder != nullptr ? folder : "") + "/" + name,
                       std::ios::binary);
    std::string bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    DWORD size = 0;
    std::vector<BYTE> der(bytes.size());
    if (bytes.rfind("-----", 0) == 0 &&
        CryptStringToBinaryA(bytes.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(),
                             &(size = static_cast<DWORD>(der.size())), nullptr, nullptr)) {
        der.resize(size);
    } else {
        der.assign(bytes.begin(), bytes.end());
    }
    return UniqueCertificate(
        CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size())),
        CertFreeCertificateContext);
}

// A time-stamp dates the signer only when the machine trusts its signer for time-stamping: a
// root in the user's store, which any unelevated process can add to, does not count.
TEST(SignatureTime, OnlyAMachineTrustedTimeStampDatesTheSigner) {
    const UniqueCertificate machineRoot = SigningCertificate("ca.der");
    const UniqueCertificate userRoot = SigningCertificate("user-ca.der");
    const UniqueCertificate codeSigner = SigningCertificate("publisher.crt");
    ASSERT_TRUE(machineRoot && userRoot && codeSigner) << "HALVEX_SIGNING_DIR";
    HCERTSTORE userStore = CertOpenSystemStoreW(0, L"ROOT");
    ASSERT_NE(userStore, nullptr);
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddCertificateContextToStore(userStore, userRoot.get(),
                                                 CERT_STORE_ADD_USE_EXISTING, &added));
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    // A day into the certificates' lives, and not now.
    ULARGE_INTEGER stamped{};
    stamped.LowPart = machineRoot->pCertInfo->NotBefore.dwLowDateTime;
    stamped.HighPart = machineRoot->pCertInfo->NotBefore.dwHighDateTime;
    stamped.QuadPart += 864000000000ull;
    const FILETIME stampedAt{stamped.LowPart, stamped.HighPart};
    const struct {
        const char* stamp;
        PCCERT_CONTEXT stamper;
        bool dated;
    } cases[] = {
        {"none", nullptr, false},
        {"machine root", machineRoot.get(), true},
        {"root in the user's store only", userRoot.get(), false},
        {"machine-trusted, code signing only", codeSigner.get(), false},
    };
    for (const auto& c : cases) {
        CRYPT_PROVIDER_CERT certificate{};
        certificate.pCert = c.stamper;
        CRYPT_PROVIDER_SGNR stamp{};
        stamp.csCertChain = 1;
        stamp.pasCertChain = &certificate;
        CRYPT_PROVIDER_SGNR signer{};
        signer.sftVerifyAsOf = stampedAt;
        signer.csCounterSigners = c.stamper != nullptr ? 1 : 0;
        signer.pasCounterSigners = &stamp;
        const FILETIME judged = SignerValidityTime(signer, now);
        EXPECT_EQ(CompareFileTime(&judged, c.dated ? &stampedAt : &now), 0) << c.stamp;
    }
    (void)CertDeleteCertificateFromStore(added);
    (void)CertCloseStore(userStore, 0);
}

}  // namespace
