// Engine dials, fuel contents and pressure warnings, flaps and the
// undercarriage lamp panel.
#include <cmath>
#include <numbers>
#include <stdexcept>
#include <string>

#include "art/dial.h"
#include "art/painters.h"
#include "korvane/bitmaps.h"

namespace art {
namespace {

namespace bitmap = korvane::bitmap;

using colour::kCream;

std::vector<double> table_values(const Needle& needle) {
    std::vector<double> out;
    for (const guest::NONLINEARITY& p : needle.table()) out.push_back(p.value);
    return out;
}

// --- Tachometer: one scale 0 to 9 read by both hands.
void tachometer_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Needle thousands = records.needle("Tachometer1", bitmap::kTachometerThousandsHand);
    const Needle hundreds = records.needle("Tachometer1", bitmap::kTachometerHundredsHand);
    for (int digit = 0; digit <= 9; ++digit) {
        if (std::fabs(thousands.angle(1000.0 * digit) - hundreds.angle(100.0 * digit)) > 1e-6) {
            throw std::runtime_error("the two tachometer hands do not share one scale");
        }
    }
    const Point c = centre_of(thousands);
    round_case(cr, c, 138.5, 125.0);
    ticks(cr, thousands, steps(0, 9900, 100), {117.0, 124.0, 1.4});
    ticks(cr, thousands, steps(500, 9500, 1000), {111.0, 124.0, 2.2});
    ticks(cr, thousands, steps(0, 9000, 1000), {104.0, 124.0, 3.8});
    std::vector<Numeral> digits;
    for (int d = 0; d <= 9; ++d) digits.push_back({1000.0 * d, std::to_string(d)});
    numerals(cr, thousands, digits, 90.0, 24.0);
    // The long hand turns ten times over the scale: idling it sweeps the
    // left and the top, warming up it stands between 5 and 6, and between 2
    // and 5 it comes only at speeds passed through, so the one word stands
    // low on the right, clear of the bottom; the hands' key is on the
    // panel's placard.
    const Dwelling short_hand(records, "Tachometer1", bitmap::kTachometerThousandsHand);
    const Dwelling long_hand(records, "Tachometer1", bitmap::kTachometerHundredsHand);
    legend(cr, {&short_hand, &long_hand}, {{"R.P.M."}, 19.0, Font::Bold, {c.x + 36.0, c.y + 44.0}, c, 80.0});
}

void tachometer_short(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Tachometer1", bitmap::kTachometerThousandsHand, NeedleStyle::Broad);
}
void tachometer_long(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Tachometer1", bitmap::kTachometerHundredsHand, NeedleStyle::Lance);
}

// --- Boost: -4 to 24, with the stop at the table's first point.
void boost_dial(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Needle needle = records.needle("Boost1", bitmap::kBoostNeedle);
    const Point c = centre_of(needle);
    round_case(cr, c, 138.5, 125.0);
    const std::vector<double> table = table_values(needle);
    stroke_arc(cr, c, 124.0, needle.angle(-4), needle.angle(24), 1.2, kCream);
    ticks(cr, needle, steps(-4, 24, 1), {117.0, 124.0, 1.4});
    ticks(cr, needle, steps(-2, 22, 4), {111.0, 124.0, 2.2});
    ticks(cr, needle, steps(-4, 24, 4), {104.0, 124.0, 3.8});
    // The stop below -4 (the table's first point).
    ticks(cr, needle, {table.front()}, {112.0, 124.0, 3.0, colour::kRedBright});
    // Upright is no boost, an engine stopped, the needle's rest on the
    // ground: its 0 stands beside it. Idling the needle lies on its stop at
    // the left, in flight between +8 and +12 on the right; it only passes
    // the readings between 0 and +8, where the name stands, and the unit is
    // under the pivot, beyond the short counterweight.
    const Dwelling dwelling(records, "Boost1", bitmap::kBoostNeedle);
    const Dwelling still(records, "Boost1", bitmap::kBoostNeedle, false, true);
    numerals_beside(cr, {&still}, needle, numbered(steps(-4, 24, 4)), 90.0, 20.0);
    legend(cr, {&dwelling}, {{"BOOST"}, 19.5, Font::Bold, {c.x + 22.0, c.y - 50.0}, c, 84.0});
    legend(cr, {&dwelling}, {{"LBS. PER", "SQ. IN."}, 19.5, Font::CondensedBold, {c.x, c.y + 58.0}, c, 86.0});
}

void boost_needle(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Boost1", bitmap::kBoostNeedle, NeedleStyle::Lance);
}

// --- The small engine dials: a 138-pixel round case.
void small_case(Canvas& canvas) {
    const Point c{canvas.width() / 2.0, canvas.height() / 2.0};
    round_case(canvas.cr(), c, canvas.width() / 2.0 - 0.5, canvas.width() / 2.0 - 8.0);
}

// The arc over a low pivot: marks from the needle's tip outward, numerals
// inside them.
void arc_dial(Canvas& canvas, const Records& records, const char* gauge, uint32_t needle_id,
              const std::vector<double>& minor, const std::vector<Numeral>& candidates, const char* title,
              const char* unit, double numeral_size) {
    cairo_t* cr = canvas.cr();
    const Needle needle = records.needle(gauge, needle_id);
    const Dwelling dwelling(records, gauge, needle_id);
    // The scale's ends always numbered, beside the needle where it rests on
    // one; the readings between only where the needle does not stand.
    const std::vector<Numeral> ends{candidates.front(), candidates.back()};
    const std::vector<Numeral> labelled =
        unhidden(cr, {&dwelling}, needle, {candidates.begin() + 1, candidates.end() - 1}, 62.0, numeral_size,
                 Font::CondensedBold);
    const Point c = centre_of(needle);
    const std::vector<double> table = table_values(needle);
    stroke_arc(cr, c, 86.0, needle.angle(table.front()), needle.angle(table.back()), 1.0, kCream);
    ticks(cr, needle, minor, {80.0, 86.0, 1.3});
    std::vector<double> major = table;
    for (const Numeral& n : labelled) major.push_back(n.reading);
    for (const Numeral& n : ends) major.push_back(n.reading);
    ticks(cr, needle, major, {74.0, 86.0, 2.6});
    numerals(cr, needle, labelled, 62.0, numeral_size, Font::CondensedBold);
    numerals_beside(cr, {&dwelling}, needle, ends, 62.0, numeral_size, Font::CondensedBold);
    // Level with the pivot either side: the needle sweeps only the sector
    // above it, so nothing it passes over is written.
    text(cr, title, {c.x - 28.0, c.y - 2.0}, 21.5, Font::Bold, kCream);
    text(cr, unit, {c.x + 26.0, c.y - 2.0}, 21.5, Font::Bold, kCream);
    fill_circle(cr, c, 5.0, Rgb{72, 72, 72});
}

void oil_temperature_dial(Canvas& canvas, const Records& records) {
    small_case(canvas);
    arc_dial(canvas, records, "Oil_Temperature1", bitmap::kOilTemperatureNeedle, steps(0, 120, 10),
             numbered({0, 40, 120}), "OIL", "\u00b0C", 21.5);
}

void radiator_dial(Canvas& canvas, const Records& records) {
    small_case(canvas);
    arc_dial(canvas, records, "Radiator_Temperature1", bitmap::kRadiatorTemperatureNeedle, steps(40, 140, 10),
             numbered({60, 140}), "RAD", "\u00b0C", 21.5);
}

void oil_temperature_needle(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Oil_Temperature1", bitmap::kOilTemperatureNeedle, NeedleStyle::Lance);
}
void radiator_needle(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Radiator_Temperature1", bitmap::kRadiatorTemperatureNeedle,
                        NeedleStyle::Lance);
}

