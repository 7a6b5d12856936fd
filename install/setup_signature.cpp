#include "install/setup_signature.h"

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <memory>
#include <string>

namespace {

// The state WinVerifyTrust keeps after WTD_STATEACTION_VERIFY; it is closed on every path.
struct TrustStateCloser {
    void operator()(WINTRUST_DATA* data) const {
        GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
        data->dwStateAction = WTD_STATEACTION_CLOSE;
        (void)WinVerifyTrust(nullptr, &action, data);
    }
};
using TrustState = std::unique_ptr<WINTRUST_DATA, TrustStateCloser>;

struct ChainCloser {
    void operator()(PCCERT_CHAIN_CONTEXT chain) const { CertFreeCertificateChain(chain); }
};
using UniqueChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainCloser>;

std::wstring SimpleDisplayName(PCCERT_CONTEXT certificate) {
    const DWORD size =
        CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
    if (size <= 1) {
        return {};
    }
    std::wstring name(size, L'\0');
    (void)CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(),
                             size);
    name.resize(size - 1);
    return name;
}

// Wine's WinVerifyTrust accepts a signer that chains to no trusted root or lacks the
// code-signing usage, so the signer's chain is built again for that usage and judged by the
// Authenticode policy, at the time the signature is verified against (its timestamp if any).
bool ChainsToTrustedCodeSigningRoot(const CRYPT_PROVIDER_SGNR& signer, PCCERT_CONTEXT leaf) {
    LPSTR codeSigning[] = {const_cast<LPSTR>(szOID_PKIX_KP_CODE_SIGNING)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = codeSigning;
    FILETIME verifyAsOf = signer.sftVerifyAsOf;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!CertGetCertificateChain(nullptr, leaf, &verifyAsOf, leaf->hCertStore, &parameters,
                                 CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &built)) {
        return false;
    }
    const UniqueChain chain(built);
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof(policy);
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof(status);
    return CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, chain.get(), &policy,
                                            &status) &&
           status.dwError == ERROR_SUCCESS;
}

}  // namespace

bool IsSignedByPublisher(HANDLE file, const wchar_t* path, const wchar_t* publisher) {
    WINTRUST_FILE_INFO fileInfo{};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = file;

    WINTRUST_DATA data{};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    data.dwProvFlags = WTD_CACHE_ONLY_URL_RETRIEVAL;

    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG verdict = WinVerifyTrust(nullptr, &action, &data);
    const TrustState state(&data);
    if (verdict != ERROR_SUCCESS) {
        return false;
    }

    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    if (provider == nullptr) {
        return false;
    }
    const CRYPT_PROVIDER_SGNR* signer = WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0);
    if (signer == nullptr || signer->csCertChain == 0 || signer->pasCertChain == nullptr ||
        signer->pasCertChain[0].pCert == nullptr) {
        return false;
    }
    const PCCERT_CONTEXT leaf = signer->pasCertChain[0].pCert;
    const std::wstring name = SimpleDisplayName(leaf);
    return !name.empty() && name == publisher && ChainsToTrustedCodeSigningRoot(*signer, leaf);
}
