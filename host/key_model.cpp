#include "host/key_model.h"

#include <cmath>

#include "frame/numbers.h"

namespace bench {
namespace {

constexpr double kSecondsPerDay = 24.0 * 3600.0;

// A variable read as a whole-number reading; anything that is not a finite
// number counts as 0 so that a garbled clock still sets sensibly.

void toggle(uint32_t token, VariableStore& vars) { vars.set(token, vars.get(token) != 0.0 ? 0.0 : 1.0); }

}  // namespace

void KeyModel::apply(const KeyEvent& event, VariableStore& vars) {
    const uint32_t id = event.id;
    if (id == kAltimeterSettingEvent) {
        vars.set(kAltimeterSettingToken, static_cast<double>(event.value) / 16.0);
        return;
    }
    if (id == kClockMinuteBackEvent) {
        move_clock(-60.0, vars);
        return;
    }
    if (id == kClockMinuteOnEvent) {
        move_clock(60.0, vars);
        return;
    }
    for (int engine = 0; engine < kEngineCount; ++engine) {
        if (id == throttle_event(engine)) {
            vars.set(throttle_token(engine), static_cast<double>(event.value));
        } else if (id == propeller_event(engine)) {
            vars.set(propeller_token(engine), static_cast<double>(event.value));
        } else if (id == first_magneto_event(engine)) {
            toggle(first_magneto_token(engine), vars);
        } else if (id == second_magneto_event(engine)) {
            toggle(second_magneto_token(engine), vars);
        } else if (id == start_event(engine) || id == start_event_alternate(engine)) {
            start_engine(engine, vars);
        } else {
            continue;
        }
        return;
    }
}

void KeyModel::start_engine(int engine, VariableStore& vars) {
    if (vars.get(running_token(engine)) != 0.0 || is_starting(engine)) return;
    const bool ignition = vars.get(first_magneto_token(engine)) != 0.0 || vars.get(second_magneto_token(engine)) != 0.0;
    if (!ignition) return;  // cranks without catching
    engines_starting_[engine] = kStartUpdates;
}

void KeyModel::tick(VariableStore& vars) {
    for (auto it = engines_starting_.begin(); it != engines_starting_.end();) {
        if (--it->second <= 0) {
            vars.set(running_token(it->first), 1.0);
            it = engines_starting_.erase(it);
        } else {
            ++it;
        }
    }
}

// The clock is a time of day: hours, minutes and seconds are one count of
// seconds, moved and wrapped into one day, then split again.
void KeyModel::move_clock(double seconds, VariableStore& vars) {
    const double hours = frame::finite_or_zero(vars.get(kClockHoursToken));
    const double minutes = frame::finite_or_zero(vars.get(kClockMinutesToken));
    const double secs = frame::finite_or_zero(vars.get(kClockSecondsToken));
    double total = std::fmod(hours * 3600.0 + minutes * 60.0 + secs + seconds, kSecondsPerDay);
    if (!std::isfinite(total)) total = 0.0;
    if (total < 0.0) total += kSecondsPerDay;
    if (total >= kSecondsPerDay) total = 0.0;  // a tiny negative rounds up to a whole day
    const double new_hours = std::floor(total / 3600.0);
    const double new_minutes = std::floor((total - new_hours * 3600.0) / 60.0);
    vars.set(kClockHoursToken, new_hours);
    vars.set(kClockMinutesToken, new_minutes);
    vars.set(kClockSecondsToken, total - new_hours * 3600.0 - new_minutes * 60.0);
}

}  // namespace bench
