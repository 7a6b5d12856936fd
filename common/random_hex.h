#pragma once

#include <windows.h>
#include <ntsecapi.h>

#include <cstdint>
#include <string>

// Appends 32 hex digits of 128 bits from the system's cryptographic generator, so no other
// process can predict a name and make it first; false, appending nothing, when the generator
// fails. Drawn through advapi32, a known DLL: a load-time import of it is never looked for
// beside the program, as bcrypt.dll would be.
inline bool AppendRandomHex(std::wstring& name) {
    std::uint8_t random[16] = {};
    if (!RtlGenRandom(random, sizeof(random))) {
        return false;
    }
    constexpr wchar_t kHex[] = L"0123456789abcdef";
    for (const std::uint8_t byte : random) {
        name += kHex[byte >> 4];
        name += kHex[byte & 0x0f];
    }
    return true;
}
