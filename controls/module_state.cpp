#include "controls/module_state.h"

namespace module_state {

}  // namespace module_state
