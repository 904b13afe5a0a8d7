// What the renderer's files share: the looks of surfaces, the placeholder
// font, and the drawing of one element, which gauges and panels are made of.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <numbers>

#include "render/renderer.h"
#include "runtime/dib.h"
#include "runtime/instance.h"

namespace render {

inline constexpr uint32_t kFallbackExtent = 100;
inline constexpr uint32_t kSurroundColour = 0x141414;
inline constexpr uint32_t kPlaceholderColour = 0xA0A0A0;
inline constexpr uint32_t kPlaceholderFill = 0x3C3C3C;
inline constexpr double kSmallPlaceholder = 24.0;

inline double radians(double degrees) { return degrees * std::numbers::pi / 180.0; }

// Surfaces and their looks (surfaces.cpp).
void set_colour(cairo_t* cr, uint32_t rgb);
cairo_surface_t* make_surface(const runtime::Picture& picture, Look look);
cairo_surface_t* make_surface(const runtime::Bitmap& bitmap, Look look);
// The placeholders' 3 x 5 digit font, and a frame with a bitmap's id in it.
void draw_number(cairo_t* cr, double x, double y, uint32_t number);
double number_width(uint32_t number);
void placeholder_frame(cairo_t* cr, double x, double y, double width, double height, uint32_t id, bool filled);

// Luminous paint's glow at night: its colour, how much of it a full marking
// gives, the lightness below which paint does not glow and above which it
// glows fully, and the red over blue (of 255) of paint that is fully cream.
inline constexpr struct {
    double r, g, b, strength, palest_dark, palest_full, warmth_full;
} kGlow{0.50, 0.86, 0.42, 0.76, 0.55, 0.85, 24.0};
// What an element is drawn as: its paint (by day, and at night under the
// flood light), its glow at night, or its shadow (a lamp, which lights itself,
// in the lit pass: black, so the paint beneath it is hidden).
enum class Shade : uint8_t { kPaint, kGlow, kShadow };
Look night_look(Look look, Shade shade);

// The flood light at night (night.cpp), over a picture of `width` x
// `height` pixels: its pattern lies in the picture's own pixels.
class FloodLight {
public:
    FloodLight(int width, int height);
    ~FloodLight();
    FloodLight(const FloodLight&) = delete;
    FloodLight& operator=(const FloodLight&) = delete;
    cairo_pattern_t* pattern() const { return pattern_; }
    // Whether it lies over a picture of that size.
    bool fits(int width, int height) const { return width == width_ && height == height_; }

private:
    int width_ = 0, height_ = 0;
    cairo_surface_t* map_ = nullptr;
    cairo_pattern_t* pattern_ = nullptr;
};
// What `cr` has drawn so far, seen under the light (null: the light a gauge
// drawn by itself is seen under, the panel's middling one).
void light_by_night(cairo_t* cr, const FloodLight* light);
// A gauge's elements at night, seen under the light: what `paint` draws lit,
// with what `glow` draws (the same elements' glow looks) added as light of
// its own. One group a gauge: lighting element by element would cost each
// its own passes.
void composite_at_night(cairo_t* cr, const FloodLight* light, const std::function<void()>& paint,
                        const std::function<void()>& glow);

// One element (elements.cpp).
struct Context {
    cairo_t* cr;
    BitmapCache& bitmaps;
    double gauge_width;
    Shade shade = Shade::kPaint;
};

// What the drawing takes from an element's records beside its evaluation:
// the runtime copies it out of the module's memory at each update.
using runtime::Placement;

bool black_is_clear(uint32_t image_flags);
void paint_at(cairo_t* cr, cairo_surface_t* surface, double x, double y);
bool shows_at(const Context& c, const runtime::ElementState& state, const Placement& e, double x, double y);
void draw_element(const Context& c, const runtime::ElementState& state, const Placement& e);

}  // namespace render
