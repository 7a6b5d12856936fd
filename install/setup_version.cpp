#include "install/setup_version.h"

#include <memory>
#include <vector>

#include "common/closer.h"
#include "common/unique_handle.h"

namespace {

using UniqueView = std::unique_ptr<const void, Closer<UnmapViewOfFile>>;

}  // namespace

bool IsWantedSetupProgram(HANDLE file, const SetupRequirement& wanted) {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file, &size) || size.QuadPart <= 0) {
        return false;
    }
    // Plain data, not SEC_IMAGE: the loader's own reading of the headers is not wanted here.
    const UniqueHandle mapping(CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
    if (!mapping) {
        return false;
    }
    const UniqueView view(MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) {
        return false;
    }
    std::vector<VersionResource> resources;
    return ReadVersionResources(static_cast<const unsigned char*>(view.get()),
                                static_cast<std::size_t>(size.QuadPart), resources) &&
           MeetsSetupRequirement(resources, wanted);
}
