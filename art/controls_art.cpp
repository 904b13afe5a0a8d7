// Magneto switches, the starter panel, the throttle and propeller quadrants.
#include <algorithm>
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

std::vector<Box> icon_boxes(const Records& records, const char* gauge) {
    std::vector<Box> out;
    for (const Element& e : records.elements(gauge)) {
        if (e.header.element_type == kIcon) out.push_back(Records::placed(e));
    }
    return out;
}

// --- Magneto switches: a toggle per switch, up for on.
constexpr double kToggleCentreY = 72.0;

void magneto_panel(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    panel_plate(cr, 0.5, 0.5, canvas.width() - 1.0, canvas.height() - 1.0, 6.0);
    const std::vector<Box> switches = icon_boxes(records, "Magneto_Switch");
    for (size_t i = 0; i < switches.size(); ++i) {
        const Box& b = switches[i];
        const Point c{b.x + b.width / 2.0, kToggleCentreY};
        // Each word clear of the lever's ball when the lever stands at it.
        text(cr, "ON", {c.x, 28.0}, 15.0, Font::Bold, kCream);
        text(cr, "OFF", {c.x, 115.0}, 15.0, Font::Bold, kCream);
        text(cr, i % 2 == 0 ? "1" : "2", {c.x, 127.0}, 15.0, Font::Bold, Rgb{180, 180, 180});
        fill_circle(cr, c, 14.0, Rgb{60, 60, 60});
        fill_circle(cr, c, 12.0, Rgb{120, 120, 120});
    }
    // Engine numbers over each pair.
    for (size_t i = 0; i + 1 < switches.size(); i += 2) {
        const double mid = (switches[i].x + switches[i + 1].x + switches[i + 1].width) / 2.0;
        text(cr, "ENGINE " + std::to_string(i / 2 + 1), {mid, 12.0}, 15.0, Font::CondensedBold, kCream);
        fill_rect(cr, switches[i].x + 6.0, 21.0, switches[i + 1].x + switches[i + 1].width - switches[i].x - 12.0, 1.0,
                  Rgb{120, 120, 120});
    }
    text_rotated(cr, "MAGNETOS", {canvas.width() / 2.0, canvas.height() / 2.0 + 6.0}, 15.0, Font::CondensedBold, kCream,
                 -90.0);
}

void toggle(cairo_t* cr, Point c, bool up, double length) {
    // Hexagon nut, then the lever tapering to a ball.
    hex_nut(cr, c, 9.0, Rgb{180, 180, 180}, 5.0, Rgb{72, 72, 72});
    const double dir = up ? -1.0 : 1.0;
    const Point tip{c.x, c.y + dir * length};
    cairo_new_path(cr);
    cairo_move_to(cr, c.x - 3.0, c.y);
    cairo_line_to(cr, tip.x - 4.5, tip.y);
    cairo_line_to(cr, tip.x + 4.5, tip.y);
    cairo_line_to(cr, c.x + 3.0, c.y);
    cairo_close_path(cr);
    cairo_pattern_t* metal = cairo_pattern_create_linear(c.x - 5.0, 0, c.x + 5.0, 0);
    cairo_pattern_add_color_stop_rgb(metal, 0.0, 0.55, 0.55, 0.55);
    cairo_pattern_add_color_stop_rgb(metal, 0.4, 0.92, 0.92, 0.92);
    cairo_pattern_add_color_stop_rgb(metal, 1.0, 0.40, 0.40, 0.40);
    cairo_set_source(cr, metal);
    cairo_fill(cr);
    cairo_pattern_destroy(metal);
    fill_circle(cr, tip, 6.0, Rgb{220, 220, 220});
    fill_circle(cr, {tip.x - 1.5, tip.y - 1.5}, 2.5, Rgb{255, 255, 255});
}

void magneto_off(Canvas& canvas, const Records&) {
    toggle(canvas.cr(), {canvas.width() / 2.0, kToggleCentreY}, false, 30.0);
}
void magneto_on(Canvas& canvas, const Records&) {
    toggle(canvas.cr(), {canvas.width() / 2.0, kToggleCentreY}, true, 30.0);
}

// --- Starter panel: per engine an arming toggle above, a start button below.
constexpr double kArmY = 24.0;
constexpr double kButtonY = 84.0;

