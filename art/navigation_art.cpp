// Compass, distant-reading compass, direction finder, clock and stopwatch.
#include <cmath>
#include <numbers>
#include <string>

#include "art/dial.h"
#include "art/painters.h"
#include "korvane/bitmaps.h"

namespace art {
namespace {

namespace bitmap = korvane::bitmap;

using colour::kCream;

// --- Compass: a small body with the card strip seen through a window.
Box compass_window(const Records& records) {
    return Records::window(records.element("Compass", bitmap::kCompassCardStrip));
}

void compass_body(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Point c{canvas.width() / 2.0, canvas.height() / 2.0};
    round_case(cr, c, canvas.width() / 2.0 - 0.5, canvas.width() / 2.0 - 9.0);
    const Box w = compass_window(records);
    rounded_rect_path(cr, w.x - 3.0, w.y - 3.0, w.width + 6.0, w.height + 6.0, 3.0);
    set_colour(cr, Rgb{84, 84, 84});
    cairo_fill(cr);
    fill_rect(cr, w.x - 1.0, w.y - 1.0, w.width + 2.0, w.height + 2.0, Rgb{8, 8, 8});
    // The bowl's filler screw under the window (the deviation card is on the
    // panel beneath the compass, where it has room for its figures).
    const Point filler{c.x, w.y + w.height + 16.0};
    fill_circle(cr, filler, 6.0, Rgb{72, 72, 72});
    fill_circle(cr, filler, 4.5, Rgb{120, 120, 120});
    fill_rect(cr, filler.x - 4.0, filler.y - 0.75, 8.0, 1.5, Rgb{40, 40, 40});
}

// The strip reads falling headings from the left: the window shows heading h
// at card position 360 - h, so heading h sits (360 - h) * 1.8 + 36 pixels in.
void compass_card(Canvas& canvas, const Records&) {
    cairo_t* cr = canvas.cr();
    const double w = canvas.width();
    const double h = canvas.height();
    fill_rect(cr, 0, 0, w, h, Rgb{24, 24, 24});
    for (int x = 0; x < w; x += 18) {
        const bool labelled = (x - 36) % 54 == 0 && x >= 36 && x <= 684;
        fill_rect(cr, x - 1.0, labelled ? h - 13.0 : h - 8.0, 2.0, labelled ? 13.0 : 8.0, kCream);
    }
    for (int i = 0; i <= 12; ++i) {
        const int heading = (360 - 30 * i) % 360;
        text(cr, std::to_string(heading / 10), {36.0 + 54.0 * i, 10.0}, 13.0, Font::Bold, kCream);
    }
}

void compass_window_mask(Canvas& canvas, const Records&) {
    cairo_t* cr = canvas.cr();
    const double mid = canvas.width() / 2.0;
    // The lubber line over the card, a notch at the top and a line over the marks.
    cairo_new_path(cr);
    cairo_move_to(cr, mid - 4.0, 0.0);
    cairo_line_to(cr, mid + 4.0, 0.0);
    cairo_line_to(cr, mid, 5.0);
    cairo_close_path(cr);
    set_colour(cr, colour::kOrange);
    cairo_fill(cr);
    fill_rect(cr, mid - 1.0, canvas.height() - 16.0, 2.0, 16.0, colour::kOrange);
    fill_rect(cr, 0, 0, 1, canvas.height(), Rgb{40, 40, 40});
    fill_rect(cr, canvas.width() - 1.0, 0, 1, canvas.height(), Rgb{40, 40, 40});
}

// --- Distant-reading compass: the rose turns behind a bezel with a lubber
// mark; the course pointer turns over it; the setting knob sits in the middle.
constexpr double kRoseWindow = 117.0;

Point dr_centre(const Records& records) {
    const auto sprite = records.as<guest::ELEMENT_SPRITE>("DR_Compass", bitmap::kDrCompassRose);
    return {double(sprite.header.ofs_x), double(sprite.header.ofs_y)};
}

void dr_case(Canvas& canvas, const Records& records) {
    round_case(canvas.cr(), dr_centre(records), canvas.width() / 2.0 - 0.5, kRoseWindow + 3.0);
}

void dr_rose(Canvas& canvas, const Records&) {
    cairo_t* cr = canvas.cr();
    const Point c{canvas.width() / 2.0, canvas.height() / 2.0};
    fill_circle(cr, c, kRoseWindow + 2.0, Rgb{24, 24, 24});
    // Headings turn clockwise from north at the top: heading h at screen 270 + h.
    for (int heading = 0; heading < 360; heading += 5) {
        const double a = 270.0 + heading;
        const bool ten = heading % 10 == 0;
        const bool thirty = heading % 30 == 0;
        tick(cr, c, a,
             kRoseWindow - (thirty ? 16.0
                            : ten  ? 11.0
                                   : 6.0),
             kRoseWindow,
             thirty ? 2.6
             : ten  ? 1.8
                    : 1.1,
             kCream);
    }
    const char* labels[] = {"N", "3", "6", "E", "12", "15", "S", "21", "24", "W", "30", "33"};
    for (int i = 0; i < 12; ++i) {
        const double a = 270.0 + 30.0 * i;
        const bool cardinal = i % 3 == 0;
        text_rotated(cr, labels[i], polar(c, kRoseWindow - 31.0, a), cardinal ? 22.0 : 16.0, Font::Bold,
                     i == 0 ? colour::kOrange : kCream, 30.0 * i);
    }
    // The inner ring and its quadrant wedges are painted as the marks are,
    // so the card reads as a whole in the dark.
    stroke_circle(cr, c, 64.0, 1.4, kCream);
    for (int i = 0; i < 4; ++i) wedge(cr, c, 270.0 + 90.0 * i, 40.0, 62.0, 5.0, kCream);
}

void dr_mask(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Point c = dr_centre(records);
    const double outer = canvas.width() / 2.0 - 0.5;
    bezel_ring(cr, c, outer, kRoseWindow);
    // Lubber mark at the top, over the heading.
    wedge(cr, c, 270.0, kRoseWindow - 6.0, outer - 3.0, 6.0, colour::kOrange);
    for (double a : {0.0, 180.0}) tick(cr, c, a, kRoseWindow + 2.0, outer - 4.0, 2.0, Rgb{120, 120, 120});
    // The knob's name on the bezel below it: the knob is too small to carry it.
    text(cr, "COURSE", {c.x, c.y + (kRoseWindow + outer) / 2.0}, 13.8, Font::CondensedBold, kCream);
}

void dr_course_pointer(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "DR_Compass", bitmap::kDrCompassCoursePointer, NeedleStyle::TwoEnded,
                        colour::kOrange);
}

void dr_knob(Canvas& canvas, const Records&) {
    cairo_t* cr = canvas.cr();
    const Point c{canvas.width() / 2.0, canvas.height() / 2.0};
    knurled_knob(cr, c, canvas.width() / 2.0 - 0.5, 36);
    text(cr, "\u2212   +", {c.x, c.y}, 16.0, Font::Bold, kCream);
}

// --- Direction finder: left/right of the station, limits either side.
void df_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Needle needle = records.needle("Direction_Finder", bitmap::kDirectionFinderNeedle);
    const Point c = centre_of(needle);
    round_case(cr, c, canvas.width() / 2.0 - 1.0, 84.0);
    // The needle's limits: any bearing well beyond 65 degrees either side.
    const double left = needle.angle(-100.0);
    const double right = needle.angle(100.0);
    stroke_arc(cr, c, 80.0, left, right, 1.2, kCream);
    ticks(cr, needle, spaced(needle, steps(-60, 60, 15), {0}, 5.0), {72.0, 80.0, 1.6});
    ticks(cr, needle, {0}, {62.0, 82.0, 4.0});
    tick(cr, c, left, 64.0, 82.0, 4.0, colour::kRedBright);
    tick(cr, c, right, 64.0, 82.0, 4.0, colour::kRedBright);
    text(cr, "L", polar(c, 50.0, needle.angle(-35.0)), 22.0, Font::Bold, kCream);
    text(cr, "R", polar(c, 50.0, needle.angle(35.0)), 22.0, Font::Bold, kCream);
    text(cr, "D/F", {c.x, c.y + 38.0}, 18.5, Font::Bold, kCream);
    fill_circle(cr, c, 7.0, Rgb{72, 72, 72});
    fill_circle(cr, c, 4.0, Rgb{32, 32, 32});
}

