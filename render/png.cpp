#include "render/png.h"

#include <libdeflate.h>
#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>

#include "platform/output_file.h"

namespace render {
namespace {

struct Sink {
    std::vector<unsigned char>* out;
    char error[160];
};

void on_write(png_structp png, png_bytep data, png_size_t size) {
    auto* sink = static_cast<Sink*>(png_get_io_ptr(png));
    sink->out->insert(sink->out->end(), data, data + size);
}

void on_flush(png_structp) {}

// libpng reports through longjmp: the message is kept for the exception
// thrown once control is back in C++ frames with nothing to unwind.
void on_error(png_structp png, png_const_charp message) {
    auto* sink = static_cast<Sink*>(png_get_error_ptr(png));
    std::snprintf(sink->error, sizeof sink->error, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

// cairo keeps premultiplied native-endian ARGB; PNG wants straight RGBA,
// rounded as cairo's own writer rounds, so pictures stay pixel-identical.
void unpremultiply(const uint32_t* from, int count, unsigned char* to) {
    for (int i = 0; i < count; ++i, to += 4) {
        const uint32_t pixel = from[i];
        const uint32_t alpha = pixel >> 24;
        if (alpha == 0) {
            std::memset(to, 0, 4);
            continue;
        }
        const auto channel = [&](int shift) {
            const uint32_t value = pixel >> shift & 0xFF;
            return static_cast<unsigned char>(alpha == 255 ? value : (value * 255 + alpha / 2) / alpha);
        };
        to[0] = channel(16);
        to[1] = channel(8);
        to[2] = channel(0);
        to[3] = static_cast<unsigned char>(alpha);
    }
}

// Whether every pixel of the rectangle is opaque: then the PNG carries no
// alpha, a quarter less to compress and nothing to divide.
bool opaque(const Image& image, const PixelRect& rect) {
    for (int y = rect.y; y < rect.y + rect.height; ++y) {
        const auto* row = reinterpret_cast<const uint32_t*>(image.data() + static_cast<size_t>(image.stride()) * y);
        uint32_t all = 0xFF000000u;
        for (int x = rect.x; x < rect.x + rect.width; ++x) all &= row[x];
        if (all < 0xFF000000u) return false;
    }
    return true;
}

void to_rgb(const uint32_t* from, int count, unsigned char* to) {
    for (int i = 0; i < count; ++i, to += 3) {
        to[0] = static_cast<unsigned char>(from[i] >> 16);
        to[1] = static_cast<unsigned char>(from[i] >> 8);
        to[2] = static_cast<unsigned char>(from[i]);
    }
}

void require_inside(const Image& image, const PixelRect& rect) {
    if (rect.width <= 0 || rect.height <= 0 || rect.x < 0 || rect.y < 0 || rect.x > image.width() - rect.width ||
        rect.y > image.height() - rect.height) {
        throw RenderError("a part of " + std::to_string(rect.width) + " x " + std::to_string(rect.height) + " at (" +
                          std::to_string(rect.x) + ", " + std::to_string(rect.y) + ") is not inside a picture of " +
                          std::to_string(image.width()) + " x " + std::to_string(image.height()));
    }
}

// One chunk: length, type, `data`, and the CRC of type and data.
void append_chunk(std::vector<unsigned char>& out, const char type[4], const unsigned char* data, size_t size) {
    unsigned char head[8];
    std::memcpy(put_be32(head, static_cast<uint32_t>(size)), type, 4);
    unsigned char tail[4];
    put_be32(tail, chunk_crc(type, data, size));
    out.insert(out.end(), std::begin(head), std::end(head));
    if (size > 0) out.insert(out.end(), data, data + size);
    out.insert(out.end(), std::begin(tail), std::end(tail));
}

// The fast effort's PNG: unfiltered rows compressed in one pass by
// libdeflate at its fastest level, which is both quicker and smaller than
// zlib's fastest, and which needs the rows whole rather than streamed.
void encode_fast(const Image& image, const PixelRect& rect, bool solid, std::vector<unsigned char>& out) {
    const size_t pixel_bytes = solid ? 3 : 4;
    const size_t row_bytes = 1 + pixel_bytes * static_cast<size_t>(rect.width);
    const size_t rows_size = row_bytes * static_cast<size_t>(rect.height);
    // Left uninitialised: every byte is written, and fresh pages are not
    // touched twice.
    const std::unique_ptr<unsigned char[]> rows(new unsigned char[rows_size]);
    for (int y = 0; y < rect.height; ++y) {
        unsigned char* row = rows.get() + row_bytes * static_cast<size_t>(y);
        row[0] = PNG_FILTER_VALUE_NONE;
        const auto* source =
            reinterpret_cast<const uint32_t*>(image.data() + static_cast<size_t>(image.stride()) * (rect.y + y)) +
            rect.x;
        if (solid) {
            to_rgb(source, rect.width, row + 1);
        } else {
            unpremultiply(source, rect.width, row + 1);
        }
    }
    const std::unique_ptr<libdeflate_compressor, void (*)(libdeflate_compressor*)> compressor(
        libdeflate_alloc_compressor(1), libdeflate_free_compressor);
    if (!compressor) throw RenderError("cannot start a PNG encoder: out of memory");
    const size_t bound = libdeflate_zlib_compress_bound(compressor.get(), rows_size);
    const std::unique_ptr<unsigned char[]> packed(new unsigned char[bound]);
    const size_t packed_size = libdeflate_zlib_compress(compressor.get(), rows.get(), rows_size, packed.get(), bound);
    if (packed_size == 0) throw RenderError("cannot encode the picture as PNG: the compressed rows overflow");

    // Room for the whole file at once: growing by doubling would touch
    // twice its size in fresh pages.
    constexpr size_t kChunkFraming = 12, kLargestChunk = size_t{1} << 30;  // a chunk's length is 31 bits
    out.reserve(out.size() + sizeof kPngSignature + 3 * kChunkFraming + 13 + packed_size +
                kChunkFraming * (packed_size / kLargestChunk));
    out.insert(out.end(), std::begin(kPngSignature), std::end(kPngSignature));
    unsigned char header[13] = {};
    put_be32(put_be32(header, static_cast<uint32_t>(rect.width)), static_cast<uint32_t>(rect.height));
    header[8] = 8;  // bits per channel
    header[9] = solid ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA;
    append_chunk(out, "IHDR", header, sizeof header);
    for (size_t at = 0; at < packed_size; at += kLargestChunk)
        append_chunk(out, "IDAT", packed.get() + at, std::min(kLargestChunk, packed_size - at));
    append_chunk(out, "IEND", nullptr, 0);
}

}  // namespace

unsigned char* put_be32(unsigned char* at, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) *at++ = static_cast<unsigned char>(value >> shift);
    return at;
}

uint32_t chunk_crc(const char type[4], const unsigned char* data, size_t size) {
    const uint32_t crc = libdeflate_crc32(0, type, 4);
    return size > 0 ? libdeflate_crc32(crc, data, size) : crc;
}

void append_rgba(const Image& image, const PixelRect& rect, std::vector<unsigned char>& out) {
    require_inside(image, rect);
    const size_t at = out.size(), row_bytes = static_cast<size_t>(rect.width) * 4;
    out.resize(at + row_bytes * static_cast<size_t>(rect.height));
    for (int y = rect.y; y < rect.y + rect.height; ++y) {
        const auto* source =
            reinterpret_cast<const uint32_t*>(image.data() + static_cast<size_t>(image.stride()) * y) + rect.x;
        unpremultiply(source, rect.width, out.data() + at + row_bytes * static_cast<size_t>(y - rect.y));
    }
}

void encode_png(const Image& image, const PixelRect& rect, PngEffort effort, std::vector<unsigned char>& out,
                PngAlpha alpha) {
    require_inside(image, rect);
    const bool solid = alpha == PngAlpha::kWhereNeeded && opaque(image, rect);
    if (effort == PngEffort::kFast) {
        encode_fast(image, rect, solid, out);
        return;
    }
    Sink sink{&out, {}};
    std::vector<unsigned char> row(static_cast<size_t>(rect.width) * 4);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &sink, on_error, on_warning);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        throw RenderError("cannot start a PNG encoder");
    }
    const unsigned char* pixels = image.data();
    const int stride = image.stride();
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        throw RenderError(std::string("cannot encode the picture as PNG: ") + sink.error);
    }
    png_set_write_fn(png, &sink, on_write, on_flush);
    png_set_compression_level(png, 9);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_ALL_FILTERS);
    png_set_IHDR(png, info, static_cast<png_uint_32>(rect.width), static_cast<png_uint_32>(rect.height), 8,
                 solid ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_BASE,
                 PNG_FILTER_TYPE_BASE);
    png_write_info(png, info);
    for (int y = rect.y; y < rect.y + rect.height; ++y) {
        const auto* source = reinterpret_cast<const uint32_t*>(pixels + static_cast<size_t>(stride) * y) + rect.x;
        if (solid) {
            to_rgb(source, rect.width, row.data());
        } else {
            unpremultiply(source, rect.width, row.data());
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
}

void Image::write_png(const std::string& path, PngEffort effort) const {
    std::vector<unsigned char> bytes;
    encode_png(*this, PixelRect{0, 0, width_, height_}, effort, bytes);
    // Under a temporary name until complete: an interrupted write leaves no
    // truncated picture under the name asked for.
    try {
        platform::write_output_file(path, bytes);
    } catch (const platform::OutputPathError& error) {
        throw RenderError(std::string("cannot write the picture: ") + error.what());
    } catch (const platform::OutputFileError& error) {
        throw RenderError(std::string("cannot write the picture: ") + error.what());
    }
}

}  // namespace render
