// The gyroscopic and inertial instruments: "Accelerometer", "Attitude" and
// "Turn". Reads simulator variables 351 (normal acceleration), 78 (pitch),
// 80 (bank), 69 (sideslip) and 70 (rate of turn) through the elements' own
// variables. Calls no host service: all three use the empty gauge callback.
#include <cstdint>
#include <iterator>

#include "korvane/flight/flight_gauges.h"
#include "gaugekit/readings.h"
#include "gaugekit/builders.h"
#include "frame/numbers.h"
#include "gaugekit/routines.h"

namespace flight {
namespace {

using kit::element_header;
using kit::failure;
using kit::failure_end;
using kit::module_var;
using kit::point;

// Simulator variables.
constexpr uint32_t kNormalAcceleration = 351;
constexpr uint32_t kPitch = 78;
constexpr uint32_t kBank = 80;
constexpr uint32_t kSideslip = 69;
constexpr uint32_t kRateOfTurn = 70;

// --- Accelerometer -------------------------------------------------------------

// 617 raw units make one g; the dial reads -2 to 5 g.
double GAUGE_CALL g_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(kit::reading(needle) * 0.0016207455429497568, -2.0, 5.0);
}

struct AccelerometerRecords {
    ELEMENT_HEADER* element_list[2];
    ELEMENT_STATIC_IMAGE background;
    ELEMENT_HEADER* background_next[2];
    ELEMENT_NEEDLE needle;
    NONLINEARITY table[4];
    FAILURE_RECORD failures[1];
    MOUSERECT mouse[3];
};

// 45 degrees per g around the pivot, clockwise for rising g.
constinit AccelerometerRecords accelerometer{
    .element_list = {&accelerometer.background.header, nullptr},
    .background = {.header = element_header(kStaticImage, 330, {0, 0}, &accelerometer_gauge,
                                            accelerometer.background_next, accelerometer.failures, kFlagsBackground)},
    .background_next = {&accelerometer.needle.header, nullptr},
    .needle =
        {
            .header = element_header(kNeedle, 335, {139, 139}, &accelerometer_gauge, nullptr, accelerometer.failures,
                                     kFlagsOverlay, {56, 10}),
            .source = module_var(kNormalAcceleration),
            .nonlinearity = accelerometer.table,
            .nonlinearity_size = std::size(accelerometer.table),
            .max_degrees_per_tick = 6,
            .update_callback = g_scaling,
        },
    .table = {point(231, 231, -2), point(47, 231, 0), point(47, 47, 2), point(270, 139, 5)},
    // No failure affects the accelerometer: its list holds only the end.
    .failures = {failure_end()},
    .mouse = {kit::mouse_whole_gauge(0), kit::mouse_parent_end(), kit::mouse_end()},
};

// --- Attitude ------------------------------------------------------------------

// The horizon moves with pitch; beyond +-89 degrees it would leave the window.
double GAUGE_CALL pitch_limit(ELEMENT_SPRITE* horizon) { return frame::limit(kit::reading_y(horizon), -89.0, 89.0); }

// Straight down at wings level, turning clockwise with positive bank.
double GAUGE_CALL bank_pointer(ELEMENT_NEEDLE* needle) { return frame::finite_or_zero(kit::reading(needle)) + 90.0; }

struct AttitudeRecords {
    ELEMENT_HEADER* element_list[2];
    ELEMENT_STATIC_IMAGE background;
    ELEMENT_HEADER* background_next[2];
    ELEMENT_SPRITE horizon;
    ELEMENT_HEADER* horizon_next[2];
    ELEMENT_NEEDLE bank_needle;
    FAILURE_RECORD failures[2];
    MOUSERECT mouse[3];
};

// The horizon turns against the sign of bank (sprites turn anticlockwise for
// positive angles), straight from the variable.
constinit AttitudeRecords attitude{
    .element_list = {&attitude.background.header, nullptr},
    .background = {.header = element_header(kStaticImage, 220, {0, 0}, &attitude_gauge, attitude.background_next,
                                            attitude.failures, kFlagsBackground)},
    .background_next = {&attitude.horizon.header, nullptr},
    .horizon =
        {
            .header = element_header(kSprite, 225, {0, 0}, &attitude_gauge, attitude.horizon_next, attitude.failures,
                                     kFlagsOverlay, {128, 128}),
            .source_x = module_var(0),
            .scale_x = 0.0,
            .source_y = module_var(kPitch),
            .scale_y = 1.17,
            .source_rotation = module_var(kBank),
            .scale_rotation = -1.0,
            .texture_scale_x = 0.5f,
            .texture_scale_y = 0.25f,
            .callback_x = nullptr,
            .callback_y = pitch_limit,
            .callback_rotation = nullptr,
        },
    .horizon_next = {&attitude.bank_needle.header, nullptr},
    .bank_needle =
        {
            .header = element_header(kNeedle, 230, {128, 128}, &attitude_gauge, nullptr, attitude.failures,
                                     kFlagsOverlay, {7, 7}),
            .source = module_var(kBank),
            .max_degrees_per_tick = 0,
            .update_callback = bank_pointer,
        },
    .failures = {failure(8, 0), failure_end()},
    .mouse = {kit::mouse_whole_gauge(0xA004), kit::mouse_parent_end(), kit::mouse_end()},
};

// --- Turn ----------------------------------------------------------------------

double GAUGE_CALL side_slip_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(kit::reading(needle) * 0.1575, -20.0, 20.0);
}

