#include "art/bmp.h"

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

constexpr uint32_t kFileHeader = 14;
constexpr uint32_t kInfoHeader = 40;

void put_headers(std::vector<uint8_t>& out, uint32_t width, uint32_t height, uint32_t bits, uint32_t palette_entries,
                 uint32_t pixel_bytes) {
    const uint32_t pixel_offset = kFileHeader + kInfoHeader + palette_entries * 4;
    out.reserve(pixel_offset + pixel_bytes);
    out.push_back('B');
    out.push_back('M');
    put32(out, pixel_offset + pixel_bytes);
    put32(out, 0);  // reserved
    put32(out, pixel_offset);

    put32(out, kInfoHeader);
    put32(out, width);
    put32(out, height);  // positive: bottom-up rows
    put16(out, 1);       // planes
    put16(out, bits);
    put32(out, 0);  // BI_RGB: uncompressed
    put32(out, pixel_bytes);
    put32(out, 2835);  // 72 dots per inch, both ways
    put32(out, 2835);
    put32(out, palette_entries);  // colours used
    put32(out, 0);                // all colours important
}

}  // namespace

std::vector<uint8_t> encode_bmp(const IndexedImage& image, const std::array<Rgb, 256>& palette) {
    if (image.width == 0 || image.height == 0 || image.pixels.size() != size_t{image.width} * image.height) {
        throw std::invalid_argument("bitmap size and pixels disagree");
    }
    const uint32_t stride = (image.width + 3) & ~3u;
    const uint32_t pixel_bytes = stride * image.height;
    std::vector<uint8_t> out;
    put_headers(out, image.width, image.height, 8, 256, pixel_bytes);
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

std::vector<uint8_t> encode_bmp24(const RgbImage& image) {
    if (image.width == 0 || image.height == 0 || image.pixels.size() != size_t{image.width} * image.height) {
        throw std::invalid_argument("bitmap size and pixels disagree");
    }
    const uint32_t row_bytes = image.width * 3;
    const uint32_t stride = (row_bytes + 3) & ~3u;
    const uint32_t pixel_bytes = stride * image.height;
    std::vector<uint8_t> out;
    put_headers(out, image.width, image.height, 24, 0, pixel_bytes);
    for (uint32_t row = image.height; row-- > 0;) {
        const Rgb* line = image.pixels.data() + size_t{row} * image.width;
        for (uint32_t x = 0; x < image.width; ++x) {
            out.push_back(line[x].b);
            out.push_back(line[x].g);
            out.push_back(line[x].r);
        }
        out.insert(out.end(), stride - row_bytes, 0);
    }
    return out;
}

}  // namespace art
