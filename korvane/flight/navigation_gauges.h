// Record sets of the navigation and time gauges: "Clock", "Timer", "Compass",
// "DR_Compass" and "Direction_Finder".
//
// Every gauge is one object holding all of its records, header first, so the
// pointers between them are address constants into that object. The gauge
// table takes the headers' addresses from here.
#pragma once

#include <array>
#include <cstddef>

#include "frame/records.h"

namespace navigation {

// --- Clock and timer --------------------------------------------------------------

// Dial and the hour, minute and second hands as one chain. The three
// stand-alone variables sit right behind the header, 32 bytes apart: the host
// finds them there.
struct ClockRecords {
    GAUGEHDR header;
    MODULE_VAR_SLOT clock_hours_var;
    MODULE_VAR_SLOT clock_minutes_var;
    MODULE_VAR_SLOT clock_seconds_var;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_NEEDLE hour;
    std::array<ELEMENT_HEADER*, 2> hour_next;
    ELEMENT_NEEDLE minute;
    std::array<ELEMENT_HEADER*, 2> minute_next;
    ELEMENT_NEEDLE second;
    FAILURE_RECORD failures[2];
    MOUSERECT mouse_rects[7];
};
static_assert(offsetof(ClockRecords, clock_hours_var) == 116);
static_assert(offsetof(ClockRecords, clock_minutes_var) == 148);
static_assert(offsetof(ClockRecords, clock_seconds_var) == 180);

// Stopwatch dial, minutes ring and seconds hand; its one stand-alone variable
// sits right behind the header.
struct TimerRecords {
    GAUGEHDR header;
    MODULE_VAR_SLOT timer_seconds_var;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_SPRITE ring;
    std::array<ELEMENT_HEADER*, 2> ring_next;
    ELEMENT_NEEDLE hand;
    FAILURE_RECORD failures[1];
    MOUSERECT mouse_rects[9];
};
static_assert(offsetof(TimerRecords, timer_seconds_var) == 116);

// --- Compasses and direction finder ------------------------------------------------

// Body with the card strip behind its window.
struct CompassRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_MOVING_IMAGE card;
    FAILURE_RECORD failures[3];
    MOUSERECT mouse_rects[3];
};

// Case, rotating card, course pointer and course knob as one chain.
struct DrCompassRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_SPRITE card;
    std::array<ELEMENT_HEADER*, 2> card_next;
    ELEMENT_NEEDLE pointer;
    std::array<ELEMENT_HEADER*, 2> pointer_next;
    ELEMENT_ICON knob;
    FAILURE_RECORD failures[3];
    MOUSERECT mouse_rects[7];
};

// Dial and a left/right needle.
struct DirectionFinderRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_NEEDLE needle;
    FAILURE_RECORD failures[2];
    MOUSERECT mouse_rects[3];
};

extern ClockRecords clock_gauge;
extern TimerRecords timer_gauge;

extern CompassRecords compass_gauge;
extern DrCompassRecords dr_compass_gauge;
extern DirectionFinderRecords direction_finder_gauge;

}  // namespace navigation
