// "Compass", "DR_Compass" and "Direction_Finder".
// Reads: token 81 (heading) through the Compass card and the DR_Compass card
// and course pointer, token 39 (relative bearing of the station) through the
// Direction_Finder needle. Calls no host service.
#include <cmath>

#include "frame/numbers.h"
#include "korvane/module_state.h"
#include "korvane/flight/navigation_gauges.h"
#include "gaugekit/builders.h"
#include "gaugekit/routines.h"

namespace navigation {
namespace {

using kit::element_header;
using kit::failure;
using kit::failure_end;
using kit::module_var;

constexpr uint32_t kHeadingToken = 81;
constexpr uint32_t kBearingToken = 39;

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

namespace compass {

constinit const FAILURE_RECORD failures[] = {failure(11, 2), failure(20, 1), failure_end()};

constinit ELEMENT_MOVING_IMAGE card{
    .header = element_header(kMovingImage, 240, {19, 17}, &compass_gauge, nullptr, failures, kFlagsOverlay),
    .source_x = module_var(kHeadingToken),
    .min_x = 0.0,
    .max_x = 360.0,
    .source_y = module_var(0),
    .min_y = 0.0,
    .max_y = 0.0,
    .callback_x = card_position,
};
constinit ELEMENT_HEADER* const card_list[] = {&card.header, nullptr};

constinit ELEMENT_STATIC_IMAGE background{
    .header = element_header(kStaticImage, 235, {0, 0}, &compass_gauge, card_list, failures, kFlagsPlainBackground),
};
constinit ELEMENT_HEADER* const element_list[] = {&background.header, nullptr};

constinit const MOUSERECT mouse_rects[] = {
    kit::mouse_whole_gauge(0xA005),
    kit::mouse_parent_end(),
    kit::mouse_end(),
};

}  // namespace compass

// --- "DR_Compass": rotating card, course pointer, course knob -------------------

namespace dr_compass {

constinit const FAILURE_RECORD failures[] = {failure(11, 2), failure(20, 1), failure_end()};

constinit ELEMENT_ICON knob{
    .header = element_header(kIcon, 447, {102, 102}, &dr_compass_gauge, nullptr, failures, kFlagsOverlay),
    .source = module_var(0),
    .frame_count = 1,
};
constinit ELEMENT_HEADER* const knob_list[] = {&knob.header, nullptr};

// The pointer alone carries no failure list: it keeps showing the set course.
constinit ELEMENT_NEEDLE pointer{
    .header = element_header(kNeedle, 445, {130, 130}, &dr_compass_gauge, knob_list, nullptr, kFlagsOverlay,
                             {88, 12}),
    .source = module_var(kHeadingToken),
    .max_degrees_per_tick = 0,
    .update_callback = course_pointer,
};
constinit ELEMENT_HEADER* const pointer_list[] = {&pointer.header, nullptr};

constinit ELEMENT_SPRITE card{
    .header = element_header(kSprite, 442, {0, 0}, &dr_compass_gauge, pointer_list, failures, kFlagsOverlay,
                             {130, 130}),
    .source_x = module_var(0),
    .scale_x = 0.0,
    .source_y = module_var(0),
    .scale_y = 0.0,
    .source_rotation = module_var(kHeadingToken),
    .scale_rotation = 1.0,
    .texture_scale_x = 1.0f,
    .texture_scale_y = 1.0f,
};
constinit ELEMENT_HEADER* const card_list[] = {&card.header, nullptr};

constinit ELEMENT_STATIC_IMAGE background{
    .header = element_header(kStaticImage, 440, {0, 0}, &dr_compass_gauge, card_list, failures, kFlagsBackground),
};
constinit ELEMENT_HEADER* const element_list[] = {&background.header, nullptr};

constinit const MOUSERECT mouse_rects[] = {
    kit::mouse_whole_gauge(0xA005),
    kit::mouse_parent(98, 98, 64, 64),
    kit::mouse_handler_child(0, 0, 32, 64, 2, kMouseClickRepeat, course_down),
    kit::mouse_handler_child(32, 0, 32, 64, 1, kMouseClickRepeat, course_up),
    kit::mouse_parent_end(),
    kit::mouse_parent_end(),
    kit::mouse_end(),
};

}  // namespace dr_compass

// --- "Direction_Finder": a left/right needle ------------------------------------

namespace direction_finder {

constinit const FAILURE_RECORD failures[] = {failure(9, 1), failure_end()};

constinit ELEMENT_NEEDLE needle{
    .header = element_header(kNeedle, 452, {91, 91}, &direction_finder_gauge, nullptr, failures, kFlagsOverlay,
                             {1, 10}),
    .source = module_var(kBearingToken),
    .max_degrees_per_tick = 6,
    .update_callback = bearing_limit,
};
constinit ELEMENT_HEADER* const needle_list[] = {&needle.header, nullptr};

constinit ELEMENT_STATIC_IMAGE background{
    .header = element_header(kStaticImage, 450, {0, 0}, &direction_finder_gauge, needle_list, failures,
                             kFlagsBackground),
};
constinit ELEMENT_HEADER* const element_list[] = {&background.header, nullptr};

constinit const MOUSERECT mouse_rects[] = {
    kit::mouse_whole_gauge(0),
    kit::mouse_parent_end(),
    kit::mouse_end(),
};

}  // namespace direction_finder

}  // namespace

// The name as an array of its own: a string literal "Compass" the linker may
// fold into the tail of "DR_Compass", and the two gauges would share it.
constinit const char compass_name[] = "Compass";

constinit GAUGEHDR compass_gauge = kit::gauge_header(compass_name, compass::element_list, compass::mouse_rects);
constinit GAUGEHDR dr_compass_gauge =
    kit::gauge_header("DR_Compass", dr_compass::element_list, dr_compass::mouse_rects);
constinit GAUGEHDR direction_finder_gauge =
    kit::gauge_header("Direction_Finder", direction_finder::element_list, direction_finder::mouse_rects);

}  // namespace navigation
