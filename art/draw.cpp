#include "art/draw.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <numbers>
#include <string>

namespace art {

Point polar(Point centre, double radius, double degrees) {
    const double radians = degrees * std::numbers::pi / 180.0;
    return {centre.x + radius * std::cos(radians), centre.y + radius * std::sin(radians)};
}

void set_colour(cairo_t* cr, Rgb colour, double alpha) {
    cairo_set_source_rgba(cr, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0, alpha);
}

void fill_circle(cairo_t* cr, Point centre, double radius, Rgb colour) {
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, radius, 0.0, 2.0 * std::numbers::pi);
    set_colour(cr, colour);
    cairo_fill(cr);
}

void stroke_circle(cairo_t* cr, Point centre, double radius, double width, Rgb colour) {
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, radius, 0.0, 2.0 * std::numbers::pi);
    cairo_set_line_width(cr, width);
    set_colour(cr, colour);
    cairo_stroke(cr);
}

void stroke_arc(cairo_t* cr, Point centre, double radius, double from_degrees, double to_degrees, double width,
                Rgb colour) {
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, radius, from_degrees * std::numbers::pi / 180.0,
              to_degrees * std::numbers::pi / 180.0);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    set_colour(cr, colour);
    cairo_stroke(cr);
}

void fill_rect(cairo_t* cr, double x, double y, double width, double height, Rgb colour) {
    cairo_new_path(cr);
    cairo_rectangle(cr, x, y, width, height);
    set_colour(cr, colour);
    cairo_fill(cr);
}

void rounded_rect_path(cairo_t* cr, double x, double y, double width, double height, double radius) {
    cairo_new_path(cr);
    cairo_arc(cr, x + width - radius, y + radius, radius, -std::numbers::pi / 2, 0);
    cairo_arc(cr, x + width - radius, y + height - radius, radius, 0, std::numbers::pi / 2);
    cairo_arc(cr, x + radius, y + height - radius, radius, std::numbers::pi / 2, std::numbers::pi);
    cairo_arc(cr, x + radius, y + radius, radius, std::numbers::pi, 3 * std::numbers::pi / 2);
    cairo_close_path(cr);
}

void tick(cairo_t* cr, Point centre, double degrees, double r_inner, double r_outer, double width, Rgb colour) {
    const Point a = polar(centre, r_inner, degrees);
    const Point b = polar(centre, r_outer, degrees);
    cairo_new_path(cr);
    cairo_move_to(cr, a.x, a.y);
    cairo_line_to(cr, b.x, b.y);
    cairo_set_line_width(cr, width);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    set_colour(cr, colour);
    cairo_stroke(cr);
}

void wedge(cairo_t* cr, Point centre, double degrees, double r_inner, double r_outer, double half_width, Rgb colour) {
    const Point tip = polar(centre, r_inner, degrees);
    const Point base = polar(centre, r_outer, degrees);
    const Point left = polar(base, half_width, degrees - 90.0);
    const Point right = polar(base, half_width, degrees + 90.0);
    cairo_new_path(cr);
    cairo_move_to(cr, tip.x, tip.y);
    cairo_line_to(cr, left.x, left.y);
    cairo_line_to(cr, right.x, right.y);
    cairo_close_path(cr);
    set_colour(cr, colour);
    cairo_fill(cr);
}

cairo_text_extents_t text_extents(cairo_t* cr, std::string_view s, double size, Font font) {
    const std::string str(s);
    cairo_save(cr);
    cairo_set_font_face(cr, Fonts::face(font));
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, str.c_str(), &extents);
    cairo_restore(cr);
    return extents;
}

