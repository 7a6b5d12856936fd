#pragma once

#include <windows.h>

#include <memory>

#include "common/closer.h"

// Memory that Windows allocates with LocalAlloc, or GlobalAlloc, for the caller to free.
template <typename T>
using UniqueLocal = std::unique_ptr<T, Closer<LocalFree>>;
template <typename T>
using UniqueGlobal = std::unique_ptr<T, Closer<GlobalFree>>;
