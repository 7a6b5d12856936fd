#include "app/window_math.h"

std::int32_t ProgressPercent(std::uint64_t received, std::uint64_t expected) {
    if (expected == 0) {
        return 0;
    }
    // The product wraps modulo 2^64 beyond about 1.8e17 received bytes, as unsigned
    // arithmetic does; the display then shows a wrong figure but nothing traps.
    const std::uint64_t percent = received * 100u / expected;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(percent));
}

std::int32_t CentredOrigin(std::int32_t screenExtent, std::int32_t windowExtent) {
    return (screenExtent - windowExtent) / 2;
}

bool IsCloseGlyphHit(std::int32_t clientRight, std::uint32_t x, std::uint32_t y) {
    // Compared in 64 bits so a narrow client area cannot turn the bounds into huge unsigned values.
    const std::int64_t px = x;
    const std::int64_t py = y;
    return px >= std::int64_t{clientRight} - kGlyphLeftInset &&
           px <= std::int64_t{clientRight} - kGlyphRightInset && py >= kGlyphTop &&
           py <= kGlyphBottom;
}
