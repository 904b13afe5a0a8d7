// The navigation and time gauges of Korvane.gau, as the gauge table sees them:
// "Clock", "Compass", "Timer", "DR_Compass" and "Direction_Finder".
#pragma once

#include <cstddef>

#include "frame/records.h"

namespace navigation {

// The Clock's header with its stand-alone variable records right behind it,
// 32 bytes apart: the host finds them there.
struct ClockGauge {
    GAUGEHDR header;
    MODULE_VAR_SLOT clock_hours_var;
    MODULE_VAR_SLOT clock_minutes_var;
    MODULE_VAR_SLOT clock_seconds_var;
};
static_assert(offsetof(ClockGauge, clock_hours_var) == 116);
static_assert(offsetof(ClockGauge, clock_minutes_var) == 148);
static_assert(offsetof(ClockGauge, clock_seconds_var) == 180);

// The Timer's header with its one stand-alone record behind it.
struct TimerGauge {
    GAUGEHDR header;
    MODULE_VAR_SLOT timer_seconds_var;
};
static_assert(offsetof(TimerGauge, timer_seconds_var) == 116);

extern ClockGauge clock_gauge;
extern GAUGEHDR compass_gauge;
extern TimerGauge timer_gauge;
extern GAUGEHDR dr_compass_gauge;
extern GAUGEHDR direction_finder_gauge;

}  // namespace navigation
