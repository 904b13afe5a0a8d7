// Every module-level variable of Korvane.gau, with its load value. This is the
// one home of the module's state: gauge sources keep no variables of their
// own. Each variable belongs to the callbacks of exactly one gauge.
#pragma once

#include <cstdint>

#include "frame/records.h"
#include "frame/vocabulary.h"

namespace module_state {

// (Each gauge family adds its variables here, in one place.)

// Altimeter: the pressure setting of the knob, in sixteenths of a millibar
// (1013 mb at load). Every open Altimeter shares it; only the knob handlers
// change it and the Altimeter's gauge callback sends it to the simulator.
extern uint32_t altimeter_setting;

// Starter_Switch: 1 when the latest check at service id 4 found the
// simulator's main window; picks the family of the start event. Load: 0.
extern int32_t cfs_main_window_found;
// Starter_Switch: per engine (index = engine - 1), 1 while armed. Load: all 0.
extern int32_t starter_armed[sim::kEngineCount];

// Throttle: the gauge's root static image, captured at service id 2 for the
// lever handlers. Load: null.
extern ELEMENT_STATIC_IMAGE* throttle_root_element;
// Prop_Control: as throttle_root_element, for the propeller levers. Load: null.
extern ELEMENT_STATIC_IMAGE* prop_root_element;

// DR_Compass: the course set with its knob, in degrees. The knob keeps it
// within 0..360, both ends included. Load value 0.0.
extern double dr_course_setting;

// Timer: the one stopwatch every open "Timer" shows and drives. All zero at
// load. timer_running is 0 or 1; the counts stay within 0..59;
// timer_last_second is the simulator's seconds value seen at the previous
// update.
extern int32_t timer_running;
extern int32_t timer_minutes;
extern int32_t timer_seconds;
extern double timer_last_second;

// "Gear_Indicator": the lamp set chosen with the knob (0 day, 1 night), kept
// while the module is loaded; and whether each leg is beyond the locked-down
// mark, recomputed at the start of every update.
extern int32_t gear_lamp_mode;   // load value 0
extern int32_t gear_left_down;   // load value 0
extern int32_t gear_right_down;  // load value 0

}  // namespace module_state
