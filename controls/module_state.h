// Every module-level variable of Korvane.gau, with its load value. Each
// belongs to the callbacks of exactly one gauge; nothing else keeps state.
#pragma once

#include <cstdint>

#include "frame/records.h"

namespace module_state {

// (Each gauge family adds its variables here, in one place.)

}  // namespace module_state
