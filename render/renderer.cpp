#include "render/renderer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>

#include "runtime/dib.h"

namespace render {
namespace {

constexpr uint32_t kFallbackExtent = 100;
constexpr uint32_t kSurroundColour = 0x141414;
constexpr uint32_t kPlaceholderColour = 0xA0A0A0;
constexpr uint32_t kPlaceholderFill = 0x3C3C3C;

double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

void set_colour(cairo_t* cr, uint32_t rgb) {
    cairo_set_source_rgb(cr, (rgb >> 16 & 0xFF) / 255.0, (rgb >> 8 & 0xFF) / 255.0, (rgb & 0xFF) / 255.0);
}

bool greyed_look(Look look) { return look == Look::GreyOpaque || look == Look::GreyOverlay; }

// Premultiplied ARGB32 of one decoded colour in a look.
uint32_t look_pixel(uint32_t rgb, Look look) {
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

using SurfacePointer = std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t*)>;

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
        // The common looks as constants, so that each loop compiles to the
        // few operations its look needs.
        switch (look) {
            case Look::Opaque:
                for (size_t x = 0; x < width; ++x) row[x] = look_pixel(row[x], Look::Opaque);
                break;
            case Look::Overlay:
                for (size_t x = 0; x < width; ++x) row[x] = look_pixel(row[x], Look::Overlay);
                break;
            default:
                for (size_t x = 0; x < width; ++x) row[x] = look_pixel(row[x], look);
                break;
        }
    }
    cairo_surface_mark_dirty(surface);
}

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

constexpr double kSmallPlaceholder = 24.0;

// --- Elements -------------------------------------------------------------------

struct Context {
    cairo_t* cr;
    BitmapCache& bitmaps;
    double gauge_width;
};

// What the drawing takes from an element's records beside its evaluation,
// copied out of the module's memory once per element drawn.
struct Placement {
    int32_t position_x = 0, position_y = 0;
    int32_t ofs_x = 0, ofs_y = 0;
    uint32_t image_flags = 0;
    float texture_scale_x = 1.0f, texture_scale_y = 1.0f;  // sprites only
};

// Throws runtime::ModuleFault where the records no longer lie in the module's memory.
Placement placement_of(const runtime::ModuleMemory& memory, const runtime::ElementState& state) {
    const guest::ELEMENT_HEADER& e = memory.read(state.element);
    Placement placed{e.position_x, e.position_y, e.ofs_x, e.ofs_y, e.image_flags};
    if (state.type == kSprite) {
        const guest::ELEMENT_SPRITE& sprite = memory.read(state.element.cast<guest::ELEMENT_SPRITE>());
        placed.texture_scale_x = sprite.texture_scale_x;
        placed.texture_scale_y = sprite.texture_scale_y;
    }
    return placed;
}

// Image flag bit 0 makes pure black transparent; the modules set it on every
// element, faces included, so the window shows through a round dial's corners.
bool black_is_clear(uint32_t image_flags) { return (image_flags & kImageTransparentBlack) != 0; }

