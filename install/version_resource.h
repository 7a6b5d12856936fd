#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What one version resource (VS_VERSIONINFO) of a program says about it.
struct VersionResource {
    bool hasFixedInfo = false;
    // dwFileVersionMS in the high half, dwFileVersionLS in the low one.
    std::uint64_t fileVersion = 0;
    // The ProductName of every string table that has one, one terminating NUL stripped.
    std::vector<std::u16string> productNames;
};

// Every version resource of the PE file in `image`, read from the file's bytes (not a mapped
// image), every offset and length checked against what the file holds. False, with
// `resources` unspecified, when the file has no version resource or anything on the way to
// or inside one is malformed (an embedded NUL in a ProductName included).
bool ReadVersionResources(const unsigned char* image, std::size_t size,
                          std::vector<VersionResource>& resources);

// What the build asks of the setup program; an empty product name asks nothing of the name.
struct SetupRequirement {
    bool hasFloor = false;
    std::uint64_t floor = 0;
    std::u16string productName;
};

// True when the program has version resources and every one of them meets `wanted`: its fixed
// file version at least the floor, and every ProductName it has equal to the product name,
// code unit for code unit, with at least one ProductName among them all.
bool MeetsSetupRequirement(const std::vector<VersionResource>& resources,
                           const SetupRequirement& wanted);
