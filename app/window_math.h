#pragma once

// The window's arithmetic, kept free of <windows.h> so it builds and is tested anywhere.

#include <cstdint>

// received × 100 / expected in unsigned 64-bit arithmetic (0 when expected is 0), taken as
// a signed 32-bit value. Above 100 when more arrived than announced; nothing clamps it.
std::int32_t ProgressPercent(std::uint64_t received, std::uint64_t expected);

// Origin that centres a window extent on a screen extent; negative when the screen is
// smaller, the division truncating toward zero.
std::int32_t CentredOrigin(std::int32_t screenExtent, std::int32_t windowExtent);

// Whether a button release at (x, y) lies on the close glyph of a client area whose right
// edge is clientRight; both ends of each range count.
bool IsCloseGlyphHit(std::int32_t clientRight, std::uint32_t x, std::uint32_t y);

// The glyph occupies clientRight − kGlyphLeftInset .. clientRight − kGlyphRightInset
// horizontally and kGlyphTop .. kGlyphBottom vertically.
inline constexpr std::int32_t kGlyphLeftInset = 40;
inline constexpr std::int32_t kGlyphRightInset = 10;
inline constexpr std::int32_t kGlyphTop = 10;
inline constexpr std::int32_t kGlyphBottom = 40;
