// Airspeed, altimeter, vertical speed, attitude, turn and slip, accelerometer.
#include <cmath>
#include <numbers>
#include <string>
#include <tuple>

#include "art/dial.h"
#include "art/painters.h"
#include "korvane/bitmaps.h"

namespace art {
namespace {

namespace bitmap = korvane::bitmap;

using colour::kCream;

// --- Airspeed: one needle, two turns. The first turn reads 60-200 on the
// outer scale, the second 220-340 on the inner.
void airspeed_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Needle needle = records.needle("Airspeed", bitmap::kAirspeedNeedle);
    const Point c = centre_of(needle);
    round_case(cr, c, 138.5, 125.0);

    stroke_arc(cr, c, 123.0, needle.angle(60), needle.angle(200) + 360.0, 1.2, kCream);
    ticks(cr, needle, steps(60, 200, 5), {116.0, 123.0, 1.4});
    ticks(cr, needle, steps(70, 190, 20), {111.0, 123.0, 2.2});
    ticks(cr, needle, steps(60, 200, 20), {106.0, 123.0, 3.4});
    numerals(cr, needle, numbered(steps(60, 200, 20)), 92.0, 17.0);

    stroke_arc(cr, c, 73.0, needle.angle(220), needle.angle(340), 1.2, kCream);
    ticks(cr, needle, steps(230, 330, 20), {66.0, 73.0, 1.8});
    ticks(cr, needle, steps(220, 340, 20), {61.0, 73.0, 2.8});
    // The blade crosses the inner scale on its first turn, as it must to
    // reach the outer one; the tail, half a turn behind, is kept off the
    // inner numerals through the climb and cruise.
    const Dwelling dwelling(records, "Airspeed", bitmap::kAirspeedNeedle);
    const Dwelling tail(records, "Airspeed", bitmap::kAirspeedNeedle, true);
    numerals_inside(cr, needle,
                    unhidden(cr, {&tail}, needle, numbered(steps(220, 340, 20)), 53.0, 15.0, Font::CondensedBold), 58.0,
                    15.0, Font::CondensedBold);

    // In the gap of the outer scale, beside the needle resting at zero.
    const double rest = needle.angle(0);
    const double side = std::cos(rest * std::numbers::pi / 180.0) > 0.0 ? -1.0 : 1.0;
    legend(cr, {&dwelling}, {{"AIR SPEED", "KNOTS"}, 15.0, Font::Bold, {c.x + side * 32.0, c.y + 92.0}, c, 122.0});
}

void airspeed_needle(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Airspeed", bitmap::kAirspeedNeedle, NeedleStyle::Lance);
}

// --- Altimeter: hundreds of feet round the dial; the pressure window
// stands where the 5 would be, so the 5 sits over the window, and the
// setting knob hangs below the case.
void altimeter_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Needle hand = records.needle("Altimeter", bitmap::kAltimeterPointer1k);
    const Point c = centre_of(hand);
    round_case(cr, c, 138.5, 125.0);

    // The knob below: its stem runs into the case.
    const std::vector<Box> knobs = records.mouse_parents("Altimeter");
    if (!knobs.empty()) {
        const Box& k = knobs.front();
        const Point kc{k.x + k.width / 2.0, k.y + k.height / 2.0};
        fill_rect(cr, kc.x - 7.0, c.y + 128.0, 14.0, kc.y - (c.y + 128.0), Rgb{60, 60, 60});
        knurled_knob(cr, kc, k.height / 2.0 - 1.0, 24);
        text(cr, "\u2212", {kc.x - 7.0, kc.y}, 15.0, Font::Bold, kCream);
        text(cr, "+", {kc.x + 7.0, kc.y}, 15.0, Font::Bold, kCream);
    }

    ticks(cr, hand, steps(0, 980, 20), {117.0, 124.0, 1.4});
    ticks(cr, hand, steps(50, 950, 100), {112.0, 124.0, 2.2});
    ticks(cr, hand, steps(0, 900, 100), {105.0, 124.0, 3.6});
    std::vector<Numeral> digits;
    for (int d = 0; d <= 9; ++d) {
        if (d != 5) digits.push_back({d * 100.0, std::to_string(d)});
    }
    numerals(cr, hand, digits, 91.0, 24.0);

