#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "common/closer.h"

using UniqueChain = std::unique_ptr<const CERT_CHAIN_CONTEXT, Closer<CertFreeCertificateChain>>;

// The certificate's chain for one usage, as of `at`, built by the machine's chain engine (a root
// that only the current user's store holds does not count), with the certificate's own store
// for the intermediates it may need; empty when none could be built. A zero time-out keeps
// Windows' default for the fetches that `flags` allow.
UniqueChain BuildMachineChain(PCCERT_CONTEXT certificate, LPCSTR usage, FILETIME at, DWORD flags,
                              DWORD fetchTimeoutMs = 0);