void oil_pressure_dial(Canvas& canvas, const Records& records) {
    small_case(canvas);
    cairo_t* cr = canvas.cr();
    const Needle needle = records.needle("Oil_Pressure1", bitmap::kOilPressureNeedle);
    const Point c = centre_of(needle);
    stroke_arc(cr, c, 60.0, needle.angle(0), needle.angle(120), 1.0, kCream);
    ticks(cr, needle, steps(0, 120, 5), {55.0, 60.0, 1.1});
    ticks(cr, needle, steps(10, 110, 20), {52.0, 60.0, 1.8});
    ticks(cr, needle, steps(0, 120, 20), {48.0, 60.0, 2.8});
    const Dwelling dwelling(records, "Oil_Pressure1", bitmap::kOilPressureNeedle);
    // Numbered where the needle does not rest: stopped it lies on 0, and the
    // 0's mark is the scale's first.
    numerals(cr, needle, unhidden(cr, {&dwelling}, needle, numbered({0, 40, 120}), 33.0, 21.5, Font::CondensedBold),
             33.0, 21.5, Font::CondensedBold);
    // The placard under the dial names it; the face keeps the unit in the
    // scale's gap under the pivot, where only the tail comes near.
    legend(cr, {&dwelling}, {{"LBS."}, 21.5, Font::CondensedBold, {c.x, c.y + 34.0}, c, 61.0});
}

