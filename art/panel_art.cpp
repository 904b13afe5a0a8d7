#include "art/panel_art.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "art/canvas.h"
#include "art/draw.h"
#include "frame/vocabulary.h"
#include "panelhost/panel_config.h"
#include "runtime/host.h"

namespace art {

PanelLayout read_panel_layout(const std::string& panel_cfg, const std::string& module_dir,
                              const panels::Panel::ModuleHook& on_load) {
    runtime::Host host;
    panels::Panel panel(host, panels::PanelConfig::read_file(panel_cfg), {module_dir, ""}, 1.0, on_load);
    if (panel.windows().empty()) throw std::runtime_error(panel_cfg + ": no visible window to paint");
    return layout_of(panel);
}

PanelLayout layout_of(const panels::Panel& panel) {
    if (panel.windows().empty()) throw std::invalid_argument("the panel has no visible window to paint");
    const panels::Panel::Window& window = panel.windows().front();
    PanelLayout layout;
    layout.width = static_cast<uint32_t>(std::lround(window.width));
    layout.height = static_cast<uint32_t>(std::lround(window.height));
    const uint32_t paint = window.config->background;
    layout.paint = {static_cast<uint8_t>(paint >> 16), static_cast<uint8_t>(paint >> 8), static_cast<uint8_t>(paint)};
    for (const panels::Panel::Gauge& gauge : panel.gauges()) {
        if (gauge.window != window.config) continue;
        layout.gauges.push_back(
            {gauge.config->gauge, gauge.left - window.left, gauge.top - window.top, gauge.width, gauge.height});
    }
    return layout;
}

namespace {

// --- The paint: a wrinkle finish, lit from the top left. ---------------------

uint32_t hash(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8da6b343u ^ static_cast<uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return h;
}

double unit(int32_t x, int32_t y, uint32_t seed) { return (hash(x, y, seed) & 0xFFFFu) / 65535.0; }

// Smooth noise in 0..1 with features `cell` pixels apart.
double value_noise(double x, double y, double cell, uint32_t seed) {
    const double fx = x / cell, fy = y / cell;
    const double ix = std::floor(fx), iy = std::floor(fy);
    const auto i = static_cast<int32_t>(ix), j = static_cast<int32_t>(iy);
    auto fade = [](double t) { return t * t * (3.0 - 2.0 * t); };
    const double u = fade(fx - ix), v = fade(fy - iy);
    const double top = unit(i, j, seed) * (1.0 - u) + unit(i + 1, j, seed) * u;
    const double bottom = unit(i, j + 1, seed) * (1.0 - u) + unit(i + 1, j + 1, seed) * u;
    return top * (1.0 - v) + bottom * v;
}

uint8_t clamp_channel(double value) { return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L)); }

void paint_wrinkle_finish(Canvas& canvas, Rgb paint) {
    const int w = canvas.width(), h = canvas.height();
    // The relief: fine wrinkles over a coarser ripple.
    std::vector<float> relief(size_t(w + 2) * size_t(h + 2));
    for (int y = 0; y < h + 2; ++y) {
        for (int x = 0; x < w + 2; ++x) {
            relief[size_t(y) * (w + 2) + x] =
                static_cast<float>(0.65 * value_noise(x, y, 2.7, 1) + 0.35 * value_noise(x, y, 7.0, 2));
        }
    }
    cairo_surface_flush(canvas.surface());
    unsigned char* data = cairo_image_surface_get_data(canvas.surface());
    const int stride = cairo_image_surface_get_stride(canvas.surface());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            // Slope towards the light: bright where the wrinkle faces it.
            const double slope = relief[size_t(y) * (w + 2) + x] - relief[size_t(y + 2) * (w + 2) + x + 2];
            const double blotch = value_noise(x, y, 90.0, 3) - 0.5;  // uneven spraying
            const double grain = unit(x, y, 4) - 0.5;
            const double gain = 1.0 + 0.55 * slope + 0.08 * blotch;
            const double r = paint.r * gain + 3.0 * grain, g = paint.g * gain + 3.0 * grain,
                         b = paint.b * gain + 3.0 * grain;
            const uint32_t pixel =
                0xFF000000u | uint32_t{clamp_channel(r)} << 16 | uint32_t{clamp_channel(g)} << 8 | clamp_channel(b);
            std::memcpy(data + size_t(y) * stride + size_t(x) * 4, &pixel, 4);
        }
    }
    cairo_surface_mark_dirty(canvas.surface());
}

