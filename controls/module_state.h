// Every module-level variable of Korvane.gau, with its load value. Each
// belongs to the callbacks of exactly one gauge; nothing else keeps state.
#pragma once

#include <cstdint>

#include "frame/records.h"

namespace module_state {

// (Each gauge family adds its variables here, in one place.)

// Altimeter: the pressure setting of the knob, in sixteenths of a millibar
// (1013 mb at load). Every open Altimeter shares it; only the knob handlers
// change it and the Altimeter's gauge callback sends it to the simulator.
extern uint32_t altimeter_setting;

}  // namespace module_state