void oil_pressure_needle(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Oil_Pressure1", bitmap::kOilPressureNeedle, NeedleStyle::Lance, kCream, 9.0);
}

// --- Fuel contents: the uneven scale of each tank's table. The tank and
// its capacity are on the panel's placard under the dial: the face has no
// room for them clear of the needle.
void fuel_dial(Canvas& canvas, const Records& records, const char* gauge, const std::vector<double>& labelled) {
    small_case(canvas);
    cairo_t* cr = canvas.cr();
    const Needle needle = records.needle(gauge, bitmap::kFuelQuantityNeedle);
    const Point c = centre_of(needle);
    const std::vector<double> table = table_values(needle);
    stroke_arc(cr, c, 61.0, needle.angle(table.front()), needle.angle(table.back()), 1.0, kCream);
    ticks(cr, needle, table, {50.0, 61.0, 2.4});
    const double top = table.back();
    ticks(cr, needle,
          spaced(needle,
                 steps(0, top,
                       top > 200   ? 25
                       : top > 100 ? 10
                                   : 5),
                 table, 6.0),
          {55.0, 61.0, 1.2});
    numerals_inside(cr, needle, numbered(labelled), 48.5, 13.5, Font::CondensedBold);
    // Full tanks and the feeding tank's first hours hold the needle low on
    // the right and its tail up on the left.
    const Dwelling dwelling(records, gauge, bitmap::kFuelQuantityNeedle);
    legend(cr, {&dwelling}, {{"FUEL"}, 13.5, Font::Bold, {c.x + 10.0, c.y - 16.0}, c, 36.0});
}

void fuel_tank1(Canvas& canvas, const Records& records) {
    fuel_dial(canvas, records, "Fuel_Quantity_Port_1", {0, 50, 100, 200, 300, 400, 500});
}
void fuel_tank2(Canvas& canvas, const Records& records) {
    fuel_dial(canvas, records, "Fuel_Quantity_Port_2", {0, 20, 80, 160, 240, 310});
}
void fuel_tank3(Canvas& canvas, const Records& records) {
    fuel_dial(canvas, records, "Fuel_Quantity_Port_3", {0, 10, 30, 50, 70, 90});
}
void fuel_needle(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Fuel_Quantity_Port_1", bitmap::kFuelQuantityNeedle, NeedleStyle::Lance);
}

// --- Fuel pressure warning: a housing with an unlit red lens; the lit lamp
// is the lens alone, laid over it.
Point lamp_centre(const Records& records) {
    const Box lamp = Records::placed(records.element("Fuel_Pressure_Warning1", bitmap::kFuelPressureWarningLamp));
    return {lamp.x + lamp.width / 2.0, lamp.y + lamp.height / 2.0};
}

void lens(cairo_t* cr, Point c, double r, Rgb glass, Rgb glint) {
    fill_circle(cr, c, r, glass);
    fill_circle(cr, {c.x - r * 0.35, c.y - r * 0.35}, r * 0.28, glint);
}

void warning_housing(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const Point c{canvas.width() / 2.0, canvas.height() / 2.0};
    knurled_knob(cr, c, canvas.width() / 2.0 - 0.5, 28);
    fill_circle(cr, lamp_centre(records), 11.0, Rgb{32, 32, 32});
    lens(cr, lamp_centre(records), 9.5, colour::kRedDark, colour::kRedDim);
}

void warning_lamp(Canvas& canvas, const Records&) {
    lens(canvas.cr(), {canvas.width() / 2.0, canvas.height() / 2.0}, canvas.width() / 2.0, colour::kRedBright,
         Rgb{255, 130, 110});
}

