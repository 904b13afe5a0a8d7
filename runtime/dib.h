// Decoding the device-independent bitmaps that modules carry into plain
// pixels, and building such bitmaps (for synthetic pictures).
//
// Uncompressed DIBs of 1, 4 and 8 bits per pixel (palettised), 24 bits (BGR)
// and 32 bits (BGRX) decode, bottom-up or top-down, with rows padded to four
// bytes. Everything is read through checked offsets: a malformed or
// unsupported bitmap gives DibError, never a read outside its bytes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/bitmap.h"

namespace runtime {

using frame::Bitmap;

class DibError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// 0xRRGGBB colours, rows from the top down.
struct Picture {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint32_t> rgb;

    uint32_t at(uint32_t x, uint32_t y) const { return rgb[size_t{y} * width + x]; }
};

// Why the host cannot draw `bitmap`, or "" when it can: its size, depth and
// compression, and, when it carries bytes, whether header, palette and rows
// lie within them. The decoder refuses exactly these (and a bitmap without
// bytes); the validator fails them, so the two cannot disagree.
std::string undrawable_reason(const Bitmap& bitmap);

// Throws DibError with undrawable_reason, or "no pixel data".
void check_drawable(const Bitmap& bitmap);

// The bitmap's pixels; throws as check_drawable does.
Picture decode_dib(const Bitmap& bitmap);

// The same pixels written straight into `pixels`, whose rows lie `stride`
// pixels apart and have room for the bitmap's width; the same checks and
// errors, before anything is written.
void decode_dib_into(const Bitmap& bitmap, uint32_t* pixels, size_t stride);

// A .bmp file (the 14-byte file header, then a DIB with a 40-byte or larger
// header, uncompressed, 8 or 24 bits per pixel among those decode_dib
// takes). Throws DibError naming the file when it cannot be read or decoded.
Picture read_bmp_file(const std::string& path);

// An uncompressed 8-bit palettised bitmap as a resource holds it: a 40-byte
// header, the palette (0xRRGGBB entries, at most 256), then the rows, bottom-up
// unless `top_down`. `indices` holds width * height palette indices, rows from
// the top down. Throws std::invalid_argument when the sizes do not agree.
Bitmap make_palettised_bitmap(uint32_t width, uint32_t height, const std::vector<uint32_t>& palette,
                              const std::vector<uint8_t>& indices, bool top_down = false);

// An uncompressed 24-bit bitmap, bottom-up; `rgb` holds width * height
// 0xRRGGBB colours, rows from the top down.
Bitmap make_rgb_bitmap(uint32_t width, uint32_t height, const std::vector<uint32_t>& rgb);

}  // namespace runtime