Look element_look(const runtime::ElementState& state, const Placement& e) {
    if (black_is_clear(e.image_flags)) return state.greyed ? Look::GreyOverlay : Look::Overlay;
    return state.greyed ? Look::GreyOpaque : Look::Opaque;
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

void paint_at(cairo_t* cr, cairo_surface_t* surface, double x, double y) {
    cairo_set_source_surface(cr, surface, x, y);
    cairo_pattern_set_filter(cairo_get_source(cr), filter_for(cr));
    cairo_paint(cr);
}

enum class Use { Paint, Mask };

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
    if (paint_bitmap(c, state.resource_id, element_look(state, e), x, y, state.type != kSlider)) return;
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

// Whether the element, drawn as draw_element draws it, shows a pixel at (x, y).
bool shows_at(const Context& c, const runtime::ElementState& state, const Placement& e, double x, double y) {
    const Look look = element_look(state, e);
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

void draw_needle(const Context& c, const runtime::ElementState& state, const Placement& e) {
    cairo_t* cr = c.cr;
    cairo_save(cr);
    cairo_translate(cr, e.position_x, e.position_y);
    cairo_rotate(cr, radians(state.angle));
    if (cairo_surface_t* surface = c.bitmaps.surface(state.resource_id, element_look(state, e))) {
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
    cairo_surface_t* picture = c.bitmaps.surface(state.resource_id, element_look(state, e));
    cairo_surface_t* mask = c.bitmaps.surface(mask_id, element_look(state, e));
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
    paint_bitmap(c, mask_id, element_look(state, e), e.position_x, e.position_y, true);
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
    if (cairo_surface_t* texture = c.bitmaps.surface(state.resource_id, element_look(state, e))) {
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
        paint_bitmap(c, mask_id, element_look(state, e), e.position_x, e.position_y, true);
    } else {
        placeholder_frame(cr, e.position_x, e.position_y, kSmallPlaceholder * 2, kSmallPlaceholder, mask_id, false);
    }
}

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

}  // namespace

// --- BitmapCache ----------------------------------------------------------------

namespace {

// The part of an ARGB32 or A8 `surface` that has any alpha (one pixel at
// least), and where in it that part begins; `surface` is taken over. Painting
// or masking with the rest would leave every pixel as it was, yet cost a pass
// over each.
BitmapCache::Placed cropped_to_alpha(cairo_surface_t* surface) {
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface), height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const bool alpha_only = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_A8;
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const auto clear = [&](int x, const unsigned char* row) {
        return alpha_only ? row[x] == 0 : reinterpret_cast<const uint32_t*>(row)[x] >> 24 == 0;
    };
    // Each row is looked at outside the columns already known to hold alpha,
    // and inside them only until some is found: a face or a bezel is
    // settled within a few pixels a row.
    int left = width, right = -1, top = height, bottom = -1;
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = data + static_cast<size_t>(stride) * y;
        bool any = false;
        int x = 0;
        while (x < left && clear(x, row)) ++x;
        if (x < left) {
            left = x;
            any = true;
        }
        int last = width - 1;
        while (last > right && clear(last, row)) --last;
        if (last > right) {
            right = last;
            any = true;
        }
        for (int inside = left; !any && inside <= right; ++inside) any = !clear(inside, row);
        if (!any) continue;
        top = std::min(top, y);
        bottom = y;
    }
    if (right < 0) left = right = top = bottom = 0;
    if (left == 0 && top == 0 && right == width - 1 && bottom == height - 1) return {surface, 0, 0};
    const int kept_width = right - left + 1, kept_height = bottom - top + 1;
    cairo_surface_t* kept =
        cairo_image_surface_create(cairo_image_surface_get_format(surface), kept_width, kept_height);
    if (cairo_surface_status(kept) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(kept);
        return {surface, 0, 0};
    }
    cairo_surface_flush(kept);
    const size_t pixel_bytes = alpha_only ? 1 : 4;
    for (int y = 0; y < kept_height; ++y) {
        std::memcpy(cairo_image_surface_get_data(kept) + static_cast<size_t>(cairo_image_surface_get_stride(kept)) * y,
                    data + static_cast<size_t>(stride) * (top + y) + pixel_bytes * left, pixel_bytes * kept_width);
    }
    cairo_surface_mark_dirty(kept);
    cairo_surface_destroy(surface);
    return {kept, left, top};
}

}  // namespace

BitmapCache::~BitmapCache() { clear(); }

void BitmapCache::clear() {
    for (auto& [key, surface] : surfaces_) {
        if (surface != nullptr) cairo_surface_destroy(surface);
    }
    surfaces_.clear();
    for (auto& [key, placed] : placed_) cairo_surface_destroy(placed.surface);
    placed_.clear();
}