// --- Flaps: UP at the top, 10 to 50 degrees down the right side, DOWN at the
// bottom; the marks divide the needle's travel evenly in flap degrees.
void flap_dial(Canvas& canvas, const Records& records) {
    small_case(canvas);
    cairo_t* cr = canvas.cr();
    const Needle needle = records.needle("Flap_Position", bitmap::kFlapNeedle);
    const Point c = centre_of(needle);
    const std::vector<double> table = table_values(needle);
    const double up = table.front();
    const double down = table.back();
    auto at = [&](int degrees) { return up + (down - up) * degrees / 60.0; };
    stroke_arc(cr, c, 61.0, needle.angle(up), needle.angle(down), 1.0, kCream);
    std::vector<double> tens;
    std::vector<double> fives;
    for (int d = 5; d < 60; d += 5) (d % 10 == 0 ? tens : fives).push_back(at(d));
    ticks(cr, needle, fives, {55.0, 61.0, 1.2});
    ticks(cr, needle, tens, {51.0, 61.0, 2.2});
    ticks(cr, needle, table, {48.0, 61.0, 3.2});
    std::vector<Numeral> labels;
    for (int d = 10; d <= 50; d += 10) labels.push_back({at(d), std::to_string(d)});
    numerals(cr, needle, labels, 40.0, 13.0, Font::CondensedBold);
    // UP and DOWN beside their marks, away from the numbered side and from
    // the needle, which stands up or a third down through the flight.
    const Dwelling dwelling(records, "Flap_Position", bitmap::kFlapNeedle);
    legend(cr, {&dwelling}, {{"UP"}, 13.0, Font::Bold, polar(c, 40.0, needle.angle(up) - 18.0), c, 56.0});
    legend(cr, {&dwelling}, {{"DOWN"}, 13.0, Font::Bold, polar(c, 38.0, needle.angle(down) + 22.0), c, 56.0});
    legend(cr, {&dwelling}, {{"FLAPS"}, 13.0, Font::Bold, {c.x - 28.0, c.y}, c, 56.0});
}

void flap_needle(Canvas& canvas, const Records& records) {
    paint_record_needle(canvas, records, "Flap_Position", bitmap::kFlapNeedle, NeedleStyle::Lance);
}

// --- Undercarriage: housings where the lamps lie, the day/night knob in the
// middle.
struct LampPlace {
    Box box;
    bool red;  // the locked-up lamps
};

std::vector<LampPlace> gear_lamps(const Records& records) {
    std::vector<LampPlace> out;
    for (const Element& e : records.elements("Gear_Indicator")) {
        if (e.header.element_type != kIcon) continue;
        const uint32_t id = e.header.resource_id;
        const bool red = id == bitmap::kGearUpLampNight || id == bitmap::kGearUpLampDay;
        out.push_back({Records::placed(e), red});
    }
    return out;
}

void lamp_glass_path(cairo_t* cr, double x, double y, double w, double h) {
    if (std::fabs(w - h) < 4.0) {
        cairo_new_path(cr);
        cairo_arc(cr, x + w / 2.0, y + h / 2.0, std::fmin(w, h) / 2.0, 0.0, 2.0 * std::numbers::pi);
    } else {
        rounded_rect_path(cr, x, y, w, h, std::fmin(w, h) * 0.3);
    }
}

void red_lamp(Canvas& canvas, Rgb glass, Rgb glint, Rgb figure, bool screened);
void green_lamp(Canvas& canvas, Rgb glass, Rgb figure, bool port, bool screened);
// Unlit glass, dark, and the figures on it in the grey of unlit lettering.
constexpr Rgb kRedUnlit{44, 10, 10};
constexpr Rgb kGreenUnlit{10, 38, 16};
constexpr Rgb kUnlitFigure{150, 156, 146};

