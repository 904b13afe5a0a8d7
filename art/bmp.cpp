#include "art/bmp.h"

#include <stdexcept>

#include "frame/bitmap_format.h"

namespace art {
namespace {

namespace bmp = frame::bmp;

// The file's headers, the pixels to follow; `palette_entries` colours after them.
void put_headers(std::vector<uint8_t>& out, uint32_t width, uint32_t height, uint16_t bits, uint32_t palette_entries) {
    const bmp::InfoHeader info = bmp::info_header(width, height, bits, palette_entries);
    const bmp::FileHeader file = bmp::file_header(info);
    out.reserve(file.file_size);
    frame::append_struct(out, file);
    frame::append_struct(out, info);
}

}  // namespace

std::vector<uint8_t> encode_bmp(const IndexedImage& image, const std::array<Rgb, 256>& palette) {
    if (image.width == 0 || image.height == 0 || image.pixels.size() != size_t{image.width} * image.height) {
        throw std::invalid_argument("bitmap size and pixels disagree");
    }
    const auto stride = static_cast<uint32_t>(bmp::row_bytes(image.width, 8));
    std::vector<uint8_t> out;
    put_headers(out, image.width, image.height, 8, 256);
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
    const auto stride = static_cast<uint32_t>(bmp::row_bytes(image.width, 24));
    std::vector<uint8_t> out;
    put_headers(out, image.width, image.height, 24, 0);
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