namespace {
thread_local LabelLog* current_log = nullptr;

// The colour most of the box shows on the surface: what a label is read against.
Rgb ground_of(cairo_t* cr, double x, double y, double width, double height) {
    cairo_surface_t* surface = cairo_get_target(cr);
    cairo_surface_flush(surface);
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    std::map<uint32_t, int> counts;
    for (int py = std::max(0, int(y)); py < std::min(h, int(std::ceil(y + height))); ++py) {
        for (int px = std::max(0, int(x)); px < std::min(w, int(std::ceil(x + width))); ++px) {
            uint32_t pixel;
            std::memcpy(&pixel, data + size_t(py) * stride + size_t(px) * 4, 4);
            const Rgb p = colour::kPanel;
            ++counts[(pixel >> 24) < 128 ? (uint32_t{p.r} << 16) | (uint32_t{p.g} << 8) | p.b : pixel & 0xFFFFFFu];
        }
    }
    uint32_t most = 0;
    int best = -1;
    for (const auto& [rgb, n] : counts) {
        if (n > best) most = rgb, best = n;
    }
    return {uint8_t(most >> 16), uint8_t(most >> 8), uint8_t(most)};
}
}  // namespace

LabelLog::LabelLog() : outer_(current_log) { current_log = this; }
LabelLog::~LabelLog() { current_log = outer_; }
void LabelLog::log(Label label) {
    if (current_log != nullptr) current_log->labels_.push_back(std::move(label));
}

void text_rotated(cairo_t* cr, std::string_view s, Point at, double size, Font font, Rgb colour,
                  double rotate_degrees) {
    const std::string str(s);
    const cairo_text_extents_t extents = text_extents(cr, s, size, font);
    if (current_log != nullptr) {
        // Where the text turns, the box upright around its centre stands for
        // it; on the surface, whatever transformation the painter drew under.
        double cx = at.x, cy = at.y;
        cairo_user_to_device(cr, &cx, &cy);
        const double x = cx - extents.width / 2.0, y = cy - extents.height / 2.0;
        LabelLog::log({str, text_extents(cr, "H", size, font).height, x, y, extents.width, extents.height, colour,
                       ground_of(cr, x, y, extents.width, extents.height)});
    }
    cairo_save(cr);
    cairo_set_font_face(cr, Fonts::face(font));
    cairo_set_font_size(cr, size);
    cairo_translate(cr, at.x, at.y);
    cairo_rotate(cr, rotate_degrees * std::numbers::pi / 180.0);
    cairo_new_path(cr);
    cairo_move_to(cr, -extents.x_bearing - extents.width / 2.0, -extents.y_bearing - extents.height / 2.0);
    cairo_text_path(cr, str.c_str());
    set_colour(cr, colour);
    cairo_fill(cr);
    cairo_restore(cr);
}

void text(cairo_t* cr, std::string_view s, Point at, double size, Font font, Rgb colour) {
    text_rotated(cr, s, at, size, font, colour, 0.0);
}

void text_polar(cairo_t* cr, Point centre, double degrees, double radius, std::string_view s, double size, Font font,
                Rgb colour) {
    text(cr, s, polar(centre, radius, degrees), size, font, colour);
}

namespace {

// How far the inked box of `s`, centred on a ray at `degrees`, reaches
// along the ray either side of its centre.
double reach_along(cairo_t* cr, double degrees, std::string_view s, double size, Font font) {
    const cairo_text_extents_t ink = text_extents(cr, s, size, font);
    const double a = degrees * std::numbers::pi / 180.0;
    return std::fabs(ink.width / 2.0 * std::cos(a)) + std::fabs(ink.height / 2.0 * std::sin(a));
}

}  // namespace

void text_inside(cairo_t* cr, Point centre, double degrees, double r_edge, std::string_view s, double size, Font font,
                 Rgb colour) {
    text_polar(cr, centre, degrees, r_edge - reach_along(cr, degrees, s, size, font), s, size, font, colour);
}

void text_beyond(cairo_t* cr, Point centre, double degrees, double r_edge, std::string_view s, double size, Font font,
                 Rgb colour) {
    text_polar(cr, centre, degrees, r_edge + reach_along(cr, degrees, s, size, font), s, size, font, colour);
}