void starter_panel(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    panel_plate(cr, 0.5, 0.5, canvas.width() - 1.0, canvas.height() - 1.0, 6.0);
    const std::vector<Box> boxes = records.mouse_children("Starter_Switch");
    // Children come in pairs per engine: the arming box, then the button box.
    for (size_t i = 0; i + 1 < boxes.size(); i += 2) {
        const Box& arm = boxes[i];
        const Box& button = boxes[i + 1];
        const double x = arm.x + arm.width / 2.0;
        text(cr, std::to_string(i / 2 + 1), {arm.x + 9.0, 11.0}, 14.0, Font::Bold, kCream);
        text(cr, "ARM", {arm.x + arm.width - 17.0, kArmY - 14.0}, 14.0, Font::CondensedBold, kCream);
        text(cr, "OFF", {arm.x + arm.width - 17.0, kArmY + 16.0}, 14.0, Font::CondensedBold, kCream);
        fill_circle(cr, {x, kArmY}, 11.0, Rgb{60, 60, 60});
        fill_circle(cr, {x, kArmY}, 9.5, Rgb{120, 120, 120});
        fill_rect(cr, arm.x + 4.0, arm.y + arm.height, arm.width - 8.0, 1.0, Rgb{72, 72, 72});
        // The button unlit, as it stands until pressed: a dark red cap whose
        // only light is the sheen of the room (armed, its ring lights amber).
        fill_circle(cr, {x, kButtonY}, 17.0, Rgb{84, 84, 84});
        fill_circle(cr, {x, kButtonY}, 14.0, Rgb{72, 16, 14});
        fill_circle(cr, {x - 4.0, kButtonY - 4.0}, 4.0, Rgb{104, 34, 30});
        text(cr, "START", {x, button.y + button.height - 6.0}, 14.0, Font::CondensedBold, kCream);
        // A ruled line between the engines keeps each number with its own ARM.
        if (i > 0) fill_rect(cr, arm.x - 0.5, 4.0, 2.0, canvas.height() - 8.0, Rgb{100, 100, 96});
    }
}

// Where the button lies inside an arming icon: the icon spans its column's
// middle, so the button is at the icon's middle too.
void arming_switch(Canvas& canvas, bool armed) {
    cairo_t* cr = canvas.cr();
    const double x = canvas.width() / 2.0;
    toggle(cr, {x, kArmY}, armed, 17.0);
    if (armed) {
        cairo_new_path(cr);
        cairo_arc(cr, x, kButtonY, 20.0, 0.0, 2.0 * std::numbers::pi);
        cairo_new_sub_path(cr);
        cairo_arc_negative(cr, x, kButtonY, 17.0, 2.0 * std::numbers::pi, 0.0);
        set_colour(cr, colour::kAmber);
        cairo_fill(cr);
    }
}

void arming_off(Canvas& canvas, const Records&) { arming_switch(canvas, false); }
void arming_on(Canvas& canvas, const Records&) { arming_switch(canvas, true); }

// --- Lever quadrants. A lever is a knob on a stem that runs to the bottom of
// its bitmap; the slots in the quadrant lie under the stems.
struct Lever {
    uint32_t id;
    Box at_zero;    // the lever bitmap at value 0
    double stem_x;  // the stem's x inside the bitmap
    double travel;  // pixels the lever rises over its range
};

std::vector<Lever> levers(const Records& records, const char* gauge) {
    std::vector<Lever> out;
    for (const Element& e : records.elements(gauge)) {
        if (e.header.element_type != kSlider) continue;
        const auto slider = records.read<guest::ELEMENT_SLIDER>(e);
        const Box b = Records::placed(e);
        out.push_back({e.header.resource_id, b, b.width / 2.0, std::fabs(slider.scale_y) * 16384.0});
    }
    return out;
}

void slot(cairo_t* cr, double x, double top, double bottom) {
    rounded_rect_path(cr, x - 4.0, top, 8.0, bottom - top, 4.0);
    set_colour(cr, Rgb{8, 8, 8});
    cairo_fill(cr);
}

// The propeller levers: a paddle grip on a short shaft.
constexpr double kPropGripHeight = 22.0;
constexpr double kPropGripWidth = 24.0;
constexpr double kLeverShaft = 12.0;

