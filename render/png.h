// PNG encoding of pictures and parts of them, through libpng: fast for live
// and scenario frames, smallest for pictures that are published.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "render/image.h"

namespace render {

// What every PNG file starts with.
inline constexpr unsigned char kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

// `value` big-endian at `at`, as PNG stores numbers; returns the byte after.
unsigned char* put_be32(unsigned char* at, uint32_t value);
// The CRC a chunk ends with: of its type and its data.
uint32_t chunk_crc(const char type[4], const unsigned char* data, size_t size);

// Whether a PNG of opaque pixels carries alpha all the same: the frames of
// an animation share one header, and so one colour type.
enum class PngAlpha { kWhereNeeded, kAlways };

// Appends the PNG of `rect` of `image` to `out`: RGB where every pixel is
// opaque (unless kAlways), else straight RGBA as cairo's own writer gives.
// Throws RenderError when the rectangle is not inside the picture or libpng
// fails.
void encode_png(const Image& image, const PixelRect& rect, PngEffort effort, std::vector<unsigned char>& out,
                PngAlpha alpha = PngAlpha::kWhereNeeded);

// Appends the straight RGBA bytes of `rect` of `image`, row after row, as a
// browser's ImageData takes them: no decoding at the other end. Throws
// RenderError when the rectangle is not inside the picture.
void append_rgba(const Image& image, const PixelRect& rect, std::vector<unsigned char>& out);

}  // namespace render