// --- Layout helpers -----------------------------------------------------------

struct Rect {
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
    double right() const { return x + width; }
    double bottom() const { return y + height; }
    Point centre() const { return {x + width / 2.0, y + height / 2.0}; }
};

// The box around both.
Rect united(const std::optional<Rect>& a, const Rect& b) {
    if (!a) return b;
    const double left = std::min(a->x, b.x), top = std::min(a->y, b.y);
    const double right = std::max(a->right(), b.right()), bottom = std::max(a->bottom(), b.bottom());
    return {left, top, right - left, bottom - top};
}

class Slots {
public:
    explicit Slots(const PanelLayout& layout) : layout_(layout) {}

    std::optional<Rect> find(std::string_view gauge) const {
        for (const PanelSlot& slot : layout_.gauges) {
            if (slot.gauge == gauge) return Rect{slot.x, slot.y, slot.width, slot.height};
        }
        return std::nullopt;
    }
    // The box around those of the gauges that are on the panel.
    std::optional<Rect> around(const std::vector<std::string_view>& gauges) const {
        std::optional<Rect> out;
        for (std::string_view gauge : gauges) {
            if (const std::optional<Rect> r = find(gauge)) out = united(out, *r);
        }
        return out;
    }
    bool covered(Point p, double margin) const {
        return std::any_of(layout_.gauges.begin(), layout_.gauges.end(), [&](const PanelSlot& s) {
            return p.x > s.x - margin && p.x < s.x + s.width + margin && p.y > s.y - margin &&
                   p.y < s.y + s.height + margin;
        });
    }

private:
    const PanelLayout& layout_;
};

// --- Hardware -----------------------------------------------------------------

constexpr Rgb kLegend{232, 228, 212};
// The placards' type: capitals 8 pixels tall, as on the gauges' faces.
constexpr double kPlacardSize = 11.6;
// The stencilled headings a size up, so that their bridges show.
constexpr double kStencilSize = 14.0;

// What a placard is made of. Traffolyte: black laminate engraved through to
// its white core, the core showing again along the bevelled edge. Anodised
// aluminium: a dark brushed plate engraved through to the bright metal,
// screwed at the ends. Both read light on dark, as the flood lamps need.
// Stencilled: sprayed straight on the panel's paint through a stencil,
// whose bridges leave their gaps in the letters.
enum class Plate { Traffolyte, Aluminium, Stencilled };
enum class Screws { None, AtTheEnds };

// The face runs from its top colour to its bottom one, as the light from
// above falls on it; `edge` is drawn under the letters, offset by `edge_at`:
// an engraving's wall in shadow at its top left, or paint's shadow on the
// wrinkles.
struct PlateLook {
    Rgb face_top, face_bottom, bevel_light, bevel_dark, letters, edge;
    Point edge_at;
};

PlateLook look_of(Plate plate) {
    switch (plate) {
        case Plate::Aluminium:
            return {{50, 52, 56},    {22, 23, 26},    {150, 152, 156}, {4, 4, 5},
                    {244, 246, 250}, {110, 112, 116}, {-0.5, -0.6}};
        case Plate::Stencilled: return {{}, {}, {}, {}, {226, 220, 200}, {10, 10, 8}, {0.6, 0.7}};
        case Plate::Traffolyte:
        default: return {{26, 26, 24}, {6, 6, 6}, {104, 102, 96}, {2, 2, 2}, kLegend, {120, 118, 110}, {-0.5, -0.6}};
    }
}

void engraved_text(cairo_t* cr, std::string_view line, Point at, double size, const PlateLook& look) {
    text(cr, line, {at.x + look.edge_at.x, at.y + look.edge_at.y}, size, Font::CondensedBold, look.edge);
    text(cr, line, at, size, Font::CondensedBold, look.letters);
}

// A stencil's letters stand wider apart than type's, and its bridges are
// narrower than a stroke: fractions of the type's size.
constexpr double kStencilTracking = 0.08, kStencilBridge = 0.11;

// One sign of a stencilled line: where its pen stands and its inked box.
struct StencilSign {
    std::string sign;
    Point pen;
    Rect ink;
};

