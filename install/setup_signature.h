#pragma once

#include <windows.h>

// True only when the file open as `file` (named `path`) carries a valid Authenticode
// signature whose primary signer's certificate has exactly `publisher` as its common name,
// the code-signing usage in its own extended key usage, one of `publisherKeys` as its key
// (when that list is not empty), and a chain to a root the machine trusts for code signing
// whose own trust status is clean and in which no certificate is reported revoked.
// `publisherKeys`: lower-case hex SHA-256 digests of DER SubjectPublicKeyInfo, separated by
// ';'. Reads the file through `file`, so what is checked is what is held. Before the chain is
// trusted only Windows' automatic root update may use the network; after it, the revocation
// check, within a few seconds; revocation that cannot be determined does not refuse.
bool IsSignedByPublisher(HANDLE file, const wchar_t* path, const wchar_t* publisher,
                         const char* publisherKeys);
