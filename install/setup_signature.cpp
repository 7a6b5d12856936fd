#include "install/setup_signature.h"

#include <bcrypt.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/bounded_call.h"
#include "common/local_memory.h"
#include "install/machine_chain.h"
#include "install/signature_time.h"

namespace {

// Total for every revocation fetch of one chain, and the bound on the whole check.
constexpr DWORD kRevocationTimeoutMs = 3000;
constexpr std::chrono::milliseconds kRevocationBound(4000);

// The state WinVerifyTrust keeps after WTD_STATEACTION_VERIFY; it is closed on every path.
struct TrustStateCloser {
    void operator()(WINTRUST_DATA* data) const {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        data->dwStateAction = WTD_STATEACTION_CLOSE;
        (void)WinVerifyTrust(nullptr, &action, data);
    }
};
using TrustState = std::unique_ptr<WINTRUST_DATA, TrustStateCloser>;

// The subject's one common name; empty when it has none or several. Windows' display name
// would fall back to the organisational unit, the organisation or an e-mail address.
std::wstring CommonName(PCCERT_CONTEXT certificate) {
    CERT_NAME_INFO* decoded = nullptr;
    DWORD size = 0;
    const CERT_NAME_BLOB& subject = certificate->pCertInfo->Subject;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_UNICODE_NAME, subject.pbData, subject.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &decoded, &size)) {
        return {};
    }
    const UniqueLocal<CERT_NAME_INFO> name(decoded);
    std::wstring commonName;
    int found = 0;
    for (DWORD i = 0; i < name->cRDN; ++i) {
        const CERT_RDN& rdn = name->rgRDN[i];
        for (DWORD j = 0; j < rdn.cRDNAttr; ++j) {
            const CERT_RDN_ATTR& attribute = rdn.rgRDNAttr[j];
            if (std::strcmp(attribute.pszObjId, szOID_COMMON_NAME) == 0) {
                ++found;
                // By its length, so a name with an embedded NUL never equals the pin; the
                // length may count the terminator.
                commonName.assign(reinterpret_cast<const wchar_t*>(attribute.Value.pbData),
                                  attribute.Value.cbData / sizeof(wchar_t));
                if (!commonName.empty() && commonName.back() == L'\0') {
                    commonName.pop_back();
                }
            }
        }
    }
    return found == 1 ? commonName : std::wstring();
}

bool ListHas(const char* list, const std::string& item) {
    const std::string all = std::string(";") + list + ";";
    return all.find(";" + item + ";") != std::string::npos;
}

// SHA-256 of the certificate's DER SubjectPublicKeyInfo, as `openssl pkey -pubin -outform
// der | sha256sum` gives it.
bool HasPinnedKey(PCCERT_CONTEXT certificate, const char* publisherKeys) {
    BYTE* encoded = nullptr;
    DWORD size = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                             &certificate->pCertInfo->SubjectPublicKeyInfo, CRYPT_ENCODE_ALLOC_FLAG,
                             nullptr, &encoded, &size)) {
        return false;
    }
    const UniqueLocal<BYTE> keyInfo(encoded);
    BYTE digest[32] = {};
    DWORD digestSize = sizeof(digest);
    if (!CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, keyInfo.get(), size, digest,
                               &digestSize) ||
        digestSize != sizeof(digest)) {
        return false;
    }
    constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const BYTE byte : digest) {
        hex += kHex[byte >> 4];
        hex += kHex[byte & 0x0f];
    }
    return ListHas(publisherKeys, hex);
}

// The signer's chain for the code-signing usage, with the signature's own certificates as
// the intermediates it may need; empty when none could be built.
UniqueChain BuildChain(PCCERT_CONTEXT leaf, FILETIME verifyAsOf, DWORD flags) {
    return BuildMachineChain(leaf, szOID_PKIX_KP_CODE_SIGNING, verifyAsOf, flags,
                             kRevocationTimeoutMs);
}

// In the signer's own certificate: without the extension the chain engine counts a
// certificate as good for every usage.
bool HasCodeSigningUsage(PCCERT_CONTEXT certificate) {
    DWORD size = 0;
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr,
                                 &size)) {
        return false;
    }
    std::vector<BYTE> buffer(size);
    auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
    if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) {
        return false;
    }
    for (DWORD i = 0; i < usage->cUsageIdentifier; ++i) {
        if (std::strcmp(usage->rgpszUsageIdentifier[i], szOID_PKIX_KP_CODE_SIGNING) == 0) {
            return true;
        }
    }
    return false;
}

