#include "runtime/dib.h"

#include <memory>
#include <span>
#include <string>

#include "emulator/pe/pe_image.h"
#include "frame/bitmap_format.h"
#include "platform/input_file.h"

namespace runtime {
namespace {

namespace bmp = frame::bmp;
using emulator::kMaxDrawableExtent;
using emulator::kMaxDrawablePixels;

uint32_t bgr(std::span<const uint8_t> bytes, size_t offset) {
    return static_cast<uint32_t>(bytes[offset + 2]) << 16 | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           bytes[offset];
}

// The header of an uncompressed bitmap, first bytes of its DIB.
std::vector<uint8_t> info_header(uint32_t width, uint32_t height, uint16_t bits, uint32_t palette_entries,
                                 bool top_down) {
    std::vector<uint8_t> bytes;
    frame::append_struct(bytes, bmp::info_header(width, height, bits, palette_entries, top_down));
    return bytes;
}

}  // namespace

std::string undrawable_reason(const Bitmap& bitmap) {
    const uint32_t bits = bitmap.bits_per_pixel;
    if (bitmap.width == 0 || bitmap.height == 0) return "no size";
    if (bitmap.width > kMaxDrawableExtent || bitmap.height > kMaxDrawableExtent)
        return "larger than " + std::to_string(kMaxDrawableExtent) + " pixels a side";
    if (uint64_t{bitmap.width} * bitmap.height > kMaxDrawablePixels)
        return "more than " + std::to_string(kMaxDrawablePixels) + " pixels";
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return std::to_string(bits) + " bits per pixel";
    if (bitmap.compression != 0) return "compressed (" + std::to_string(bitmap.compression) + ")";
    const std::span<const uint8_t> dib = bitmap.dib();
    if (dib.empty()) return "";  // a size only: nothing more to check
    std::string why;
    const std::optional<bmp::DibHeader> header = bmp::read_dib_header(dib, why);
    if (!header) return why;
    const uint32_t entries = bits <= 8 ? bitmap.palette_entries : 0;
    if (entries > 256 || header->palette_offset() + header->palette_entry_bytes() * entries > dib.size())
        return "colour table beyond the bitmap";
    const uint64_t stride = bmp::row_bytes(bitmap.width, bits);
    if (bitmap.pixel_offset > dib.size() || stride * bitmap.height > dib.size() - bitmap.pixel_offset)
        return "pixels beyond the bitmap";
    return "";
}

void check_drawable(const Bitmap& bitmap) {
    if (bitmap.dib().empty()) throw DibError("no pixel data");
    if (std::string reason = undrawable_reason(bitmap); !reason.empty()) throw DibError(reason);
}

void decode_dib_into(const Bitmap& bitmap, uint32_t* pixels, size_t stride) {
    const std::span<const uint8_t> dib = bitmap.dib();
    const uint32_t bits = bitmap.bits_per_pixel;
    check_drawable(bitmap);

    std::string why;
    const bmp::DibHeader header = *bmp::read_dib_header(dib, why);  // check_drawable read it
    const uint32_t entries = bits <= 8 ? bitmap.palette_entries : 0;
    // Indices past the colour table are black, as the table's unused
    // entries would be.
    uint32_t palette[256] = {};
    for (uint32_t i = 0; i < entries; ++i)
        palette[i] = bgr(dib, header.palette_offset() + header.palette_entry_bytes() * i);
    const uint64_t row_bytes = bmp::row_bytes(bitmap.width, bits);
    const uint32_t mask = (1u << (bits <= 8 ? bits : 0)) - 1u;
    // Every row lies within the bytes (undrawable_reason said so): each is
    // read through a plain pointer, depth by depth, pixel loops kept tight.
    for (uint32_t y = 0; y < bitmap.height; ++y) {
        const uint32_t stored_row = bitmap.top_down ? y : bitmap.height - 1 - y;
        const uint8_t* in = dib.data() + bitmap.pixel_offset + static_cast<size_t>(row_bytes * stored_row);
        uint32_t* out = pixels + stride * y;
        switch (bits) {
            case 8:
                for (uint32_t x = 0; x < bitmap.width; ++x) out[x] = palette[in[x]];
                break;
            case 24:
            case 32:
                for (uint32_t x = 0; x < bitmap.width; ++x, in += bits / 8) {
                    out[x] = static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[1]) << 8 | in[0];
                }
                break;
            default:
                for (uint32_t x = 0; x < bitmap.width; ++x) {
                    const size_t bit = size_t{x} * bits;
                    // The leftmost pixel sits in the byte's high bits.
                    const uint32_t shift = 8 - bits - static_cast<uint32_t>(bit % 8);
                    out[x] = palette[(in[bit / 8] >> shift) & mask];
                }
                break;
        }
    }
}

Picture decode_dib(const Bitmap& bitmap) {
    check_drawable(bitmap);  // before allocating for its size
    Picture picture;
    picture.width = bitmap.width;
    picture.height = bitmap.height;
    picture.rgb.resize(size_t{bitmap.width} * bitmap.height);
    decode_dib_into(bitmap, picture.rgb.data(), bitmap.width);
    return picture;
}

