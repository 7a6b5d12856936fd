// The chain parameters' fetch time-out is among the extra fields.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "install/machine_chain.h"

UniqueChain BuildMachineChain(PCCERT_CONTEXT certificate, LPCSTR usage, FILETIME at, DWORD flags,
                              DWORD fetchTimeoutMs) {
    LPSTR usages[] = {const_cast<LPSTR>(usage)};
    CERT_CHAIN_PARA parameters{};
    parameters.cbSize = sizeof(parameters);
    parameters.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    parameters.RequestedUsage.Usage.cUsageIdentifier = 1;
    parameters.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    parameters.dwUrlRetrievalTimeout = fetchTimeoutMs;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!CertGetCertificateChain(HCCE_LOCAL_MACHINE, certificate, &at, certificate->hCertStore,
                                 &parameters, flags, nullptr, &built)) {
        return nullptr;
    }
    return UniqueChain(built);
}
