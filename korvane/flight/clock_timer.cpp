// "Clock" and "Timer".
// Reads: tokens 3, 4, 5 (simulator clock hours, minutes, seconds) through the
// Clock's hands and its stand-alone records, token 5 again through the Timer's
// own stand-alone record. Calls initialize_var (Clock set-up) and lookup_var
// (hour and minute hands, timer tick). The Clock's knob sends key events
// 65657 and 65658 from its mouse records; no module code runs for them.
#include <cmath>

#include "korvane/module_state.h"
#include "korvane/flight/navigation_gauges.h"
#include "gaugekit/builders.h"
#include "frame/numbers.h"
#include "gaugekit/readings.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"

namespace navigation {
namespace {

using kit::element_header;
using kit::failure;
using kit::failure_end;
using kit::module_var;
using kit::module_var_slot;

constexpr uint32_t kHoursToken = 3;
constexpr uint32_t kMinutesToken = 4;
constexpr uint32_t kSecondsToken = 5;

constexpr uint32_t kClockDecrease = 0x10079;  // 65657
constexpr uint32_t kClockIncrease = 0x1007A;  // 65658

// The double nearest to 1/60.
constexpr double kOneSixtieth = 1.0 / 60.0;
static_assert(kOneSixtieth == 0.016666666666666666);

// The simulator clock stays within a day; holding its readings there keeps a
// reading that is no number (or a huge one) from turning a hand to an angle
// that is no number or infinite. Readings the clock gives pass unchanged.
double clock_hours(double value) { return frame::limit(value, 0.0, 24.0); }
double clock_sixtieths(double value) { return frame::limit(value, 0.0, 60.0); }

// --- Clock callbacks ----------------------------------------------------------------

void GAUGE_CALL clock_setup(GAUGEHDR*, uint32_t service_id, uint32_t) {
    if (service_id != kServiceSetup) return;
    kit::initialize_var(&clock_gauge.clock_hours_var.var);
    kit::initialize_var(&clock_gauge.clock_minutes_var.var);
    kit::initialize_var(&clock_gauge.clock_seconds_var.var);
}

// Each hand reads its own element's variable and, for a smooth sweep, the next
// finer one from a stand-alone record it refreshes itself.
double GAUGE_CALL hour_hand(ELEMENT_NEEDLE* element) {
    MODULE_VAR& minutes = clock_gauge.clock_minutes_var.var;
    kit::lookup_var(&minutes);
    const double hours = clock_hours(kit::reading(element));
    return 270.0 + 30.0 * (hours + clock_sixtieths(minutes.value) * kOneSixtieth);
}

double GAUGE_CALL minute_hand(ELEMENT_NEEDLE* element) {
    MODULE_VAR& seconds = clock_gauge.clock_seconds_var.var;
    kit::lookup_var(&seconds);
    const double minutes = clock_sixtieths(kit::reading(element));
    return 270.0 + 6.0 * (minutes + clock_sixtieths(seconds.value) * kOneSixtieth);
}

double GAUGE_CALL second_hand(ELEMENT_NEEDLE* element) {
    const double seconds = clock_sixtieths(kit::reading(element));
    return 270.0 + 6.0 * seconds;
}

// --- Timer callbacks ----------------------------------------------------------------

// Exact comparison, as the clock steps in whole values; two readings that are
// no number count as the same, so a clock stuck on one does not count on.
bool same_reading(double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); }

// One counted second per update in which the simulator's seconds changed,
// however far they moved. The counts wrap to 0:00 after 59:59.
void GAUGE_CALL timer_tick(GAUGEHDR*, uint32_t service_id, uint32_t) {
    using namespace module_state;
    if (service_id != kServiceUpdate) return;
    MODULE_VAR& seconds = timer_gauge.timer_seconds_var.var;
    kit::lookup_var(&seconds);
    const double now = seconds.value;
    if (timer_running != 0 && !same_reading(now, timer_last_second)) ++timer_seconds;
    if (timer_seconds > 59) {
        timer_seconds = 0;
        ++timer_minutes;
    }
    if (timer_minutes > 59) timer_minutes = 0;
    timer_last_second = now;
}

int32_t GAUGE_CALL start_stop(PIXPOINT*, uint32_t) {
    module_state::timer_running = module_state::timer_running != 0 ? 0 : 1;
    return 0;
}

// Reset always leaves the stopwatch stopped at zero; the last seconds reading
// stays, so the next start counts from the next change of the clock.
int32_t GAUGE_CALL reset(PIXPOINT*, uint32_t) {
    module_state::timer_running = 0;
    module_state::timer_minutes = 0;
    module_state::timer_seconds = 0;
    return 0;
}

// 12 o'clock at 0, six degrees per counted second.
double GAUGE_CALL seconds_hand(ELEMENT_NEEDLE*) { return (module_state::timer_seconds + 45) * 6; }

// The ring carries 0 to 10; past ten minutes it stands at 10 until the wrap.
double GAUGE_CALL minutes_ring(ELEMENT_SPRITE*) {
    int32_t minutes = module_state::timer_minutes;
    if (minutes > 10) {
        minutes = 10;
    } else if (minutes < 0) {
        minutes = 0;
    }
    return minutes * 30;
}

// --- "Clock" ------------------------------------------------------------------------

namespace clock {

constinit const FAILURE_RECORD failures[] = {failure(20, 1), failure_end()};

constinit ELEMENT_NEEDLE second{
    .header = element_header(kNeedle, 275, {156, 149}, &clock_gauge.header, nullptr, failures, kFlagsOverlay,
                             {53, 7}),
    .source = module_var(kSecondsToken),
    .max_degrees_per_tick = 0,
    .update_callback = second_hand,
};
constinit ELEMENT_HEADER* const second_list[] = {&second.header, nullptr};

constinit ELEMENT_NEEDLE minute{
    .header = element_header(kNeedle, 270, {156, 149}, &clock_gauge.header, second_list, failures, kFlagsOverlay,
                             {11, 11}),
    .source = module_var(kMinutesToken),
    .max_degrees_per_tick = 0,
    .update_callback = minute_hand,
};
constinit ELEMENT_HEADER* const minute_list[] = {&minute.header, nullptr};

constinit ELEMENT_NEEDLE hour{
    .header = element_header(kNeedle, 265, {156, 149}, &clock_gauge.header, minute_list, failures, kFlagsOverlay,
                             {11, 11}),
    .source = module_var(kHoursToken),
    .max_degrees_per_tick = 0,
    .update_callback = hour_hand,
};
constinit ELEMENT_HEADER* const hour_list[] = {&hour.header, nullptr};

constinit ELEMENT_STATIC_IMAGE background{
    .header = element_header(kStaticImage, 260, {0, 0}, &clock_gauge.header, hour_list, failures, kFlagsBackground),
};
constinit ELEMENT_HEADER* const element_list[] = {&background.header, nullptr};

// The setting knob, bottom left: the host sends the clock's key events itself.
constinit const MOUSERECT mouse_rects[] = {
    kit::mouse_whole_gauge(0xA017),
    kit::mouse_parent(0, 228, 72, 72),
    kit::mouse_event_child(0, 0, 36, 72, 2, kMouseClick, kClockDecrease),
    kit::mouse_event_child(36, 0, 36, 72, 1, kMouseClick, kClockIncrease),
    kit::mouse_parent_end(),
    kit::mouse_parent_end(),
    kit::mouse_end(),
};

}  // namespace clock

// --- "Timer" ------------------------------------------------------------------------

namespace timer {

// No failure stops the stopwatch: every element points at an empty list.
constinit const FAILURE_RECORD failures[] = {failure_end()};

constinit ELEMENT_NEEDLE hand{
    .header = element_header(kNeedle, 350, {157, 149}, &timer_gauge.header, nullptr, failures, kFlagsOverlay,
                             {12, 12}),
    .source = module_var(0),
    .max_degrees_per_tick = 0,
    .update_callback = seconds_hand,
};
constinit ELEMENT_HEADER* const hand_list[] = {&hand.header, nullptr};

constinit ELEMENT_SPRITE ring{
    .header = element_header(kSprite, 345, {134, 192}, &timer_gauge.header, hand_list, failures, kFlagsOverlay,
                             {157, 149}),
    .source_x = module_var(0),
    .scale_x = 0.0,
    .source_y = module_var(0),
    .scale_y = 0.0,
    .source_rotation = module_var(0),
    .scale_rotation = -1.0,
    .texture_scale_x = 0.88f,
    .texture_scale_y = 0.88f,
    .callback_rotation = minutes_ring,
};
constinit ELEMENT_HEADER* const ring_list[] = {&ring.header, nullptr};

constinit ELEMENT_STATIC_IMAGE background{
    .header = element_header(kStaticImage, 340, {0, 0}, &timer_gauge.header, ring_list, failures, kFlagsBackground),
};
constinit ELEMENT_HEADER* const element_list[] = {&background.header, nullptr};

constinit const MOUSERECT mouse_rects[] = {
    kit::mouse_whole_gauge(0),
    kit::mouse_parent(236, 34, 36, 36),
    kit::mouse_handler_child(0, 0, 36, 36, 5, kMouseClick, start_stop),
    kit::mouse_parent_end(),
    kit::mouse_parent(139, 0, 36, 36),
    kit::mouse_handler_child(0, 0, 36, 36, 5, kMouseClick, reset),
    kit::mouse_parent_end(),
    kit::mouse_parent_end(),
    kit::mouse_end(),
};

}  // namespace timer

}  // namespace

constinit ClockGauge clock_gauge{
    .header = kit::gauge_header("Clock", clock::element_list, clock::mouse_rects, clock_setup),
    .clock_hours_var = module_var_slot(kHoursToken),
    .clock_minutes_var = module_var_slot(kMinutesToken),
    .clock_seconds_var = module_var_slot(kSecondsToken),
};

constinit TimerGauge timer_gauge{
    .header = kit::gauge_header("Timer", timer::element_list, timer::mouse_rects, timer_tick),
    .timer_seconds_var = module_var_slot(kSecondsToken),
};

}  // namespace navigation
