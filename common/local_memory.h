#pragma once

#include <windows.h>

#include <memory>

// Memory that Windows allocates with LocalAlloc, or GlobalAlloc, for the caller to free.
struct LocalFreer {
    void operator()(void* memory) const { (void)LocalFree(memory); }
};
template <typename T>
using UniqueLocal = std::unique_ptr<T, LocalFreer>;

struct GlobalFreer {
    void operator()(void* memory) const { (void)GlobalFree(memory); }
};
template <typename T>
using UniqueGlobal = std::unique_ptr<T, GlobalFreer>;