    // The millibar window: the drums roll behind it.
    double left = 1e9, right = -1e9, top = 1e9, bottom = -1e9;
    for (const Element& e : records.elements("Altimeter")) {
        if (e.header.element_type != kMovingImage) continue;
        const Box w = Records::window(e);
        left = std::fmin(left, w.x);
        right = std::fmax(right, w.x + w.width);
        top = std::fmin(top, w.y);
        bottom = std::fmax(bottom, w.y + w.height);
    }
    if (left < right) {
        rounded_rect_path(cr, left - 3.0, top - 3.0, right - left + 6.0, bottom - top + 6.0, 3.0);
        set_colour(cr, Rgb{84, 84, 84});
        cairo_fill(cr);
        fill_rect(cr, left - 1.0, top - 1.0, right - left + 2.0, bottom - top + 2.0, Rgb{8, 8, 8});
        numerals(cr, hand, {{500.0, "5"}}, top - c.y - 13.0, 20.0);
        text(cr, "MB", {right + 14.0, (top + bottom) / 2.0}, 15.0, Font::CondensedBold, kCream);
    } else {
        numerals(cr, hand, {{500.0, "5"}}, 91.0, 24.0);
    }
    // Either side of the pivot: the hands and their tails rest on the
    // vertical at zero feet.
    text(cr, "ALTIMETER", {c.x - 52.0, c.y}, 15.0, Font::Bold, kCream);
    text(cr, "FEET", {c.x + 46.0, c.y}, 15.0, Font::Bold, kCream);
}

void altimeter_pointer_100k(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Altimeter", bitmap::kAltimeterPointer100k, NeedleStyle::Arrow);
}
void altimeter_pointer_10k(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Altimeter", bitmap::kAltimeterPointer10k, NeedleStyle::Broad);
}
void altimeter_pointer_1k(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Altimeter", bitmap::kAltimeterPointer1k, NeedleStyle::Lance);
}

// Eleven cells, 0 to 9 and 0 again, each a digit centred in its cell.
void altimeter_drum(Canvas& canvas, const Records&) {
    cairo_t* cr = canvas.cr();
    const double cell = canvas.height() / 11.0;
    fill_rect(cr, 0, 0, canvas.width(), canvas.height(), Rgb{24, 24, 24});
    for (int i = 0; i < 11; ++i) {
        text(cr, std::to_string(i % 10), {canvas.width() / 2.0, cell * i + cell / 2.0}, 17.0, Font::Bold, kCream);
    }
}

void altimeter_drum_window(Canvas& canvas, const Records&) {
    cairo_t* cr = canvas.cr();
    // Shade at the top and bottom where the drum turns away; the rest is the window.
    fill_rect(cr, 0, 0, canvas.width(), 2, Rgb{40, 40, 40});
    fill_rect(cr, 0, canvas.height() - 2, canvas.width(), 2, Rgb{40, 40, 40});
}

// --- Vertical speed: the uneven scale of its table.
void vsi_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Needle needle = records.needle("VSI", bitmap::kVsiNeedle);
    const Point c = centre_of(needle);
    round_case(cr, c, 138.5, 125.0);

    std::vector<double> major;
    for (const guest::NONLINEARITY& p : needle.table()) major.push_back(p.value);
    const std::vector<double> minor = spaced(needle, steps(-4000, 4000, 100), major, 3.5);
    ticks(cr, needle, minor, {116.0, 124.0, 1.4});
    ticks(cr, needle, major, {106.0, 124.0, 3.4});
    // Climbing, the needle stands in the upper left and its tail in the
    // lower right; on the ground and level it lies on 0, which stands beside it.
    const Dwelling dwelling(records, "VSI", bitmap::kVsiNeedle);
    const Dwelling level(records, "VSI", bitmap::kVsiNeedle, false, true);
    numerals_beside(cr, {&level}, needle,
                    {{0, "0"}, {1000, "1"}, {2000, "2"}, {4000, "4"}, {-1000, "1"}, {-2000, "2"}, {-4000, "4"}}, 92.0,
                    20.0);
    legend(cr, {&dwelling}, {{"UP"}, 14.7, Font::Bold, polar(c, 62.0, needle.angle(2000) - 18.0), c, 80.0});
    legend(cr, {&dwelling}, {{"DOWN"}, 14.7, Font::Bold, polar(c, 62.0, needle.angle(-2000) + 18.0), c, 80.0});
    legend(cr, {&dwelling},
           {{"THOUSANDS", "FT. PER MIN."}, 14.7, Font::CondensedBold, {c.x + 26.0, c.y - 32.0}, c, 88.0});
}

