// The one palette of every Korvane bitmap, and the mapping of drawn colours
// onto it. Index 0 is pure black, which the host leaves undrawn: only
// pictures laid over a background use it, and nothing else in the palette is
// pure black, so a dial face is never holed by accident.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>

namespace art {

struct Rgb {
    uint8_t r = 0;
    uint8_t g = 0;
    uint8_t b = 0;
    friend constexpr bool operator==(const Rgb&, const Rgb&) = default;
};

// Colours the drawings name; each is a palette entry, so flat areas keep
// them exactly.
namespace colour {
inline constexpr Rgb kTransparent{0, 0, 0};
inline constexpr Rgb kFace{16, 16, 16};      // dial faces: near-black, never transparent
inline constexpr Rgb kCream{240, 232, 206};  // marks, numerals, hands
inline constexpr Rgb kPanel{36, 38, 34};     // panel and quadrant paint
inline constexpr Rgb kCaseDark{26, 27, 30};  // instrument cases
inline constexpr Rgb kOrange{230, 110, 20};  // reference marks, lubber lines
inline constexpr Rgb kRedBright{240, 60, 40};
inline constexpr Rgb kRedDim{100, 14, 12};
inline constexpr Rgb kRedDark{60, 8, 8};
inline constexpr Rgb kGreenBright{40, 200, 70};
inline constexpr Rgb kGreenDim{14, 90, 28};
inline constexpr Rgb kGreenDark{8, 50, 16};
inline constexpr Rgb kAmber{230, 160, 30};
inline constexpr Rgb kBrass{170, 140, 80};
}  // namespace colour

class Palette {
public:
    Palette();

    const std::array<Rgb, 256>& colours() const { return colours_; }

    // The nearest entry (squared distance, lowest index on a tie) among the
    // opaque entries 1..255: an opaque pixel never becomes transparent.
    uint8_t nearest_opaque(Rgb colour);

    // A pixel of cairo's premultiplied ARGB32: under half coverage it is
    // transparent (index 0), otherwise its nearest opaque entry.
    uint8_t from_argb32(uint32_t pixel);

private:
    std::array<Rgb, 256> colours_{};
    std::unordered_map<uint32_t, uint8_t> memo_;
};

}  // namespace art
