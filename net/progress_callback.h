#pragma once

#include <cstdint>
#include <functional>

// (bytes received so far, bytes expected in all; 0 when the server gave no length).
using ProgressCallback = std::function<void(std::uint64_t, std::uint64_t)>;