std::optional<BitmapCache::Placed> BitmapCache::placed(uint32_t resource_id, Look look, const cairo_matrix_t& to_device,
                                                       double x, double y, cairo_filter_t filter) {
    const double scale_x = to_device.xx, scale_y = to_device.yy;
    if (to_device.xy != 0.0 || to_device.yx != 0.0 || !(scale_x > 0.0) || !(scale_y > 0.0)) return std::nullopt;
    const double device_x = to_device.x0 + scale_x * x, device_y = to_device.y0 + scale_y * y;
    // Far enough out for the filter's reach, however large the scale.
    const double margin_x = 2.0 + std::ceil(scale_x), margin_y = 2.0 + std::ceil(scale_y);
    const double left = std::floor(device_x) - margin_x, top = std::floor(device_y) - margin_y;
    if (!(std::fabs(left) < 1e6 && std::fabs(top) < 1e6)) return std::nullopt;
    const PlacedKey key{resource_id, look, filter, scale_x, scale_y, device_x - left, device_y - top};
    if (scale_x == 1.0 && scale_y == 1.0 && key.fraction_x == margin_x && key.fraction_y == margin_y) {
        return std::nullopt;
    }
    auto found = placed_.find(key);
    if (found == placed_.end()) {
        cairo_surface_t* bitmap = surface(resource_id, look);
        if (bitmap == nullptr) return std::nullopt;
        const double width = std::ceil(key.fraction_x + scale_x * cairo_image_surface_get_width(bitmap) + margin_x);
        const double height = std::ceil(key.fraction_y + scale_y * cairo_image_surface_get_height(bitmap) + margin_y);
        if (!(width * height < 64.0 * 1024 * 1024)) return std::nullopt;
        cairo_surface_t* made = cairo_image_surface_create(cairo_image_surface_get_format(bitmap),
                                                           static_cast<int>(width), static_cast<int>(height));
        cairo_t* cr = cairo_create(made);
        cairo_translate(cr, key.fraction_x, key.fraction_y);
        cairo_scale(cr, scale_x, scale_y);
        cairo_set_source_surface(cr, bitmap, 0.0, 0.0);
        cairo_pattern_set_filter(cairo_get_source(cr), filter);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_paint(cr);
        const cairo_status_t status = cairo_status(cr);
        cairo_destroy(cr);
        if (status != CAIRO_STATUS_SUCCESS || cairo_surface_status(made) != CAIRO_STATUS_SUCCESS) {
            cairo_surface_destroy(made);
            return std::nullopt;
        }
        // Panels rescaled without end (a live page resized) must not hoard
        // pictures of scales no longer drawn.
        if (placed_.size() >= 4096) {
            for (auto& [old_key, old] : placed_) cairo_surface_destroy(old.surface);
            placed_.clear();
        }
        found = placed_.emplace(key, cropped_to_alpha(made)).first;
    }
    const Placed& kept = found->second;
    return Placed{kept.surface, static_cast<int>(left) + kept.x, static_cast<int>(top) + kept.y};
}

cairo_surface_t* BitmapCache::surface(uint32_t resource_id, Look look) {
    const auto key = std::make_pair(resource_id, look);
    if (auto found = surfaces_.find(key); found != surfaces_.end()) return found->second;
    cairo_surface_t* made = nullptr;
    if (std::optional<runtime::Bitmap> bitmap = module_.bitmap(resource_id)) {
        try {
            made = make_surface(*bitmap, look);
        } catch (const runtime::DibError&) {
            made = nullptr;  // drawn as a placeholder
        }
    }
    surfaces_.emplace(key, made);
    return made;
}

// --- Gauges and panels -------------------------------------------------------------

namespace {

// The gauge's first element, its background; null when it has none or its
// header's list cannot be read (the instance refused such records already).
std::optional<guest::ELEMENT_HEADER> background_of(const runtime::GaugeInstance& instance) {
    const runtime::ModuleMemory memory = instance.module().records();
    try {
        const frame::GuestPtr<const runtime::ElementPtr> roots = memory.read(instance.gauge()).element_list;
        if (!roots) return std::nullopt;
        const runtime::ElementPtr first = memory.read(roots);
        if (!first) return std::nullopt;
        return memory.read(first);
    } catch (const runtime::ModuleFault&) {
        return std::nullopt;
    }
}

}  // namespace

std::pair<uint32_t, uint32_t> gauge_extent(const runtime::GaugeInstance& instance, BitmapCache& bitmaps) {
    if (const std::optional<guest::ELEMENT_HEADER> background = background_of(instance)) {
        // The surface drawn anyway.
        const Look look = black_is_clear(background->image_flags) ? Look::Overlay : Look::Opaque;
        if (cairo_surface_t* root = bitmaps.surface(background->resource_id, look)) {
            return {static_cast<uint32_t>(cairo_image_surface_get_width(root)),
                    static_cast<uint32_t>(cairo_image_surface_get_height(root))};
        }
    }
    return {kFallbackExtent, kFallbackExtent};
}

