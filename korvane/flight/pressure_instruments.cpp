// The pressure instruments: "Airspeed", "Altimeter" and "VSI".
//
// Reads: the indicated airspeed (sim::token::kIndicatedAirspeed), the indicated
// altitude (kIndicatedAltitude), the altimeter's pressure setting
// (kPressureSetting) and the vertical speed (kVerticalSpeed), each through its
// element's own variable.
// Calls: trigger_key_event with the altimeter setting event
// (sim::event::kAltimeterSetting) from the Altimeter's gauge callback on every
// update.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "gaugekit/builders.h"
#include "gaugekit/last_result.h"
#include "gaugekit/readings.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"
#include "korvane/bitmaps.h"
#include "korvane/flight/flight_gauges.h"
#include "korvane/module_state.h"

namespace flight {
namespace {

namespace bitmap = korvane::bitmap;
namespace token = sim::token;

using namespace kit::form;

// The knob: one millibar per step, 948 to 1084 millibars, in the setting
// event's sixteenths of a millibar.
constexpr uint32_t kSettingStep = sim::event::kAltimeterSettingSteps;
constexpr uint32_t kSettingLowest = 948 * kSettingStep;
constexpr uint32_t kSettingHighest = 1084 * kSettingStep;

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

constexpr AirspeedRecords airspeed(AirspeedRecords& self) {
    return {
        .header = kit::gauge_header("Airspeed", self.element_list.data(), self.mouse_rects),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kAirspeedDial, {0, 0}, &self.header,
                                                self.background_next.data(), nullptr, kFlagsBackground)},
        .background_next = element_list(self.needle),
        .needle =
            {
                .header = element_header(kNeedle, bitmap::kAirspeedNeedle, {139, 139}, &self.header, nullptr,
                                         self.needle_failures, kFlagsOverlay, {56, 8}),
                .source = module_var(token::kIndicatedAirspeed),
                .max_degrees_per_tick = 0,
                .update_callback = airspeed_curve,
            },
        .needle_failures = {failure(kFailAirspeed, kFailureGrey), failure(kFailPitotStatic, kFailureGrey),
                            failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(sim::help::kAirspeed), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

// --- Altimeter -----------------------------------------------------------------

// The three pointers, long hand last: one turn per 100,000, 10,000 and 1,000
// feet; 270 puts zero at 12 o'clock.
struct PointerLayout {
    uint32_t bitmap;
    kit::Placement pivot;
    double degrees_per_foot;
};
constexpr PointerLayout kPointers[] = {
    {bitmap::kAltimeterPointer100k, {25, 12}, 0.0036},
    {bitmap::kAltimeterPointer10k, {35, 17}, 0.036},
    {bitmap::kAltimeterPointer1k, {54, 8}, 0.36},
};
static_assert(std::size(kPointers) == kAltimeterPointerCount);

template <size_t Pointer>
double GAUGE_CALL altimeter_pointer(ELEMENT_NEEDLE* needle) {
    // No angle for a reading that is not a finite number: the pointer rests at 0.
    if (!kit::finite_reading(needle)) return 270.0;
    return 270.0 + kPointers[Pointer].degrees_per_foot * needle->source.value;
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
[[gnu::noipa]] double GAUGE_CALL digit_drum(ELEMENT_MOVING_IMAGE* drum) {
    return frame::limit(10.0 * split_digit(drum_argument(kit::reading_y(drum), Stage)).digit, kStripTop, kStripBottom);
}

// The units drum rolls on with the fraction of a millibar.
[[gnu::noipa]] double GAUGE_CALL units_drum(ELEMENT_MOVING_IMAGE* drum) {
    return frame::limit(10.0 * drum_argument(kit::reading_y(drum), kUnitsStage), kStripTop, kStripBottom);
}

// The setting seldom changes, and splitting it into digits is the dearest
// work of the panel's update: each drum hands back its last position while
// its reading stays the same.
double drum_reading(const ELEMENT_MOVING_IMAGE* drum) { return kit::reading_y(drum); }
constexpr MovingImageCallback units_drum_callback = kit::same_reading_same_result<units_drum, drum_reading>;
constexpr MovingImageCallback tens_drum = kit::same_reading_same_result<digit_drum<3>, drum_reading>;
constexpr MovingImageCallback hundreds_drum = kit::same_reading_same_result<digit_drum<2>, drum_reading>;
constexpr MovingImageCallback thousands_drum = kit::same_reading_same_result<digit_drum<1>, drum_reading>;

// The drums in drawing order, right to left.
struct DrumLayout {
    int32_t window_x;
    MovingImageCallback callback;
};
constexpr DrumLayout kDrums[] = {
    {159, units_drum_callback},
    {140, tens_drum},
    {121, hundreds_drum},
    {102, thousands_drum},
};
static_assert(std::size(kDrums) == kAltimeterDrumCount);
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
// over any setting made outside the gauge; the drums follow through the
// simulator's pressure setting.
void GAUGE_CALL altimeter_callback(GAUGEHDR*, uint32_t service_id, uint32_t) {
    if (service_id == kServiceUpdate) {
        kit::trigger_key_event(sim::event::kAltimeterSetting, module_state::altimeter_setting);
    }
}

// Drum k hands over to drum k + 1; the last drum to the first pointer.
constexpr ELEMENT_MOVING_IMAGE pressure_drum(AltimeterRecords& self, size_t drum) {
    return {
        .header = element_header(kMovingImage, bitmap::kAltimeterDrumStrip, {kDrums[drum].window_x, kDrumWindowY},
                                 &self.header, self.drum_next[drum].data(), self.failures, kFlagsOverlay),
        .source_x = module_var(token::kNone),  // the drums roll only up and down
        .min_x = 0.0,
        .max_x = 0.0,
        .source_y = module_var(token::kPressureSetting),
        .min_y = 0.0,
        .max_y = 100.0,
        .callback_y = kDrums[drum].callback,
    };
}

template <size_t Pointer>
constexpr ELEMENT_NEEDLE altitude_pointer(AltimeterRecords& self) {
    const PointerLayout& layout = kPointers[Pointer];
    ELEMENT_HEADER* const* const next =
        Pointer + 1 < kAltimeterPointerCount ? self.pointer_next[Pointer].data() : nullptr;
    return {
        .header = element_header(kNeedle, layout.bitmap, {139, 139}, &self.header, next, self.failures, kFlagsOverlay,
                                 layout.pivot),
        .source = module_var(token::kIndicatedAltitude),
        .max_degrees_per_tick = 0,
        .update_callback = altimeter_pointer<Pointer>,
    };
}

constexpr AltimeterRecords altimeter(AltimeterRecords& self) {
    return {
        .header = kit::gauge_header("Altimeter", self.element_list.data(), self.mouse_rects, altimeter_callback),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kAltimeterDial, {0, 0}, &self.header,
                                                self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = element_list(self.drums[0]),
        .drums = {pressure_drum(self, 0), pressure_drum(self, 1), pressure_drum(self, 2), pressure_drum(self, 3)},
        .drum_next = {element_list(self.drums[1]), element_list(self.drums[2]), element_list(self.drums[3]),
                      element_list(self.pointers[0])},
        .pointers = {altitude_pointer<0>(self), altitude_pointer<1>(self), altitude_pointer<2>(self)},
        .pointer_next = {element_list(self.pointers[1]), element_list(self.pointers[2])},
        .failures = {failure(kFailAltimeter, kFailureGrey), failure(kFailPitotStatic, kFailureGrey), failure_end()},
        .mouse_rects =
            {
                kit::mouse_whole_gauge(sim::help::kAltimeter),
                kit::mouse_parent(121, 278, 36, 36, sim::help::kPressureSetting),
                kit::mouse_handler_child(0, 0, 18, 36, kCursorArrowBack, kMouseClickRepeat, decrease_setting),
                kit::mouse_handler_child(18, 0, 18, 36, kCursorArrow, kMouseClickRepeat, increase_setting),
                kit::mouse_parent_end(),
                kit::mouse_parent_end(),
                kit::mouse_end(),
            },
    };
}

// --- VSI -----------------------------------------------------------------------

double GAUGE_CALL vertical_speed_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(kit::reading(needle) * sim::unit::kVsiFeetPerMinutePerUnit, -4000.0, 4000.0);
}

// Zero climb at 9 o'clock; climb turns the needle clockwise over the top.
constexpr VsiRecords vsi(VsiRecords& self) {
    return {
        .header = kit::gauge_header("VSI", self.element_list.data(), self.mouse_rects),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kVsiDial, {0, 0}, &self.header,
                                                self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = element_list(self.needle),
        .needle =
            {
                .header = element_header(kNeedle, bitmap::kVsiNeedle, {139, 139}, &self.header, nullptr, self.failures,
                                         kFlagsOverlay, {54, 8}),
                .source = module_var(token::kVerticalSpeed),
                .nonlinearity = self.table,
                .nonlinearity_size = std::size(self.table),
                .max_degrees_per_tick = 6,
                .update_callback = vertical_speed_scaling,
            },
        .table =
            {
                point(253, 199, -4000),
                point(222, 238, -3000),
                point(170, 263, -2000),
                point(82, 254, -1000),
                point(36, 216, -500),
                point(10, 139, 0),
                point(36, 62, 500),
                point(82, 83, 1000),
                point(170, 14, 2000),
                point(222, 40, 3000),
                point(253, 79, 4000),
            },
        .failures = {failure(kFailVerticalSpeed, kFailureGrey), failure(kFailPitotStatic, kFailureGrey), failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(sim::help::kVerticalSpeed), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

}  // namespace

constinit AirspeedRecords airspeed_gauge = airspeed(airspeed_gauge);
constinit AltimeterRecords altimeter_gauge = altimeter(altimeter_gauge);
constinit VsiRecords vsi_gauge = vsi(vsi_gauge);

}  // namespace flight