// Wine's WinVerifyTrust accepts a signer that chains to no trusted root or lacks the
// code-signing usage, so the signer's chain is built again for that usage and judged by its
// own trust status, which must be clean, as well as by the Authenticode policy (Wine's policy
// passes a partial chain), at the time given (SignerValidityTime). The machine's engine: a root an
// unelevated process put in the user's store does not count. Nothing a certificate names (Authority
// Information Access) is fetched for a chain not yet trusted; Windows may still add a root from
// Windows Update (automatic root update), which cache-only retrieval would forbid: a fresh
// machine's small root store would refuse a setup program signed under a common root.
bool ChainsToTrustedCodeSigningRoot(PCCERT_CONTEXT leaf, FILETIME verifyAsOf) {
    const UniqueChain chain = BuildChain(leaf, verifyAsOf, CERT_CHAIN_DISABLE_AIA);
    if (!chain || chain->TrustStatus.dwErrorStatus != CERT_TRUST_NO_ERROR) {
        return false;
    }
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof(policy);
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof(status);
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain.get(), &policy,
                                            &status) &&
           status.dwError == ERROR_SUCCESS;
}

// Revocation of every certificate of the chain but the root, fetched if need be. Only a
// certificate reported revoked counts: offline, unanswered or slower than the bound is
// "unknown", which does not refuse. Windows keeps the fetch time-out; Wine does not, so the
// check runs within a bound of its own, on a copy of the certificate that outlives this call.
bool IsReportedRevoked(PCCERT_CONTEXT leaf, FILETIME verifyAsOf) {
    const std::shared_ptr<const CERT_CONTEXT> copy(CertDuplicateCertificateContext(leaf),
                                                   CertFreeCertificateContext);
    const std::optional<bool> revoked = CallWithinBound(
        [copy, verifyAsOf] {
            const UniqueChain chain = BuildChain(copy.get(), verifyAsOf,
                                                 CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT |
                                                     CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT);
            return chain && (chain->TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED) != 0;
        },
        kRevocationBound);
    return revoked.value_or(false);
}

// Verifies the file's Authenticode signature offline and without revocation (the chain
// checks below do both, bounded); the state it keeps, whatever the verdict, is `state`'s.
LONG VerifyFile(WINTRUST_FILE_INFO& fileInfo, WINTRUST_DATA& data, TrustState& state) {
    state.reset();
    data = WINTRUST_DATA{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG verdict = WinVerifyTrust(nullptr, &action, &data);
    state.reset(&data);
    return verdict;
}

// The primary signer (never another certificate the signature happens to carry) when its
// certificate has exactly the pinned common name and, if keys are pinned, one of them.
const CRYPT_PROVIDER_SGNR* PinnedSigner(const WINTRUST_DATA& data, const wchar_t* publisher,
                                        const char* publisherKeys) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    const CRYPT_PROVIDER_SGNR* signer =
        provider == nullptr ? nullptr : WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
        signer->pasCertChain[0].pCert == nullptr) {
        return nullptr;
    }
    const PCCERT_CONTEXT leaf = signer->pasCertChain[0].pCert;
    const std::wstring name = CommonName(leaf);
    return !name.empty() && name == publisher &&
                   (publisherKeys[0] == '\0' || HasPinnedKey(leaf, publisherKeys))
               ? signer
               : nullptr;
}

}  // namespace

bool IsSignedByPublisher(HANDLE file, const wchar_t* path, const wchar_t* publisher,
                         const char* publisherKeys) {
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = file;

    WINTRUST_DATA data{};
    TrustState state;
    LONG verdict = VerifyFile(fileInfo, data, state);
    const CRYPT_PROVIDER_SGNR* signer = PinnedSigner(data, publisher, publisherKeys);
    // The offline check cannot let Windows add a root its store still lacks; the chain check
    // may, and then the file is judged again.
    if (signer != nullptr && (verdict == CERT_E_CHAINING || verdict == CERT_E_UNTRUSTEDROOT) &&
        ChainsToTrustedCodeSigningRoot(signer->pasCertChain[0].pCert, signer->sftVerifyAsOf)) {
        verdict = VerifyFile(fileInfo, data, state);
        signer = PinnedSigner(data, publisher, publisherKeys);
    }
    if (verdict != ERROR_SUCCESS || signer == nullptr) {
        return false;
    }
    const PCCERT_CONTEXT leaf = signer->pasCertChain[0].pCert;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const FILETIME judgedAt = SignerValidityTime(*signer, now);
    return HasCodeSigningUsage(leaf) &&
           // Trusted first, without fetching what a certificate names; only then the chain
           // again, with revocation, so no address from an untrusted chain is ever fetched.
           ChainsToTrustedCodeSigningRoot(leaf, judgedAt) && !IsReportedRevoked(leaf, judgedAt);
}
