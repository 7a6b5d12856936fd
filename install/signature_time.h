#pragma once

#include <windows.h>
#include <wintrust.h>

// When the setup program's signer certificate is judged valid: at its signature's time-stamp
// only when the time-stamp's own signer chains, in the machine's chain engine, to a root the
// machine trusts for time-stamping; otherwise at `now`. WinVerifyTrust dates a signature with
// the current user's engine, where a root any unelevated process can add vouches for a
// counter-signature, which anyone can add to a long-expired but genuinely signed program.
FILETIME SignerValidityTime(const CRYPT_PROVIDER_SGNR& signer, FILETIME now);
