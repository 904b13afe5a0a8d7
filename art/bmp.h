// Bitmap files: 8-bit palettised as the resource compiler takes them (a
// BITMAPFILEHEADER, a BITMAPINFOHEADER, 256 palette entries, then rows from
// the bottom up, each padded to four bytes, uncompressed), and 24-bit ones as
// the simulator takes for window backgrounds (no palette, blue-green-red).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "art/palette.h"

namespace art {

// An image of palette indices, rows from the top down.
struct IndexedImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> pixels;  // width * height

    uint8_t at(uint32_t x, uint32_t y) const { return pixels[size_t{y} * width + x]; }
};

std::vector<uint8_t> encode_bmp(const IndexedImage& image, const std::array<Rgb, 256>& palette);

// An image of colours, rows from the top down.
struct RgbImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<Rgb> pixels;  // width * height
};

std::vector<uint8_t> encode_bmp24(const RgbImage& image);

}  // namespace art