namespace {

// The elements from `from` on; `at_split` is called before element `split`
// is drawn (or after the last, when `split` is their count). Drawing a gauge
// in two such parts gives the same pixels as in one: each element's drawing
// leaves the context as it found it.
// The panel's flood light at night: what it lights is seen at a quarter or
// so of its daylight brightness, warmed towards a dim red.
constexpr double kFloodR = 0.12, kFloodG = 0.035, kFloodB = 0.02, kFloodCover = 0.74;

// One element at night: drawn through a group that the flood light covers
// where the element itself shows (atop), so its transparent parts stay so.
void draw_element_at_night(const Context& c, const runtime::ElementState& state, const Placement& e) {
    cairo_t* cr = c.cr;
    cairo_push_group(cr);
    draw_element(c, state, e);
    cairo_set_operator(cr, CAIRO_OPERATOR_ATOP);
    cairo_set_source_rgba(cr, kFloodR, kFloodG, kFloodB, kFloodCover);
    cairo_paint(cr);
    cairo_pop_group_to_source(cr);
    cairo_paint(cr);
}

template <typename AtSplit>
void draw_gauge_from(cairo_t* cr, const runtime::GaugeInstance& instance, BitmapCache& bitmaps, size_t from,
                     size_t split, AtSplit&& at_split) {
    const bool night = instance.host().night();
    const auto [width, height] = gauge_extent(instance, bitmaps);
    cairo_save(cr);
    cairo_rectangle(cr, 0.0, 0.0, width, height);
    cairo_clip(cr);
    const Context context{cr, bitmaps, static_cast<double>(width)};
    const runtime::ModuleMemory memory = instance.module().records();
    const std::vector<runtime::ElementState>& elements = instance.elements();
    for (size_t i = from; i < elements.size(); ++i) {
        if (i == split) at_split();
        if (!elements[i].visible) continue;
        try {
            const Placement placed = placement_of(memory, elements[i]);
            if (night && (placed.image_flags & kImageBright) == 0) {
                draw_element_at_night(context, elements[i], placed);
            } else {
                draw_element(context, elements[i], placed);
            }
        } catch (const runtime::ModuleFault& fault) {
            cairo_restore(cr);
            throw runtime::GaugeFault(
                runtime::fault_message(instance.module(), "gauge " + instance.name() + ", drawing its elements", fault),
                fault);
        }
    }
    if (split == elements.size() && split >= from) at_split();
    cairo_restore(cr);
}

}  // namespace

int element_at(const runtime::GaugeInstance& instance, BitmapCache& bitmaps, double x, double y) {
    const auto [width, height] = gauge_extent(instance, bitmaps);
    if (!(x >= 0.0 && y >= 0.0 && x < width && y < height)) return -1;
    const Context context{nullptr, bitmaps, static_cast<double>(width)};
    const runtime::ModuleMemory memory = instance.module().records();
    const std::vector<runtime::ElementState>& elements = instance.elements();
    for (size_t i = elements.size(); i-- > 0;) {
        if (elements[i].visible && shows_at(context, elements[i], placement_of(memory, elements[i]), x, y))
            return static_cast<int>(i);
    }
    return -1;
}

void draw_gauge(cairo_t* cr, const runtime::GaugeInstance& instance, BitmapCache& bitmaps) {
    draw_gauge_from(cr, instance, bitmaps, 0, SIZE_MAX, [] {});
}

