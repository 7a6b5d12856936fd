#pragma once

#include <windows.h>

#include <memory>

// Memory that Windows allocates with LocalAlloc for the caller to free.
struct LocalFreer {
    void operator()(void* memory) const { (void)LocalFree(memory); }
};
template <typename T>
using UniqueLocal = std::unique_ptr<T, LocalFreer>;