void bezel_ring(cairo_t* cr, Point centre, double r_outer, double r_window) {
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, r_outer, 0.0, 2.0 * std::numbers::pi);
    cairo_new_sub_path(cr);
    cairo_arc_negative(cr, centre.x, centre.y, r_window, 2.0 * std::numbers::pi, 0.0);
    set_colour(cr, colour::kCaseDark);
    cairo_fill(cr);
    stroke_circle(cr, centre, r_outer - 1.5, 3.0, Rgb{84, 84, 84});
    stroke_circle(cr, centre, r_window + 1.0, 2.0, Rgb{60, 60, 60});
}

void round_case(cairo_t* cr, Point centre, double r_outer, double r_face) {
    // Rim: lit from the top left, a bright edge and a dark lip at the glass.
    // Each maker finishes it its own way: the flight instruments' grey metal,
    // the engine instruments' black enamel, the timepieces' nickel plate.
    struct Finish {
        double lit, middle, shade;
        Rgb edge, highlight;
    };
    const Finish finish = maker() == Maker::Engine ? Finish{0.20, 0.11, 0.04, Rgb{84, 84, 84}, Rgb{120, 120, 120}}
                          : maker() == Maker::Timepiece
                              ? Finish{0.72, 0.42, 0.16, Rgb{180, 180, 180}, Rgb{220, 220, 220}}
                              : Finish{0.47, 0.24, 0.09, Rgb{136, 136, 136}, Rgb{153, 153, 153}};
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, r_outer, 0.0, 2.0 * std::numbers::pi);
    cairo_pattern_t* rim =
        cairo_pattern_create_linear(centre.x - r_outer, centre.y - r_outer, centre.x + r_outer, centre.y + r_outer);
    cairo_pattern_add_color_stop_rgb(rim, 0.0, finish.lit, finish.lit, finish.lit);
    cairo_pattern_add_color_stop_rgb(rim, 0.5, finish.middle, finish.middle, finish.middle);
    cairo_pattern_add_color_stop_rgb(rim, 1.0, finish.shade, finish.shade, finish.shade);
    cairo_set_source(cr, rim);
    cairo_fill(cr);
    cairo_pattern_destroy(rim);

    const double lip = std::fmax(2.0, (r_outer - r_face) * 0.35);
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, r_face + lip, 0.0, 2.0 * std::numbers::pi);
    cairo_pattern_t* inner =
        cairo_pattern_create_linear(centre.x - r_outer, centre.y - r_outer, centre.x + r_outer, centre.y + r_outer);
    cairo_pattern_add_color_stop_rgb(inner, 0.0, 0.09, 0.09, 0.09);
    cairo_pattern_add_color_stop_rgb(inner, 1.0, 0.33, 0.33, 0.33);
    cairo_set_source(cr, inner);
    cairo_fill(cr);
    cairo_pattern_destroy(inner);

    fill_circle(cr, centre, r_face, colour::kFace);
    glass_glare(cr, centre, r_face);
    // The bezel's bevel, lit from the top left: a bright edge there, and on
    // the lip down at the glass on the other side; shadow opposite. The
    // case's shadow on the panel falls on its own outer edge (nothing is drawn
    // outside r_outer).
    stroke_circle(cr, centre, r_outer - 1.0, 2.0, Rgb{8, 8, 8});
    stroke_arc(cr, centre, r_outer - 1.5, 165.0, 285.0, 1.2, finish.edge);
    stroke_arc(cr, centre, r_outer - 1.5, 195.0, 255.0, 1.2, finish.highlight);
    stroke_arc(cr, centre, r_face + lip - 0.8, 345.0, 465.0, 1.0, Rgb{120, 120, 120});
    stroke_arc(cr, centre, r_face + 0.6, 165.0, 285.0, 1.2, Rgb{8, 8, 8});
}