void df_needle(Canvas& canvas, const Records& records) {
    // The hub is on the dial: the pivot sits at the bitmap's left edge.
    paint_record_needle(canvas, records, "Direction_Finder", bitmap::kDirectionFinderNeedle, NeedleStyle::Lance, kCream,
                        -1.0);
}

// --- Clock: twelve hours, sixty minutes, the setting knob bottom left.
void clock_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Needle hours = records.needle("Clock", bitmap::kClockHourHand);
    const Needle minutes = records.needle("Clock", bitmap::kClockMinuteHand);
    const Point c = centre_of(hours);
    const double outer = std::fmin(std::fmin(c.x, c.y), std::fmin(canvas.width() - c.x, canvas.height() - c.y)) - 0.5;
    round_case(cr, c, outer, outer - 18.0);
    const std::vector<Box> knobs = records.mouse_parents("Clock");
    if (!knobs.empty()) {
        const Box& k = knobs.front();
        const Point kc{k.x + k.width / 2.0, k.y + k.height / 2.0};
        knurled_knob(cr, kc, k.width / 2.0 - 8.0, 30);
        text(cr, "\u2212", {kc.x - 10.0, kc.y}, 21.5, Font::Bold, kCream);
        text(cr, "+", {kc.x + 10.0, kc.y}, 21.5, Font::Bold, kCream);
    }
    // The minute track starts where the minute hand's tip reaches; the hours
    // lie inside it.
    const double reach = korvane::find_bitmap(bitmap::kClockMinuteHand)->width - minutes.ofs_x() + 11.0;
    stroke_circle(cr, c, reach, 1.2, kCream);
    ticks(cr, minutes, steps(0, 59, 1), {reach - 10.0, reach, 1.5});
    ticks(cr, hours, steps(0, 11, 1), {reach - 19.0, reach, 5.0});
    std::vector<Numeral> marks;
    for (int h = 1; h <= 12; ++h) marks.push_back({double(h), std::to_string(h)});
    numerals(cr, hours, marks, reach - 34.0, 21.5);
}

