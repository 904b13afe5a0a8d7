// Synthetic pictures for rendering tests: a canvas of colours painted with
// rectangles, made into an 8-bit palettised bitmap.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "runtime/dib.h"

namespace synthetic {

inline constexpr uint32_t kClear = 0x000000;  // transparent over a background

struct Canvas {
    uint32_t width, height;
    std::vector<uint32_t> rgb;

    Canvas(uint32_t w, uint32_t h, uint32_t fill) : width(w), height(h), rgb(size_t{w} * h, fill) {}

    Canvas& rect(int32_t x, int32_t y, int32_t w, int32_t h, uint32_t colour) {
        for (int32_t row = std::max(y, 0); row < std::min<int32_t>(y + h, static_cast<int32_t>(height)); ++row) {
            for (int32_t column = std::max(x, 0); column < std::min<int32_t>(x + w, static_cast<int32_t>(width));
                 ++column) {
                rgb[static_cast<size_t>(row) * width + static_cast<size_t>(column)] = colour;
            }
        }
        return *this;
    }

    // Everything outside the rectangle set to `colour`.
    Canvas& frame(int32_t thickness, uint32_t colour) {
        const auto w = static_cast<int32_t>(width), h = static_cast<int32_t>(height);
        rect(0, 0, w, thickness, colour).rect(0, h - thickness, w, thickness, colour);
        return rect(0, 0, thickness, h, colour).rect(w - thickness, 0, thickness, h, colour);
    }

    // Palettised, entry 0 black, the canvas's other colours after it.
    runtime::Bitmap bitmap(bool top_down = false) const {
        std::vector<uint32_t> palette{0x000000};
        std::vector<uint8_t> indices;
        indices.reserve(rgb.size());
        for (uint32_t colour : rgb) {
            auto found = std::find(palette.begin(), palette.end(), colour);
            if (found == palette.end()) {
                if (palette.size() == 256) throw std::invalid_argument("more than 256 colours");
                palette.push_back(colour);
                found = palette.end() - 1;
            }
            indices.push_back(static_cast<uint8_t>(found - palette.begin()));
        }
        return runtime::make_palettised_bitmap(width, height, palette, indices, top_down);
    }
};

}  // namespace synthetic
