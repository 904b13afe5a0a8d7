#include "render/image.h"

#include <utility>

namespace render {

Image::Image(int width, int height) : width_(width), height_(height) {
    if (width <= 0 || height <= 0)
        throw RenderError("picture of " + std::to_string(width) + " x " + std::to_string(height) + " pixels");
    surface_ = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height);
    if (cairo_surface_status(surface_) != CAIRO_STATUS_SUCCESS) {
        const std::string reason = cairo_status_to_string(cairo_surface_status(surface_));
        cairo_surface_destroy(surface_);
        throw RenderError("cannot make a picture of " + std::to_string(width) + " x " + std::to_string(height) +
                          " pixels: " + reason);
    }
}

Image::~Image() {
    if (surface_ != nullptr) cairo_surface_destroy(surface_);
}

Image::Image(Image&& other) noexcept
    : surface_(std::exchange(other.surface_, nullptr)), width_(other.width_), height_(other.height_) {}

Image& Image::operator=(Image&& other) noexcept {
    if (this != &other) {
        if (surface_ != nullptr) cairo_surface_destroy(surface_);
        surface_ = std::exchange(other.surface_, nullptr);
        width_ = other.width_;
        height_ = other.height_;
    }
    return *this;
}

const unsigned char* Image::data() const {
    cairo_surface_flush(surface_);
    return cairo_image_surface_get_data(surface_);
}

int Image::stride() const { return cairo_image_surface_get_stride(surface_); }

uint32_t Image::pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
    const auto* row = reinterpret_cast<const uint32_t*>(data() + static_cast<size_t>(stride()) * y);
    const uint32_t premultiplied = row[x];
    const uint32_t alpha = premultiplied >> 24;
    if (alpha == 0) return 0;
    if (alpha == 255) return premultiplied;
    auto channel = [&](int shift) {
        const uint32_t value = (premultiplied >> shift & 0xFF) * 255 / alpha;
        return (value > 255 ? 255u : value) << shift;
    };
    return alpha << 24 | channel(16) | channel(8) | channel(0);
}

}  // namespace render