// The signs of a line cut in a stencil, centred on `at` by their inked box
// (upright, on the cap height of the whole line, as text() centres).
std::vector<StencilSign> stencil_layout(cairo_t* cr, std::string_view line, Point at, double size) {
    std::vector<StencilSign> out;
    double pen = 0.0, left = 0.0, right = 0.0;
    for (size_t i = 0; i < line.size();) {
        // A sign is one UTF-8 sequence: its lead byte tells its length.
        const auto lead = static_cast<unsigned char>(line[i]);
        const size_t n = lead < 0x80 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
        std::string sign(line.substr(i, n));
        i += n;
        const cairo_text_extents_t e = text_extents(cr, sign, size, Font::CondensedBold);
        if (e.width > 0.0) {
            left = out.empty() ? pen + e.x_bearing : std::min(left, pen + e.x_bearing);
            right = std::max(right, pen + e.x_bearing + e.width);
        }
        out.push_back({std::move(sign), {pen, 0.0}, {pen + e.x_bearing, e.y_bearing, e.width, e.height}});
        pen += e.x_advance + size * kStencilTracking;
    }
    const cairo_text_extents_t whole = text_extents(cr, line, size, Font::CondensedBold);
    // On whole pixels, so that the stems and the bridges between them stay sharp.
    const double dx = std::round(at.x - (left + right) / 2.0),
                 dy = std::round(at.y - whole.y_bearing - whole.height / 2.0);
    for (StencilSign& s : out) {
        s.pen = {s.pen.x + dx, s.pen.y + dy};
        s.ink = {s.ink.x + dx, s.ink.y + dy, s.ink.width, s.ink.height};
    }
    return out;
}

// Where the stencil's plate holds what a letter would otherwise cut loose:
// an O's middle at its top and bottom, an A's apex, and the bowls and arms
// of B, D, P, R, E and F off their stems.
std::vector<Rect> bridges_of(const StencilSign& s, double stem, double gap) {
    const Rect& b = s.ink;
    const double mid = std::round(b.centre().x - gap / 2.0);
    if (s.sign == "O" || s.sign == "Q" || s.sign == "0")
        return {{mid, b.y - 1.0, gap, b.height * 0.3 + 1.0}, {mid, b.y + b.height * 0.7, gap, b.height * 0.3 + 1.0}};
    if (s.sign == "A") return {{mid, b.y - 1.0, gap, b.height * 0.45 + 1.0}};
    if (std::string_view("BDEFPR").find(s.sign) != std::string_view::npos && s.sign.size() == 1)
        return {{std::round(b.x + stem), b.y - 1.0, gap, b.height + 2.0}};
    return {};
}

