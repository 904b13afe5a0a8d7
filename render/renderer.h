// The bench host's drawing: a gauge instance, or a whole panel, drawn from the
// records' latest evaluation (GaugeInstance::elements) and the module's
// bitmaps, as the simulator's panel system draws them.
//
// What the drawing does, element by element in drawing order (a hidden
// element is skipped; the elements listed under it are still drawn):
// - Pure black (0, 0, 0) is transparent in every element whose image flag
//   bit 0 is set (kImageTransparentBlack: every element the modules store,
//   backgrounds included, so the window shows through a dial's corners);
//   without it the bitmap is opaque. The black becomes alpha 0 before any
//   scaling: surfaces are premultiplied ARGB32 sampled bilinearly, so a
//   scaled rim blends into what lies beneath instead of stepping.
// - Static image and icon: the bitmap (an icon's frame id) at its position.
// - Slider: the bitmap at its evaluated (x, y).
// - Needle: the bitmap with its pivot (ofs) on the element position, turned
//   by the evaluated angle (degrees clockwise from 3 o'clock).
// - Moving image: the window is the mask's size (id + 1) at the element
//   position; the picture is drawn moved back by the offset, clipped to the
//   window, then the mask's non-black pixels over it as the bezel.
// - Sprite: the texture scaled by texture_scale, its centre on the background
//   point (ofs), turned anticlockwise by the rotation about that point and
//   shifted by (shift_x, shift_y) along its own turned axes (so a banked
//   horizon moves square to its bar, as a gyro horizon's does; with no
//   rotation the shift is plain screen pixels); it shows only where the mask
//   (id + 1, at the element position) is black, and the mask's other pixels
//   are drawn over it.
// - An element greyed by an active failure (action 1) is drawn desaturated
//   and darkened; parked and frozen elements are drawn as evaluated.
// - A bitmap the module lacks (or one that does not decode) is drawn as a
//   grey placeholder frame with its id; a missing needle as a grey line from
//   its pivot along its angle. A missing background is a 100 x 100 frame.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "panelhost/panel.h"
#include "render/image.h"
#include "runtime/instance.h"
#include "runtime/module.h"

namespace render {

class FloodLight;

// How a bitmap's pixels are turned into a cairo surface.
enum class Look {
    Opaque,      // every pixel as stored
    Overlay,     // pure black transparent
    GreyOpaque,  // desaturated and darkened
    GreyOverlay,
    Window,  // a mask's window: opaque where the bitmap is pure black, transparent elsewhere
    // The glow of luminous paint at night, of each look above: pale paint
    // glows, dark paint and black do not (but still hide what lies beneath).
    GlowOpaque,
    GlowOverlay,
    GlowGreyOpaque,
    GlowGreyOverlay,
    // Black where the look shows: what lights itself hides the paint beneath
    // it from the flood light, and adds its own light instead.
    ShadowOpaque,
    ShadowOverlay,
};

// The decoded bitmaps of one module, as surfaces, made once each.
class BitmapCache {
public:
    explicit BitmapCache(const runtime::Module& module) : module_(module) {}
    ~BitmapCache();
    BitmapCache(const BitmapCache&) = delete;
    BitmapCache& operator=(const BitmapCache&) = delete;

    // Null when the module lacks the bitmap or it does not decode.
    cairo_surface_t* surface(uint32_t resource_id, Look look);

    // A bitmap as painting it at (x, y) of a user space that is a scale and a
    // translation of the device would draw it, made once: a picture at whole
    // device pixels, to be painted unscaled at (x, y) of the device. Static
    // pictures are drawn every frame through the same scale, and sampling
    // them afresh each time is most of a frame's cost.
    struct Placed {
        cairo_surface_t* surface;
        int x, y;
    };
    // Empty when `to_device` also turns or mirrors, when it moves nothing by
    // a fraction of a pixel and scales by 1 (painting is a copy already), or
    // when the bitmap is missing.
    std::optional<Placed> placed(uint32_t resource_id, Look look, const cairo_matrix_t& to_device, double x, double y,
                                 cairo_filter_t filter);

    // Forgets every surface (after the module's bitmaps were overridden).
    void clear();

private:
    struct PlacedKey {
        uint32_t resource_id;
        Look look;
        cairo_filter_t filter;
        double scale_x, scale_y, fraction_x, fraction_y;
        auto operator<=>(const PlacedKey&) const = default;
    };

