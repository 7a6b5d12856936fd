// Adds a DER certificate to the LocalMachine ROOT store, so WinHTTP under Wine trusts
// the stand-in vendor server; with --user, to the current user's ROOT store only.
// Usage: trust_ca.exe [--user] CA.der
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

int wmain(int argc, wchar_t** argv) {
    const bool user = argc == 3 && std::wstring(argv[1]) == L"--user";
    if (argc != 2 && !user) {
        std::fputs("usage: trust_ca [--user] CA.der\n", stderr);
        return 2;
    }
    const std::string der = ReadWholeFile(std::wstring(argv[argc - 1]));
    if (der.empty()) {
        std::fputs("trust_ca: cannot read the certificate\n", stderr);
        return 1;
    }
    HCERTSTORE store = CertOpenStore(
        CERT_STORE_PROV_SYSTEM_W, 0, 0,
        user ? CERT_SYSTEM_STORE_CURRENT_USER : CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
    if (store == nullptr) {
        std::fprintf(stderr, "trust_ca: CertOpenStore failed (%lu)\n", GetLastError());
        return 1;
    }
    BOOL added = CertAddEncodedCertificateToStore(
        store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    DWORD error = GetLastError();
    CertCloseStore(store, 0);
    if (!added) {
        std::fprintf(stderr, "trust_ca: CertAddEncodedCertificateToStore failed (%lu)\n", error);
        return 1;
    }
    return 0;
}
