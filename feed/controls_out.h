// What the pilot does on the panel and the page, as a simulator's controls:
// the throttles, propeller levers, magnetos and starters from the panel's
// variables and buttons, and the page's hand-flying (stick, rudder, brakes,
// undercarriage and flap levers, trims). For JSBSim's UDP input a line
// "time,v1,v2,..." of the properties flightmodel's coupling sets (the
// aircraft's <input> names them in that order: jsbsim_input_directive());
// for FlightGear its controls packet.
#pragma once

#include <string>
#include <vector>

#include "feed/ctrls_packet.h"
#include "feed/fdm_packet.h"
#include "flightmodel/coupling.h"
#include "runtime/key_model.h"
#include "runtime/variables.h"

namespace feed {

// The page's levers the pilot has not moved yet (NaN) take the aircraft's
// own from the first packet, then hold: fed back from every packet, a lever
// would hold the aircraft where it was.
flightmodel::PilotControls with_untouched_levers(flightmodel::PilotControls pilot, const FdmPacket& first);

// The properties, in the order the line gives them.
const std::vector<std::string>& jsbsim_properties();
// The aircraft file's <input> element for JSBSim to take them on `port`.
std::string jsbsim_input_directive(uint16_t port);
// One datagram's text; `seconds` never decreases from one to the next.
std::string jsbsim_line(double seconds, const runtime::VariableStore& vars, const runtime::KeyModel& keys,
                        const flightmodel::PilotControls& pilot);

// FlightGear's controls packet, for `engines` engines. The panel has no
// mixture, pump or tank selector: mixtures go full rich, pumps on, every
// tank selected, batteries and alternators on.
CtrlsPacket ctrls_packet(const runtime::VariableStore& vars, const runtime::KeyModel& keys,
                         const flightmodel::PilotControls& pilot, uint32_t engines);

}  // namespace feed
