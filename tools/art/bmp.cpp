#include "tools/art/bmp.h"

#include <stdexcept>

namespace art {
namespace {

void put16(std::vector<uint8_t>& out, uint32_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t value) {
    put16(out, value & 0xFFFF);
    put16(out, value >> 16);
}

}  // namespace

std::vector<uint8_t> encode_bmp(const IndexedImage& image, const std::array<Rgb, 256>& palette) {
    if (image.width == 0 || image.height == 0 || image.pixels.size() != size_t{image.width} * image.height) {
        throw std::invalid_argument("bitmap size and pixels disagree");
    }
    constexpr uint32_t kFileHeader = 14;
    constexpr uint32_t kInfoHeader = 40;
    constexpr uint32_t kPaletteBytes = 256 * 4;
    const uint32_t stride = (image.width + 3) & ~3u;
    const uint32_t pixel_bytes = stride * image.height;
    const uint32_t pixel_offset = kFileHeader + kInfoHeader + kPaletteBytes;

    std::vector<uint8_t> out;
    out.reserve(pixel_offset + pixel_bytes);
    out.push_back('B');
    out.push_back('M');
    put32(out, pixel_offset + pixel_bytes);
    put32(out, 0);  // reserved
    put32(out, pixel_offset);

    put32(out, kInfoHeader);
    put32(out, image.width);
    put32(out, image.height);  // positive: bottom-up rows
    put16(out, 1);             // planes
    put16(out, 8);             // bits per pixel
    put32(out, 0);             // BI_RGB: uncompressed
    put32(out, pixel_bytes);
    put32(out, 2835);  // 72 dots per inch, both ways
    put32(out, 2835);
    put32(out, 256);  // colours used
    put32(out, 0);    // all colours important

    for (const Rgb& c : palette) {
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
        out.push_back(0);
    }
    for (uint32_t row = image.height; row-- > 0;) {
        const uint8_t* line = image.pixels.data() + size_t{row} * image.width;
        out.insert(out.end(), line, line + image.width);
        out.insert(out.end(), stride - image.width, 0);
    }
    return out;
}

}  // namespace art
