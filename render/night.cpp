// The cockpit by night: flood lamps above the panel throw pools of warm
// light that fall off across it, so the panel's paint and every gauge are
// seen only as far as the light reaches them, never tinted; dial markings
// and needles are luminous paint, which glows of itself (the glow looks,
// surfaces.cpp); lamps (image flag kImageBright) light themselves.
#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "render/drawing.h"

namespace render {
namespace {

// The flood lamps, in fractions of the window they light: three along the
// top edge, one low on each side, as a cockpit's lamps sit on its frame;
// small lamps under the coamings of the engine and fuel rows (one over each
// engine's column), over the controls (two over the magneto switches, whose
// engine numbers are engraved, not luminous) and beside the standby compass, each
// throwing its pool on the placards of its row so that they read in the
// dark; and hooded lamps over the engine numbers and in the gap between the
// engine columns, where the row legends stand beyond the other pools.
struct Lamp {
    double x, y, reach, strength;
};
constexpr Lamp kLamps[] = {
    {0.16, 0.02, 0.26, 0.60},  {0.50, 0.00, 0.28, 0.62},  {0.84, 0.02, 0.26, 0.60},  {0.02, 0.90, 0.20, 0.55},
    {0.98, 0.90, 0.20, 0.55},  {0.534, 0.53, 0.13, 0.35}, {0.666, 0.53, 0.13, 0.35}, {0.80, 0.53, 0.13, 0.35},
    {0.94, 0.53, 0.13, 0.35},  {0.55, 0.70, 0.14, 0.50},  {0.70, 0.72, 0.14, 0.45},  {0.84, 0.70, 0.14, 0.50},
    {0.22, 0.80, 0.12, 0.40},  {0.32, 0.80, 0.12, 0.40},  {0.30, 0.62, 0.12, 0.35},  {0.10, 0.62, 0.10, 0.30},
    {0.30, 1.02, 0.14, 0.45},  {0.60, 1.02, 0.14, 0.45},  {0.87, 1.02, 0.14, 0.45},  {0.44, 0.44, 0.12, 0.45},
    {0.666, 0.00, 0.06, 0.20}, {0.932, 0.00, 0.06, 0.20}, {0.733, 0.15, 0.06, 0.22}, {0.733, 0.335, 0.06, 0.22},
    {0.06, 1.00, 0.11, 0.50},  {0.15, 1.00, 0.11, 0.50},
};
// What reaches every corner (the lamps' light off the cockpit's walls).
constexpr double kAmbient = 0.06;
// Cockpit flood lamps are dim: under the brightest pool the paint is seen at
// three quarters of its daylight value, so luminous paint, which glows
// rather than reflects, stays the brightest thing on a dial.
constexpr double kBrightest = 0.75;
// The lamps' colour: incandescent, a little warm.
constexpr double kLightR = 1.0, kLightG = 0.86, kLightB = 0.70;
// The light map is smooth: a coarse one, filtered, does.
constexpr int kLightMapStep = 8;

double light_at(double fx, double fy, double aspect) {
    double light = kAmbient;
    for (const Lamp& lamp : kLamps) {
        const double dx = (fx - lamp.x) * aspect, dy = fy - lamp.y;
        const double d = std::sqrt(dx * dx + dy * dy) / lamp.reach;
        light += lamp.strength / std::pow(1.0 + d * d, 1.5);
    }
    return std::min(light, kBrightest);
}

// The light under the brightest lamp, 0 to 1.
double brightest() { return light_at(0.5, 0.0, 1.0); }

}  // namespace

FloodLight::FloodLight(int width, int height) : width_(width), height_(height) {
    const int w = std::max(2, width / kLightMapStep + 2), h = std::max(2, height / kLightMapStep + 2);
    map_ = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    const double aspect = height > 0 ? static_cast<double>(width) / height : 1.0;
    cairo_surface_flush(map_);
    unsigned char* data = cairo_image_surface_get_data(map_);
    const int stride = cairo_image_surface_get_stride(map_);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const double light = light_at(static_cast<double>(x * kLightMapStep) / std::max(width, 1),
                                          static_cast<double>(y * kLightMapStep) / std::max(height, 1), aspect);
            const auto channel = [&](double colour) {
                return static_cast<uint32_t>(std::lround(255.0 * light * colour));
            };
            const uint32_t pixel = channel(kLightR) << 16 | channel(kLightG) << 8 | channel(kLightB);
            std::memcpy(data + y * stride + 4 * x, &pixel, 4);
        }
    }
    cairo_surface_mark_dirty(map_);
    pattern_ = cairo_pattern_create_for_surface(map_);
    cairo_pattern_set_filter(pattern_, CAIRO_FILTER_BILINEAR);
    cairo_pattern_set_extend(pattern_, CAIRO_EXTEND_PAD);
    cairo_matrix_t scale;
    cairo_matrix_init_scale(&scale, 1.0 / kLightMapStep, 1.0 / kLightMapStep);
    cairo_pattern_set_matrix(pattern_, &scale);
}

FloodLight::~FloodLight() {
    cairo_pattern_destroy(pattern_);
    cairo_surface_destroy(map_);
}

void light_by_night(cairo_t* cr, const FloodLight* light) {
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_MULTIPLY);
    if (light != nullptr) {
        // The light lies on the picture, wherever the element is drawn from.
        cairo_identity_matrix(cr);
        cairo_set_source(cr, light->pattern());
    } else {
        const double middle = 0.5 * (kAmbient + brightest());
        cairo_set_source_rgb(cr, middle * kLightR, middle * kLightG, middle * kLightB);
    }
    cairo_paint(cr);
    cairo_restore(cr);
}

void composite_at_night(cairo_t* cr, const FloodLight* light, const std::function<void()>& paint,
                        const std::function<void()>& glow) {
    cairo_push_group(cr);
    paint();
    cairo_pattern_t* painted = cairo_pop_group(cr);

    cairo_push_group(cr);
    cairo_set_source(cr, painted);
    cairo_paint(cr);
    light_by_night(cr, light);
    // Multiplying lit the transparent parts too: they stay transparent.
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_DEST_IN);
    cairo_set_source(cr, painted);
    cairo_paint(cr);
    cairo_restore(cr);
    cairo_push_group(cr);
    glow();
    cairo_pop_group_to_source(cr);
    // Where the paint glows, the eye sees the glow or the lamp's light on it,
    // whichever is the brighter, not both summed past daylight.
    cairo_set_operator(cr, CAIRO_OPERATOR_LIGHTEN);
    cairo_paint(cr);
    cairo_pop_group_to_source(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_paint(cr);
    cairo_pattern_destroy(painted);
}

}  // namespace render
