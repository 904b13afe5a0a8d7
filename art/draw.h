// Drawing primitives shared by every instrument: polar geometry (degrees
// clockwise from 3 o'clock, y down, as the needles turn), marks, numerals,
// cases, knobs and screws.
#pragma once

#include <cairo.h>

#include <string>
#include <string_view>
#include <vector>

#include "art/canvas.h"
#include "art/palette.h"

namespace art {

struct Point {
    double x = 0.0;
    double y = 0.0;
};

// The point `radius` from `centre` in the direction `degrees`.
Point polar(Point centre, double radius, double degrees);

void set_colour(cairo_t* cr, Rgb colour, double alpha = 1.0);
void fill_circle(cairo_t* cr, Point centre, double radius, Rgb colour);
// A hexagon nut across `radius` (corners at 30 + 60 k degrees) with a round
// bore of `bore` in `bore_colour`.
void hex_nut(cairo_t* cr, Point centre, double radius, Rgb colour, double bore, Rgb bore_colour);
void stroke_circle(cairo_t* cr, Point centre, double radius, double width, Rgb colour);
// An arc turning clockwise from `from_degrees` to `to_degrees`.
void stroke_arc(cairo_t* cr, Point centre, double radius, double from_degrees, double to_degrees, double width,
                Rgb colour);
void fill_rect(cairo_t* cr, double x, double y, double width, double height, Rgb colour);
// A rounded rectangle as the current path.
void rounded_rect_path(cairo_t* cr, double x, double y, double width, double height, double radius);

// A radial mark from r_inner to r_outer.
void tick(cairo_t* cr, Point centre, double degrees, double r_inner, double r_outer, double width, Rgb colour);
// A radial wedge, wide at r_outer and pointed at r_inner.
void wedge(cairo_t* cr, Point centre, double degrees, double r_inner, double r_outer, double half_width, Rgb colour);

// A piece of text as drawn: the height of its capitals (how tall it reads,
// whatever its signs), its inked box (unturned, centred where it was drawn;
// empty when the typeface lacks its signs), its ink and the colour most of
// the box showed before it was written (the panel's paint where the bitmap
// was transparent, as the panel shows through there).
struct Label {
    std::string text;
    double cap_height;
    double x, y, width, height;
    Rgb ink;
    Rgb ground;
};

// While one lives, every text() drawn on this thread is logged in it, so
// that what the painters wrote can be checked for size and contrast.
class LabelLog {
public:
    LabelLog();
    ~LabelLog();
    LabelLog(const LabelLog&) = delete;
    LabelLog& operator=(const LabelLog&) = delete;

    const std::vector<Label>& labels() const { return labels_; }
    static void log(Label label);

private:
    std::vector<Label> labels_;
    LabelLog* outer_;
};

// Text centred on `at` by its inked box.
void text(cairo_t* cr, std::string_view s, Point at, double size, Font font, Rgb colour);
// The same, turned by `rotate_degrees` (clockwise) about `at`.
void text_rotated(cairo_t* cr, std::string_view s, Point at, double size, Font font, Rgb colour, double rotate_degrees);
// The extents of `s` in `font` at `size`, as text() measures it to centre it.
cairo_text_extents_t text_extents(cairo_t* cr, std::string_view s, double size, Font font);
// Upright text on the ray at `degrees`, as far out as keeps its inked box
// inside `r_edge` along the ray: a numeral inside its scale's marks, clear
// of the mark it names whatever its width and the ray's slant.
void text_inside(cairo_t* cr, Point centre, double degrees, double r_edge, std::string_view s, double size, Font font,
                 Rgb colour);
// The same outside the circle: as near `r_edge` as keeps the box beyond it.
void text_beyond(cairo_t* cr, Point centre, double degrees, double r_edge, std::string_view s, double size, Font font,
                 Rgb colour);
// Upright text centred at the polar point.
void text_polar(cairo_t* cr, Point centre, double degrees, double radius, std::string_view s, double size, Font font,
                Rgb colour);

// A round instrument case: a turned metal rim from r_outer to r_face and a
// near-black face inside. Everything outside r_outer stays transparent.
void round_case(cairo_t* cr, Point centre, double r_outer, double r_face);
// A mask's bezel: a ring of case from r_outer in to r_window, rimmed at both
// edges. The window inside stays transparent, for the card or the horizon
// beneath to show through.
void bezel_ring(cairo_t* cr, Point centre, double r_outer, double r_window);
// A faint curved highlight on a round face, as its glass catches the light
// from the top left; round_case draws one on its face.
void glass_glare(cairo_t* cr, Point centre, double r_face);
// A slotted screw head.
void screw(cairo_t* cr, Point centre, double radius, double slot_degrees);
// A knurled knob seen from the front.
void knurled_knob(cairo_t* cr, Point centre, double radius, int teeth);
// A painted panel area with a faint border.
void panel_plate(cairo_t* cr, double x, double y, double width, double height, double radius);

}  // namespace art
