#include "app/redirection_trust.h"

#include <windows.h>

// Looked up at run time: Windows 7 lacks the function and must still get as far as the
// refusal message.
void EnforceRedirectionTrust() {
    using SetPolicyFn = BOOL(WINAPI*)(PROCESS_MITIGATION_POLICY, PVOID, SIZE_T);
    const auto setPolicy = reinterpret_cast<SetPolicyFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetProcessMitigationPolicy")));
    if (setPolicy == nullptr) {
        return;
    }
    PROCESS_MITIGATION_REDIRECTION_TRUST_POLICY policy{};
    policy.EnforceRedirectionTrust = 1;
    (void)setPolicy(ProcessRedirectionTrustPolicy, &policy, sizeof(policy));
}
