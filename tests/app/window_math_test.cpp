#include "app/window_math.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

namespace {

struct CentringCase {
    std::int32_t screen;
    std::int32_t window;
    std::int32_t origin;
};

TEST(WindowMath, CentresTheWindowTruncatingTowardZero) {
    const CentringCase cases[] = {
        {1920, 560, 680}, {1080, 310, 385},  // full HD
        {1366, 560, 403}, {768, 310, 229},   // common laptop
        {1365, 560, 402},                    // odd difference drops the half pixel
        {479, 560, -40},                     // screen narrower than the window
        {309, 310, 0},                       // -1 / 2 is 0, not -1
        {560, 560, 0},
    };
    for (const CentringCase& c : cases) {
        EXPECT_EQ(CentredOrigin(c.screen, c.window), c.origin)
            << "screen " << c.screen << ", window " << c.window;
    }
}

struct PercentCase {
    std::uint64_t received;
    std::uint64_t expected;
    std::int32_t percent;
};

TEST(WindowMath, PercentageTruncatesAndIsNotClamped) {
    constexpr std::uint64_t kLargestExact = std::numeric_limits<std::uint64_t>::max() / 100;
    const PercentCase cases[] = {
        {0, 0, 0},
        {123456, 0, 0},  // no announced length shows 0 however much arrives
        {0, 10000, 0},
        {1, 3, 33},
        {3, 3, 100},
        {5000, 10000, 50},
        {9999, 10000, 99},
        {15000, 10000, 150},
        {90'000'000'000'000'000ull, 180'000'000'000'000'000ull, 50},
        {kLargestExact, kLargestExact, 100},
        {kLargestExact / 4, kLargestExact, 25},
    };
    for (const PercentCase& c : cases) {
        EXPECT_EQ(ProgressPercent(c.received, c.expected), c.percent)
            << c.received << " of " << c.expected;
    }
}

// Counts whose hundredfold exceeds 64 bits wrap as unsigned arithmetic does; what matters is
// that no value traps or divides by zero.
TEST(WindowMath, PercentageOfHugeCountsWrapsWithoutTrapping) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    const PercentCase cases[] = {
        {kMax, kMax, 0},
        {kMax, 1, -100},
        {kMax / 100 + 1, kMax, 0},
        {kMax, 0, 0},
    };
    for (const PercentCase& c : cases) {
        EXPECT_EQ(ProgressPercent(c.received, c.expected), c.percent)
            << c.received << " of " << c.expected;
    }
}

struct HitCase {
    std::int32_t clientRight;
    std::uint32_t x;
    std::uint32_t y;
    bool hit;
};

TEST(WindowMath, CloseGlyphHitAreaIncludesBothEdges) {
    const HitCase cases[] = {
        {560, 520, 10, true},
        {560, 550, 40, true},
        {560, 520, 40, true},
        {560, 550, 10, true},
        {560, 535, 25, true},
        {560, 519, 25, false},
        {560, 551, 25, false},
        {560, 535, 9, false},
        {560, 535, 41, false},
        {560, 0, 0, false},
        {560, 65535, 65535, false},
        {20, 0, 10, true},  // narrow client area: left bound is negative, not a huge unsigned
        {20, 11, 10, false},
    };
    for (const HitCase& c : cases) {
        EXPECT_EQ(IsCloseGlyphHit(c.clientRight, c.x, c.y), c.hit)
            << "right " << c.clientRight << " at (" << c.x << ", " << c.y << ")";
    }
}

}  // namespace