void gear_panel(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    panel_plate(cr, 0.5, 0.5, canvas.width() - 1.0, canvas.height() - 1.0, 10.0);
    for (double x : {10.0, canvas.width() - 10.0}) {
        for (double y : {10.0, canvas.height() - 10.0}) screw(cr, {x, y}, 5.0, 30.0);
    }
    for (const LampPlace& lamp : gear_lamps(records)) {
        const Box& b = lamp.box;
        lamp_glass_path(cr, b.x - 4.0, b.y - 4.0, b.width + 8.0, b.height + 8.0);
        set_colour(cr, Rgb{84, 84, 84});
        cairo_fill(cr);
        lamp_glass_path(cr, b.x - 1.0, b.y - 1.0, b.width + 2.0, b.height + 2.0);
        set_colour(cr, Rgb{24, 24, 24});
        cairo_fill(cr);
    }
    // The unlit lamps: the lit lamps' own pictures in dark glass, their
    // words and figures unlit yet readable.
    for (const LampPlace& lamp : gear_lamps(records)) {
        const Box& b = lamp.box;
        Canvas glass(b.width, b.height);
        if (lamp.red) {
            red_lamp(glass, kRedUnlit, Rgb{70, 24, 20}, kUnlitFigure, false);
        } else {
            green_lamp(glass, kGreenUnlit, kUnlitFigure, b.x + b.width / 2.0 < canvas.width() / 2.0, false);
        }
        cairo_set_source_surface(cr, glass.surface(), b.x, b.y);
        cairo_paint(cr);
    }
    const double w = canvas.width();
    text(cr, "UNDERCARRIAGE", {w / 2.0, 22.0}, 19.0, Font::Bold, kCream);
    // Side names over each side's lamps.
    for (const LampPlace& lamp : gear_lamps(records)) {
        if (!lamp.red) continue;
        const bool port = lamp.box.x + lamp.box.width / 2.0 < w / 2.0;
        text(cr, port ? "PORT" : "STBD", {lamp.box.x + lamp.box.width / 2.0, lamp.box.y - 14.0}, 19.0, Font::Bold,
             kCream);
    }
    const std::vector<Box> knobs = records.mouse_parents("Gear_Indicator");
    if (!knobs.empty()) {
        const Box& k = knobs.front();
        const Point kc{k.x + k.width / 2.0, k.y + k.height / 2.0};
        // A push knob: it turns no pointer (nothing on it moves), so the lamps'
        // dimmer screens show the mode.
        knurled_knob(cr, kc, k.width / 2.0 - 6.0, 30);
        fill_circle(cr, kc, k.width / 2.0 - 16.0, Rgb{72, 72, 72});
        stroke_circle(cr, kc, k.width / 2.0 - 16.0, 1.5, Rgb{120, 120, 120});
        text(cr, "DAY", {kc.x - 24.0, k.y - 9.0}, 19.0, Font::CondensedBold, kCream);
        text(cr, "NIGHT", {kc.x + 26.0, k.y - 9.0}, 19.0, Font::CondensedBold, kCream);
        text(cr, "DIMMER", {kc.x, k.y + k.height + 12.0}, 19.0, Font::CondensedBold, kCream);
    }
}

// At night the lamp burns behind its dimmer screen: a dark iris closed in
// round the glass, leaving a smaller lit aperture. The screen is what tells
// the pilot the dimmer is set, since the knob itself has no pointer.
void dimmer_screen(cairo_t* cr, double w, double h) {
    const double band = std::fmin(w, h) * 0.11;
    lamp_glass_path(cr, 1.0 + band / 2.0, 1.0 + band / 2.0, w - 2.0 - band, h - 2.0 - band);
    cairo_set_line_width(cr, band);
    set_colour(cr, Rgb{44, 44, 44});
    cairo_stroke(cr);
    lamp_glass_path(cr, 1.0 + band, 1.0 + band, w - 2.0 - 2.0 * band, h - 2.0 - 2.0 * band);
    cairo_set_line_width(cr, 1.2);
    set_colour(cr, Rgb{120, 120, 120});
    cairo_stroke(cr);
}

void red_lamp(Canvas& canvas, Rgb glass, Rgb glint, Rgb figure, bool screened) {
    cairo_t* cr = canvas.cr();
    lamp_glass_path(cr, 1.0, 1.0, canvas.width() - 2.0, canvas.height() - 2.0);
    set_colour(cr, glass);
    cairo_fill(cr);
    fill_circle(cr, {canvas.width() * 0.3, canvas.height() * 0.28}, canvas.width() * 0.1, glint);
    text(cr, "UP", {canvas.width() / 2.0, canvas.height() / 2.0 + 1.0}, 19.0, Font::Bold, figure);
    if (screened) dimmer_screen(cr, canvas.width(), canvas.height());
}

