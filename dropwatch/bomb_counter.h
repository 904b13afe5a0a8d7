// The bomb counter of Dropwatch.gau: while the module is loaded it watches the
// host's key events and hands the host calculator programs that keep the bomb
// count and the release-sequence data in the host's local variables.
#pragma once

#include <cstdint>

#include "frame/calling_convention.h"

namespace dropwatch {

// The user data registered with the key-event routine.
inline constexpr uint32_t kKeyEventUserData = 0;

// module_init and module_deinit of the Linkage record.
void GAUGE_CALL register_key_events();
void GAUGE_CALL unregister_key_events();

// The key-event routine (plain C convention, as the host calls it).
void on_key_event(uint32_t event_id, uint32_t event_value, uint32_t user_data);

}  // namespace dropwatch
