// How a pilot's inputs move the cockpit's controls: how fast a held throttle
// key works the levers, where the undercarriage lever goes when thrown, the
// flap lever's steps. One rule for whoever flies the panel by hand (the live
// page's keys and gamepad in `serve`; `fly` has no pilot but its scenario).
// The levers the model reads go as PilotControls keeps them (0 up .. 1
// down, NaN until the pilot moves them); the panel's own levers and the
// model's surfaces as the host keeps them (0 .. sim::event::kLeverMaximum).
#pragma once

#include <cstdint>

namespace flightmodel {

// The throttle lever at `lever` (not finite: closed) after a throttle key
// held for `seconds` at `rate` (-1 closing at full rate .. 1 opening): the
// value its throttle_set event carries, stopping at closed and full.
uint32_t throttle_moved(double lever, double rate, double seconds);

// The undercarriage lever thrown to its other end: from where the pilot last
// put it (`pilot`), or, until then, from where the model's undercarriage is
// (`extension`; not finite: up).
double gear_lever_thrown(double pilot, double extension);

// The flap lever a step down (`step` 1) or up (-1) from the step nearest
// where the pilot last put it (`pilot`), or, until then, where the flaps are
// (`position`; not finite: up); it stops at up and fully down.
double flap_lever_stepped(double pilot, double position, int step);

// The trim wheel (elevator or rudder, -1..1) a notch on from where the pilot
// last put it (`pilot`), or, until then, from where the model's trim is
// (`model`, FlightState's; not finite: neutral): `step` 1 nose down or nose
// right, -1 the other way, each a twentieth of the way from neutral to an
// end (0.05). It stops at the ends.
double trim_stepped(double pilot, double model, int step);
// The same wheel turned for `seconds` at `rate` (-1..1, a gamepad's axis):
// end to end in kTrimTravelSeconds at full rate.
inline constexpr double kTrimTravelSeconds = 10.0;
double trim_turned(double pilot, double model, double rate, double seconds);

}  // namespace flightmodel
