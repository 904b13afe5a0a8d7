// What a simulator's packet says in the panel's vocabulary: each variable the
// packet carries, converted to the unit people read it in and held within
// its range, as scenarios write it; and the ones no packet drives, which
// keep their scenario's or default values.
//
// From the packet: calibrated airspeed as the airspeed; the altitude above
// sea level read at the altimeter's setting; the climb rate; pitch, bank
// (the packet's roll negated: the vocabulary's bank is port wing down) and
// true heading (no variation); the slip ball from the sideways acceleration
// at the pilot's seat and the normal acceleration from the vertical one; the
// turn rate from the heading's rate; per engine the rpm, the manifold
// pressure as boost, oil temperature and pressure, fuel pressure, the
// cylinder-head temperature as the coolant's (the packet has no coolant),
// running (state 2); the packet's four tanks as port_1, port_2, port_3 and
// stbd_1 (stbd_2 and stbd_3 are not carried), each as its quantity over the
// panel's capacity for it; the flap position; wheel 0 as the port leg and
// wheel 1 the starboard; the clock as the time of day of cur_time + warp.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "feed/fdm_packet.h"
#include "frame/vocabulary_names.h"
#include "runtime/variables.h"

namespace feed {

struct FeedSettings {
    // The packet's tank quantities are gallons (FlightGear sends US
    // gallons); a peer that sends pounds (JSBSim) is read at this many to
    // the gallon of the panel's capacities (0: the quantities are gallons).
    double pounds_per_gallon = 0.0;
};

// One variable a packet drives, its value in the unit people read it in.
struct Driven {
    const sim::Variable* variable = nullptr;
    double value = 0.0;
};

// What the packet says. `vars` holds what the panel itself keeps that a
// figure depends on: the altimeter's setting, the tanks' capacities (a tank
// of no capacity is left as it is).
std::vector<Driven> driven_by(const FdmPacket& packet, const runtime::VariableStore& vars,
                              const FeedSettings& settings = {});
void apply(std::span<const Driven> driven, runtime::VariableStore& vars);

// The vocabulary's variables no packet drives, by name.
std::vector<std::string> never_driven();

}  // namespace feed
