// Reading the pixels of an 8-bit bitmap resource (BITMAPINFOHEADER, palette,
// rows bottom-up padded to four bytes) for the resource tests.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace dib {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

struct Image {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<Rgb> palette;
    std::vector<uint8_t> indices;  // rows top-down

    uint8_t index(int32_t x, int32_t y) const { return indices[size_t(y) * size_t(width) + size_t(x)]; }
    Rgb colour(int32_t x, int32_t y) const { return palette[index(x, y)]; }
    bool inside(int32_t x, int32_t y) const { return x >= 0 && y >= 0 && x < width && y < height; }
};

inline uint32_t read32(const std::vector<uint8_t>& bytes, size_t at) {
    uint32_t v;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}
inline uint16_t read16(const std::vector<uint8_t>& bytes, size_t at) {
    uint16_t v;
    std::memcpy(&v, bytes.data() + at, 2);
    return v;
}

// The image, or the reason it is not an uncompressed 8-bit bottom-up DIB.
inline std::optional<Image> decode(const std::vector<uint8_t>& bytes, std::string* why = nullptr) {
    auto fail = [why](const char* reason) {
        if (why != nullptr) *why = reason;
        return std::optional<Image>();
    };
    if (bytes.size() < 40) return fail("shorter than its header");
    if (read32(bytes, 0) != 40) return fail("not a BITMAPINFOHEADER");
    const int32_t width = int32_t(read32(bytes, 4));
    const int32_t height = int32_t(read32(bytes, 8));
    if (width <= 0 || height <= 0) return fail("not a bottom-up bitmap of positive size");
    if (read16(bytes, 12) != 1) return fail("planes is not 1");
    if (read16(bytes, 14) != 8) return fail("not 8 bits per pixel");
    if (read32(bytes, 16) != 0) return fail("compressed");
    uint32_t colours = read32(bytes, 32);
    if (colours == 0) colours = 256;
    if (colours > 256) return fail("more than 256 palette entries");
    const size_t stride = (size_t(width) + 3) & ~size_t(3);
    const size_t pixels = 40 + size_t(colours) * 4;
    if (bytes.size() < pixels + stride * size_t(height)) return fail("pixel rows run past the resource");
    Image image;
    image.width = width;
    image.height = height;
    for (uint32_t i = 0; i < colours; ++i) {
        const size_t at = 40 + size_t(i) * 4;
        image.palette.push_back({bytes[at + 2], bytes[at + 1], bytes[at]});
    }
    image.indices.resize(size_t(width) * size_t(height));
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* row = bytes.data() + pixels + stride * size_t(height - 1 - y);
        std::memcpy(image.indices.data() + size_t(y) * size_t(width), row, size_t(width));
    }
    for (uint8_t index : image.indices) {
        if (index >= colours) return fail("a pixel names a palette entry that does not exist");
    }
    return image;
}

inline bool is_black(Rgb c) { return c.r == 0 && c.g == 0 && c.b == 0; }
// Marks and numerals: the bright colours; faces, cases and metal stay darker.
inline bool is_mark(Rgb c) { return std::max({c.r, c.g, c.b}) >= 180; }
inline double luminance(Rgb c) { return 0.299 * c.r + 0.587 * c.g + 0.114 * c.b; }

}  // namespace dib
