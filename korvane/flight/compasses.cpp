// "Compass", "DR_Compass" and "Direction_Finder".
//
// Reads: the heading (sim::token::kHeading) through the Compass card and the
// DR_Compass card and course pointer; the relative bearing of the station
// (kStationBearing) through the Direction_Finder needle; each through its
// element's own variable.
// Calls: no host service; all three use the empty gauge callback.
#include <cmath>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "gaugekit/builders.h"
#include "gaugekit/routines.h"
#include "korvane/bitmaps.h"
#include "korvane/flight/navigation_gauges.h"
#include "korvane/module_state.h"

namespace navigation {
namespace {

namespace bitmap = korvane::bitmap;
namespace token = sim::token;

using namespace kit::form;

// A heading or bearing that is not a finite number reads as 0 (north, dead
// ahead), so the instruments rest where they would on a zero reading rather
// than hand the host an angle that is not a number.

// --- Callbacks ------------------------------------------------------------------

// The strip is labelled with falling headings from its left end, so position
// 360 - h brings heading h under the window. A heading outside 0..360 (or no
// number at all) does not wrap: it parks the card at its left end.
double GAUGE_CALL card_position(ELEMENT_MOVING_IMAGE* element) {
    if (element == nullptr) return 0.0;
    const double position = 360.0 - element->source_x.value;
    if (!(position >= 0.0 && position <= 360.0)) return 0.0;
    return position;
}

// The card turns by the heading, so the pointer's angle is the course relative
// to the heading, with 12 o'clock (270) for dead ahead. One step of reduction
// is enough for headings in 0..360; the host takes the rest modulo a turn.
double GAUGE_CALL course_pointer(ELEMENT_NEEDLE* element) {
    if (element == nullptr) return 270.0;
    double relative = module_state::dr_course_setting - frame::finite_or_zero(element->source.value);
    if (relative > 360.0) {
        relative -= 360.0;
    } else if (relative < 0.0) {
        relative += 360.0;
    }
    return relative + 270.0;
}

// The knob steps the course in whole degrees; 0 and 360 are both reachable
// and the pointer shows them alike.
int32_t GAUGE_CALL course_down(PIXPOINT*, uint32_t) {
    double course = module_state::dr_course_setting - 1.0;
    if (course < 0.0) course += 360.0;
    module_state::dr_course_setting = course;
    return 0;
}

int32_t GAUGE_CALL course_up(PIXPOINT*, uint32_t) {
    double course = module_state::dr_course_setting + 1.0;
    if (course > 360.0) course -= 360.0;
    module_state::dr_course_setting = course;
    return 0;
}

// The dial reads 65 degrees either side of dead ahead; only bearings inside
// (-180, 180] are held to it. 0 points the needle straight up (270 = -90).
double GAUGE_CALL bearing_limit(ELEMENT_NEEDLE* element) {
    if (element == nullptr) return -90.0;
    double bearing = frame::finite_or_zero(element->source.value);
    if (bearing <= 180.0 && bearing > 65.0) bearing = 65.0;
    if (bearing > -180.0 && bearing < -65.0) bearing = -65.0;
    return bearing - 90.0;
}

// --- "Compass": a card strip behind a window ------------------------------------

// The name as an array of its own: a string literal "Compass" the linker may
// fold into the tail of "DR_Compass", and the two gauges would share it.
constinit const char kCompassName[] = "Compass";

constexpr CompassRecords compass(CompassRecords& self) {
    return {
        .header = kit::gauge_header(kCompassName, self.element_list.data(), self.mouse_rects),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kCompassBody, {0, 0}, &self.header,
                                                self.background_next.data(), self.failures, kFlagsPlainBackground)},
        .background_next = element_list(self.card),
        .card =
            {
                .header = element_header(kMovingImage, bitmap::kCompassCardStrip, {19, 17}, &self.header, nullptr,
                                         self.failures, kFlagsOverlay),
                .source_x = module_var(token::kHeading),
                .min_x = 0.0,
                .max_x = 360.0,
                .source_y = module_var(token::kNone),
                .min_y = 0.0,
                .max_y = 0.0,
                .callback_x = card_position,
            },
        .failures = {failure(kFailCompass, kFailurePark), failure(kFailElectrics, kFailureGrey), failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(sim::help::kCompass), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

// --- "DR_Compass": rotating card, course pointer, course knob -------------------

constexpr DrCompassRecords dr_compass(DrCompassRecords& self) {
    return {
        .header = kit::gauge_header("DR_Compass", self.element_list.data(), self.mouse_rects),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kDrCompassCase, {0, 0}, &self.header,
                                                self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = element_list(self.card),
        .card =
            {
                .header = element_header(kSprite, bitmap::kDrCompassRose, {0, 0}, &self.header, self.card_next.data(),
                                         self.failures, kFlagsOverlay, {130, 130}),
                .source_x = module_var(token::kNone),
                .scale_x = 0.0,
                .source_y = module_var(token::kNone),
                .scale_y = 0.0,
                .source_rotation = module_var(token::kHeading),
                .scale_rotation = 1.0,
                .texture_scale_x = 1.0f,
                .texture_scale_y = 1.0f,
            },
        .card_next = element_list(self.pointer),
        // The pointer alone carries no failure list: it keeps showing the set
        // course.
        .pointer =
            {
                .header = element_header(kNeedle, bitmap::kDrCompassCoursePointer, {130, 130}, &self.header,
                                         self.pointer_next.data(), nullptr, kFlagsOverlay, {88, 12}),
                .source = module_var(token::kHeading),
                .max_degrees_per_tick = 0,
                .update_callback = course_pointer,
            },
        .pointer_next = element_list(self.knob),
        .knob =
            {
                .header = element_header(kIcon, bitmap::kDrCompassKnob, {102, 102}, &self.header, nullptr,
                                         self.failures, kFlagsOverlay),
                .source = module_var(token::kNone),
                .frame_count = 1,
            },
        .failures = {failure(kFailCompass, kFailurePark), failure(kFailElectrics, kFailureGrey), failure_end()},
        .mouse_rects =
            {
                kit::mouse_whole_gauge(sim::help::kCompass),
                kit::mouse_parent(98, 98, 64, 64),
                kit::mouse_handler_child(0, 0, 32, 64, kCursorArrowBack, kMouseClickRepeat, course_down),
                kit::mouse_handler_child(32, 0, 32, 64, kCursorArrow, kMouseClickRepeat, course_up),
                kit::mouse_parent_end(),
                kit::mouse_parent_end(),
                kit::mouse_end(),
            },
    };
}

// --- "Direction_Finder": a left/right needle ------------------------------------

constexpr DirectionFinderRecords direction_finder(DirectionFinderRecords& self) {
    return {
        .header = kit::gauge_header("Direction_Finder", self.element_list.data(), self.mouse_rects),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kDirectionFinderDial, {0, 0}, &self.header,
                                                self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = element_list(self.needle),
        .needle =
            {
                .header = element_header(kNeedle, bitmap::kDirectionFinderNeedle, {91, 91}, &self.header, nullptr,
                                         self.failures, kFlagsOverlay, {1, 10}),
                .source = module_var(token::kStationBearing),
                .max_degrees_per_tick = 6,
                .update_callback = bearing_limit,
            },
        .failures = {failure(kFailDirectionFinder, kFailureGrey), failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(sim::help::kNone), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

}  // namespace

constinit CompassRecords compass_gauge = compass(compass_gauge);
constinit DrCompassRecords dr_compass_gauge = dr_compass(dr_compass_gauge);
constinit DirectionFinderRecords direction_finder_gauge = direction_finder(direction_finder_gauge);

}  // namespace navigation
