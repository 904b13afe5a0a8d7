// One element of a gauge drawn on cairo: pictures, needles, moving images,
// sprites and their placeholders.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "render/drawing.h"

namespace render {

// --- Elements -------------------------------------------------------------------

// Image flag bit 0 makes pure black transparent; the modules set it on every
// element, faces included, so the window shows through a round dial's corners.
bool black_is_clear(uint32_t image_flags) { return (image_flags & kImageTransparentBlack) != 0; }

namespace {

Look element_look(const Context& c, const runtime::ElementState& state, const Placement& e) {
    const Look look = black_is_clear(e.image_flags) ? (state.greyed ? Look::GreyOverlay : Look::Overlay)
                                                    : (state.greyed ? Look::GreyOpaque : Look::Opaque);
    return night_look(look, c.shade);
}

// Bilinear sampling is exact at whole-pixel places and a quarter of the cost
// of cairo's default filter; only where a picture shrinks below half its size
// would it drop detail, and there the default filter is kept.
cairo_filter_t filter_for(cairo_t* cr) {
    cairo_matrix_t matrix;
    cairo_get_matrix(cr, &matrix);
    const double shrink = std::fabs(matrix.xx * matrix.yy - matrix.xy * matrix.yx);
    return shrink >= 0.25 ? CAIRO_FILTER_BILINEAR : CAIRO_FILTER_GOOD;
}

}  // namespace

void paint_at(cairo_t* cr, cairo_surface_t* surface, double x, double y) {
    cairo_set_source_surface(cr, surface, x, y);
    cairo_pattern_set_filter(cairo_get_source(cr), filter_for(cr));
    cairo_paint(cr);
}

enum class Use { Paint, Mask };

namespace {

// Paints (or masks with) a bitmap at (x, y); false when the module lacks it.
// One that stays where it is from frame to frame (`stays`) goes through its
// picture made at device pixels, where there is one.
bool paint_bitmap(const Context& c, uint32_t resource_id, Look look, double x, double y, bool stays,
                  Use use = Use::Paint) {
    std::optional<BitmapCache::Placed> placed;
    if (stays) {
        cairo_matrix_t to_device;
        cairo_get_matrix(c.cr, &to_device);
        placed = c.bitmaps.placed(resource_id, look, to_device, x, y, filter_for(c.cr));
    }
    if (!placed) {
        cairo_surface_t* surface = c.bitmaps.surface(resource_id, look);
        if (surface == nullptr) return false;
        if (use == Use::Mask) {
            cairo_mask_surface(c.cr, surface, x, y);
        } else {
            paint_at(c.cr, surface, x, y);
        }
        return true;
    }
    cairo_save(c.cr);
    cairo_identity_matrix(c.cr);
    if (use == Use::Mask) {
        cairo_mask_surface(c.cr, placed->surface, placed->x, placed->y);
    } else {
        cairo_set_source_surface(c.cr, placed->surface, placed->x, placed->y);
        cairo_paint(c.cr);
    }
    cairo_restore(c.cr);
    return true;
}

void draw_picture(const Context& c, const runtime::ElementState& state, const Placement& e, double x, double y) {
    // A slider's place changes with its value: a picture made for one place
    // would seldom be drawn twice.
    if (paint_bitmap(c, state.resource_id, element_look(c, state, e), x, y, state.type != kSlider)) return;
    if (state.depth == 0) {
        placeholder_frame(c.cr, x, y, kFallbackExtent, kFallbackExtent, state.resource_id, true);
    } else {
        placeholder_frame(c.cr, x, y, kSmallPlaceholder, kSmallPlaceholder, state.resource_id, false);
    }
}

// Whether `surface` shows a pixel at (x, y) of its own space.
bool opaque_at(cairo_surface_t* surface, double x, double y) {
    if (surface == nullptr || !(x >= 0.0 && y >= 0.0)) return false;
    const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
    if (x >= width || y >= height) return false;
    cairo_surface_flush(surface);
    const unsigned char* row = cairo_image_surface_get_data(surface) +
                               static_cast<size_t>(cairo_image_surface_get_stride(surface)) * static_cast<size_t>(y);
    uint32_t pixel = 0;
    std::memcpy(&pixel, row + 4 * static_cast<size_t>(x), 4);
    return (pixel >> 24) != 0;
}

}  // namespace

// Whether the element, drawn as draw_element draws it, shows a pixel at (x, y).
bool shows_at(const Context& c, const runtime::ElementState& state, const Placement& e, double x, double y) {
    const Look look = element_look(c, state, e);
    switch (state.type) {
        case kStaticImage:
        case kIcon: return opaque_at(c.bitmaps.surface(state.resource_id, look), x - e.position_x, y - e.position_y);
        case kSlider: return opaque_at(c.bitmaps.surface(state.resource_id, look), x - state.x, y - state.y);
        case kNeedle: {
            // Back through the turn about the pivot.
            const double a = -radians(state.angle), dx = x - e.position_x, dy = y - e.position_y;
            return opaque_at(c.bitmaps.surface(state.resource_id, look), dx * std::cos(a) - dy * std::sin(a) + e.ofs_x,
                             dx * std::sin(a) + dy * std::cos(a) + e.ofs_y);
        }
        // The window's rectangle: the mask's size at the element's position.
        case kMovingImage:
        case kSprite: {
            cairo_surface_t* mask = c.bitmaps.surface(state.resource_id + 1, Look::Opaque);
            return mask != nullptr && x >= e.position_x && y >= e.position_y &&
                   x < e.position_x + cairo_image_surface_get_width(mask) &&
                   y < e.position_y + cairo_image_surface_get_height(mask);
        }
        default: return false;
    }
}

namespace {

void draw_needle(const Context& c, const runtime::ElementState& state, const Placement& e) {
    cairo_t* cr = c.cr;
    cairo_save(cr);
    cairo_translate(cr, e.position_x, e.position_y);
    cairo_rotate(cr, radians(state.angle));
    if (cairo_surface_t* surface = c.bitmaps.surface(state.resource_id, element_look(c, state, e))) {
        // In double: the pivot may be any 32-bit value, INT32_MIN included.
        paint_at(cr, surface, -static_cast<double>(e.ofs_x), -static_cast<double>(e.ofs_y));
    } else {
        const double length = 0.4 * c.gauge_width;
        set_colour(cr, kPlaceholderColour);
        cairo_rectangle(cr, 0.0, -1.5, length, 3.0);
        cairo_fill(cr);
        draw_number(cr, length - number_width(state.resource_id), 4.0, state.resource_id);
    }
    cairo_restore(cr);
}

void draw_moving_image(const Context& c, const runtime::ElementState& state, const Placement& e) {
    cairo_t* cr = c.cr;
    const uint32_t mask_id = state.resource_id + 1;
    cairo_surface_t* picture = c.bitmaps.surface(state.resource_id, element_look(c, state, e));
    cairo_surface_t* mask = c.bitmaps.surface(mask_id, element_look(c, state, e));
    if (picture == nullptr || mask == nullptr) {
        placeholder_frame(cr, e.position_x, e.position_y, kSmallPlaceholder * 2, kSmallPlaceholder,
                          picture == nullptr ? state.resource_id : mask_id, false);
        return;
    }
    cairo_save(cr);
    cairo_rectangle(cr, e.position_x, e.position_y, cairo_image_surface_get_width(mask),
                    cairo_image_surface_get_height(mask));
    cairo_clip(cr);
    paint_at(cr, picture, e.position_x - state.offset_x, e.position_y - state.offset_y);
    cairo_restore(cr);
    paint_bitmap(c, mask_id, element_look(c, state, e), e.position_x, e.position_y, true);
}

// From the gauge's space to the texture's: its centre on the background
// point, turned about it, then shifted along its own turned axes.
void turn_to_texture(cairo_t* cr, const runtime::ElementState& state, const Placement& e) {
    cairo_translate(cr, e.ofs_x, e.ofs_y);
    cairo_rotate(cr, radians(-state.rotation));
    cairo_translate(cr, state.shift_x, state.shift_y);
}

// The texture, scaled by texture_scale and placed as turn_to_texture says,
// as a pattern for the context's present user space; null when it is scaled
// to nothing.
cairo_pattern_t* turned_texture(cairo_t* cr, const runtime::ElementState& state, const Placement& e,
                                cairo_surface_t* texture) {
    const double scale_x = std::isfinite(e.texture_scale_x) ? e.texture_scale_x : 0.0;
    const double scale_y = std::isfinite(e.texture_scale_y) ? e.texture_scale_y : 0.0;
    if (scale_x == 0.0 || scale_y == 0.0) return nullptr;
    cairo_matrix_t user_to_device, texel_to_device;
    cairo_get_matrix(cr, &user_to_device);
    cairo_save(cr);
    turn_to_texture(cr, state, e);
    cairo_scale(cr, scale_x, scale_y);
    cairo_translate(cr, -cairo_image_surface_get_width(texture) / 2.0, -cairo_image_surface_get_height(texture) / 2.0);
    const cairo_filter_t filter = filter_for(cr);
    cairo_get_matrix(cr, &texel_to_device);
    cairo_restore(cr);
    if (cairo_matrix_invert(&texel_to_device) != CAIRO_STATUS_SUCCESS) return nullptr;
    // A pattern keeps no space of its own: its matrix goes from the user
    // space it is drawn in to the texture's pixels.
    cairo_matrix_t user_to_texel;
    cairo_matrix_multiply(&user_to_texel, &user_to_device, &texel_to_device);
    cairo_pattern_t* turned = cairo_pattern_create_for_surface(texture);
    cairo_pattern_set_matrix(turned, &user_to_texel);
    cairo_pattern_set_filter(turned, filter);
    return turned;
}

// Whether the compositor's fixed-point numbers hold every part of `m`.
bool within_fixed_point(const cairo_matrix_t& m) {
    for (const double part : {m.xx, m.yx, m.xy, m.yy, m.x0, m.y0}) {
        if (!(std::fabs(part) < 16384.0)) return false;
    }
    return true;
}

void draw_sprite(const Context& c, const runtime::ElementState& state, const Placement& e) {
    cairo_t* cr = c.cr;
    const uint32_t mask_id = state.resource_id + 1;
    cairo_pattern_t* turned = nullptr;
    if (cairo_surface_t* texture = c.bitmaps.surface(state.resource_id, element_look(c, state, e))) {
        turned = turned_texture(cr, state, e, texture);
    } else {
        // The texture's place: a cross through its centre, turned with it.
        cairo_push_group(cr);
        turn_to_texture(cr, state, e);
        set_colour(cr, kPlaceholderColour);
        cairo_rectangle(cr, -30.0, -1.0, 60.0, 2.0);
        cairo_rectangle(cr, -1.0, -30.0, 2.0, 20.0);
        cairo_fill(cr);
        draw_number(cr, 4.0, 4.0, state.resource_id);
        turned = cairo_pop_group(cr);
    }
    const bool windowed = c.bitmaps.surface(mask_id, Look::Window) != nullptr;
    if (turned != nullptr) {
        cairo_save(cr);
        cairo_matrix_t user_to_texel;
        cairo_pattern_get_matrix(turned, &user_to_texel);
        if (within_fixed_point(user_to_texel)) {
            // Straight through the window onto the gauge, in one pass.
            cairo_set_source(cr, turned);
        } else {
            // Records no texture is placed by: a failure in a group of its
            // own stops this gauge's drawing, where one on the picture itself
            // would stick to it and spoil every gauge after.
            cairo_push_group(cr);
            cairo_set_source(cr, turned);
            cairo_paint(cr);
            cairo_pop_group_to_source(cr);
        }
        if (windowed) {
            paint_bitmap(c, mask_id, Look::Window, e.position_x, e.position_y, true, Use::Mask);
        } else {
            cairo_paint(cr);
        }
        cairo_restore(cr);
        cairo_pattern_destroy(turned);
    }
    if (windowed) {
        paint_bitmap(c, mask_id, element_look(c, state, e), e.position_x, e.position_y, true);
    } else {
        placeholder_frame(cr, e.position_x, e.position_y, kSmallPlaceholder * 2, kSmallPlaceholder, mask_id, false);
    }
}

}  // namespace

void draw_element(const Context& c, const runtime::ElementState& state, const Placement& e) {
    if (!state.visible) return;
    switch (state.type) {
        case kStaticImage:
        case kIcon: draw_picture(c, state, e, e.position_x, e.position_y); break;
        case kSlider: draw_picture(c, state, e, state.x, state.y); break;
        case kNeedle: draw_needle(c, state, e); break;
        case kMovingImage: draw_moving_image(c, state, e); break;
        case kSprite: draw_sprite(c, state, e); break;
        default:
            // String elements and unknown kinds: nothing of the records says how.
            break;
    }
}

}  // namespace render