void clock_hour_hand(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Clock", bitmap::kClockHourHand, NeedleStyle::Spade);
}
void clock_minute_hand(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Clock", bitmap::kClockMinuteHand, NeedleStyle::Spade);
}
void clock_second_hand(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Clock", bitmap::kClockSecondHand, NeedleStyle::Lance, colour::kOrange);
}

// --- Stopwatch. The seconds hand stands at 270 + 6 x the counted seconds
// (0 at the top); the minutes ring shows through a window below the centre.
constexpr double kTimerFace = 112.0;
constexpr double kTimerCase = 124.0;
constexpr double kTimerHandHalf = 3.5;  // the seconds hand's half width, its outline included

struct TimerGeometry {
    Point centre;          // the hand's pivot on the dial
    Point texture_centre;  // where the ring's centre sits
    double texture_scale;
    Box window;  // the mask's place on the dial
};

TimerGeometry timer_geometry(const Records& records) {
    const auto ring = records.as<guest::ELEMENT_SPRITE>("Timer", bitmap::kTimerMinutesRing);
    const Needle hand = records.needle("Timer", bitmap::kTimerSecondsHand);
    return {centre_of(hand),
            {double(ring.header.ofs_x), double(ring.header.ofs_y)},
            double(ring.texture_scale_x),
            Records::window(ring.header)};
}

// The opening in the mask, in dial pixels: centred under the pivot, at the
// top of the mask and no taller than a digit so that the 30 below it stays
// clear of its frame.
struct Opening {
    double x, y, width, height;
};
Opening timer_opening(const TimerGeometry& g) {
    const double width = 39.0;
    return {g.centre.x - width / 2.0, g.window.y + 2.0, width, 26.0};
}

void timer_face(cairo_t* cr, const TimerGeometry& g) {
    const Point c = g.centre;
    fill_circle(cr, c, kTimerFace, colour::kFace);
    for (int s = 0; s < 60; ++s) {
        const double a = 270.0 + 6.0 * s;
        if (s % 5 == 0) {
            tick(cr, c, a, kTimerFace - 18.0, kTimerFace - 3.0, 3.2, kCream);
        } else {
            tick(cr, c, a, kTimerFace - 10.0, kTimerFace - 3.0, 1.3, kCream);
        }
    }
    for (int s = 5; s < 60; s += 5)
        text_inside(cr, c, 270.0 + 6.0 * s, kTimerFace - (s == 30 ? 20.5 : 21.0), std::to_string(s), 21.5, Font::Bold,
                    kCream);
    // The hand rests straight up: its 0 stands just right of it, level with the others.
    const cairo_text_extents_t zero = text_extents(cr, "0", 21.5, Font::Bold);
    text(cr, "0", {c.x + kTimerHandHalf + 2.5 + zero.width / 2.0, c.y - (kTimerFace - 21.0) + zero.height / 2.0}, 21.5,
         Font::Bold, kCream);
    // Below the pivot, between the hand's short tail and the minutes' window:
    // the hand at rest stands straight up, where it would split the word.
    text(cr, "SECONDS", {c.x, c.y + 24.0}, 21.5, Font::CondensedBold, kCream);
}

