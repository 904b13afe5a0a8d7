// A picture the renderer draws into: a cairo ARGB32 image surface, owned.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <stdexcept>
#include <string>

namespace render {

enum class PngEffort {
    kFast,      // libdeflate's fastest level, no row filter: a few times faster than cairo's writer
    kSmallest,  // zlib level 9, every row filter tried: for the pictures that are published
};

// A rectangle of a picture in its pixels.
struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

class RenderError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class Image {
public:
    // A transparent picture; throws RenderError when cairo cannot make it.
    Image(int width, int height);
    ~Image();
    Image(Image&& other) noexcept;
    Image& operator=(Image&& other) noexcept;
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    int width() const { return width_; }
    int height() const { return height_; }
    cairo_surface_t* surface() const { return surface_; }

    // 0xAARRGGBB, alpha not premultiplied out (pictures here are opaque or
    // fully transparent except at edges). Out-of-range points read 0.
    uint32_t pixel(int x, int y) const;
    // The raw premultiplied pixels, `stride` bytes per row.
    const unsigned char* data() const;
    int stride() const;

    // Throws RenderError naming the file when it cannot be written.
    void write_png(const std::string& path, PngEffort effort = PngEffort::kFast) const;

private:
    cairo_surface_t* surface_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace render
