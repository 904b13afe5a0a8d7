#include "controls/module_state.h"

namespace module_state {

constinit uint32_t altimeter_setting = 16208;

}  // namespace module_state