void vsi_needle(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "VSI", bitmap::kVsiNeedle, NeedleStyle::Lance);
}

// --- Turn and slip: slip scale over the pivot, turn scale under it.
void turn_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Needle slip = records.needle("Turn", bitmap::kTurnSlipNeedle);
    const Needle turn = records.needle("Turn", bitmap::kTurnPointer);
    const Point c = centre_of(slip);
    round_case(cr, c, 140.5, 127.0);

    stroke_arc(cr, c, 101.0, slip.angle(-20), slip.angle(20), 1.2, kCream);
    ticks(cr, slip, {-5, 5}, {90.0, 101.0, 2.0});
    ticks(cr, slip, {-10, 10}, {88.0, 103.0, 2.6});
    ticks(cr, slip, {-20, 20}, {86.0, 106.0, 3.4});
    ticks(cr, slip, {0}, {84.0, 110.0, 4.0});
    for (const double reading : {-20.0, -10.0, 10.0, 20.0}) {
        text_beyond(cr, c, slip.angle(reading), 109.0, std::to_string(static_cast<int>(std::fabs(reading))), 15.5,
                    Font::Bold, kCream);
    }
    // Off the vertical, where both needles rest.
    text(cr, "SLIP", {c.x + 38.0, c.y - 60.0}, 15.5, Font::Bold, kCream);

    stroke_arc(cr, c, 109.0, turn.angle(4), turn.angle(-4), 1.2, kCream);
    ticks(cr, turn, {-2, 2}, {95.0, 109.0, 3.0});
    ticks(cr, turn, {-4, 4}, {93.0, 113.0, 4.0});
    ticks(cr, turn, {0}, {92.0, 115.0, 4.0});
    numerals_inside(cr, turn, {{2, "2"}, {4, "4"}, {-2, "2"}, {-4, "4"}}, 89.0, 15.5);
    text(cr, "L", polar(c, 74.0, turn.angle(-4) + 20.0), 15.5, Font::Bold, kCream);
    text(cr, "R", polar(c, 74.0, turn.angle(4) - 20.0), 15.5, Font::Bold, kCream);
    // Above the left 4 and right of the L, off the pointer's rest.
    text(cr, "TURN", {c.x - 40.0, c.y + 24.0}, 15.5, Font::Bold, kCream);
}

void turn_slip_needle(Canvas& canvas, const Records& records) {
    paint_shadowed_needle(canvas, records, "Turn", bitmap::kTurnSlipNeedle, NeedleStyle::Lance, -20.0, 20.0);
}
void turn_pointer(Canvas& canvas, const Records& records) {
    paint_shadowed_needle(canvas, records, "Turn", bitmap::kTurnPointer, NeedleStyle::Lance, -4.0, 4.0);
}