    const runtime::Module& module_;
    std::map<std::pair<uint32_t, Look>, cairo_surface_t*> surfaces_;
    std::map<PlacedKey, Placed> placed_;  // at places relative to the key's whole pixel
};

// The background size a gauge is drawn in: its root bitmap's, or 100 x 100
// when the module lacks it.
std::pair<uint32_t, uint32_t> gauge_extent(const runtime::GaugeInstance& instance, BitmapCache& bitmaps);

// The element drawn topmost at point (x, y) of the gauge, in background-bitmap
// pixels: where one of its bitmaps shows a pixel there (pure black counts as
// clear where the element makes it so). Its index in instance.elements(), or
// -1 where only the window shows.
int element_at(const runtime::GaugeInstance& instance, BitmapCache& bitmaps, double x, double y);

// Draws the instance with `cr`'s user space in background-bitmap pixels,
// clipped to the background's rectangle.
void draw_gauge(cairo_t* cr, const runtime::GaugeInstance& instance, BitmapCache& bitmaps);

// The instance alone, at its own display scale. Throws RenderError naming the
// gauge when its records leave cairo unable to draw it.
Image render_gauge(const runtime::GaugeInstance& instance, BitmapCache& bitmaps);

// Draws panels over a dark surround: every visible window in its order, its
// background colour, then its file= bitmap stretched over it (pure black
// transparent), then every gauge of it in its rectangle.
class PanelRenderer {
public:
    explicit PanelRenderer(const panels::Panel& panel);
    ~PanelRenderer();
    PanelRenderer(const PanelRenderer&) = delete;
    PanelRenderer& operator=(const PanelRenderer&) = delete;

    // A gauge that cannot be drawn (its records drive cairo into an error) is
    // left out with a warning; the others are drawn all the same.
    Image render();
    // The same picture, pixel for pixel, drawn into one kept from call to
    // call: only the gauges whose elements would be drawn differently since
    // the last call are drawn again, over a copy of what lay beneath them (or
    // beneath their first element that changed). A gauge that shares pixels
    // with another gauge or a later window, or lies in a titled window while
    // titles are shown, makes its changes redraw the whole picture.
    const Image& render_frame();
    // Where the last render_frame() changed its picture: all of it the first
    // time, nothing when nothing moved.
    const std::vector<PixelRect>& changed() const { return changed_; }
    // The next render_frame() draws everything, as after a module's bitmaps
    // were changed (the renderer cannot see that for itself).
    void invalidate() { frame_.reset(); }
    // The shown gauges the last render() or render_frame() drew.
    size_t gauges_drawn() const { return gauges_drawn_; }
    // One gauge of the panel at its panel size (RenderError where it cannot be drawn).
    Image render(const panels::Panel::Gauge& gauge);
    BitmapCache& bitmaps(const runtime::Module& module);

    // "file:line: ..." of gauges left out since the last call, for the caller to print.
    std::vector<std::string> take_warnings();

    // Label each window with its title (from [Window Titles]) on a tab at its
    // top-left corner, over its gauges, so a picture of several windows says
    // which is which.
    void show_titles(bool shown) { titles_ = shown; }

private:
    // What render_frame() keeps of one gauge of the panel.
    struct Kept {
        PixelRect rect;                 // every pixel the gauge may touch
        bool alone = false;             // no other drawing touches `rect` after the panel's set-up
        bool drawn = false;             // cairo drew it without an error
        std::vector<uint64_t> keys;     // how each element was last drawn
        std::vector<uint32_t> beneath;  // `rect` before the gauge
        std::vector<uint32_t> prefix;   // `rect` after its first `prefix_length` elements
        size_t prefix_length = 0;
        bool prefix_valid = false;
    };

    void draw_panel(Image& image, bool keep);
    void plan_kept(const Image& image);
    bool redraw_kept(size_t index, size_t first_changed);
    cairo_status_t draw_gauge_part(cairo_surface_t* surface, size_t index, size_t from, size_t split);
    void gauge_drawn(const panels::Panel::Gauge& gauge, cairo_status_t status);
    void draw_window(cairo_t* cr, const panels::Panel::Window& window);
    void light_window(cairo_t* cr, const panels::Panel::Window& window);
    void draw_title(cairo_t* cr, const panels::Panel::Window& window);
    void draw_panel_gauge(cairo_surface_t* surface, const panels::Panel::Gauge& gauge);

    const panels::Panel& panel_;
    size_t gauges_drawn_ = 0;
    bool titles_ = false;
    std::vector<std::string> warnings_;
    std::map<const runtime::Module*, std::unique_ptr<BitmapCache>> caches_;
    std::map<const runtime::Picture*, cairo_surface_t*> backgrounds_;

    std::unique_ptr<Image> frame_;       // render_frame()'s picture
    bool frame_titles_ = false;          // whether it shows titles
    bool frame_night_ = false;           // whether it shows the panel at night
    std::unique_ptr<FloodLight> light_;  // at night, over the pictures' size
    std::vector<Kept> kept_;             // by gauge, as panel_.gauges()
    std::vector<PixelRect> changed_;
};

}  // namespace render