Picture read_bmp_file(const std::string& path) {
    // The largest picture decoded, in 24-bit rows, with room for its headers.
    constexpr std::uintmax_t kMaxFileBytes = kMaxDrawablePixels * 3 + (64u << 10);
    // Read once and kept whole: the bitmap's bytes are the file's, past its
    // file header, not a copy of them (a panel's background is megabytes).
    std::shared_ptr<const std::vector<uint8_t>> file_bytes;
    try {
        file_bytes = std::make_shared<const std::vector<uint8_t>>(platform::read_input_bytes(path, kMaxFileBytes));
    } catch (const platform::InputFileError& error) {
        throw DibError(path + ": " + error.what());
    }
    const std::span<const uint8_t> bytes(*file_bytes);
    const std::optional<bmp::FileHeader> file = bmp::read_file_header(bytes);
    if (!file || bytes.size() < sizeof(bmp::FileHeader) + sizeof(bmp::InfoHeader))
        throw DibError(path + ": not a BMP file");
    Bitmap bitmap;
    bitmap.set_dib(file_bytes, sizeof(bmp::FileHeader), bytes.size() - sizeof(bmp::FileHeader));
    std::string why;
    const std::optional<bmp::DibHeader> header = bmp::read_dib_header(bitmap.dib(), why);
    if (!header || header->size < sizeof(bmp::InfoHeader)) throw DibError(path + ": unknown bitmap header");
    if (header->width <= 0 || header->height == 0 || header->height == INT32_MIN) throw DibError(path + ": bad size");
    bitmap.width = static_cast<uint32_t>(header->width);
    bitmap.top_down = header->height < 0;
    bitmap.height = static_cast<uint32_t>(header->height < 0 ? -header->height : header->height);
    bitmap.bits_per_pixel = header->bits_per_pixel;
    bitmap.compression = header->compression;
    if (bitmap.bits_per_pixel != 8 && bitmap.bits_per_pixel != 24)
        throw DibError(path + ": " + std::to_string(bitmap.bits_per_pixel) + " bits per pixel (8 or 24 are read)");
    bitmap.palette_entries =
        bitmap.bits_per_pixel == 8 ? (header->colours_used != 0 ? header->colours_used : 256u) : 0u;
    if (file->pixel_offset < sizeof(bmp::FileHeader)) throw DibError(path + ": pixels before the bitmap header");
    bitmap.pixel_offset = file->pixel_offset - static_cast<uint32_t>(sizeof(bmp::FileHeader));
    try {
        return decode_dib(bitmap);
    } catch (const DibError& error) {
        throw DibError(path + ": " + error.what());
    }
}

Bitmap make_palettised_bitmap(uint32_t width, uint32_t height, const std::vector<uint32_t>& palette,
                              const std::vector<uint8_t>& indices, bool top_down) {
    if (width == 0 || height == 0 || palette.empty() || palette.size() > 256 ||
        indices.size() != size_t{width} * height)
        throw std::invalid_argument("make_palettised_bitmap: sizes do not agree");
    const auto entries = static_cast<uint32_t>(palette.size());
    Bitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bits_per_pixel = 8;
    bitmap.top_down = top_down;
    bitmap.palette_entries = entries;
    std::vector<uint8_t> dib = info_header(width, height, 8, entries, top_down);
    for (uint32_t colour : palette) {
        for (uint32_t shift : {0u, 8u, 16u}) dib.push_back(static_cast<uint8_t>(colour >> shift));
        dib.push_back(0);
    }
    bitmap.pixel_offset = static_cast<uint32_t>(dib.size());
    const size_t stride = static_cast<size_t>(bmp::row_bytes(width, 8));
    std::vector<uint8_t> rows(stride * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        const uint32_t stored = top_down ? y : height - 1 - y;
        for (uint32_t x = 0; x < width; ++x) rows[stride * stored + x] = indices[size_t{y} * width + x];
    }
    dib.insert(dib.end(), rows.begin(), rows.end());
    bitmap.set_dib(std::move(dib));
    return bitmap;
}

Bitmap make_rgb_bitmap(uint32_t width, uint32_t height, const std::vector<uint32_t>& rgb) {
    if (width == 0 || height == 0 || rgb.size() != size_t{width} * height)
        throw std::invalid_argument("make_rgb_bitmap: sizes do not agree");
    Bitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bits_per_pixel = 24;
    std::vector<uint8_t> dib = info_header(width, height, 24, 0, false);
    bitmap.pixel_offset = static_cast<uint32_t>(dib.size());
    const size_t stride = static_cast<size_t>(bmp::row_bytes(width, 24));
    std::vector<uint8_t> rows(stride * height, 0);
    for (uint32_t y = 0; y < height; ++y) {
        uint8_t* row = &rows[stride * (height - 1 - y)];
        for (uint32_t x = 0; x < width; ++x) {
            const uint32_t colour = rgb[size_t{y} * width + x];
            row[3 * x] = static_cast<uint8_t>(colour);
            row[3 * x + 1] = static_cast<uint8_t>(colour >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(colour >> 16);
        }
    }
    dib.insert(dib.end(), rows.begin(), rows.end());
    bitmap.set_dib(std::move(dib));
    return bitmap;
}

}  // namespace runtime
