#include "korvane/module_state.h"

namespace module_state {

constinit uint32_t altimeter_setting = 16208;

constinit int32_t cfs_main_window_found = 0;
constinit int32_t starter_armed[sim::kEngineCount] = {};

constinit ELEMENT_STATIC_IMAGE* throttle_root_element = nullptr;
constinit ELEMENT_STATIC_IMAGE* prop_root_element = nullptr;

constinit double dr_course_setting = 0.0;

constinit int32_t timer_running = 0;
constinit int32_t timer_minutes = 0;
constinit int32_t timer_seconds = 0;
constinit double timer_last_second = 0.0;

constinit int32_t gear_lamp_mode = 0;
constinit int32_t gear_left_down = 0;
constinit int32_t gear_right_down = 0;

}  // namespace module_state
