// Magneto switches, the starter panel, the throttle and propeller quadrants.
#include <algorithm>
#include <cmath>
#include <string>

#include "korvane/bitmaps.h"
#include "tools/art/dial.h"
#include "tools/art/painters.h"

namespace art {
namespace {

namespace bitmap = korvane::bitmap;

using colour::kCream;

std::vector<Box> icon_boxes(const Records& records, const char* gauge) {
    std::vector<Box> out;
    for (ELEMENT_HEADER* e : records.elements(gauge)) {
        if (e->element_type == kIcon) out.push_back(Records::placed(e));
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
        text(cr, "ON", {c.x, 34.0}, 8.0, Font::Bold, kCream);
        text(cr, "OFF", {c.x, 112.0}, 8.0, Font::Bold, kCream);
        text(cr, i % 2 == 0 ? "1" : "2", {c.x, 125.0}, 7.0, Font::Bold, Rgb{180, 180, 180});
        fill_circle(cr, c, 14.0, Rgb{60, 60, 60});
        fill_circle(cr, c, 12.0, Rgb{120, 120, 120});
    }
    // Engine numbers over each pair.
    for (size_t i = 0; i + 1 < switches.size(); i += 2) {
        const double mid = (switches[i].x + switches[i + 1].x + switches[i + 1].width) / 2.0;
        text(cr, "ENGINE " + std::to_string(i / 2 + 1), {mid, 13.0}, 9.0, Font::Bold, kCream);
        fill_rect(cr, switches[i].x + 6.0, 21.0, switches[i + 1].x + switches[i + 1].width - switches[i].x - 12.0, 1.0,
                  Rgb{120, 120, 120});
    }
    text_rotated(cr, "MAGNETOS", {canvas.width() / 2.0, canvas.height() / 2.0 + 6.0}, 9.0, Font::Bold, kCream, -90.0);
}

void toggle(cairo_t* cr, Point c, bool up, double length) {
    // Hexagon nut, then the lever tapering to a ball.
    cairo_new_path(cr);
    for (int i = 0; i < 6; ++i) {
        const Point p = polar(c, 9.0, 30.0 + 60.0 * i);
        if (i == 0)
            cairo_move_to(cr, p.x, p.y);
        else
            cairo_line_to(cr, p.x, p.y);
    }
    cairo_close_path(cr);
    set_colour(cr, Rgb{180, 180, 180});
    cairo_fill(cr);
    fill_circle(cr, c, 5.0, Rgb{72, 72, 72});
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
        text(cr, std::to_string(i / 2 + 1), {arm.x + 9.0, 11.0}, 10.0, Font::Bold, kCream);
        text(cr, "ARM", {arm.x + arm.width - 13.0, kArmY - 14.0}, 7.0, Font::Bold, kCream);
        text(cr, "OFF", {arm.x + arm.width - 13.0, kArmY + 16.0}, 7.0, Font::Bold, kCream);
        fill_circle(cr, {x, kArmY}, 11.0, Rgb{60, 60, 60});
        fill_circle(cr, {x, kArmY}, 9.5, Rgb{120, 120, 120});
        fill_rect(cr, arm.x + 4.0, arm.y + arm.height, arm.width - 8.0, 1.0, Rgb{72, 72, 72});
        fill_circle(cr, {x, kButtonY}, 17.0, Rgb{84, 84, 84});
        fill_circle(cr, {x, kButtonY}, 14.0, Rgb{150, 20, 16});
        fill_circle(cr, {x - 4.0, kButtonY - 4.0}, 5.0, Rgb{200, 30, 20});
        text(cr, "START", {x, button.y + button.height - 6.0}, 7.0, Font::Bold, kCream);
        if (i > 0) fill_rect(cr, arm.x, 4.0, 1.0, canvas.height() - 8.0, Rgb{60, 60, 60});
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
        cairo_arc(cr, x, kButtonY, 20.0, 0.0, 2.0 * kPi);
        cairo_new_sub_path(cr);
        cairo_arc_negative(cr, x, kButtonY, 17.0, 2.0 * kPi, 0.0);
        set_colour(cr, colour::kAmber);
        cairo_fill(cr);
    }
}

void arming_off(Canvas& canvas, const Records&) { arming_switch(canvas, false); }
void arming_on(Canvas& canvas, const Records&) { arming_switch(canvas, true); }

// --- Lever quadrants. A lever is a knob on a stem that runs to the bottom of
// its bitmap; the slots in the quadrant lie under the stems.
struct Lever {
    Box at_zero;    // the lever bitmap at value 0
    double stem_x;  // the stem's x inside the bitmap
    double travel;  // pixels the lever rises over its range
};

double lever_stem(uint32_t id, double width) {
    // The outer throttles carry a wide grip over their inboard side: engine
    // 1's stem is left of the grip's middle, engine 4's mirrors it. Every
    // other lever stands in the middle of its bitmap.
    if (id == bitmap::kThrottleLever1) return width * 0.4;
    if (id == bitmap::kThrottleLever4) return width * 0.6;
    return width / 2.0;
}

std::vector<Lever> levers(const Records& records, const char* gauge) {
    std::vector<Lever> out;
    for (ELEMENT_HEADER* e : records.elements(gauge)) {
        if (e->element_type != kSlider) continue;
        const auto* slider = reinterpret_cast<ELEMENT_SLIDER*>(e);
        const Box b = Records::placed(e);
        out.push_back({b, lever_stem(e->resource_id, b.width), std::fabs(slider->scale_y) * 16384.0});
    }
    return out;
}

void slot(cairo_t* cr, double x, double top, double bottom) {
    rounded_rect_path(cr, x - 4.0, top, 8.0, bottom - top, 4.0);
    set_colour(cr, Rgb{8, 8, 8});
    cairo_fill(cr);
}

void quadrant(Canvas& canvas, const Records& records, const char* gauge, const char* title) {
    cairo_t* cr = canvas.cr();
    const double w = canvas.width();
    const double h = canvas.height();
    panel_plate(cr, 0.5, 0.5, w - 1.0, h - 1.0, 8.0);
    for (const Lever& lever : levers(records, gauge)) {
        const double x = lever.at_zero.x + lever.stem_x;
        const double knob_low = lever.at_zero.y + 10.0;
        slot(cr, x, knob_low - lever.travel, h - 3.0);
    }
    text(cr, title, {w / 2.0, 9.0}, 8.0, Font::Bold, kCream);
}

void throttle_quadrant(Canvas& canvas, const Records& records) {
    quadrant(canvas, records, "Throttle", "THROTTLES");
    cairo_t* cr = canvas.cr();
    text(cr, "OPEN", {canvas.width() / 2.0, 20.0}, 7.0, Font::Bold, kCream);
    text(cr, "\u25b2", {canvas.width() / 2.0, 30.0}, 7.0, Font::Bold, kCream);
}

void prop_quadrant(Canvas& canvas, const Records& records) {
    quadrant(canvas, records, "Prop_Control", "PROPELLER R.P.M.");
    cairo_t* cr = canvas.cr();
    const double h = canvas.height();
    std::vector<double> slots;
    for (const Lever& lever : levers(records, "Prop_Control")) slots.push_back(lever.at_zero.x + lever.stem_x);
    std::sort(slots.begin(), slots.end());
    if (slots.size() >= 2) {
        // Between the two middle slots: which way raises the revolutions.
        const double mid = (slots[slots.size() / 2 - 1] + slots[slots.size() / 2]) / 2.0;
        text_rotated(cr, "INCREASE", {mid, h * 0.3}, 7.0, Font::Bold, kCream, -90.0);
        text_rotated(cr, "DECREASE", {mid, h * 0.72}, 7.0, Font::Bold, kCream, -90.0);
    }
}

void knob(cairo_t* cr, double cx, double top, double width, double height, Rgb body, Rgb light) {
    rounded_rect_path(cr, cx - width / 2.0, top, width, height, height * 0.45);
    cairo_pattern_t* shade = cairo_pattern_create_linear(0, top, 0, top + height);
    cairo_pattern_add_color_stop_rgb(shade, 0.0, light.r / 255.0, light.g / 255.0, light.b / 255.0);
    cairo_pattern_add_color_stop_rgb(shade, 1.0, body.r / 255.0, body.g / 255.0, body.b / 255.0);
    cairo_set_source(cr, shade);
    cairo_fill(cr);
    cairo_pattern_destroy(shade);
}

void stem(cairo_t* cr, double x, double top, double bottom) {
    fill_rect(cr, x - 3.0, top, 6.0, bottom - top, Rgb{136, 136, 136});
    fill_rect(cr, x - 1.0, top, 1.5, bottom - top, Rgb{220, 220, 220});
}

void throttle_lever(Canvas& canvas, uint32_t id, const char* label) {
    cairo_t* cr = canvas.cr();
    const double w = canvas.width();
    const double h = canvas.height();
    const double x = lever_stem(id, w);
    stem(cr, x, 10.0, h);
    const bool outer = id == bitmap::kThrottleLever1 || id == bitmap::kThrottleLever4;
    const double grip = outer ? w * 0.56 : w - 6.0;
    const double grip_x = outer ? (id == bitmap::kThrottleLever1 ? x + grip * 0.12 : x - grip * 0.12) : x;
    knob(cr, grip_x, 1.0, grip, 18.0, Rgb{60, 8, 8}, Rgb{200, 30, 20});
    text(cr, label, {grip_x, 10.0}, 8.0, Font::Bold, kCream);
}

void throttle_1(Canvas& canvas, const Records&) { throttle_lever(canvas, bitmap::kThrottleLever1, "1"); }
void throttle_2(Canvas& canvas, const Records&) { throttle_lever(canvas, bitmap::kThrottleLever2, "2"); }
void throttle_3(Canvas& canvas, const Records&) { throttle_lever(canvas, bitmap::kThrottleLever3, "3"); }
void throttle_4(Canvas& canvas, const Records&) { throttle_lever(canvas, bitmap::kThrottleLever4, "4"); }

void prop_lever(Canvas& canvas, const char* label) {
    cairo_t* cr = canvas.cr();
    const double w = canvas.width();
    const double x = w / 2.0;
    stem(cr, x, 12.0, canvas.height());
    knob(cr, x, 1.0, 34.0, 22.0, Rgb{90, 60, 8}, Rgb{255, 205, 90});
    text(cr, label, {x, 12.0}, 9.0, Font::Bold, Rgb{40, 40, 40});
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