namespace {

// A picture side in whole pixels; checked in double, before it becomes an int.
int pixels(double extent) {
    const double rounded = std::ceil(extent - 1e-9);
    if (!(rounded <= panels::Panel::kMaxPicturePixels)) {
        throw RenderError("a picture " + std::to_string(extent) + " pixels across; at most " +
                          std::to_string(panels::Panel::kMaxPicturePixels) + " can be drawn");
    }
    return rounded < 1.0 ? 1 : static_cast<int>(rounded);
}

std::string gauge_name(const runtime::GaugeInstance& instance) {
    return instance.name().empty() ? "(unnamed)" : instance.name();
}

// Draws one gauge through a context of its own, so that a gauge whose
// records drive cairo into its error state (which sticks to the context)
// spoils no other. Returns the context's status; a GaugeFault passes through.
template <typename Draw>
cairo_status_t draw_alone(cairo_surface_t* surface, Draw&& draw) {
    const std::unique_ptr<cairo_t, void (*)(cairo_t*)> cr(cairo_create(surface), cairo_destroy);
    draw(cr.get());
    return cairo_status(cr.get());
}

// --- What render_frame() keeps --------------------------------------------------------

// Everything the drawing of an element reads, as words: two elements with the
// same words are drawn alike. A hidden element is drawn as nothing, whatever
// its other fields say.
constexpr size_t kKeyWords = 15;

uint64_t bits_of(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

uint64_t pair_of(uint32_t high, uint32_t low) { return static_cast<uint64_t>(high) << 32 | low; }

void append_key(std::vector<uint64_t>& keys, const runtime::ModuleMemory& memory, const runtime::ElementState& state) {
    const size_t at = keys.size();
    keys.resize(at + kKeyWords, 0);
    uint64_t* key = keys.data() + at;
    key[0] = state.element.address;
    key[1] = state.visible;
    if (!state.visible) return;
    const Placement e = placement_of(memory, state);
    key[1] |= pair_of(state.type, state.greyed ? 2u : 0u) | static_cast<uint64_t>(state.depth == 0) << 2;
    key[2] = pair_of(state.resource_id, e.image_flags);
    key[3] = pair_of(static_cast<uint32_t>(e.position_x), static_cast<uint32_t>(e.position_y));
    key[4] = pair_of(static_cast<uint32_t>(e.ofs_x), static_cast<uint32_t>(e.ofs_y));
    key[5] = bits_of(state.angle);
    key[6] = bits_of(state.x);
    key[7] = bits_of(state.y);
    key[8] = bits_of(state.offset_x);
    key[9] = bits_of(state.offset_y);
    key[10] = bits_of(state.shift_x);
    key[11] = bits_of(state.shift_y);
    key[12] = bits_of(state.rotation);
    if (state.type == kSprite) {
        key[13] = bits_of(e.texture_scale_x);
        key[14] = bits_of(e.texture_scale_y);
    }
}

// The gauge's keys: its extent first, then one key per element.
void gauge_keys(const runtime::GaugeInstance& instance, BitmapCache& bitmaps, std::vector<uint64_t>& keys) {
    keys.clear();
    const auto [width, height] = gauge_extent(instance, bitmaps);
    keys.push_back(pair_of(width, height));
    const runtime::ModuleMemory memory = instance.module().records();
    try {
        for (const runtime::ElementState& state : instance.elements()) append_key(keys, memory, state);
    } catch (const runtime::ModuleFault& fault) {
        throw runtime::GaugeFault(
            runtime::fault_message(instance.module(), "gauge " + instance.name() + ", drawing its elements", fault),
            fault);
    }
}

// The first element drawn differently from `before` (their count when none).
size_t first_change(const std::vector<uint64_t>& before, const std::vector<uint64_t>& now) {
    if (before.empty() || before[0] != now[0]) return 0;
    const size_t common = std::min(before.size(), now.size());
    size_t word = 1;
    while (word < common && before[word] == now[word]) ++word;
    if (word == before.size() && word == now.size()) return (now.size() - 1) / kKeyWords;
    return (word - 1) / kKeyWords;
}

// The pixels of a gauge's rectangle: every pixel its clip may touch, within the picture.
PixelRect gauge_rect(const panels::Panel::Gauge& gauge, const Image& image) {
    const double left = std::max(0.0, std::floor(gauge.left)), top = std::max(0.0, std::floor(gauge.top));
    const double right = std::min<double>(image.width(), std::ceil(gauge.left + gauge.width));
    const double bottom = std::min<double>(image.height(), std::ceil(gauge.top + gauge.height));
    if (!(right > left && bottom > top)) return {};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

PixelRect window_rect(const panels::Panel::Window& window) {
    const double left = std::floor(window.left), top = std::floor(window.top);
    return {static_cast<int>(left), static_cast<int>(top),
            static_cast<int>(std::ceil(window.left + window.width) - left),
            static_cast<int>(std::ceil(window.top + window.height) - top)};
}

bool overlap(const PixelRect& a, const PixelRect& b) {
    return a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0 && a.x < b.x + b.width && b.x < a.x + a.width &&
           a.y < b.y + b.height && b.y < a.y + a.height;
}

void copy_out(const Image& image, const PixelRect& rect, std::vector<uint32_t>& pixels) {
    cairo_surface_flush(image.surface());
    pixels.resize(static_cast<size_t>(rect.width) * static_cast<size_t>(rect.height));
    const unsigned char* data = cairo_image_surface_get_data(image.surface());
    const size_t row_bytes = 4 * static_cast<size_t>(rect.width);
    for (int y = 0; y < rect.height; ++y) {
        std::memcpy(pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(rect.width),
                    data + static_cast<size_t>(rect.y + y) * static_cast<size_t>(image.stride()) +
                        4 * static_cast<size_t>(rect.x),
                    row_bytes);
    }
}

void copy_in(const Image& image, const PixelRect& rect, const std::vector<uint32_t>& pixels) {
    cairo_surface_flush(image.surface());
    unsigned char* data = cairo_image_surface_get_data(image.surface());
    const size_t row_bytes = 4 * static_cast<size_t>(rect.width);
    for (int y = 0; y < rect.height; ++y) {
        std::memcpy(data + static_cast<size_t>(rect.y + y) * static_cast<size_t>(image.stride()) +
                        4 * static_cast<size_t>(rect.x),
                    pixels.data() + static_cast<size_t>(y) * static_cast<size_t>(rect.width), row_bytes);
    }
    cairo_surface_mark_dirty_rectangle(image.surface(), rect.x, rect.y, rect.width, rect.height);
}

void throw_if_failed(cairo_status_t status, const runtime::GaugeInstance& instance) {
    if (status != CAIRO_STATUS_SUCCESS) {
        throw RenderError("gauge '" + gauge_name(instance) + "' cannot be drawn: " + cairo_status_to_string(status));
    }
}

}  // namespace

Image render_gauge(const runtime::GaugeInstance& instance, BitmapCache& bitmaps) {
    const auto [width, height] = gauge_extent(instance, bitmaps);
    const double scale = instance.scale();
    Image image(pixels(width * scale), pixels(height * scale));
    throw_if_failed(draw_alone(image.surface(),
                               [&](cairo_t* cr) {
                                   cairo_scale(cr, scale, scale);
                                   draw_gauge(cr, instance, bitmaps);
                               }),
                    instance);
    return image;
}

BitmapCache& PanelRenderer::bitmaps(const runtime::Module& module) {
    std::unique_ptr<BitmapCache>& cache = caches_[&module];
    if (!cache) cache = std::make_unique<BitmapCache>(module);
    return *cache;
}

PanelRenderer::~PanelRenderer() {
    for (auto& [picture, surface] : backgrounds_) {
        if (surface != nullptr) cairo_surface_destroy(surface);
    }
}

void PanelRenderer::draw_window(cairo_t* cr, const panels::Panel::Window& window) {
    set_colour(cr, window.config->background);
    cairo_rectangle(cr, window.left, window.top, window.width, window.height);
    cairo_fill(cr);
    const runtime::Picture* picture = window.background.get();
    if (picture == nullptr) return;
    auto found = backgrounds_.find(picture);
    if (found == backgrounds_.end()) found = backgrounds_.emplace(picture, make_surface(*picture, Look::Overlay)).first;
    if (found->second == nullptr) return;
    // Stretched over the window; its pure black shows the window's paint.
    cairo_save(cr);
    cairo_rectangle(cr, window.left, window.top, window.width, window.height);
    cairo_clip(cr);
    cairo_translate(cr, window.left, window.top);
    cairo_scale(cr, window.width / picture->width, window.height / picture->height);
    paint_at(cr, found->second, 0.0, 0.0);
    cairo_restore(cr);
}

// The window's paint and background under the flood light.
void PanelRenderer::light_window(cairo_t* cr, const panels::Panel::Window& window) {
    if (!panel_.host().night()) return;
    cairo_save(cr);
    cairo_rectangle(cr, window.left, window.top, window.width, window.height);
    cairo_set_source_rgba(cr, kFloodR, kFloodG, kFloodB, kFloodCover);
    cairo_fill(cr);
    cairo_restore(cr);
}

void PanelRenderer::draw_title(cairo_t* cr, const panels::Panel::Window& window) {
    const std::string& title = window.config->title;
    if (title.empty()) return;
    constexpr double kTextSize = 13.0, kPad = 4.0;
    cairo_save(cr);
    cairo_rectangle(cr, window.left, window.top, window.width, window.height);
    cairo_clip(cr);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, kTextSize);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, title.c_str(), &extents);
    cairo_set_source_rgba(cr, 0.0, 0.0, 0.0, 0.75);
    cairo_rectangle(cr, window.left, window.top, extents.x_advance + 2 * kPad, kTextSize + 2 * kPad);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 1.0, 0.85, 0.3);
    cairo_move_to(cr, window.left + kPad, window.top + kPad + kTextSize - 2.0);
    cairo_show_text(cr, title.c_str());
    cairo_restore(cr);
}

