// Surfaces in the looks the renderer draws with, and the placeholders' font.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

#include "render/drawing.h"

namespace render {

void set_colour(cairo_t* cr, uint32_t rgb) {
    cairo_set_source_rgb(cr, (rgb >> 16 & 0xFF) / 255.0, (rgb >> 8 & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

namespace {

bool greyed_look(Look look) { return look == Look::GreyOpaque || look == Look::GreyOverlay; }

// The look a glow look glows of.
Look lit_look(Look look) {
    switch (look) {
        case Look::GlowOpaque: return Look::Opaque;
        case Look::GlowOverlay: return Look::Overlay;
        case Look::GlowGreyOpaque: return Look::GreyOpaque;
        case Look::GlowGreyOverlay: return Look::GreyOverlay;
        case Look::ShadowOpaque: return Look::Opaque;
        case Look::ShadowOverlay: return Look::Overlay;
        default: return look;
    }
}

bool shadow_look(Look look) { return look == Look::ShadowOpaque || look == Look::ShadowOverlay; }

uint32_t look_pixel(uint32_t rgb, Look look);

// Luminous paint is a warm cream by day: a pale pixel with red over blue
// glows, the more the paler, where grey and white metal (bezels, switch
// levers, screws) and dark paint do not. The glow is a fixed dim green, as
// radium paint's: a fraction of the daylight white.
uint32_t glow_pixel(uint32_t lit) {
    if (lit >> 24 == 0) return 0u;
    const int r = static_cast<int>(lit >> 16 & 0xFF), g = static_cast<int>(lit >> 8 & 0xFF),
              b = static_cast<int>(lit & 0xFF);
    const double lightness = (r + g + b) / (3.0 * 255.0);
    const double pale = std::clamp((lightness - kGlow.palest_dark) / (kGlow.palest_full - kGlow.palest_dark), 0.0, 1.0);
    const double warm = std::clamp((r - b) / kGlow.warmth_full, 0.0, 1.0);
    const double glow = kGlow.strength * pale * pale * warm;
    const auto channel = [&](double colour) { return static_cast<uint32_t>(std::lround(255.0 * glow * colour)); };
    return 0xFF000000u | channel(kGlow.r) << 16 | channel(kGlow.g) << 8 | channel(kGlow.b);
}

// Premultiplied ARGB32 of one decoded colour in a look.
uint32_t look_pixel(uint32_t rgb, Look look) {
    if (shadow_look(look)) return look_pixel(rgb, lit_look(look)) & 0xFF000000u;
    if (lit_look(look) != look) return glow_pixel(look_pixel(rgb, lit_look(look)));
    const bool black = (rgb & 0xFFFFFF) == 0;
    switch (look) {
        case Look::Window: return black ? 0xFF000000u : 0u;
        case Look::Overlay:
        case Look::GreyOverlay:
            if (black) return 0u;
            break;
        default: break;
    }
    if (greyed_look(look)) {
        // A failed instrument: its colours drained and dimmed to half.
        const double luminance = 0.30 * (rgb >> 16 & 0xFF) + 0.59 * (rgb >> 8 & 0xFF) + 0.11 * (rgb & 0xFF);
        const auto grey = static_cast<uint32_t>(std::lround(luminance * 0.5));
        return 0xFF000000u | grey << 16 | grey << 8 | grey;
    }
    return 0xFF000000u | (rgb & 0xFFFFFF);
}

}  // namespace

Look night_look(Look look, Shade shade) {
    if (shade == Shade::kShadow) {
        return look == Look::Opaque || look == Look::GreyOpaque ? Look::ShadowOpaque : Look::ShadowOverlay;
    }
    if (shade != Shade::kGlow) return look;
    switch (look) {
        case Look::Opaque: return Look::GlowOpaque;
        case Look::Overlay: return Look::GlowOverlay;
        case Look::GreyOpaque: return Look::GlowGreyOpaque;
        case Look::GreyOverlay: return Look::GlowGreyOverlay;
        default: return look;
    }
}

using SurfacePointer = std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)>;

namespace {

// A window is only ever a mask: alpha alone is a quarter of the bytes to
// read, and masks of alpha alone are what the compositor is quickest at.
SurfacePointer new_surface(uint32_t width, uint32_t height, Look look) {
    SurfacePointer made(cairo_image_surface_create(look == Look::Window ? CAIRO_FORMAT_A8 : CAIRO_FORMAT_ARGB32,
                                                   static_cast<int>(width), static_cast<int>(height)),
                        cairo_surface_destroy);
    if (cairo_surface_status(made.get()) != CAIRO_STATUS_SUCCESS) made.reset();
    if (made) cairo_surface_flush(made.get());
    return made;
}

// Turns the 0xRRGGBB colours of an ARGB32 surface into the look, in place.
void apply_look(cairo_surface_t* surface, Look look) {
    unsigned char* data = cairo_image_surface_get_data(surface);
    const auto stride = static_cast<size_t>(cairo_image_surface_get_stride(surface));
    const auto width = static_cast<size_t>(cairo_image_surface_get_width(surface));
    for (int y = 0; y < cairo_image_surface_get_height(surface); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(data + stride * static_cast<size_t>(y));
        // The common looks spelt out (as look_pixel gives them), so that
        // each loop compiles to the few operations its look needs.
        switch (look) {
            case Look::Opaque:
                for (size_t x = 0; x < width; ++x) row[x] = 0xFF000000u | row[x];
                break;
            case Look::Overlay:
                for (size_t x = 0; x < width; ++x) {
                    const uint32_t rgb = row[x] & 0xFFFFFFu;
                    row[x] = rgb == 0 ? 0u : 0xFF000000u | rgb;
                }
                break;
            default:
                for (size_t x = 0; x < width; ++x) row[x] = look_pixel(row[x], look);
                break;
        }
    }
    cairo_surface_mark_dirty(surface);
}

}  // namespace

// A surface of the picture in the look; null when cairo cannot make one.
cairo_surface_t* make_surface(const runtime::Picture& picture, Look look) {
    SurfacePointer made = new_surface(picture.width, picture.height, look);
    if (!made) return nullptr;
    unsigned char* data = cairo_image_surface_get_data(made.get());
    const auto stride = static_cast<size_t>(cairo_image_surface_get_stride(made.get()));
    for (uint32_t y = 0; y < picture.height; ++y) {
        unsigned char* line = data + stride * y;
        if (look == Look::Window) {
            for (uint32_t x = 0; x < picture.width; ++x) line[x] = look_pixel(picture.at(x, y), look) >> 24;
        } else {
            std::memcpy(line, &picture.rgb[size_t{y} * picture.width], 4 * size_t{picture.width});
        }
    }
    if (look == Look::Window) {
        cairo_surface_mark_dirty(made.get());
    } else {
        apply_look(made.get(), look);
    }
    return made.release();
}

// The same, the bitmap decoded straight into the surface. Throws DibError
// when it does not decode.
cairo_surface_t* make_surface(const runtime::Bitmap& bitmap, Look look) {
    if (look == Look::Window) return make_surface(runtime::decode_dib(bitmap), look);
    runtime::check_drawable(bitmap);  // before allocating for its size
    SurfacePointer made = new_surface(bitmap.width, bitmap.height, look);
    if (!made) return nullptr;
    runtime::decode_dib_into(bitmap, reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(made.get())),
                             static_cast<size_t>(cairo_image_surface_get_stride(made.get())) / 4);
    apply_look(made.get(), look);
    return made.release();
}

// --- Placeholders: a 3 x 5 digit font, drawn in rectangles -----------------------

constexpr uint16_t kDigits[10] = {
    0b111'101'101'101'111, 0b010'110'010'010'111, 0b111'001'111'100'111, 0b111'001'111'001'111, 0b101'101'111'001'001,
    0b111'100'111'001'111, 0b111'100'111'101'111, 0b111'001'010'010'010, 0b111'101'111'101'111, 0b111'101'111'001'111,
};
constexpr double kDot = 2.0;  // background pixels per font dot

void draw_number(cairo_t* cr, double x, double y, uint32_t number) {
    const std::string text = std::to_string(number);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint16_t glyph = kDigits[text[i] - '0'];
        for (int row = 0; row < 5; ++row) {
            for (int column = 0; column < 3; ++column) {
                if ((glyph >> (14 - (row * 3 + column)) & 1) == 0) continue;
                cairo_rectangle(cr, x + (static_cast<double>(i) * 4 + column) * kDot, y + row * kDot, kDot, kDot);
            }
        }
    }
    cairo_fill(cr);
}

double number_width(uint32_t number) { return (std::to_string(number).size() * 4.0 - 1.0) * kDot; }

// A frame with the bitmap's id in it, at (x, y).
void placeholder_frame(cairo_t* cr, double x, double y, double width, double height, uint32_t id, bool filled) {
    cairo_save(cr);
    if (filled) {
        set_colour(cr, kPlaceholderFill);
        cairo_rectangle(cr, x, y, width, height);
        cairo_fill(cr);
    }
    set_colour(cr, kPlaceholderColour);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, x + 0.5, y + 0.5, width - 1.0, height - 1.0);
    cairo_stroke(cr);
    draw_number(cr, x + 3.0, y + 3.0, id);
    cairo_restore(cr);
}

}  // namespace render