// A green lamp carries the leg's silhouette: leg, wheel and a locked strut,
// leaning outboard on each side.
void green_lamp(Canvas& canvas, Rgb glass, Rgb figure, bool port, bool screened) {
    cairo_t* cr = canvas.cr();
    const double w = canvas.width();
    const double h = canvas.height();
    lamp_glass_path(cr, 1.0, 1.0, w - 2.0, h - 2.0);
    set_colour(cr, glass);
    cairo_fill(cr);
    const double side = port ? -1.0 : 1.0;
    // The figure in the upper half; the word, at a size that reads on the
    // panel, runs up the lower half (the glass is too narrow to hold it across).
    const Point hinge{w / 2.0 - side * 5.0, 6.0};
    const Point axle{w / 2.0 + side * 3.0, 34.0};
    cairo_new_path(cr);
    cairo_move_to(cr, hinge.x, hinge.y);
    cairo_line_to(cr, axle.x, axle.y);
    cairo_set_line_width(cr, 4.0);
    set_colour(cr, figure);
    cairo_stroke(cr);
    cairo_move_to(cr, hinge.x + side * 11.0, hinge.y + 5.0);
    cairo_line_to(cr, (hinge.x + axle.x) / 2.0, (hinge.y + axle.y) / 2.0);
    cairo_set_line_width(cr, 2.0);
    cairo_stroke(cr);
    fill_circle(cr, axle, 9.0, figure);
    fill_circle(cr, axle, 3.8, glass);
    text_rotated(cr, "DOWN", {w / 2.0, h - 27.0}, 19.0, Font::CondensedBold, figure, -90.0);
    if (screened) dimmer_screen(cr, w, h);
}

// By day the whole glass is lit and its figures dark on it. At night the
// dimmer screen passes light through the figures alone: dark glass, the
// figures lit on it, so the lamp gives a fraction of its daylight and still
// reads at 4.5:1, and its lit figures tell it from an unlit lamp's grey ones.
constexpr Rgb kRedNight{70, 12, 10};
constexpr Rgb kGreenNight{12, 60, 20};
constexpr Rgb kRedFigure{40, 6, 6};
constexpr Rgb kGreenFigure{6, 40, 12};
constexpr Rgb kRedNightFigure{255, 120, 100};
constexpr Rgb kGreenNightFigure{120, 255, 140};

void red_night(Canvas& canvas, const Records&) { red_lamp(canvas, kRedNight, kRedNight, kRedNightFigure, true); }
void red_day(Canvas& canvas, const Records&) {
    red_lamp(canvas, colour::kRedBright, Rgb{255, 130, 110}, kRedFigure, false);
}
void port_green_night(Canvas& canvas, const Records&) {
    green_lamp(canvas, kGreenNight, kGreenNightFigure, true, true);
}
void port_green_day(Canvas& canvas, const Records&) {
    green_lamp(canvas, colour::kGreenBright, kGreenFigure, true, false);
}
void stbd_green_night(Canvas& canvas, const Records&) {
    green_lamp(canvas, kGreenNight, kGreenNightFigure, false, true);
}
void stbd_green_day(Canvas& canvas, const Records&) {
    green_lamp(canvas, colour::kGreenBright, kGreenFigure, false, false);
}

constexpr PainterEntry kPainters[] = {
    {bitmap::kTachometerDial, tachometer_dial},
    {bitmap::kTachometerThousandsHand, tachometer_short},
    {bitmap::kTachometerHundredsHand, tachometer_long},
    {bitmap::kBoostDial, boost_dial},
    {bitmap::kBoostNeedle, boost_needle},
    {bitmap::kOilTemperatureDial, oil_temperature_dial},
    {bitmap::kOilTemperatureNeedle, oil_temperature_needle},
    {bitmap::kRadiatorTemperatureDial, radiator_dial},
    {bitmap::kRadiatorTemperatureNeedle, radiator_needle},
    {bitmap::kOilPressureDial, oil_pressure_dial},
    {bitmap::kOilPressureNeedle, oil_pressure_needle},
    {bitmap::kFuelPressureWarningHousing, warning_housing},
    {bitmap::kFuelPressureWarningLamp, warning_lamp},
    {bitmap::kFuelQuantityDial1, fuel_tank1},
    {bitmap::kFuelQuantityDial2, fuel_tank2},
    {bitmap::kFuelQuantityDial3, fuel_tank3},
    {bitmap::kFuelQuantityNeedle, fuel_needle},
    {bitmap::kFlapDial, flap_dial},
    {bitmap::kFlapNeedle, flap_needle},
    {bitmap::kGearPanel, gear_panel},
    {bitmap::kGearUpLampNight, red_night},
    {bitmap::kGearUpLampDay, red_day},
    {bitmap::kGearPortDownLampNight, port_green_night},
    {bitmap::kGearPortDownLampDay, port_green_day},
    {bitmap::kGearStarboardDownLampNight, stbd_green_night},
    {bitmap::kGearStarboardDownLampDay, stbd_green_day},
};

}  // namespace

std::span<const PainterEntry> engine_painters() { return kPainters; }

}  // namespace art
