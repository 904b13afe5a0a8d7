// "Clock" and "Timer".
//
// Reads: the time of day (sim::token::kClockHours, kClockMinutes,
// kClockSeconds) through the Clock's hands and its stand-alone records, and
// the seconds again through the Timer's own stand-alone record.
// Calls: initialize_var on the Clock's three stand-alone records at set-up;
// lookup_var on the minutes and seconds records from the hour and minute
// hands, and on the Timer's seconds record at every update. The Clock's knob
// sends the clock's key events (sim::event::kClockMinuteBack, kClockMinuteOn)
// from its mouse records; no module code runs for them.
#include <cmath>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "gaugekit/builders.h"
#include "gaugekit/readings.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"
#include "korvane/bitmaps.h"
#include "korvane/flight/navigation_gauges.h"
#include "korvane/module_state.h"

namespace navigation {
namespace {

namespace bitmap = korvane::bitmap;
namespace token = sim::token;

using namespace kit::form;

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

// The hands turn about one pivot, hour hand first down the chain.
constexpr kit::Placement kClockPivot{156, 149};

constexpr ClockRecords panel_clock(ClockRecords& self) {
    return {
        .header = kit::gauge_header("Clock", self.element_list.data(), self.mouse_rects, clock_setup),
        .clock_hours_var = module_var_slot(token::kClockHours),
        .clock_minutes_var = module_var_slot(token::kClockMinutes),
        .clock_seconds_var = module_var_slot(token::kClockSeconds),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kClockDial, {0, 0}, &self.header,
                                                self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = element_list(self.hour),
        .hour =
            {
                .header = element_header(kNeedle, bitmap::kClockHourHand, kClockPivot, &self.header,
                                         self.hour_next.data(), self.failures, kFlagsOverlay, {11, 11}),
                .source = module_var(token::kClockHours),
                .max_degrees_per_tick = 0,
                .update_callback = hour_hand,
            },
        .hour_next = element_list(self.minute),
        .minute =
            {
                .header = element_header(kNeedle, bitmap::kClockMinuteHand, kClockPivot, &self.header,
                                         self.minute_next.data(), self.failures, kFlagsOverlay, {11, 11}),
                .source = module_var(token::kClockMinutes),
                .max_degrees_per_tick = 0,
                .update_callback = minute_hand,
            },
        .minute_next = element_list(self.second),
        .second =
            {
                .header = element_header(kNeedle, bitmap::kClockSecondHand, kClockPivot, &self.header, nullptr,
                                         self.failures, kFlagsOverlay, {53, 7}),
                .source = module_var(token::kClockSeconds),
                .max_degrees_per_tick = 0,
                .update_callback = second_hand,
            },
        .failures = {failure(kFailElectrics, kFailureGrey), failure_end()},
        // The setting knob, bottom left: the host sends the clock's key events
        // itself.
        .mouse_rects =
            {
                kit::mouse_whole_gauge(sim::help::kClock),
                kit::mouse_parent(0, 228, 72, 72),
                kit::mouse_event_child(0, 0, 36, 72, kCursorArrowBack, kMouseClick, sim::event::kClockMinuteBack),
                kit::mouse_event_child(36, 0, 36, 72, kCursorArrow, kMouseClick, sim::event::kClockMinuteOn),
                kit::mouse_parent_end(),
                kit::mouse_parent_end(),
                kit::mouse_end(),
            },
    };
}

// --- "Timer" ------------------------------------------------------------------------

// The hand and the ring show the module's own counts: neither reads a variable.
constexpr TimerRecords timer(TimerRecords& self) {
    return {
        .header = kit::gauge_header("Timer", self.element_list.data(), self.mouse_rects, timer_tick),
        .timer_seconds_var = module_var_slot(token::kClockSeconds),
        .element_list = element_list(self.background),
        .background = {.header = element_header(kStaticImage, bitmap::kTimerDial, {0, 0}, &self.header,
                                                self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = element_list(self.ring),
        .ring =
            {
                .header = element_header(kSprite, bitmap::kTimerMinutesRing, {134, 192}, &self.header,
                                         self.ring_next.data(), self.failures, kFlagsOverlay, {157, 149}),
                .source_x = module_var(token::kNone),
                .scale_x = 0.0,
                .source_y = module_var(token::kNone),
                .scale_y = 0.0,
                .source_rotation = module_var(token::kNone),
                .scale_rotation = -1.0,
                .texture_scale_x = 0.88f,
                .texture_scale_y = 0.88f,
                .callback_rotation = minutes_ring,
            },
        .ring_next = element_list(self.hand),
        .hand =
            {
                .header = element_header(kNeedle, bitmap::kTimerSecondsHand, {157, 149}, &self.header, nullptr,
                                         self.failures, kFlagsOverlay, {12, 12}),
                .source = module_var(token::kNone),
                .max_degrees_per_tick = 0,
                .update_callback = seconds_hand,
            },
        // No failure stops the stopwatch: every element points at an empty list.
        .failures = {failure_end()},
        .mouse_rects =
            {
                kit::mouse_whole_gauge(sim::help::kNone),
                kit::mouse_parent(236, 34, 36, 36),
                kit::mouse_handler_child(0, 0, 36, 36, kCursorHand, kMouseClick, start_stop),
                kit::mouse_parent_end(),
                kit::mouse_parent(139, 0, 36, 36),
                kit::mouse_handler_child(0, 0, 36, 36, kCursorHand, kMouseClick, reset),
                kit::mouse_parent_end(),
                kit::mouse_parent_end(),
                kit::mouse_end(),
            },
    };
}

}  // namespace

constinit ClockRecords clock_gauge = panel_clock(clock_gauge);
constinit TimerRecords timer_gauge = timer(timer_gauge);

}  // namespace navigation
