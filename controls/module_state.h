// Every module-level variable of Korvane.gau, with its load value. Each
// belongs to the callbacks of exactly one gauge; nothing else keeps state.
#pragma once

#include <cstdint>

#include "frame/records.h"

namespace module_state {

// (Each gauge family adds its variables here, in one place.)

// "Gear_Indicator": the lamp set chosen with the knob (0 day, 1 night), kept
// while the module is loaded; and whether each leg is beyond the locked-down
// mark, recomputed at the start of every update.
extern int32_t gear_lamp_mode;   // load value 0
extern int32_t gear_left_down;   // load value 0
extern int32_t gear_right_down;  // load value 0

}  // namespace module_state
