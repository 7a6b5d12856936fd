#pragma once

// A std::unique_ptr deleter that hands the resource to one function (DeleteObject, FindClose,
// LocalFree, ...), its result deliberately dropped: there is nothing to do when closing fails.
// No state, so the owner stays the size of a pointer.
template <auto Close>
struct Closer {
    template <typename Resource>
    void operator()(Resource resource) const noexcept {
        (void)Close(resource);
    }
};