void quadrant(Canvas& canvas, const Records& records, const char* gauge, const char* title) {
    cairo_t* cr = canvas.cr();
    const double w = canvas.width();
    const double h = canvas.height();
    panel_plate(cr, 0.5, 0.5, w - 1.0, h - 1.0, 8.0);
    for (const Lever& lever : levers(records, gauge)) {
        // From the shaft's top with the lever fully forward to its foot with it back.
        const double x = lever.at_zero.x + lever.stem_x;
        const double top = std::max(2.0, lever.at_zero.y - lever.travel + kPropGripHeight - 3.0);
        slot(cr, x, top, std::min(h - 2.0, lever.at_zero.y + kPropGripHeight + kLeverShaft + 4.0));
    }
    // At the foot: the grips at the top of their travel would cover it.
    text(cr, title, {w / 2.0, h - 8.0}, 12.0, Font::Bold, kCream);
}

// --- The throttle quadrant: four levers side by side in one gate, their
// slots parallel, equally spaced and of one length, so that one hand pushes
// all four together. Each lever's shaft leaves its slot at the same height
// for the same setting; the outer pair are longer, their grips standing above
// the inner pair's, where their drag boxes put the hand (a grip's centre
// follows the pointer from the box's bottom edge, closed, to its top, open).
// The inner grips stand at the tops of their short shafts.
constexpr double kGripWidth = 34.0;
constexpr double kGripHeight = 18.0;
constexpr double kInnerShaft = 26.0;  // from an inner grip's foot to the slot

struct ThrottleLever {
    uint32_t id;
    double slot_x;    // on the quadrant
    double stem_x;    // in the lever bitmap
    double grip_top;  // in the lever bitmap
    double foot;      // where the shaft enters the slot, in the lever bitmap
    double travel;
};

struct ThrottleGate {
    std::vector<ThrottleLever> levers;  // left to right
    double foot_closed = 0.0;           // the shafts' feet on the quadrant, levers closed
    double travel = 0.0;
};

// The slots equally spaced, as far apart as each lever's bitmap leaves its
// grip room and each drag box holds its slot; the feet level with the inner
// grips' shafts.
ThrottleGate throttle_gate(const Records& records) {
    std::vector<Lever> found = levers(records, "Throttle");
    std::vector<Box> boxes = records.mouse_children("Throttle");
    if (found.size() != 4) throw std::runtime_error("the throttle quadrant has not four levers");
    if (boxes.size() != found.size())
        throw std::runtime_error("the throttle levers and their drag boxes differ in number");
    std::sort(found.begin(), found.end(), [](const Lever& a, const Lever& b) { return a.at_zero.x < b.at_zero.x; });
    std::sort(boxes.begin(), boxes.end(), [](const Box& a, const Box& b) { return a.x < b.x; });
    for (const Lever& l : found) {
        if (l.at_zero.width < kGripWidth || l.travel != found.front().travel)
            throw std::runtime_error("a throttle lever bitmap is too narrow for its grip or travels apart");
    }
    // The inner pair fix the spacing: each grip as far out as its bitmap allows.
    const Box& b2 = found[1].at_zero;
    const Box& b3 = found[2].at_zero;
    const double x2 = b2.x + kGripWidth / 2.0 + 1.0, x3 = b3.x + b3.width - kGripWidth / 2.0 - 1.0;
    const double pitch = x3 - x2;
    const double xs[] = {x2 - pitch, x2, x3, x3 + pitch};
    ThrottleGate gate;
    gate.travel = found.front().travel;
    const double inner_height = std::min(b2.height, b3.height);
    const double inner_top = std::max(b2.y, b3.y);
    gate.foot_closed = inner_top + std::min(inner_height - 2.0, kGripHeight + kInnerShaft);
    for (size_t i = 0; i < found.size(); ++i) {
        const Box& b = found[i].at_zero;
        const Box& drag = boxes[i];
        const bool outer = i == 0 || i + 1 == found.size();
        if (xs[i] - kGripWidth / 2.0 < b.x || xs[i] + kGripWidth / 2.0 > b.x + b.width || xs[i] < drag.x ||
            xs[i] >= drag.x + drag.width) {
            throw std::runtime_error("a throttle slot falls outside its lever's bitmap or drag box");
        }
        const double grip_centre = outer ? double(drag.y + drag.height) : b.y + kGripHeight / 2.0 + 1.0;
        const double grip_top = std::max(0.0, grip_centre - kGripHeight / 2.0 - b.y);
        const double foot = gate.foot_closed - b.y;
        if (foot > b.height || grip_top + kGripHeight > foot)
            throw std::runtime_error("a throttle lever bitmap cannot reach the gate");
        gate.levers.push_back({found[i].id, xs[i], xs[i] - b.x, grip_top, foot, found[i].travel});
    }
    return gate;
}