double GAUGE_CALL turn_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(kit::reading(needle) * 0.003663, -4.0, 4.0);
}

struct TurnRecords {
    ELEMENT_HEADER* element_list[2];
    ELEMENT_STATIC_IMAGE background;
    ELEMENT_HEADER* background_next[2];
    ELEMENT_NEEDLE slip_needle;
    ELEMENT_HEADER* slip_next[2];
    ELEMENT_NEEDLE turn_pointer;
    NONLINEARITY slip_table[5];
    NONLINEARITY turn_table[3];
    FAILURE_RECORD needle_failures[3];
    MOUSERECT mouse[3];
};

// The slip needle stands up over the upper scale; the turn pointer hangs down
// over the lower one, so its table runs from +4 (right) to -4 (left) to keep
// every step a clockwise turn.
constinit TurnRecords turn{
    .element_list = {&turn.background.header, nullptr},
    .background = {.header = element_header(kStaticImage, 135, {0, 0}, &turn_gauge, turn.background_next, nullptr,
                                            kFlagsBackground)},
    .background_next = {&turn.slip_needle.header, nullptr},
    .slip_needle =
        {
            .header = element_header(kNeedle, 140, {141, 141}, &turn_gauge, turn.slip_next, turn.needle_failures,
                                     kFlagsOverlay, {5, 9}),
            .source = module_var(kSideslip),
            .nonlinearity = turn.slip_table,
            .nonlinearity_size = std::size(turn.slip_table),
            .max_degrees_per_tick = 0,
            .update_callback = side_slip_scaling,
        },
    .slip_next = {&turn.turn_pointer.header, nullptr},
    .turn_pointer =
        {
            .header = element_header(kNeedle, 145, {141, 141}, &turn_gauge, nullptr, turn.needle_failures,
                                     kFlagsOverlay, {5, 9}),
            .source = module_var(kRateOfTurn),
            .nonlinearity = turn.turn_table,
            .nonlinearity_size = std::size(turn.turn_table),
            .max_degrees_per_tick = 0,
            .update_callback = turn_scaling,
        },
    .slip_table = {point(88, 59, -20), point(105, 52, -10), point(141, 44, 0), point(177, 52, 10), point(194, 59, 20)},
    .turn_table = {point(214, 217, 4), point(141, 245, 0), point(68, 217, -4)},
    .needle_failures = {failure(18, 1), failure(20, 2), failure_end()},
    .mouse = {kit::mouse_whole_gauge(0xA01A), kit::mouse_parent_end(), kit::mouse_end()},
};

}  // namespace

constinit GAUGEHDR accelerometer_gauge =
    kit::gauge_header("Accelerometer", accelerometer.element_list, accelerometer.mouse);
constinit GAUGEHDR attitude_gauge = kit::gauge_header("Attitude", attitude.element_list, attitude.mouse);
constinit GAUGEHDR turn_gauge = kit::gauge_header("Turn", turn.element_list, turn.mouse);

}  // namespace flight
