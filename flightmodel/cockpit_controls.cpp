#include "flightmodel/cockpit_controls.h"

#include <algorithm>
#include <cmath>

#include "frame/numbers.h"
#include "frame/vocabulary.h"

namespace flightmodel {
namespace {

constexpr double kLeverFull = sim::event::kLeverMaximum;
// A throttle key held moves the levers end to end in this long.
constexpr double kThrottleTravelSeconds = 3.0;
// The flap lever's steps: take-off (20 degrees), 40, fully down.
constexpr double kFlapSteps = 3.0;
// A notch of the trim wheel: a hundredth of the tab's travel from neutral,
// about 100 ft/min at the climbing speed, fine enough to level off with.
constexpr double kTrimNotch = 1.0 / 100.0;

// The lever where the pilot put it, or, until the pilot has, where the
// model's surface is.
double lever_now(double pilot, double position) {
    return std::isfinite(pilot) ? pilot : frame::finite_or_zero(position) / kLeverFull;
}

// The trim wheel moved by `by` from the pilot's place or the model's.
double trim_moved(double pilot, double model, double by) {
    return std::clamp((std::isfinite(pilot) ? pilot : frame::finite_or_zero(model)) + by, -1.0, 1.0);
}

}  // namespace

uint32_t throttle_moved(double lever, double rate, double seconds) {
    const double moved =
        frame::finite_or_zero(lever) + frame::finite_or_zero(rate) * kLeverFull * seconds / kThrottleTravelSeconds;
    return static_cast<uint32_t>(std::lround(std::clamp(moved, 0.0, kLeverFull)));
}

double gear_lever_thrown(double pilot, double extension) { return lever_now(pilot, extension) >= 0.5 ? 0.0 : 1.0; }

double flap_lever_stepped(double pilot, double position, int step) {
    return std::clamp(std::round(lever_now(pilot, position) * kFlapSteps + step) / kFlapSteps, 0.0, 1.0);
}

double trim_turned(double pilot, double model, double rate, double seconds) {
    // Full travel is -1 to 1: twice the wheel's reach from neutral.
    return trim_moved(pilot, model,
                      frame::finite_or_zero(rate) * frame::finite_or_zero(seconds) * 2.0 / kTrimTravelSeconds);
}

double trim_stepped(double pilot, double model, int step) { return trim_moved(pilot, model, step * kTrimNotch); }

}  // namespace flightmodel