constexpr double kThrottleTitleY = 9.0;
// The gate box's enamel and the specks of its crackle finish.
constexpr Rgb kCrackle{24, 24, 22};
constexpr Rgb kCrackleSpeck{46, 46, 42};

void crackle_box(cairo_t* cr, double left, double top, double right, double bottom) {
    rounded_rect_path(cr, left, top, right - left, bottom - top, 4.0);
    set_colour(cr, kCrackle);
    cairo_fill(cr);
    // The crackle: raised specks catching the light, the same on every run.
    uint32_t seed = 0x9E3779B9u;
    for (double y = top + 2.0; y < bottom - 2.0; y += 1.0) {
        for (double x = left + 2.0; x < right - 2.0; x += 1.0) {
            seed = seed * 1664525u + 1013904223u;
            if ((seed >> 24) < 40) fill_rect(cr, x, y, 1.0, 1.0, kCrackleSpeck);
        }
    }
    fill_rect(cr, left + 3.0, top, right - left - 6.0, 1.0, Rgb{70, 70, 66});
    fill_rect(cr, left + 3.0, bottom - 1.0, right - left - 6.0, 1.0, Rgb{12, 12, 12});
}

void throttle_quadrant(Canvas& canvas, const Records& records) {
    cairo_t* cr = canvas.cr();
    const double w = canvas.width();
    const double h = canvas.height();
    const ThrottleGate gate = throttle_gate(records);
    panel_plate(cr, 0.5, 0.5, w - 1.0, h - 1.0, 8.0);
    text(cr, "THROTTLES", {w / 2.0, kThrottleTitleY}, 10.5, Font::Bold, kCream);

    // The gate: one crackle-black box across the quadrant, the four slots
    // cut through it from the feet fully open to the feet closed.
    const double slot_top = gate.foot_closed - gate.travel - 3.0;
    const double slot_bottom = std::min(h - 6.0, gate.foot_closed + 3.0);
    const double box_top = slot_top - 7.0, box_bottom = std::min(h - 3.0, slot_bottom + 4.0);
    crackle_box(cr, 3.0, box_top, w - 3.0, box_bottom);
    for (const auto& l : gate.levers) slot(cr, l.slot_x, slot_top, slot_bottom);

    // One scale for the four: a mark every quarter of the travel between the
    // slots, long at the ends; OPEN and CLOSED outboard of lever 1's slot,
    // where no grip passes.
    const auto& ls = gate.levers;
    for (int quarter = 0; quarter <= 4; ++quarter) {
        const double y = std::round(gate.foot_closed - gate.travel * quarter / 4.0) + 0.5;
        const double length = quarter % 4 == 0 ? 8.0 : 4.0;
        for (size_t i = 0; i + 1 < ls.size(); ++i) {
            const double mid = (ls[i].slot_x + ls[i + 1].slot_x) / 2.0;
            fill_rect(cr, mid - length / 2.0, y - 0.75, length, 1.5, kCream);
        }
    }
    const double margin = ls.front().slot_x - kGripWidth / 2.0;
    text(cr, "OPEN", {margin / 2.0 + 1.0, gate.foot_closed - gate.travel}, 10.5, Font::CondensedBold, kCream);
    text(cr, "CLOSED", {margin / 2.0 + 1.0, gate.foot_closed}, 10.5, Font::CondensedBold, kCream);
    // The friction knob on the gate's right cheek, outboard of lever 4: turned,
    // it holds the levers where the hand leaves them.
    const double right_margin = ls.back().slot_x + kGripWidth / 2.0;
    const Point knob{(right_margin + w) / 2.0, box_bottom - 17.0};
    fill_circle(cr, {knob.x + 1.0, knob.y + 1.5}, 13.0, Rgb{8, 8, 8});
    knurled_knob(cr, knob, 12.0, 18);
    fill_circle(cr, knob, 4.0, Rgb{60, 60, 60});
    const double word = text_extents(cr, "FRICTION", 10.5, Font::CondensedBold).width;
    text_rotated(cr, "FRICTION", {knob.x, knob.y - 16.0 - word / 2.0}, 10.5, Font::CondensedBold, kCream, -90.0);
}

