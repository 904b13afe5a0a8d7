#include "runtime/key_model.h"

#include <cmath>

#include "frame/numbers.h"
#include "frame/vocabulary.h"

namespace runtime {
namespace {

namespace token = sim::token;
namespace event = sim::event;

constexpr double kSecondsPerDay = 24.0 * 3600.0;

void toggle(uint32_t token, VariableStore& vars) { vars.set(token, vars.get(token) != 0.0 ? 0.0 : 1.0); }

}  // namespace

void KeyModel::apply(const KeyEvent& key, VariableStore& vars) {
    const uint32_t id = key.id;
    const auto value = static_cast<double>(key.value);
    if (id == event::kAltimeterSetting) {
        vars.set(token::kPressureSetting, value / event::kAltimeterSettingSteps);
        return;
    }
    if (id == event::kClockMinuteBack) {
        move_clock(-60.0, vars);
        return;
    }
    if (id == event::kClockMinuteOn) {
        move_clock(60.0, vars);
        return;
    }
    for (int engine = 0; engine < sim::kEngineCount; ++engine) {
        if (id == event::throttle_set(engine)) {
            vars.set(token::throttle_lever(engine), value);
        } else if (id == event::propeller_set(engine)) {
            vars.set(token::propeller_lever(engine), value);
        } else if (id == event::first_magneto_toggle(engine)) {
            toggle(token::first_magneto(engine), vars);
        } else if (id == event::second_magneto_toggle(engine)) {
            toggle(token::second_magneto(engine), vars);
        } else if (id == event::engine_start(engine) || id == event::engine_start_alternate(engine)) {
            start_engine(engine, vars);
        } else {
            continue;
        }
        return;
    }
}

void KeyModel::start_engine(int engine, VariableStore& vars) {
    starter_pressed_[static_cast<size_t>(engine)] = true;
    if (engines_modelled_) return;
    if (vars.get(token::engine_running(engine)) != 0.0 || is_starting(engine)) return;
    const bool ignition =
        vars.get(token::first_magneto(engine)) != 0.0 || vars.get(token::second_magneto(engine)) != 0.0;
    if (!ignition) return;  // cranks without catching
    engines_starting_[engine] = kStartUpdates;
}

void KeyModel::tick(VariableStore& vars) {
    starter_pressed_.fill(false);
    for (auto it = engines_starting_.begin(); it != engines_starting_.end();) {
        if (--it->second <= 0) {
            vars.set(token::engine_running(it->first), 1.0);
            it = engines_starting_.erase(it);
        } else {
            ++it;
        }
    }
}

// The clock is a time of day: hours, minutes and seconds are one count of
// seconds, moved and wrapped into one day, then split again.
void KeyModel::move_clock(double seconds, VariableStore& vars) {
    // A garbled reading (not a finite number) counts as 0, so that the clock
    // still sets sensibly.
    const double hours = frame::finite_or_zero(vars.get(token::kClockHours));
    const double minutes = frame::finite_or_zero(vars.get(token::kClockMinutes));
    const double secs = frame::finite_or_zero(vars.get(token::kClockSeconds));
    double total = std::fmod(hours * 3600.0 + minutes * 60.0 + secs + seconds, kSecondsPerDay);
    if (!std::isfinite(total)) total = 0.0;
    if (total < 0.0) total += kSecondsPerDay;
    if (total >= kSecondsPerDay) total = 0.0;  // a tiny negative rounds up to a whole day
    const double new_hours = std::floor(total / 3600.0);
    const double new_minutes = std::floor((total - new_hours * 3600.0) / 60.0);
    vars.set(token::kClockHours, new_hours);
    vars.set(token::kClockMinutes, new_minutes);
    vars.set(token::kClockSeconds, total - new_hours * 3600.0 - new_minutes * 60.0);
}

}  // namespace runtime
