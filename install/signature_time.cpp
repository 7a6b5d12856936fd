#include "install/signature_time.h"

#include <wincrypt.h>

#include <memory>

#include "install/machine_chain.h"

namespace {

// Requested for the time-stamping usage at the time it stamped; judged by its trust status,
// which must be clean (Wine's policies pass a partial chain), and the base policy (Wine 8 has no
// time-stamp policy). Nothing a certificate names is fetched, as for the signer's own chain.
bool IsTrustedByMachine(PCCERT_CONTEXT stamper, FILETIME stampedAt) {
    const UniqueChain chain = BuildMachineChain(stamper, szOID_PKIX_KP_TIMESTAMP_SIGNING, stampedAt,
                                                CERT_CHAIN_DISABLE_AIA);
    if (!chain) {
        return false;
    }
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
