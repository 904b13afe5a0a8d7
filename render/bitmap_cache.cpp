// The bitmaps of a module as cairo surfaces, made once per look.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/drawing.h"

namespace render {

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

}  // namespace render
