// The pressure instruments: "Airspeed", "Altimeter" and "VSI".
// Reads simulator variables 61 (indicated airspeed), 74 (indicated altitude),
// 75 (altimeter pressure setting) and 65 (vertical speed) through the
// elements' own variables. Calls trigger_key_event (66040, the altimeter
// pressure setting) from the Altimeter's gauge callback on every update.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "korvane/module_state.h"
#include "korvane/flight/flight_gauges.h"
#include "gaugekit/readings.h"
#include "gaugekit/builders.h"
#include "frame/numbers.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"

namespace flight {
namespace {

using kit::element_header;
using kit::failure;
using kit::failure_end;
using kit::module_var;
using kit::point;

// Simulator variables.
constexpr uint32_t kIndicatedAirspeed = 61;
constexpr uint32_t kIndicatedAltitude = 74;
constexpr uint32_t kPressureSetting = 75;
constexpr uint32_t kVerticalSpeed = 65;

// The key event that sets the simulator's pressure setting, in sixteenths of
// a millibar.
constexpr uint32_t kAltimeterSettingEvent = 66040;

// The knob: one millibar per step, 948 to 1084 millibars.
constexpr uint32_t kSettingStep = 16;
constexpr uint32_t kSettingLowest = 948 * 16;
constexpr uint32_t kSettingHighest = 1084 * 16;

// --- Airspeed ------------------------------------------------------------------

// The dial is not linear: each speed band has its own spread, and the needle
// makes almost two turns (the inner scale carries the second one). At a band's
// upper end the lower band still applies; the bands meet, so the curve is
// continuous.
double GAUGE_CALL airspeed_curve(ELEMENT_NEEDLE* needle) {
    const double s = frame::limit(kit::reading(needle), 0.0, 350.0);
    if (s > 220.0) return 445.0 + 2.125 * (s - 220.0);
    if (s > 120.0) return 220.0 + 2.25 * (s - 120.0);
    if (s > 100.0) return 180.0 + 2.0 * (s - 100.0);
    if (s > 80.0) return 147.0 + 1.65 * (s - 80.0);
    if (s > 60.0) return 122.0 + 1.25 * (s - 60.0);
    return 95.0 + 0.45 * s;
}

struct AirspeedRecords {
    ELEMENT_HEADER* element_list[2];
    ELEMENT_STATIC_IMAGE background;
    ELEMENT_HEADER* background_next[2];
    ELEMENT_NEEDLE needle;
    FAILURE_RECORD needle_failures[3];
    MOUSERECT mouse[3];
};

constinit AirspeedRecords airspeed{
    .element_list = {&airspeed.background.header, nullptr},
    .background = {.header = element_header(kStaticImage, 125, {0, 0}, &airspeed_gauge, airspeed.background_next,
                                            nullptr, kFlagsBackground)},
    .background_next = {&airspeed.needle.header, nullptr},
    .needle =
        {
            .header = element_header(kNeedle, 130, {139, 139}, &airspeed_gauge, nullptr, airspeed.needle_failures,
                                     kFlagsOverlay, {56, 8}),
            .source = module_var(kIndicatedAirspeed),
            .max_degrees_per_tick = 0,
            .update_callback = airspeed_curve,
        },
    .needle_failures = {failure(6, 1), failure(3, 1), failure_end()},
    .mouse = {kit::mouse_whole_gauge(0xA003), kit::mouse_parent_end(), kit::mouse_end()},
};

// --- Altimeter -----------------------------------------------------------------

// The three pointers, long hand last: one turn per 100,000, 10,000 and 1,000
// feet; 270 puts zero at 12 o'clock.
struct PointerLayout {
    uint32_t bitmap;
    kit::Placement pivot;
    double degrees_per_foot;
};
constexpr PointerLayout kPointers[] = {
    {105, {25, 12}, 0.0036},
    {110, {35, 17}, 0.036},
    {115, {54, 8}, 0.36},
};
constexpr size_t kPointerCount = std::size(kPointers);

template <size_t Pointer>
double GAUGE_CALL altimeter_pointer(ELEMENT_NEEDLE* needle) {
    return 270.0 + kPointers[Pointer].degrees_per_foot * frame::finite_or_zero(kit::reading(needle));
}

// The pressure-setting drums. The setting is split into digits by repeatedly
// moving the next digit in front of the point: a(0) = p * 0.0001, then
// a(n) = frac(a(n-1)) * 10, whose whole part is digit n (thousands first).
// A digit that the binary arithmetic leaves a hair short of a whole number
// (960 gives tens 5.999...) carries, so every whole-millibar setting shows its
// own digits. Truncation stays in doubles, so any value, however large, is
// safe; a setting that is not a finite number shows 0000.
constexpr double kCarryTolerance = 1e-9;
constexpr int kUnitsStage = 4;

struct DrumStage {
    double digit;
    double fraction;
};

DrumStage split_digit(double a) {
    const double whole = std::trunc(a);
    const double fraction = a - whole;
    if (fraction > 1.0 - kCarryTolerance) return {whole + 1.0, 0.0};
    if (fraction < -(1.0 - kCarryTolerance)) return {whole - 1.0, 0.0};
    return {whole, fraction};
}

// a(stage) for a drum stage 1 (thousands) to 4 (units with its fraction).
double drum_argument(double setting, int stage) {
    double a = frame::finite_or_zero(setting) * 0.0001;
    for (int n = 1; n <= stage; ++n) a = split_digit(a).fraction * 10.0;
    return a;
}

// The strip runs from its top cell at 0 to its bottom cell at 100. A setting
// below zero, which no altimeter has, would give negative digits that point
// above the strip: the drums rest on their top cell instead.
constexpr double kStripTop = 0.0;
constexpr double kStripBottom = 100.0;

// Stepping drums: whole digits, 0 to 90 on the 0..100 strip.
template <int Stage>
double GAUGE_CALL digit_drum(ELEMENT_MOVING_IMAGE* drum) {
    return frame::limit(10.0 * split_digit(drum_argument(kit::reading_y(drum), Stage)).digit, kStripTop,
                        kStripBottom);
}

// The units drum rolls on with the fraction of a millibar.
double GAUGE_CALL units_drum(ELEMENT_MOVING_IMAGE* drum) {
    return frame::limit(10.0 * drum_argument(kit::reading_y(drum), kUnitsStage), kStripTop, kStripBottom);
}

constexpr MovingImageCallback thousands_drum = digit_drum<1>;
constexpr MovingImageCallback hundreds_drum = digit_drum<2>;
constexpr MovingImageCallback tens_drum = digit_drum<3>;

// The drums in drawing order, right to left.
struct DrumLayout {
    int32_t window_x;
    MovingImageCallback callback;
};
constexpr DrumLayout kDrums[] = {
    {159, units_drum},
    {140, tens_drum},
    {121, hundreds_drum},
    {102, thousands_drum},
};
constexpr size_t kDrumCount = std::size(kDrums);
constexpr uint32_t kDrumStrip = 120;
constexpr int32_t kDrumWindowY = 214;

// The knob halves. The setting always stays within its limits, but the
// comparisons are made so that no value could wrap around.
int32_t GAUGE_CALL decrease_setting(PIXPOINT*, uint32_t) {
    uint32_t& setting = module_state::altimeter_setting;
    setting = setting > kSettingLowest + kSettingStep ? setting - kSettingStep : kSettingLowest;
    return 0;
}

int32_t GAUGE_CALL increase_setting(PIXPOINT*, uint32_t) {
    uint32_t& setting = module_state::altimeter_setting;
    setting = setting < kSettingHighest - kSettingStep ? setting + kSettingStep : kSettingHighest;
    return 0;
}

// The knob's setting is pushed on every update, changed or not, so it wins
// over any setting made outside the gauge; the drums follow through token 75.
void GAUGE_CALL altimeter_callback(GAUGEHDR*, uint32_t service_id, uint32_t) {
    if (service_id == kServiceUpdate) kit::trigger_key_event(kAltimeterSettingEvent, module_state::altimeter_setting);
}

struct AltimeterRecords {
    ELEMENT_HEADER* element_list[2];
    ELEMENT_STATIC_IMAGE background;
    ELEMENT_HEADER* background_next[2];
    ELEMENT_MOVING_IMAGE drums[kDrumCount];
    ELEMENT_HEADER* drum_next[kDrumCount][2];
    ELEMENT_NEEDLE pointers[kPointerCount];
    ELEMENT_HEADER* pointer_next[kPointerCount - 1][2];
    FAILURE_RECORD failures[3];
    MOUSERECT mouse[7];
};

constexpr ELEMENT_MOVING_IMAGE pressure_drum(const DrumLayout& layout, ELEMENT_HEADER* const* next,
                                             const FAILURE_RECORD* failures) {
    return {
        .header = element_header(kMovingImage, kDrumStrip, {layout.window_x, kDrumWindowY}, &altimeter_gauge, next,
                                 failures, kFlagsOverlay),
        .source_x = module_var(0),  // the drums roll only up and down
        .min_x = 0.0,
        .max_x = 0.0,
        .source_y = module_var(kPressureSetting),
        .min_y = 0.0,
        .max_y = 100.0,
        .callback_y = layout.callback,
    };
}

template <size_t Pointer>
constexpr ELEMENT_NEEDLE altitude_pointer(ELEMENT_HEADER* const* next, const FAILURE_RECORD* failures) {
    const PointerLayout& layout = kPointers[Pointer];
    return {
        .header = element_header(kNeedle, layout.bitmap, {139, 139}, &altimeter_gauge, next, failures, kFlagsOverlay,
                                 layout.pivot),
        .source = module_var(kIndicatedAltitude),
        .max_degrees_per_tick = 0,
        .update_callback = altimeter_pointer<Pointer>,
    };
}

constinit AltimeterRecords altimeter{
    .element_list = {&altimeter.background.header, nullptr},
    .background = {.header = element_header(kStaticImage, 100, {0, 0}, &altimeter_gauge, altimeter.background_next,
                                            altimeter.failures, kFlagsBackground)},
    .background_next = {&altimeter.drums[0].header, nullptr},
    .drums =
        {
            pressure_drum(kDrums[0], altimeter.drum_next[0], altimeter.failures),
            pressure_drum(kDrums[1], altimeter.drum_next[1], altimeter.failures),
            pressure_drum(kDrums[2], altimeter.drum_next[2], altimeter.failures),
            pressure_drum(kDrums[3], altimeter.drum_next[3], altimeter.failures),
        },
    .drum_next =
        {
            {&altimeter.drums[1].header, nullptr},
            {&altimeter.drums[2].header, nullptr},
            {&altimeter.drums[3].header, nullptr},
            {&altimeter.pointers[0].header, nullptr},
        },
    .pointers =
        {
            altitude_pointer<0>(altimeter.pointer_next[0], altimeter.failures),
            altitude_pointer<1>(altimeter.pointer_next[1], altimeter.failures),
            altitude_pointer<2>(nullptr, altimeter.failures),
        },
    .pointer_next =
        {
            {&altimeter.pointers[1].header, nullptr},
            {&altimeter.pointers[2].header, nullptr},
        },
    .failures = {failure(7, 1), failure(3, 1), failure_end()},
    .mouse =
        {
            kit::mouse_whole_gauge(0xA001),
            kit::mouse_parent(121, 278, 36, 36, 0xA034),
            kit::mouse_handler_child(0, 0, 18, 36, 2, kMouseClickRepeat, decrease_setting),
            kit::mouse_handler_child(18, 0, 18, 36, 1, kMouseClickRepeat, increase_setting),
            kit::mouse_parent_end(),
            kit::mouse_parent_end(),
            kit::mouse_end(),
        },
};

// --- VSI -----------------------------------------------------------------------

double GAUGE_CALL vertical_speed_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(kit::reading(needle) * 0.797194, -4000.0, 4000.0);
}

struct VsiRecords {
    ELEMENT_HEADER* element_list[2];
    ELEMENT_STATIC_IMAGE background;
    ELEMENT_HEADER* background_next[2];
    ELEMENT_NEEDLE needle;
    NONLINEARITY table[11];
    FAILURE_RECORD failures[3];
    MOUSERECT mouse[3];
};

// Zero climb at 9 o'clock; climb turns the needle clockwise over the top.
constinit VsiRecords vsi{
    .element_list = {&vsi.background.header, nullptr},
    .background = {.header = element_header(kStaticImage, 200, {0, 0}, &vsi_gauge, vsi.background_next, vsi.failures,
                                            kFlagsBackground)},
    .background_next = {&vsi.needle.header, nullptr},
    .needle =
        {
            .header = element_header(kNeedle, 205, {139, 139}, &vsi_gauge, nullptr, vsi.failures, kFlagsOverlay, {54, 8}),
            .source = module_var(kVerticalSpeed),
            .nonlinearity = vsi.table,
            .nonlinearity_size = std::size(vsi.table),
            .max_degrees_per_tick = 6,
            .update_callback = vertical_speed_scaling,
        },
    .table =
        {
            point(253, 199, -4000), point(222, 238, -3000), point(170, 263, -2000), point(82, 254, -1000),
            point(36, 216, -500),   point(10, 139, 0),      point(36, 62, 500),     point(82, 83, 1000),
            point(170, 14, 2000),   point(222, 40, 3000),   point(253, 79, 4000),
        },
    .failures = {failure(19, 1), failure(3, 1), failure_end()},
    .mouse = {kit::mouse_whole_gauge(0xA01F), kit::mouse_parent_end(), kit::mouse_end()},
};

}  // namespace

constinit GAUGEHDR airspeed_gauge = kit::gauge_header("Airspeed", airspeed.element_list, airspeed.mouse);
constinit GAUGEHDR altimeter_gauge =
    kit::gauge_header("Altimeter", altimeter.element_list, altimeter.mouse, altimeter_callback);
constinit GAUGEHDR vsi_gauge = kit::gauge_header("VSI", vsi.element_list, vsi.mouse);

}  // namespace flight
