// Runs under a per-program Windows version and answers the version questions in
// its arguments: "gate" asks whether the installer refuses this system, "M.m.s"
// whether it is at least that version. Answer i sets bit i of the exit code.
#include <cstdio>
#include <cstring>

#include "install/version_gate.h"

int main(int argc, char** argv) {
    int answers = 0;
    for (int i = 1; i < argc; ++i) {
        unsigned major = 0, minor = 0, servicePack = 0;
        bool yes = false;
        if (std::strcmp(argv[i], "gate") == 0) {
            yes = IsWindowsVersionRefused();
        } else if (std::sscanf(argv[i], "%u.%u.%u", &major, &minor, &servicePack) == 3) {
            yes = IsWindowsVersionAtLeast(static_cast<WORD>(major), static_cast<WORD>(minor),
                                          static_cast<WORD>(servicePack));
        } else {
            return 0x100;
        }
        answers |= (yes ? 1 : 0) << (i - 1);
    }
    return answers;
}
