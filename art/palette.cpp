#include "art/palette.h"

#include <cstddef>
#include <stdexcept>
#include <vector>

namespace art {
namespace {

Rgb mix(Rgb a, Rgb b, int step, int steps) {
    auto channel = [&](uint8_t x, uint8_t y) {
        return static_cast<uint8_t>((x * (steps - step) + y * step + steps / 2) / steps);
    };
    return {channel(a.r, b.r), channel(a.g, b.g), channel(a.b, b.b)};
}

}  // namespace

Palette::Palette() {
    std::vector<Rgb> entries;
    entries.push_back(colour::kTransparent);
    // A 6 x 6 x 6 colour cube for everything in between; its black corner is
    // left out (it would be a second transparent entry).
    for (int r = 0; r < 6; ++r) {
        for (int g = 0; g < 6; ++g) {
            for (int b = 0; b < 6; ++b) {
                if (r == 0 && g == 0 && b == 0) continue;
                entries.push_back(
                    {static_cast<uint8_t>(51 * r), static_cast<uint8_t>(51 * g), static_cast<uint8_t>(51 * b)});
            }
        }
    }
    // Greys between the cube's, dark ones closest: faces, cases and metal.
    for (uint8_t grey : {8, 16, 24, 32, 40, 60, 72, 84, 120, 136, 180, 220}) entries.push_back({grey, grey, grey});
    // Face to cream, so that marks and numerals keep smooth edges.
    for (int step = 1; step <= 8; ++step) entries.push_back(mix(colour::kFace, colour::kCream, step, 8));
    // Lamps and warnings, from unlit glass to bright.
    for (Rgb c : {colour::kRedDark, colour::kRedDim, Rgb{150, 20, 16}, Rgb{200, 30, 20}, colour::kRedBright,
                  Rgb{255, 130, 110}}) {
        entries.push_back(c);
    }
    for (Rgb c : {colour::kGreenDark, colour::kGreenDim, Rgb{24, 140, 44}, colour::kGreenBright, Rgb{120, 240, 140}}) {
        entries.push_back(c);
    }
    for (Rgb c : {Rgb{90, 60, 8}, Rgb{160, 110, 16}, colour::kAmber, Rgb{255, 205, 90}}) entries.push_back(c);
    for (Rgb c : {Rgb{120, 100, 60}, colour::kBrass, colour::kOrange, colour::kPanel, colour::kCaseDark}) {
        entries.push_back(c);
    }
    if (entries.size() != colours_.size()) throw std::logic_error("the palette must have exactly 256 entries");
    for (size_t i = 0; i < entries.size(); ++i) colours_[i] = entries[i];
}

uint8_t Palette::nearest_opaque(Rgb colour) {
    const uint32_t key = (uint32_t{colour.r} << 16) | (uint32_t{colour.g} << 8) | colour.b;
    if (auto found = memo_.find(key); found != memo_.end()) return found->second;
    int best = 1;
    int best_distance = 1 << 30;
    for (int i = 1; i < 256; ++i) {
        const int dr = int{colours_[i].r} - colour.r;
        const int dg = int{colours_[i].g} - colour.g;
        const int db = int{colours_[i].b} - colour.b;
        const int distance = dr * dr + dg * dg + db * db;
        if (distance < best_distance) {
            best_distance = distance;
            best = i;
        }
    }
    memo_.emplace(key, static_cast<uint8_t>(best));
    return static_cast<uint8_t>(best);
}

uint8_t Palette::from_argb32(uint32_t pixel) {
    const uint32_t alpha = pixel >> 24;
    if (alpha < 128) return 0;
    auto straight = [alpha](uint32_t premultiplied) {
        const uint32_t value = (premultiplied * 255 + alpha / 2) / alpha;
        return static_cast<uint8_t>(value > 255 ? 255 : value);
    };
    return nearest_opaque({straight((pixel >> 16) & 0xFF), straight((pixel >> 8) & 0xFF), straight(pixel & 0xFF)});
}

}  // namespace art