void prop_quadrant(Canvas& canvas, const Records& records) {
    quadrant(canvas, records, "Prop_Control", "PROPELLER R.P.M.");
    cairo_t* cr = canvas.cr();
    const double h = canvas.height();
    std::vector<double> slots;
    for (const Lever& lever : levers(records, "Prop_Control")) slots.push_back(lever.at_zero.x + lever.stem_x);
    std::sort(slots.begin(), slots.end());
    if (!slots.empty()) {
        // Which way raises the revolutions, in the margins outside the outer
        // slots, where no grip passes: forward on the left, back on the right.
        const double left = slots.front() - kPropGripWidth / 2.0, right = slots.back() + kPropGripWidth / 2.0;
        const double w = canvas.width();
        text_rotated(cr, "\u25b2 INCREASE", {left / 2.0 + 1.0, h * 0.36}, 11.6, Font::CondensedBold, kCream, -90.0);
        text_rotated(cr, "DECREASE \u25bc", {(right + w) / 2.0 - 1.0, h * 0.56}, 11.6, Font::CondensedBold, kCream,
                     -90.0);
    }
}

void shaft(cairo_t* cr, double x, double top, double length) {
    // Darkening where it enters the slot.
    cairo_pattern_t* shade = cairo_pattern_create_linear(0.0, top, 0.0, top + length);
    cairo_pattern_add_color_stop_rgb(shade, 0.0, 0.70, 0.70, 0.70);
    cairo_pattern_add_color_stop_rgb(shade, 1.0, 0.12, 0.12, 0.12);
    cairo_new_path(cr);
    cairo_rectangle(cr, x - 3.0, top - 2.0, 6.0, length + 2.0);
    cairo_set_source(cr, shade);
    cairo_fill(cr);
    cairo_pattern_destroy(shade);
}

// A throttle's polished steel rod in flat tones (a long gradient would band
// in 256 colours): lit along its left edge, shaded along its right, and
// darkening only over its last few pixels, where it goes down into the slot.
void rod(cairo_t* cr, double x, double top, double length) {
    constexpr double kFade = 6.0;
    fill_rect(cr, x - 3.0, top - 2.0, 6.0, length + 2.0, Rgb{128, 128, 124});
    fill_rect(cr, x - 3.0, top - 2.0, 1.5, length + 2.0, Rgb{200, 200, 194});
    fill_rect(cr, x + 1.5, top - 2.0, 1.5, length + 2.0, Rgb{72, 72, 70});
    for (int i = 0; i < int(kFade); ++i) {
        const auto tone = static_cast<uint8_t>(96 - 14 * i);
        fill_rect(cr, x - 3.0, top + length - kFade + i, 6.0, 1.0, Rgb{tone, tone, tone});
    }
}

// A moulded grip in flat palette tones (a smooth gradient would posterise
// into bands in 256 colours): the body, a highlight along the top, a darker
// lip below, and an outline.
void knob(cairo_t* cr, double cx, double top, double width, double height, Rgb dark, Rgb body, Rgb light) {
    const double left = cx - width / 2.0;
    const double r = height * 0.45;
    rounded_rect_path(cr, left, top, width, height, r);
    set_colour(cr, dark);
    cairo_fill(cr);
    rounded_rect_path(cr, left + 1.0, top + 1.0, width - 2.0, height - 4.0, r - 1.0);
    set_colour(cr, body);
    cairo_fill(cr);
    rounded_rect_path(cr, left + 4.0, top + 2.5, width - 8.0, height * 0.28, height * 0.14);
    set_colour(cr, light);
    cairo_fill(cr);
}