Image PanelRenderer::render() {
    Image image(pixels(panel_.picture_width()), pixels(panel_.picture_height()));
    draw_panel(image, false);
    return image;
}

// With `keep`, each gauge's pixels are kept as render_frame() needs them.
void PanelRenderer::draw_panel(Image& image, bool keep) {
    cairo_t* cr = cairo_create(image.surface());
    set_colour(cr, kSurroundColour);
    cairo_paint(cr);
    gauges_drawn_ = 0;
    const std::vector<panels::Panel::Gauge>& gauges = panel_.gauges();
    // Window by window, each over the ones before it, as overlapping windows
    // lie on the screen.
    for (const panels::Panel::Window& window : panel_.windows()) {
        draw_window(cr, window);
        light_window(cr, window);
        for (size_t i = 0; i < gauges.size(); ++i) {
            const panels::Panel::Gauge& gauge = gauges[i];
            if (!gauge.shown || gauge.window != window.config) continue;
            if (!keep) {
                draw_panel_gauge(image.surface(), gauge);
                continue;
            }
            Kept& kept = kept_[i];
            gauge_keys(*gauge.instance, bitmaps(*gauge.module), kept.keys);
            kept.prefix_valid = false;
            if (kept.alone) copy_out(image, kept.rect, kept.beneath);
            const size_t count = gauge.instance->elements().size();
            const cairo_status_t status = draw_gauge_part(image.surface(), i, 0, kept.alone ? count : SIZE_MAX);
            kept.drawn = status == CAIRO_STATUS_SUCCESS;
            gauge_drawn(gauge, status);
        }
        if (titles_) draw_title(cr, window);
    }
    cairo_destroy(cr);
}

