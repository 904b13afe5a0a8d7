// The bitmap file (.bmp) and the device-independent bitmap inside it, which
// a module's RT_BITMAP resource holds without the file header: each header
// written once (frame/format_struct.h), with the one encoder of an
// uncompressed bitmap's headers and the one decoder of a DIB's header that
// the PE reader, the runtime's decoder, the art and the build's black
// bitmaps all go by.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "frame/format_struct.h"

namespace frame::bmp {

// clang-format off

#define FRAME_BMP_FILE_HEADER(F) \
    F(uint16_t, magic, 0)  /* kMagic */ \
    F(uint32_t, file_size, 2) \
    F(uint32_t, reserved, 6) \
    F(uint32_t, pixel_offset, 10)  /* from the file's start */
FRAME_FORMAT_STRUCT(FileHeader, FRAME_BMP_FILE_HEADER, 14)

// OS/2's header, which resources may still hold: 3-byte palette entries.
#define FRAME_BMP_CORE_HEADER(F) \
    F(uint32_t, header_size, 0) \
    F(uint16_t, width, 4) \
    F(uint16_t, height, 6) \
    F(uint16_t, planes, 8) \
    F(uint16_t, bits_per_pixel, 10)
FRAME_FORMAT_STRUCT(CoreHeader, FRAME_BMP_CORE_HEADER, 12)

// Windows' header (BITMAPINFOHEADER); a longer one (V4, V5) begins with it.
#define FRAME_BMP_INFO_HEADER(F) \
    F(uint32_t, header_size, 0) \
    F(int32_t, width, 4) \
    F(int32_t, height, 8)  /* negative: stored top row first */ \
    F(uint16_t, planes, 12) \
    F(uint16_t, bits_per_pixel, 14) \
    F(uint32_t, compression, 16) \
    F(uint32_t, image_size, 20) \
    F(int32_t, x_pixels_per_metre, 24) \
    F(int32_t, y_pixels_per_metre, 28) \
    F(uint32_t, colours_used, 32)  /* 0: all that the depth has */ \
    F(uint32_t, colours_important, 36)
FRAME_FORMAT_STRUCT(InfoHeader, FRAME_BMP_INFO_HEADER, 40)

// clang-format on

inline constexpr uint16_t kMagic = 'B' | 'M' << 8;
inline constexpr uint16_t kPlanes = 1;
enum Compression : uint32_t {
    kUncompressed = 0,  // BI_RGB
    kBitfields = 3,     // BI_BITFIELDS: three colour masks follow a 40-byte header
};
inline constexpr uint32_t kBitfieldMasksBytes = 12;
// 72 dots per inch, as the files the build writes state it.
inline constexpr int32_t kPixelsPerMetre = 2835;

// A palette entry: blue, green, red (and a zero byte after Windows' header).
constexpr uint64_t palette_entry_bytes(uint32_t header_size) { return header_size == sizeof(CoreHeader) ? 3 : 4; }
// A row of pixels, padded to four bytes.
constexpr uint64_t row_bytes(uint64_t width, uint32_t bits_per_pixel) { return (width * bits_per_pixel + 31) / 32 * 4; }

// --- Writing -----------------------------------------------------------------

// The header of an uncompressed bitmap: `palette_entries` colours follow it
// (Windows' 4-byte entries), then the rows, bottom-up unless `top_down`.
inline InfoHeader info_header(uint32_t width, uint32_t height, uint16_t bits_per_pixel, uint32_t palette_entries,
                              bool top_down = false) {
    InfoHeader header;
    header.header_size = sizeof(InfoHeader);
    header.width = static_cast<int32_t>(width);
    header.height = top_down ? -static_cast<int32_t>(height) : static_cast<int32_t>(height);
    header.planes = kPlanes;
    header.bits_per_pixel = bits_per_pixel;
    header.compression = kUncompressed;
    header.image_size = static_cast<uint32_t>(row_bytes(width, bits_per_pixel) * height);
    header.x_pixels_per_metre = kPixelsPerMetre;
    header.y_pixels_per_metre = kPixelsPerMetre;
    header.colours_used = palette_entries;
    return header;
}

// Where the pixels of a bitmap with `info` start, from its header's start.
constexpr uint32_t pixel_offset(const InfoHeader& info) {
    return static_cast<uint32_t>(sizeof(InfoHeader) + palette_entry_bytes(sizeof(InfoHeader)) * info.colours_used);
}

// The file header before a DIB of `dib_bytes` whose pixels start
// `dib_pixel_offset` bytes in.
constexpr FileHeader file_header(uint32_t dib_bytes, uint32_t dib_pixel_offset) {
    FileHeader header;
    header.magic = kMagic;
    header.file_size = static_cast<uint32_t>(sizeof(FileHeader)) + dib_bytes;
    header.pixel_offset = static_cast<uint32_t>(sizeof(FileHeader)) + dib_pixel_offset;
    return header;
}
// The file header before the uncompressed bitmap `info` describes.
constexpr FileHeader file_header(const InfoHeader& info) {
    return file_header(pixel_offset(info) + info.image_size, pixel_offset(info));
}

// --- Reading -----------------------------------------------------------------

// A DIB's header, whichever of the two it is, as one.
struct DibHeader {
    uint32_t size = 0;  // as stated: sizeof(CoreHeader), or sizeof(InfoHeader) or more
    int64_t width = 0;
    int64_t height = 0;  // negative: stored top row first
    uint16_t bits_per_pixel = 0;
    uint32_t compression = kUncompressed;
    uint32_t colours_used = 0;

    // Where its palette starts, and each entry's size.
    uint64_t palette_offset() const { return size; }
    uint64_t palette_entry_bytes() const { return bmp::palette_entry_bytes(size); }
};

// The header at the start of `dib`; nullopt, with `why`, when there is none:
// "no header" (fewer bytes than its size), "unknown header size N",
// "header larger than the bitmap".
inline std::optional<DibHeader> read_dib_header(std::span<const uint8_t> dib, std::string& why) {
    if (dib.size() < sizeof(uint32_t)) {
        why = "no header";
        return std::nullopt;
    }
    DibHeader header;
    header.size = read_struct<uint32_t>(dib, 0);
    if (header.size != sizeof(CoreHeader) && header.size < sizeof(InfoHeader)) {
        why = "unknown header size " + std::to_string(header.size);
        return std::nullopt;
    }
    if (header.size > dib.size()) {
        why = "header larger than the bitmap";
        return std::nullopt;
    }
    if (header.size == sizeof(CoreHeader)) {
        const auto core = read_struct<CoreHeader>(dib, 0);
        header.width = core.width;
        header.height = core.height;
        header.bits_per_pixel = core.bits_per_pixel;
    } else {
        const auto info = read_struct<InfoHeader>(dib, 0);
        header.width = info.width;
        header.height = info.height;
        header.bits_per_pixel = info.bits_per_pixel;
        header.compression = info.compression;
        header.colours_used = info.colours_used;
    }
    return header;
}

// A .bmp file's header: nullopt when `file` does not begin with one.
inline std::optional<FileHeader> read_file_header(std::span<const uint8_t> file) {
    if (file.size() < sizeof(FileHeader)) return std::nullopt;
    const auto header = read_struct<FileHeader>(file, 0);
    if (header.magic != kMagic) return std::nullopt;
    return header;
}

}  // namespace frame::bmp
