// The pixels of a bitmap the module carries, as the host decodes them, and
// the rules the art follows: black is the host's transparent colour, marks
// and numerals are the bright colours.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "runtime/dib.h"

namespace dib {

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> rgb;  // 0xRRGGBB, rows from the top down

    uint32_t colour(int32_t x, int32_t y) const { return rgb[size_t(y) * size_t(width) + size_t(x)]; }
    bool clear(int32_t x, int32_t y) const { return colour(x, y) == 0; }
    bool inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

inline Image decode(const runtime::Bitmap& bitmap) {
    runtime::Picture picture = runtime::decode_dib(bitmap);
    return {int32_t(picture.width), int32_t(picture.height), std::move(picture.rgb)};
}

inline uint8_t red(uint32_t c) { return uint8_t(c >> 16); }
inline uint8_t green(uint32_t c) { return uint8_t(c >> 8); }
inline uint8_t blue(uint32_t c) { return uint8_t(c); }
inline bool is_mark(uint32_t c) { return std::max({red(c), green(c), blue(c)}) >= 180; }
inline double luminance(uint32_t c) { return 0.299 * red(c) + 0.587 * green(c) + 0.114 * blue(c); }

}  // namespace dib