// Which gauges can be drawn again by themselves: those whose pixels no other
// drawing after the windows' paint touches.
void PanelRenderer::plan_kept(const Image& image) {
    const std::vector<panels::Panel::Gauge>& gauges = panel_.gauges();
    kept_.assign(gauges.size(), Kept{});
    for (size_t i = 0; i < gauges.size(); ++i) {
        if (gauges[i].shown) kept_[i].rect = gauge_rect(gauges[i], image);
    }
    for (size_t i = 0; i < gauges.size(); ++i) {
        const panels::Panel::Gauge& gauge = gauges[i];
        if (!gauge.shown) continue;
        bool alone = !(titles_ && !gauge.window->title.empty());
        for (size_t j = 0; j < gauges.size() && alone; ++j) {
            if (j != i && gauges[j].shown && overlap(kept_[i].rect, kept_[j].rect)) alone = false;
        }
        // Windows painted after the gauge's own.
        bool later = false;
        for (const panels::Panel::Window& window : panel_.windows()) {
            if (later && overlap(kept_[i].rect, window_rect(window))) alone = false;
            if (window.config == gauge.window) later = true;
        }
        kept_[i].alone = alone;
    }
}

const Image& PanelRenderer::render_frame() {
    const int width = pixels(panel_.picture_width()), height = pixels(panel_.picture_height());
    changed_.clear();
    if (!frame_ || frame_->width() != width || frame_->height() != height || frame_titles_ != titles_ ||
        frame_night_ != panel_.host().night()) {
        frame_ = std::make_unique<Image>(width, height);
        frame_titles_ = titles_;
        frame_night_ = panel_.host().night();
        plan_kept(*frame_);
        draw_panel(*frame_, true);
        changed_.push_back({0, 0, width, height});
        return *frame_;
    }
    // The gauges to draw again, each with its first element drawn differently.
    std::vector<std::pair<size_t, size_t>> redraw;
    std::vector<uint64_t> keys;
    const std::vector<panels::Panel::Gauge>& gauges = panel_.gauges();
    for (size_t i = 0; i < gauges.size(); ++i) {
        if (!gauges[i].shown) continue;
        gauge_keys(*gauges[i].instance, bitmaps(*gauges[i].module), keys);
        const size_t first = first_change(kept_[i].keys, keys);
        if (first == gauges[i].instance->elements().size() && keys.size() == kept_[i].keys.size()) continue;
        if (!kept_[i].alone) {
            draw_panel(*frame_, true);
            changed_.push_back({0, 0, width, height});
            return *frame_;
        }
        kept_[i].keys.swap(keys);
        redraw.emplace_back(i, first);
    }
    for (const auto& [index, first] : redraw) {
        if (redraw_kept(index, first)) changed_.push_back(kept_[index].rect);
    }
    return *frame_;
}

