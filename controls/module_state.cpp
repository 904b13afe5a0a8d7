#include "controls/module_state.h"

namespace module_state {

constinit int32_t cfs_main_window_found = 0;
constinit int32_t starter_armed[4] = {0, 0, 0, 0};

constinit ELEMENT_STATIC_IMAGE* throttle_root_element = nullptr;
constinit ELEMENT_STATIC_IMAGE* prop_root_element = nullptr;

}  // namespace module_state