// --- Accelerometer: 45 degrees per g.
constexpr double kMinusTwoRadius = 81.0;
void accelerometer_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Needle needle = records.needle("Accelerometer", bitmap::kAccelerometerNeedle);
    const Point c = centre_of(needle);
    round_case(cr, c, 138.5, 125.0);

    stroke_arc(cr, c, 124.0, needle.angle(-2), needle.angle(5), 1.2, kCream);
    ticks(cr, needle, steps(-2, 5, 0.25), {117.0, 124.0, 1.4});
    ticks(cr, needle, steps(-1.5, 4.5, 1.0), {111.0, 124.0, 2.2});
    ticks(cr, needle, steps(-2, 5, 1.0), {104.0, 124.0, 3.6});
    std::vector<Numeral> marks;
    for (int g = -1; g <= 5; ++g) marks.push_back({double(g), std::to_string(g)});
    // Shown at under half size: the numerals are large on the bitmap, and
    // the instrument's name, too long for the face at a size that reads,
    // is on the panel's placard under it. The needle lies level at 1 g, its
    // 1 beside it.
    const Dwelling dwelling(records, "Accelerometer", bitmap::kAccelerometerNeedle);
    const Dwelling level(records, "Accelerometer", bitmap::kAccelerometerNeedle, false, true);
    numerals_beside(cr, {&level}, needle, marks, 88.0, 27.5);
    // The -2, the widest, further in: its corner would meet its mark's end.
    numerals_beside(cr, {&level}, needle, {{-2.0, "-2"}}, kMinusTwoRadius, 27.5);
    legend(cr, {&dwelling}, {{"g"}, 27.0, Font::Bold, {c.x, c.y + 40.0}, c, 78.0});
}

void accelerometer_needle(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Accelerometer", bitmap::kAccelerometerNeedle, NeedleStyle::Lance);
}

// --- Attitude: the case behind the window, the horizon bar on a transparent
// texture, the bezel mask with the bank scale and the aircraft symbol.
constexpr double kHorizonWindow = 97.0;
constexpr double kBankMajor = 15.0;  // the long bank marks' reach beyond the window

Point attitude_centre(const Records& records) {
    const auto sprite = records.as<guest::ELEMENT_SPRITE>("Attitude", bitmap::kAttitudeHorizonBar);
    return {double(sprite.header.ofs_x), double(sprite.header.ofs_y)};
}

void attitude_case(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Point c = attitude_centre(records);
    round_case(cr, c, canvas.width() / 2.0 - 0.5, kHorizonWindow + 4.0);
    // Fixed horizon indices either side, to read pitch against.
    for (double side : {-1.0, 1.0}) {
        fill_rect(cr, side > 0 ? c.x + 72.0 : c.x - 92.0, c.y - 1.5, 20.0, 3.0, Rgb{120, 120, 120});
    }
}

// The gyro's sphere, seen through the window: sky over ground, parted by
// the horizon bar, with pitch lines every 5 degrees (the sprite moves it
// 1.17 pixels a degree). Painted as a disc a little wider than the window,
// so a few degrees of pitch never show its edge, yet the disc stays inside
// the case's corners, where the bezel mask leaves the texture visible.
constexpr double kSphere = 114.0;
constexpr double kPixelsPerDegree = 1.17;

void attitude_texture(Canvas& canvas, const Records&) {
    cairo_t* cr = canvas.cr();
    const Point c{canvas.width() / 2.0, canvas.height() / 2.0};
    const Rgb sky{51, 102, 153}, sky_rim{0, 51, 102}, ground{102, 51, 0}, ground_rim{51, 51, 0};
    // The rim darker than the middle: a sphere, lit from the front.
    for (const auto& [radius, upper, lower] :
         {std::tuple{kSphere, sky_rim, ground_rim}, std::tuple{kSphere - 16.0, sky, ground}}) {
        cairo_new_path(cr);
        cairo_arc(cr, c.x, c.y, radius, std::numbers::pi, 2.0 * std::numbers::pi);
        cairo_close_path(cr);
        set_colour(cr, upper);
        cairo_fill(cr);
        cairo_new_path(cr);
        cairo_arc(cr, c.x, c.y, radius, 0.0, std::numbers::pi);
        cairo_close_path(cr);
        set_colour(cr, lower);
        cairo_fill(cr);
    }
    // Pitch lines, longer every ten degrees, and the horizon bar across.
    for (int degrees = -20; degrees <= 20; degrees += 5) {
        if (degrees == 0) continue;
        const bool ten = degrees % 10 == 0;
        const double half = ten ? 30.0 : 14.0, thick = ten ? 3.0 : 2.0;
        fill_rect(cr, c.x - half, c.y - degrees * kPixelsPerDegree - thick / 2.0, 2.0 * half, thick, kCream);
    }
    fill_rect(cr, c.x - kSphere, c.y - 3.0, 2.0 * kSphere, 6.0, kCream);
}