void timer_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const TimerGeometry g = timer_geometry(records);
    const Point c = g.centre;
    // Crown (reset) and pusher (start/stop) where their mouse boxes are.
    const std::vector<Box> buttons = records.mouse_parents("Timer");
    for (const Box& b : buttons) {
        const Point bc{b.x + b.width / 2.0, b.y + b.height / 2.0};
        const double a = std::atan2(bc.y - c.y, bc.x - c.x) * 180.0 / std::numbers::pi;
        tick(cr, c, a, kTimerCase - 4.0, std::hypot(bc.x - c.x, bc.y - c.y), 10.0, Rgb{84, 84, 84});
        cairo_save(cr);
        cairo_translate(cr, bc.x, bc.y);
        cairo_rotate(cr, (a + 90.0) * std::numbers::pi / 180.0);
        rounded_rect_path(cr, -13.0, -9.0, 26.0, 18.0, 4.0);
        set_colour(cr, Rgb{120, 120, 120});
        cairo_fill(cr);
        for (int i = -10; i <= 10; i += 4) {
            fill_rect(cr, i - 0.6, -8.0, 1.2, 16.0, Rgb{60, 60, 60});
        }
        cairo_restore(cr);
    }
    round_case(cr, c, kTimerCase, kTimerFace);
    timer_face(cr, g);
    if (buttons.size() >= 2) {
        // Outboard of the pusher, clear of the case.
        const Box& p = buttons[0];
        // Against the bitmap's right edge: large enough to read at the panel's
        // size, the words leave no room beyond the pusher.
        const double right = canvas.width() - 2.0 - text_extents(cr, "START", 21.5, Font::CondensedBold).width / 2.0;
        text(cr, "START", {right, p.y + p.height / 2.0 + 14.0}, 21.5, Font::CondensedBold, kCream);
        text(cr, "STOP", {right, p.y + p.height / 2.0 + 36.0}, 21.5, Font::CondensedBold, kCream);
        text(cr, "RESET", {buttons[1].x - 24.0, buttons[1].y + buttons[1].height / 2.0}, 21.5, Font::CondensedBold,
             kCream);
    }
}

// The ring: numbers 0 to 10, 30 degrees apart, 0 at the bottom and rising
// anticlockwise, each drawn so that it stands upright when turned to the
// bottom.
void timer_ring(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const TimerGeometry g = timer_geometry(records);
    const Opening o = timer_opening(g);
    const Point c{canvas.width() / 2.0, canvas.height() / 2.0};
    // The opening's middle, measured from the ring centre, in texture pixels.
    const double radius = (o.y + o.height / 2.0 - g.texture_centre.y) / g.texture_scale;
    fill_circle(cr, c, canvas.width() / 2.0 - 1.0, Rgb{24, 24, 24});
    for (int m = 0; m <= 10; ++m) {
        const double a = 90.0 - 30.0 * m;
        text_rotated(cr, std::to_string(m), polar(c, radius, a), 26.0, Font::Bold, kCream, -30.0 * m);
    }
}

void timer_window(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const TimerGeometry g = timer_geometry(records);
    const Opening o = timer_opening(g);
    cairo_save(cr);
    cairo_translate(cr, -g.window.x, -g.window.y);
    timer_face(cr, g);
    rounded_rect_path(cr, o.x - 2.0, o.y - 2.0, o.width + 4.0, o.height + 4.0, 4.0);
    set_colour(cr, Rgb{84, 84, 84});
    cairo_fill(cr);
    rounded_rect_path(cr, o.x, o.y, o.width, o.height, 3.0);
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_fill(cr);
    cairo_restore(cr);
    // Everything outside the opening is drawn, so the mask must be opaque there.
}

void timer_hand(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Timer", bitmap::kTimerSecondsHand, NeedleStyle::Lance, colour::kOrange);
}

constexpr PainterEntry kPainters[] = {
    {bitmap::kCompassBody, compass_body},
    {bitmap::kCompassCardStrip, compass_card},
    {bitmap::kCompassCardWindow, compass_window_mask},
    {bitmap::kDrCompassCase, dr_case},
    {bitmap::kDrCompassRose, dr_rose},
    {bitmap::kDrCompassBezel, dr_mask},
    {bitmap::kDrCompassCoursePointer, dr_course_pointer},
    {bitmap::kDrCompassKnob, dr_knob},
    {bitmap::kDirectionFinderDial, df_dial},
    {bitmap::kDirectionFinderNeedle, df_needle},
    {bitmap::kClockDial, clock_dial},
    {bitmap::kClockHourHand, clock_hour_hand},
    {bitmap::kClockMinuteHand, clock_minute_hand},
    {bitmap::kClockSecondHand, clock_second_hand},
    {bitmap::kTimerDial, timer_dial},
    {bitmap::kTimerMinutesRing, timer_ring},
    {bitmap::kTimerMinutesWindow, timer_window},
    {bitmap::kTimerSecondsHand, timer_hand},
};

}  // namespace

std::span<const PainterEntry> navigation_painters() { return kPainters; }

}  // namespace art