// A line sprayed through a stencil: the letters with their bridges cut out,
// the paint's shadow on the wrinkles and the paint through the same stencil.
void stencilled_text(cairo_t* cr, std::string_view line, Point at, double size, const PlateLook& look) {
    const std::vector<StencilSign> signs = stencil_layout(cr, line, at, size);
    const double stem = text_extents(cr, "I", size, Font::CondensedBold).width;
    const double gap = std::max(1.0, size * kStencilBridge);
    cairo_push_group_with_content(cr, CAIRO_CONTENT_ALPHA);
    cairo_set_font_face(cr, Fonts::face(Font::CondensedBold));
    cairo_set_font_size(cr, size);
    cairo_new_path(cr);
    for (const StencilSign& s : signs) {
        cairo_move_to(cr, s.pen.x, s.pen.y);
        cairo_text_path(cr, s.sign.c_str());
    }
    cairo_fill(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    for (const StencilSign& s : signs) {
        for (const Rect& bridge : bridges_of(s, stem, gap))
            cairo_rectangle(cr, bridge.x, bridge.y, bridge.width, bridge.height);
    }
    cairo_fill(cr);
    cairo_pattern_t* stencil = cairo_pop_group(cr);
    cairo_save(cr);
    cairo_translate(cr, look.edge_at.x, look.edge_at.y);
    set_colour(cr, look.edge);
    cairo_mask(cr, stencil);
    cairo_restore(cr);
    set_colour(cr, look.letters);
    cairo_mask(cr, stencil);
    cairo_pattern_destroy(stencil);
}

// The aluminium's brushing: faint streaks along the plate, the same on every run.
void brushed(cairo_t* cr, double left, double top, double width, double height) {
    for (int row = 0; row < static_cast<int>(height); ++row) {
        const double shade = (hash(row, static_cast<int32_t>(left), 7) & 0xFF) / 255.0;
        cairo_set_source_rgba(cr, shade, shade, shade, 0.08);
        cairo_rectangle(cr, left, top + row, width, 1.0);
        cairo_fill(cr);
    }
}

// A placard as laid out: its lines centred on `at`, on its plate or sprayed
// through a stencil; a stencilled heading's rules run out to the ends of the
// group it heads.
struct PlacardSpec {
    PlacardSpec(std::string by, std::vector<std::string> words, Point centre, double type_size = kPlacardSize,
                Plate made_of = Plate::Traffolyte, Screws held_by = Screws::None,
                std::optional<Rect> group = std::nullopt)
        : beside(std::move(by)),
          lines(std::move(words)),
          at(centre),
          size(type_size),
          plate(made_of),
          screws(held_by),
          heads(group) {}
    std::string beside;  // the gauge it names, or those it stands between or over
    std::vector<std::string> lines;
    Point at;
    double size;
    Plate plate;
    Screws screws;
    std::optional<Rect> heads;
};

// A line's inked box, centred on `at`.
Rect line_box(cairo_t* cr, const PlacardSpec& p, std::string_view line, Point at) {
    if (p.plate == Plate::Stencilled) {
        std::optional<Rect> box;
        for (const StencilSign& s : stencil_layout(cr, line, at, p.size)) {
            if (s.ink.width > 0.0) box = united(box, s.ink);
        }
        return box.value_or(Rect{at.x, at.y, 0.0, 0.0});
    }
    const cairo_text_extents_t ink = text_extents(cr, line, p.size, Font::CondensedBold);
    return {at.x - ink.width / 2.0, at.y - ink.height / 2.0, ink.width, ink.height};
}

// The plate under the lines (for a stencilled legend, where one would be).
Rect plate_of(cairo_t* cr, const PlacardSpec& p) {
    double widest = 0.0;
    for (const std::string& line : p.lines) widest = std::max(widest, line_box(cr, p, line, p.at).width);
    const double leading = p.size * 1.3;
    // A screwed plate runs on past its legend to hold a screw at each end.
    const double ends = p.screws == Screws::AtTheEnds ? p.size * 0.6 : 0.0;
    const double width = std::round(widest + p.size * 1.2 + 2.0 * ends);
    const double height = std::round(leading * static_cast<double>(p.lines.size()) + p.size * 0.5);
    return {std::round(p.at.x - width / 2.0), std::round(p.at.y - height / 2.0), width, height};
}

// Where each line's inked box is centred.
std::vector<Point> line_centres(const PlacardSpec& p, const Rect& plate) {
    const double leading = p.size * 1.3;
    double y = plate.centre().y - leading * (static_cast<double>(p.lines.size()) - 1.0) / 2.0;
    std::vector<Point> out;
    for (size_t i = 0; i < p.lines.size(); ++i, y += leading) out.push_back({p.at.x, y});
    return out;
}

void plate(cairo_t* cr, const Rect& r, const PlateLook& look, Plate kind) {
    rounded_rect_path(cr, r.x + 1.0, r.y + 1.5, r.width, r.height, 2.0);  // its shadow on the panel
    cairo_set_source_rgba(cr, 0.0, 0.0, 0.0, 0.55);
    cairo_fill(cr);
    // The bevel: lit along the top and left, in shade along the bottom and right.
    rounded_rect_path(cr, r.x, r.y, r.width, r.height, 2.0);
    set_colour(cr, look.bevel_light);
    cairo_fill(cr);
    rounded_rect_path(cr, r.x + 1.0, r.y + 1.0, r.width - 1.0, r.height - 1.0, 1.5);
    set_colour(cr, look.bevel_dark);
    cairo_fill(cr);
    rounded_rect_path(cr, r.x + 1.0, r.y + 1.0, r.width - 2.0, r.height - 2.0, 1.5);
    cairo_pattern_t* face = cairo_pattern_create_linear(0.0, r.y, 0.0, r.bottom());
    for (const auto& [stop, c] : {std::pair{0.0, look.face_top}, {1.0, look.face_bottom}})
        cairo_pattern_add_color_stop_rgb(face, stop, c.r / 255.0, c.g / 255.0, c.b / 255.0);
    cairo_set_source(cr, face);
    cairo_fill(cr);
    cairo_pattern_destroy(face);
    if (kind == Plate::Aluminium) brushed(cr, r.x + 1.0, r.y + 1.0, r.width - 2.0, r.height - 2.0);
}

void placard(cairo_t* cr, const PlacardSpec& p) {
    const PlateLook look = look_of(p.plate);
    const Rect r = plate_of(cr, p);
    if (p.plate != Plate::Stencilled) plate(cr, r, look, p.plate);
    if (p.screws == Screws::AtTheEnds) {
        const double ends = p.size * 0.6;
        for (const double x : {r.x + ends / 2.0 + 2.0, r.right() - ends / 2.0 - 2.0}) {
            const double slot = static_cast<double>(static_cast<int>(x * 37.0 + r.y * 11.0) % 180);
            screw(cr, {x, r.centre().y}, 2.2, slot);
        }
    }
    const std::vector<Point> centres = line_centres(p, r);
    // Centred on the cap height, so lines with and without descenders sit alike.
    for (size_t i = 0; i < p.lines.size(); ++i) {
        if (p.plate == Plate::Stencilled)
            stencilled_text(cr, p.lines[i], centres[i], p.size, look);
        else
            engraved_text(cr, p.lines[i], centres[i], p.size, look);
    }
    if (p.heads) {
        // Painted rules out to the group's ends, as the sign-writer grouped the dials.
        const double half = line_box(cr, p, p.lines.front(), p.at).width / 2.0;
        for (const auto& [from, to] :
             {std::pair{p.heads->x + 12.0, p.at.x - half - 8.0}, {p.at.x + half + 8.0, p.heads->right() - 12.0}}) {
            fill_rect(cr, from + look.edge_at.x, p.at.y - 0.75 + look.edge_at.y, to - from, 1.5, look.edge);
            fill_rect(cr, from, p.at.y - 0.75, to - from, 1.5, look.letters);
        }
    }
}

// The box of a placard's lettering: what is read, without its plate.
Rect lettering_of(cairo_t* cr, const PlacardSpec& p) {
    const std::vector<Point> centres = line_centres(p, plate_of(cr, p));
    std::optional<Rect> box;
    for (size_t i = 0; i < p.lines.size(); ++i) box = united(box, line_box(cr, p, p.lines[i], centres[i]));
    return box.value_or(Rect{p.at.x, p.at.y, 0.0, 0.0});
}

void shock_mounted_subpanel(cairo_t* cr, const Rect& r) {
    constexpr double kRadius = 12.0;
    // Its shadow on the main panel: it stands proud on its mounts.
    rounded_rect_path(cr, r.x + 3.0, r.y + 5.0, r.width, r.height, kRadius);
    cairo_set_source_rgba(cr, 0.0, 0.0, 0.0, 0.5);
    cairo_fill(cr);
    rounded_rect_path(cr, r.x, r.y, r.width, r.height, kRadius);
    cairo_pattern_t* face = cairo_pattern_create_linear(0.0, r.y, 0.0, r.bottom());
    cairo_pattern_add_color_stop_rgb(face, 0.0, 0.13, 0.13, 0.13);
    cairo_pattern_add_color_stop_rgb(face, 1.0, 0.07, 0.07, 0.07);
    cairo_set_source(cr, face);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(face);
    cairo_set_line_width(cr, 1.5);
    set_colour(cr, Rgb{70, 70, 70});
    cairo_stroke(cr);
    // The rubber mounts at the corners, each with the bolt through it.
    for (const Point c : {Point{r.x + 14.0, r.y + 14.0}, Point{r.right() - 14.0, r.y + 14.0},
                          Point{r.x + 14.0, r.bottom() - 14.0}, Point{r.right() - 14.0, r.bottom() - 14.0}}) {
        fill_circle(cr, {c.x + 1.0, c.y + 1.5}, 11.0, Rgb{4, 4, 4});
        cairo_new_path(cr);
        cairo_arc(cr, c.x, c.y, 11.0, 0.0, 2.0 * std::numbers::pi);
        cairo_pattern_t* rubber = cairo_pattern_create_radial(c.x - 3.0, c.y - 3.0, 1.0, c.x, c.y, 11.0);
        cairo_pattern_add_color_stop_rgb(rubber, 0.0, 0.26, 0.25, 0.24);
        cairo_pattern_add_color_stop_rgb(rubber, 1.0, 0.10, 0.10, 0.09);
        cairo_set_source(cr, rubber);
        cairo_fill(cr);
        cairo_pattern_destroy(rubber);
        stroke_circle(cr, c, 7.0, 1.0, Rgb{8, 8, 8});
        hex_nut(cr, c, 5.0, Rgb{120, 120, 120}, 2.0, Rgb{72, 72, 72});
    }
}

// Four mounting screws in a round dial's corners, where its picture leaves
// the panel showing.
void mounting_screws(cairo_t* cr, const PanelSlot& slot, const SeeThrough& see_through, uint32_t seed) {
    constexpr double kInset = 0.085;  // of the box: outside the case, clear of the box's edge
    const double size = std::min(slot.width, slot.height);
    const double radius = std::clamp(size * 0.028, 2.5, 6.0);
    const double du = radius / slot.width, dv = radius / slot.height;
    for (const auto& [u, v] :
         {std::pair{kInset, kInset}, {1.0 - kInset, kInset}, {kInset, 1.0 - kInset}, {1.0 - kInset, 1.0 - kInset}}) {
        for (const auto& [pu, pv] : {std::pair{u, v}, {u - du, v}, {u + du, v}, {u, v - dv}, {u, v + dv}}) {
            if (!see_through(slot.gauge, pu, pv)) return;
        }
    }
    int corner = 0;
    for (const auto& [u, v] :
         {std::pair{kInset, kInset}, {1.0 - kInset, kInset}, {kInset, 1.0 - kInset}, {1.0 - kInset, 1.0 - kInset}}) {
        const Point c{slot.x + u * slot.width, slot.y + v * slot.height};
        fill_circle(cr, {c.x + 0.6, c.y + 0.9}, radius, Rgb{8, 8, 8});
        screw(cr, c, radius, static_cast<double>(hash(corner++, 0, seed) % 180));
    }
}

void edge_screws(cairo_t* cr, const Slots& slots, double width, double height) {
    constexpr double kInset = 10.0;
    constexpr double kPitch = 150.0;
    uint32_t n = 0;
    auto place = [&](Point c) {
        if (slots.covered(c, 6.0)) return;
        fill_circle(cr, {c.x + 0.6, c.y + 0.9}, 4.5, Rgb{8, 8, 8});
        screw(cr, c, 4.5, static_cast<double>(hash(static_cast<int32_t>(n++), 1, 9) % 180));
    };
    const int across = static_cast<int>(std::floor((width - 2.0 * kInset) / kPitch));
    const int down = static_cast<int>(std::floor((height - 2.0 * kInset) / kPitch));
    for (int i = 0; i <= across; ++i) {
        const double x = kInset + (width - 2.0 * kInset) * i / std::max(across, 1);
        place({x, kInset});
        place({x, height - kInset});
    }
    for (int i = 1; i < down; ++i) {
        const double y = kInset + (height - 2.0 * kInset) * i / std::max(down, 1);
        place({kInset, y});
        place({width - kInset, y});
    }
}

// Every placard beside the dials it names, placed from their slots.
std::vector<PlacardSpec> placard_layout(const Slots& slots) {
    std::vector<PlacardSpec> out;
    for (int engine = 1; engine <= sim::kEngineCount; ++engine) {
        const std::string n = std::to_string(engine);
        if (const auto tach = slots.find("Tachometer" + n)) {
            out.push_back(
                {"Tachometer" + n, {n}, {tach->centre().x, tach->y - 17.0}, 14.0, Plate::Aluminium, Screws::AtTheEnds});
        }
        const struct {
            const char* gauge;
            const char* legend;
        } small_dials[] = {
            {"Oil_Temperature", "OIL TEMP."}, {"Oil_Pressure", "OIL PRESS."}, {"Radiator_Temperature", "COOLANT"}};
        for (const auto& dial : small_dials) {
            if (const auto r = slots.find(dial.gauge + n))
                out.push_back({dial.gauge + n, {dial.legend}, {r->centre().x, r->bottom() + 8.0}});
        }
        if (const auto lamp = slots.find("Fuel_Pressure_Warning" + n)) {
            out.push_back({"Fuel_Pressure_Warning" + n, {"FUEL", "PRESS."}, {lamp->right() + 26.0, lamp->centre().y}});
        }
    }
    // The two hands' key: the long hand leaves no room for it on the dials.
    if (const auto a = slots.find("Tachometer2"), b = slots.find("Tachometer3"); a && b) {
        out.push_back({"Tachometer2 and Tachometer3",
                       {"SHORT \u00d7 1000", "LONG \u00d7 100"},
                       {(a->right() + b->x) / 2.0, a->centre().y + 42.0},
                       kPlacardSize,
                       Plate::Aluminium});
    }
    // The row legends in the middle gap, between engines 2 and 3.
    const struct {
        const char* left;
        const char* right;
        std::vector<std::string> legend;
    } rows[] = {{"Tachometer2", "Tachometer3", {"ENGINE", "SPEED"}}, {"Boost2", "Boost3", {"BOOST"}}};
    for (const auto& row : rows) {
        if (const auto a = slots.find(row.left), b = slots.find(row.right); a && b) {
            out.push_back({std::string(row.left) + " and " + row.right,
                           row.legend,
                           {(a->right() + b->x) / 2.0, a->centre().y},
                           kPlacardSize,
                           Plate::Aluminium,
                           Screws::AtTheEnds});
        }
    }
    const struct {
        std::vector<std::string_view> tanks;
        const char* legend;
    } fuel[] = {
        {{"Fuel_Quantity_Port_1", "Fuel_Quantity_Port_2", "Fuel_Quantity_Port_3"}, "FUEL CONTENTS \u2013 PORT"},
        {{"Fuel_Quantity_Stbd_1", "Fuel_Quantity_Stbd_2", "Fuel_Quantity_Stbd_3"}, "FUEL CONTENTS \u2013 STARBOARD"}};
    for (const auto& group : fuel) {
        if (const auto r = slots.around(group.tanks)) {
            out.push_back({std::string(group.tanks.front()) + " to " + std::string(group.tanks.back()),
                           {group.legend},
                           {r->centre().x, r->y - 11.0},
                           kStencilSize,
                           Plate::Stencilled,
                           Screws::None,
                           r});
        }
    }
    // Each tank's number and capacity under its dial: the dial's face has no
    // room for them clear of the needle.
    const struct {
        const char* gauge;
        const char* legend;
    } tanks[] = {{"Fuel_Quantity_Port_1", "No. 1 TANK \u2013 580 GALLS"},
                 {"Fuel_Quantity_Port_2", "No. 2 TANK \u2013 363 GALLS"},
                 {"Fuel_Quantity_Port_3", "No. 3 TANK \u2013 114 GALLS"},
                 {"Fuel_Quantity_Stbd_1", "No. 1 TANK \u2013 580 GALLS"},
                 {"Fuel_Quantity_Stbd_2", "No. 2 TANK \u2013 363 GALLS"},
                 {"Fuel_Quantity_Stbd_3", "No. 3 TANK \u2013 114 GALLS"}};
    for (const auto& tank : tanks) {
        if (const auto r = slots.find(tank.gauge))
            out.push_back({tank.gauge, {tank.legend}, {r->centre().x, r->bottom() + 8.0}});
    }
    // The accelerometer's name: too long for its small face.
    if (const auto r = slots.find("Accelerometer"))
        out.push_back({"Accelerometer", {"ACCELEROMETER"}, {r->centre().x, r->bottom() + 10.0}});
    return out;
}

// The standby compass's deviation card, in its holder under the compass:
// the course to steer for each heading wanted, as swung on the ground.
constexpr double kCardLine = 12.5, kCardWidth = 100.0;
constexpr struct {
    const char* wanted;
    const char* steer;
} kDeviations[] = {{"N", "002"}, {"NE", "047"}, {"E", "091"}, {"SE", "133"},
                   {"S", "178"}, {"SW", "224"}, {"W", "269"}, {"NW", "317"}};

// The card's holder under the compass, if the compass is on the panel.
std::optional<Rect> card_holder(const Slots& slots) {
    const auto r = slots.find("Compass");
    if (!r) return std::nullopt;
    return Rect{std::round(r->centre().x - kCardWidth / 2.0), std::round(r->bottom() + 8.0), kCardWidth,
                kCardLine * (std::size(kDeviations) + 2) + 10.0};
}

// The card itself, inside its holder's frame.
Rect card_of(const Rect& holder) { return {holder.x + 4.0, holder.y + 4.0, holder.width - 8.0, holder.height - 8.0}; }

void deviation_card(cairo_t* cr, const Slots& slots) {
    const auto holder = card_holder(slots);
    if (!holder) return;
    constexpr double kLine = kCardLine, kWidth = kCardWidth;
    const auto& rows = kDeviations;
    const double height = holder->height, left = holder->x, top = holder->y;
    // The holder: a dark frame standing proud of the panel, two screws.
    rounded_rect_path(cr, left + 1.5, top + 2.0, kWidth, height, 3.0);
    cairo_set_source_rgba(cr, 0.0, 0.0, 0.0, 0.5);
    cairo_fill(cr);
    rounded_rect_path(cr, left, top, kWidth, height, 3.0);
    set_colour(cr, Rgb{40, 40, 40});
    cairo_fill(cr);
    const Rgb card{214, 208, 184}, ink{24, 22, 20};
    const Rect face = card_of(*holder);
    fill_rect(cr, face.x, face.y, face.width, face.height, card);
    double y = top + 4.0 + kLine / 2.0 + 1.0;
    text(cr, "DEVIATION", {left + kWidth / 2.0, y}, kPlacardSize, Font::CondensedBold, ink);
    y += kLine;
    const double wanted_x = left + 30.0, steer_x = left + 68.0;
    text(cr, "FOR", {wanted_x, y}, kPlacardSize, Font::CondensedBold, ink);
    text(cr, "STEER", {steer_x, y}, kPlacardSize, Font::CondensedBold, ink);
    fill_rect(cr, left + 8.0, y + kLine / 2.0 - 0.5, kWidth - 16.0, 1.0, ink);
    fill_rect(cr, left + kWidth / 2.0 - 0.5, y - kLine / 2.0 + 1.0, 1.0, kLine * (std::size(rows) + 1) - 2.0, ink);
    for (const auto& row : rows) {
        y += kLine;
        text(cr, row.wanted, {wanted_x, y}, kPlacardSize, Font::Bold, ink);
        text(cr, row.steer, {steer_x, y}, kPlacardSize, Font::Bold, ink);
    }
}

// The panel's own placards are the airframe maker's, whoever made the
// instruments drawn before them.
class AirframeMakers {
public:
    AirframeMakers() : before_(maker()) { set_maker(Maker::Flight); }
    ~AirframeMakers() { set_maker(before_); }
    AirframeMakers(const AirframeMakers&) = delete;
    AirframeMakers& operator=(const AirframeMakers&) = delete;

private:
    Maker before_;
};

}  // namespace

