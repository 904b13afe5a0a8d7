#include "controls/module_state.h"

namespace module_state {

constinit int32_t gear_lamp_mode = 0;
constinit int32_t gear_left_down = 0;
constinit int32_t gear_right_down = 0;

}  // namespace module_state