// Draws a kept gauge again from its first changed element: over the pixels
// after the elements before it where those are kept, else over what lies
// beneath the gauge. Returns whether any pixel may have changed.
bool PanelRenderer::redraw_kept(size_t index, size_t first_changed) {
    Kept& kept = kept_[index];
    if (kept.rect.width == 0) return false;
    size_t from = 0, split = first_changed;
    if (kept.prefix_valid && first_changed >= kept.prefix_length) {
        copy_in(*frame_, kept.rect, kept.prefix);
        from = kept.prefix_length;
        split = SIZE_MAX;
    } else {
        copy_in(*frame_, kept.rect, kept.beneath);
        kept.prefix_valid = false;
    }
    const cairo_status_t status = draw_gauge_part(frame_->surface(), index, from, split);
    const bool drawn = status == CAIRO_STATUS_SUCCESS;
    if (drawn && !kept.drawn) ++gauges_drawn_;
    if (!drawn && kept.drawn) --gauges_drawn_;
    kept.drawn = drawn;
    if (!drawn) gauge_drawn(panel_.gauges()[index], status);
    return true;
}

// Elements from `from` on of one gauge, through a context of its own; for a
// kept gauge, the pixels before element `split` are kept as its prefix.
cairo_status_t PanelRenderer::draw_gauge_part(cairo_surface_t* surface, size_t index, size_t from, size_t split) {
    const panels::Panel::Gauge& gauge = panel_.gauges()[index];
    return draw_alone(surface, [&](cairo_t* cr) {
        cairo_rectangle(cr, gauge.left, gauge.top, gauge.width, gauge.height);
        cairo_clip(cr);
        cairo_translate(cr, gauge.left, gauge.top);
        cairo_scale(cr, gauge.scale_x(), gauge.scale_y());
        draw_gauge_from(cr, *gauge.instance, bitmaps(*gauge.module), from, split, [&] {
            Kept& kept = kept_[index];
            // A context in error draws nothing more: what follows is not
            // what the next frame would draw over these pixels.
            kept.prefix_valid = cairo_status(cr) == CAIRO_STATUS_SUCCESS;
            kept.prefix_length = split;
            if (kept.prefix_valid) copy_out(*frame_, kept.rect, kept.prefix);
        });
    });
}

// Each gauge through its own context: records cairo cannot follow put a
// context into an error that sticks, and must spoil no other gauge.
void PanelRenderer::draw_panel_gauge(cairo_surface_t* surface, const panels::Panel::Gauge& gauge) {
    const cairo_status_t status = draw_alone(surface, [&](cairo_t* cr) {
        cairo_rectangle(cr, gauge.left, gauge.top, gauge.width, gauge.height);
        cairo_clip(cr);
        cairo_translate(cr, gauge.left, gauge.top);
        cairo_scale(cr, gauge.scale_x(), gauge.scale_y());
        draw_gauge(cr, *gauge.instance, bitmaps(*gauge.module));
    });
    gauge_drawn(gauge, status);
}

void PanelRenderer::gauge_drawn(const panels::Panel::Gauge& gauge, cairo_status_t status) {
    if (status == CAIRO_STATUS_SUCCESS) {
        ++gauges_drawn_;
    } else {
        warnings_.push_back(panel_.config().source + ":" + std::to_string(gauge.config->line) + ": gauge '" +
                            gauge_name(*gauge.instance) + "' cannot be drawn (" + cairo_status_to_string(status) +
                            "); the picture shows it in part or not at all");
    }
}

Image PanelRenderer::render(const panels::Panel::Gauge& gauge) {
    Image image(pixels(gauge.width), pixels(gauge.height));
    throw_if_failed(draw_alone(image.surface(),
                               [&](cairo_t* cr) {
                                   cairo_scale(cr, gauge.scale_x(), gauge.scale_y());
                                   draw_gauge(cr, *gauge.instance, bitmaps(*gauge.module));
                               }),
                    *gauge.instance);
    return image;
}

std::vector<std::string> PanelRenderer::take_warnings() {
    std::vector<std::string> taken;
    taken.swap(warnings_);
    return taken;
}

}  // namespace render