void throttle_lever(Canvas& canvas, const Records& records, uint32_t id, const char* label) {
    cairo_t* cr = canvas.cr();
    for (const auto& lever : throttle_gate(records).levers) {
        if (lever.id != id) continue;
        const double x = lever.stem_x;
        const double top = lever.grip_top;
        rod(cr, x, top + kGripHeight, lever.foot - top - kGripHeight);
        // A black moulded grip, its engine's number engraved and filled white.
        knob(cr, x, top, kGripWidth, kGripHeight, Rgb{14, 14, 14}, Rgb{40, 39, 37}, Rgb{92, 90, 86});
        text(cr, label, {x, top + kGripHeight / 2.0 + 1.0}, 11.0, Font::Bold, kCream);
        return;
    }
    throw std::runtime_error("the throttle quadrant has no lever " + std::to_string(id));
}

void throttle_1(Canvas& canvas, const Records& records) {
    throttle_lever(canvas, records, bitmap::kThrottleLever1, "1");
}
void throttle_2(Canvas& canvas, const Records& records) {
    throttle_lever(canvas, records, bitmap::kThrottleLever2, "2");
}
void throttle_3(Canvas& canvas, const Records& records) {
    throttle_lever(canvas, records, bitmap::kThrottleLever3, "3");
}
void throttle_4(Canvas& canvas, const Records& records) {
    throttle_lever(canvas, records, bitmap::kThrottleLever4, "4");
}

// A lever, not a knob: a black paddle rounded over the top and narrowing
// into its shaft, an amber band across its crown (the propeller controls'
// colour), its engine's number engraved and filled white below the band.
void prop_lever(Canvas& canvas, const char* label) {
    cairo_t* cr = canvas.cr();
    const double x = canvas.width() / 2.0;
    const double half = kPropGripWidth / 2.0, top = 1.0, foot = kPropGripHeight + 1.0;
    shaft(cr, x, foot, kLeverShaft);
    const auto paddle = [&](double inset) {
        cairo_new_path(cr);
        cairo_arc(cr, x, top + half, half - inset, std::numbers::pi, 2.0 * std::numbers::pi);
        cairo_line_to(cr, x + 4.0 - inset, foot - inset);
        cairo_line_to(cr, x - 4.0 + inset, foot - inset);
        cairo_close_path(cr);
    };
    paddle(0.0);
    set_colour(cr, Rgb{8, 8, 8});
    cairo_fill(cr);
    paddle(1.0);
    set_colour(cr, Rgb{40, 39, 37});
    cairo_fill(cr);
    cairo_save(cr);
    paddle(1.0);
    cairo_clip(cr);
    fill_rect(cr, x - half, top, kPropGripWidth, 5.0, colour::kAmber);
    cairo_restore(cr);
    text(cr, label, {x, top + half + 1.5}, 12.0, Font::Bold, kCream);
}

void prop_1(Canvas& canvas, const Records&) { prop_lever(canvas, "1"); }
void prop_2(Canvas& canvas, const Records&) { prop_lever(canvas, "2"); }
void prop_3(Canvas& canvas, const Records&) { prop_lever(canvas, "3"); }
void prop_4(Canvas& canvas, const Records&) { prop_lever(canvas, "4"); }

constexpr PainterEntry kPainters[] = {
    {bitmap::kMagnetoPanel, magneto_panel},
    {bitmap::kMagnetoSwitchOff, magneto_off},
    {bitmap::kMagnetoSwitchOn, magneto_on},
    {bitmap::kStarterPanel, starter_panel},
    {bitmap::kArmingSwitchOff, arming_off},
    {bitmap::kArmingSwitchOn, arming_on},
    {bitmap::kThrottleQuadrant, throttle_quadrant},
    {bitmap::kThrottleLever1, throttle_1},
    {bitmap::kThrottleLever2, throttle_2},
    {bitmap::kThrottleLever3, throttle_3},
    {bitmap::kThrottleLever4, throttle_4},
    {bitmap::kPropellerQuadrant, prop_quadrant},
    {bitmap::kPropellerLever1, prop_1},
    {bitmap::kPropellerLever2, prop_2},
    {bitmap::kPropellerLever3, prop_3},
    {bitmap::kPropellerLever4, prop_4},
};

}  // namespace

std::span<const PainterEntry> controls_painters() { return kPainters; }

}  // namespace art
