// The gyroscopic and inertial instruments: "Accelerometer", "Attitude" and
// "Turn".
//
// Reads: the normal acceleration (sim::token::kNormalAcceleration), pitch
// (kPitch), bank (kBank), sideslip (kSideslip) and rate of turn (kRateOfTurn),
// each through its element's own variable.
// Calls: no host service; all three use the empty gauge callback.
#include <cstdint>
#include <iterator>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "gaugekit/builders.h"
#include "gaugekit/readings.h"
#include "gaugekit/routines.h"
#include "korvane/bitmaps.h"
#include "korvane/flight/flight_gauges.h"

namespace flight {
namespace {

namespace bitmap = korvane::bitmap;
namespace token = sim::token;

using namespace kit::form;

// --- Accelerometer -------------------------------------------------------------

// 617 raw units make one g; the dial reads -2 to 5 g.
double GAUGE_CALL g_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(kit::reading(needle) * 0.0016207455429497568, -2.0, 5.0);
}

// 45 degrees per g around the pivot, clockwise for rising g.
constexpr AccelerometerRecords accelerometer(AccelerometerRecords& self) {
    return {
        .header = kit::gauge_header("Accelerometer", self.element_list.data(), self.mouse_rects),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kAccelerometerDial, {0, 0}, &self.header,
                                                self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = element_list(self.needle),
        .needle =
            {
                .header = element_header(kNeedle, bitmap::kAccelerometerNeedle, {139, 139}, &self.header, nullptr,
                                         self.failures, kFlagsOverlay, {56, 10}),
                .source = module_var(token::kNormalAcceleration),
                .nonlinearity = self.table,
                .nonlinearity_size = std::size(self.table),
                .max_degrees_per_tick = 6,
                .update_callback = g_scaling,
            },
        .table = {point(231, 231, -2), point(47, 231, 0), point(47, 47, 2), point(270, 139, 5)},
        // No failure affects the accelerometer: its list holds only the end.
        .failures = {failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(sim::help::kNone), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

// --- Attitude ------------------------------------------------------------------

// The horizon moves with pitch; beyond +-89 degrees it would leave the window.
double GAUGE_CALL pitch_limit(ELEMENT_SPRITE* horizon) { return frame::limit(kit::reading_y(horizon), -89.0, 89.0); }

// Straight down at wings level, turning clockwise with positive bank.
double GAUGE_CALL bank_pointer(ELEMENT_NEEDLE* needle) { return frame::finite_or_zero(kit::reading(needle)) + 90.0; }

// The horizon turns against the sign of bank (sprites turn anticlockwise for
// positive angles), straight from the variable.
constexpr AttitudeRecords attitude(AttitudeRecords& self) {
    return {
        .header = kit::gauge_header("Attitude", self.element_list.data(), self.mouse_rects),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kAttitudeCase, {0, 0}, &self.header,
                                                self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = element_list(self.horizon),
        .horizon =
            {
                .header = element_header(kSprite, bitmap::kAttitudeHorizonBar, {0, 0}, &self.header,
                                         self.horizon_next.data(), self.failures, kFlagsOverlay, {128, 128}),
                .source_x = module_var(token::kNone),
                .scale_x = 0.0,
                .source_y = module_var(token::kPitch),
                .scale_y = 1.17,
                .source_rotation = module_var(token::kBank),
                .scale_rotation = -1.0,
                .texture_scale_x = 1.0f,
                .texture_scale_y = 1.0f,
                .callback_x = nullptr,
                .callback_y = pitch_limit,
                .callback_rotation = nullptr,
            },
        .horizon_next = element_list(self.bank_needle),
        .bank_needle =
            {
                .header = element_header(kNeedle, bitmap::kAttitudeBankPointer, {128, 128}, &self.header, nullptr,
                                         self.failures, kFlagsOverlay, {7, 7}),
                .source = module_var(token::kBank),
                .max_degrees_per_tick = 0,
                .update_callback = bank_pointer,
            },
        .failures = {failure(kFailAttitude, kFailureFreeze), failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(sim::help::kAttitude), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

// --- Turn ----------------------------------------------------------------------

double GAUGE_CALL side_slip_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(kit::reading(needle) * 0.1575, -20.0, 20.0);
}

double GAUGE_CALL turn_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(kit::reading(needle) * sim::unit::kTurnRatesPerUnit, -4.0, 4.0);
}

// The slip needle stands up over the upper scale; the turn pointer hangs down
// over the lower one, so its table runs from +4 (right) to -4 (left) to keep
// every step a clockwise turn.
constexpr TurnRecords turn(TurnRecords& self) {
    return {
        .header = kit::gauge_header("Turn", self.element_list.data(), self.mouse_rects),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kTurnDial, {0, 0}, &self.header,
                                                self.background_next.data(), nullptr, kFlagsBackground)},
        .background_next = element_list(self.slip_needle),
        .slip_needle =
            {
                .header = element_header(kNeedle, bitmap::kTurnSlipNeedle, {141, 141}, &self.header,
                                         self.slip_next.data(), self.needle_failures, kFlagsOverlay, {5, 9}),
                .source = module_var(token::kSideslip),
                .nonlinearity = self.slip_table,
                .nonlinearity_size = std::size(self.slip_table),
                .max_degrees_per_tick = 0,
                .update_callback = side_slip_scaling,
            },
        .slip_next = element_list(self.turn_pointer),
        .turn_pointer =
            {
                .header = element_header(kNeedle, bitmap::kTurnPointer, {141, 141}, &self.header, nullptr,
                                         self.needle_failures, kFlagsOverlay, {5, 9}),
                .source = module_var(token::kRateOfTurn),
                .nonlinearity = self.turn_table,
                .nonlinearity_size = std::size(self.turn_table),
                .max_degrees_per_tick = 0,
                .update_callback = turn_scaling,
            },
        .slip_table = {point(88, 59, -20), point(105, 52, -10), point(141, 44, 0), point(177, 52, 10),
                       point(194, 59, 20)},
        .turn_table = {point(214, 217, 4), point(141, 245, 0), point(68, 217, -4)},
        .needle_failures = {failure(kFailTurn, kFailureGrey), failure(kFailElectrics, kFailurePark), failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(sim::help::kTurnAndSlip), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

}  // namespace

constinit AccelerometerRecords accelerometer_gauge = accelerometer(accelerometer_gauge);
constinit AttitudeRecords attitude_gauge = attitude(attitude_gauge);
constinit TurnRecords turn_gauge = turn(turn_gauge);

}  // namespace flight
