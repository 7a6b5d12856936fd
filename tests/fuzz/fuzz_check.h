#pragma once

#include <cstdio>
#include <cstdlib>

// A broken property ends the run the way a crash does, so both libFuzzer and the
// corpus replay report the input that broke it.
inline void FuzzCheck(bool holds, const char* property) {
    if (!holds) {
        std::fprintf(stderr, "property failed: %s\n", property);
        std::fflush(stderr);
        std::abort();
    }
}