void glass_glare(cairo_t* cr, Point centre, double r_face) {
    // A crescent where the glass catches the light from the top left: the
    // face's circle less the same circle moved down and right, brightest at
    // its outer edge and fading inward.
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, r_face - 1.0, 0.0, 2.0 * std::numbers::pi);
    cairo_clip(cr);
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, r_face - 2.0, 0.0, 2.0 * std::numbers::pi);
    cairo_new_sub_path(cr);
    cairo_arc_negative(cr, centre.x + r_face * 0.16, centre.y + r_face * 0.2, r_face * 0.99, 2.0 * std::numbers::pi,
                       0.0);
    cairo_set_fill_rule(cr, CAIRO_FILL_RULE_EVEN_ODD);
    cairo_pattern_t* sheen =
        cairo_pattern_create_linear(centre.x - r_face * 0.7, centre.y - r_face * 0.7, centre.x, centre.y);
    cairo_pattern_add_color_stop_rgba(sheen, 0.0, 1.0, 1.0, 1.0, 0.11);
    cairo_pattern_add_color_stop_rgba(sheen, 0.6, 1.0, 1.0, 1.0, 0.04);
    cairo_pattern_add_color_stop_rgba(sheen, 1.0, 1.0, 1.0, 1.0, 0.0);
    cairo_set_source(cr, sheen);
    cairo_fill(cr);
    cairo_pattern_destroy(sheen);
    cairo_restore(cr);
}

void screw(cairo_t* cr, Point centre, double radius, double slot_degrees) {
    fill_circle(cr, centre, radius, Rgb{60, 60, 60});
    fill_circle(cr, {centre.x - radius * 0.15, centre.y - radius * 0.15}, radius * 0.75, Rgb{102, 102, 102});
    tick(cr, centre, slot_degrees, -radius * 0.8, radius * 0.8, std::fmax(1.0, radius * 0.3), Rgb{24, 24, 24});
}

void knurled_knob(cairo_t* cr, Point centre, double radius, int teeth) {
    fill_circle(cr, centre, radius, Rgb{24, 24, 24});
    for (int i = 0; i < teeth; ++i) {
        const double degrees = 360.0 * i / teeth;
        tick(cr, centre, degrees, radius * 0.78, radius - 0.5, std::fmax(1.0, radius * 0.12), Rgb{72, 72, 72});
    }
    cairo_new_path(cr);
    cairo_arc(cr, centre.x, centre.y, radius * 0.74, 0.0, 2.0 * std::numbers::pi);
    cairo_pattern_t* top = cairo_pattern_create_radial(centre.x - radius * 0.3, centre.y - radius * 0.3, 0.0, centre.x,
                                                       centre.y, radius * 0.74);
    cairo_pattern_add_color_stop_rgb(top, 0.0, 0.40, 0.40, 0.40);
    cairo_pattern_add_color_stop_rgb(top, 1.0, 0.12, 0.12, 0.12);
    cairo_set_source(cr, top);
    cairo_fill(cr);
    cairo_pattern_destroy(top);
}

void panel_plate(cairo_t* cr, double x, double y, double width, double height, double radius) {
    rounded_rect_path(cr, x, y, width, height, radius);
    set_colour(cr, colour::kPanel);
    cairo_fill_preserve(cr);
    cairo_set_line_width(cr, 1.0);
    set_colour(cr, Rgb{60, 60, 60});
    cairo_stroke(cr);
}

void hex_nut(cairo_t* cr, Point centre, double radius, Rgb colour, double bore, Rgb bore_colour) {
    cairo_new_path(cr);
    for (int i = 0; i < 6; ++i) {
        const Point p = polar(centre, radius, 30.0 + 60.0 * i);
        if (i == 0)
            cairo_move_to(cr, p.x, p.y);
        else
            cairo_line_to(cr, p.x, p.y);
    }
    cairo_close_path(cr);
    set_colour(cr, colour);
    cairo_fill(cr);
    fill_circle(cr, centre, bore, bore_colour);
}

}  // namespace art
