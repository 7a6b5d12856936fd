// ReadVersionResources on arbitrary bytes: it never reads outside them (the sanitizers
// watch that), what it accepts holds no embedded NUL in a product name, and the requirement
// it feeds never lets a higher floor pass where a lower one fails.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "install/version_resource.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<VersionResource> resources;
    if (!ReadVersionResources(data, size, resources)) {
        return 0;
    }
    FuzzCheck(!resources.empty(), "accepted without a version resource");
    SetupRequirement wanted;
    wanted.hasFloor = true;
    for (const VersionResource& resource : resources) {
        for (const std::u16string& name : resource.productNames) {
            FuzzCheck(name.find(u'\0') == std::u16string::npos, "a product name holds a NUL");
            wanted.productName = name;
        }
        if (resource.hasFixedInfo) wanted.floor = resource.fileVersion;
    }
    if (MeetsSetupRequirement(resources, wanted)) {
        wanted.floor = 0;
        FuzzCheck(MeetsSetupRequirement(resources, wanted), "a lower floor was refused");
    }
    return 0;
}
