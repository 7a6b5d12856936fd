#include "install/signature_time.h"

#include <wincrypt.h>

#include <memory>

#include "common/closer.h"

namespace {

using UniqueChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, Closer<CertFreeCertificateChain>>;

// Requested for the time-stamping usage at the time it stamped; judged by its trust status,
// which must be clean (Wine's policies pass a partial chain), and the base policy (Wine 8 has no
// time-stamp policy). Nothing a certificate names is fetched, as for the signer's own chain.
bool IsTrustedByMachine(PCCERT_CONTEXT stamper, FILETIME stampedAt) {
    LPSTR timeStamping[] = {const_cast<LPSTR>(szOID_PKIX_KP_TIMESTAMP_SIGNING)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = timeStamping;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!CertGetCertificateChain(HCCE_LOCAL_MACHINE, stamper, &stampedAt, stamper->hCertStore,
                                 &parameters, CERT_CHAIN_DISABLE_AIA, nullptr, &built)) {
        return false;
    }
    const UniqueChain chain(built);
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof(policy);
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof(status);
    return chain->TrustStatus.dwErrorStatus == CERT_TRUST_NO_ERROR &&
           CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, chain.get(), &policy,
                                            &status) &&
           status.dwError == ERROR_SUCCESS;
}

}  // namespace

FILETIME SignerValidityTime(const CRYPT_PROVIDER_SGNR& signer, FILETIME now) {
    if (signer.csCounterSigners == 0 || signer.pasCounterSigners == nullptr) {
        return now;
    }
    const CRYPT_PROVIDER_SGNR& stamp = signer.pasCounterSigners[0];
    if (stamp.csCertChain == 0 || stamp.pasCertChain == nullptr ||
        stamp.pasCertChain[0].pCert == nullptr) {
        return now;
    }
    return IsTrustedByMachine(stamp.pasCertChain[0].pCert, signer.sftVerifyAsOf)
               ? signer.sftVerifyAsOf
               : now;
}