std::vector<Placard> panel_placards(const PanelLayout& layout) {
    const AirframeMakers makers;
    Canvas scratch(1, 1);  // to measure the lettering on
    const Slots slots(layout);
    std::vector<Placard> out;
    for (const PlacardSpec& p : placard_layout(slots)) {
        std::string words;
        for (const std::string& line : p.lines) words += (words.empty() ? "" : " / ") + line;
        const Rect r = lettering_of(scratch.cr(), p);
        out.push_back({words, p.beside, r.x, r.y, r.width, r.height,
                       p.plate == Plate::Stencilled ? Lettering::Stencilled : Lettering::Engraved});
    }
    if (const auto holder = card_holder(slots)) {
        const Rect card = card_of(*holder);
        out.push_back({"DEVIATION card", "Compass", card.x, card.y, card.width, card.height, Lettering::Ink});
    }
    return out;
}

RgbImage paint_panel(const PanelLayout& layout, const SeeThrough& see_through) {
    if (layout.width == 0 || layout.height == 0) throw std::invalid_argument("the window has no size");
    const AirframeMakers makers;
    Canvas canvas(static_cast<int>(layout.width), static_cast<int>(layout.height));
    cairo_t* cr = canvas.cr();
    paint_wrinkle_finish(canvas, layout.paint);
    const Slots slots(layout);

    if (const auto six = slots.around({"Airspeed", "Attitude", "VSI", "Altimeter", "DR_Compass", "Turn"})) {
        constexpr double kMargin = 14.0;
        shock_mounted_subpanel(
            cr, {six->x - kMargin, six->y - kMargin, six->width + 2.0 * kMargin, six->height + 2.0 * kMargin});
    }
    uint32_t seed = 0;
    for (const PanelSlot& slot : layout.gauges) mounting_screws(cr, slot, see_through, seed++);
    edge_screws(cr, slots, layout.width, layout.height);
    for (const PlacardSpec& p : placard_layout(slots)) placard(cr, p);
    deviation_card(cr, slots);

    cairo_surface_flush(canvas.surface());
    const unsigned char* data = cairo_image_surface_get_data(canvas.surface());
    const int stride = cairo_image_surface_get_stride(canvas.surface());
    RgbImage image{layout.width, layout.height, {}};
    image.pixels.reserve(size_t{layout.width} * layout.height);
    for (uint32_t y = 0; y < layout.height; ++y) {
        for (uint32_t x = 0; x < layout.width; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, data + size_t(y) * stride + size_t(x) * 4, 4);  // opaque: not premultiplied
            image.pixels.push_back(
                {static_cast<uint8_t>(pixel >> 16), static_cast<uint8_t>(pixel >> 8), static_cast<uint8_t>(pixel)});
        }
    }
    return image;
}

}  // namespace art