void attitude_mask(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Point c = attitude_centre(records);
    const double outer = canvas.width() / 2.0 - 0.5;
    bezel_ring(cr, c, outer, kHorizonWindow);

    // Bank scale on the lower half: the pointer stands at bank + 90.
    const Needle pointer = records.needle("Attitude", bitmap::kAttitudeBankPointer);
    for (double bank : {-90.0, -60.0, -30.0, -20.0, -10.0, 0.0, 10.0, 20.0, 30.0, 60.0, 90.0}) {
        const double a = pointer.angle(bank);
        const bool major = bank == 0.0 || std::fabs(bank) == 30.0 || std::fabs(bank) == 60.0 || std::fabs(bank) == 90.0;
        if (bank == 0.0) {
            wedge(cr, c, a, kHorizonWindow + 3.0, kHorizonWindow + 16.0, 6.0, kCream);
        } else {
            tick(cr, c, a, kHorizonWindow + 3.0, kHorizonWindow + (major ? kBankMajor : 11.0), major ? 3.2 : 2.0,
                 kCream);
        }
    }
    // Each numeral beyond its tick's end, a gap between, inside the bezel's rim.
    for (double bank : {-60.0, -30.0, 30.0, 60.0}) {
        text_beyond(cr, c, pointer.angle(bank), kHorizonWindow + kBankMajor + 2.5, std::to_string(int(std::fabs(bank))),
                    14.0, Font::Bold, kCream);
    }

    // The miniature aircraft, fixed in the window.
    const Rgb symbol = colour::kOrange;
    rounded_rect_path(cr, c.x - 52.0, c.y - 2.0, 38.0, 4.5, 2.0);
    set_colour(cr, symbol);
    cairo_fill(cr);
    rounded_rect_path(cr, c.x + 14.0, c.y - 2.0, 38.0, 4.5, 2.0);
    cairo_fill(cr);
    stroke_circle(cr, c, 7.0, 3.0, symbol);
    fill_rect(cr, c.x - 1.5, c.y - 18.0, 3.0, 11.0, symbol);

    // The caging knob, low on the right of the case, clear of the bank scale.
    const Point knob = polar(c, outer + 14.0, 45.0);
    fill_circle(cr, {knob.x + 1.5, knob.y + 2.0}, 15.0, Rgb{8, 8, 8});
    knurled_knob(cr, knob, 14.0, 20);
    fill_circle(cr, knob, 5.0, Rgb{60, 60, 60});
}

void attitude_bank_pointer(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Attitude", bitmap::kAttitudeBankPointer, NeedleStyle::TipOnly,
                        colour::kOrange);
}

constexpr PainterEntry kPainters[] = {
    {bitmap::kAltimeterDial, altimeter_dial},
    {bitmap::kAltimeterPointer100k, altimeter_pointer_100k},
    {bitmap::kAltimeterPointer10k, altimeter_pointer_10k},
    {bitmap::kAltimeterPointer1k, altimeter_pointer_1k},
    {bitmap::kAltimeterDrumStrip, altimeter_drum},
    {bitmap::kAltimeterDrumWindow, altimeter_drum_window},
    {bitmap::kAirspeedDial, airspeed_dial},
    {bitmap::kAirspeedNeedle, airspeed_needle},
    {bitmap::kVsiDial, vsi_dial},
    {bitmap::kVsiNeedle, vsi_needle},
    {bitmap::kTurnDial, turn_dial},
    {bitmap::kTurnSlipNeedle, turn_slip_needle},
    {bitmap::kTurnPointer, turn_pointer},
    {bitmap::kAttitudeCase, attitude_case},
    {bitmap::kAttitudeHorizonBar, attitude_texture},
    {bitmap::kAttitudeBezel, attitude_mask},
    {bitmap::kAttitudeBankPointer, attitude_bank_pointer},
    {bitmap::kAccelerometerDial, accelerometer_dial},
    {bitmap::kAccelerometerNeedle, accelerometer_needle},
};

}  // namespace

std::span<const PainterEntry> flight_painters() { return kPainters; }

}  // namespace art
