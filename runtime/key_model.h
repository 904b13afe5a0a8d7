// The host's small model of the aircraft: which simulator variables follow
// which key events. It stands in for the simulator's own handling, so that a
// panel driven on the bench behaves as in the simulator.
//
// The rules, in the simulator's vocabulary (frame/vocabulary.h; k is the
// engine index 0..3):
// - event::kAltimeterSetting sets token::kPressureSetting (millibars) to the
//   value over event::kAltimeterSettingSteps: the event carries sixteenths of
//   a millibar.
// - event::throttle_set(k) and event::propeller_set(k) set the engine's lever,
//   token::throttle_lever(k) and token::propeller_lever(k), to the value
//   (0..event::kLeverMaximum).
// - event::first_magneto_toggle(k) and event::second_magneto_toggle(k) toggle
//   token::first_magneto(k) and token::second_magneto(k) between 0 and 1; the
//   value is ignored.
// - event::engine_start(k) and event::engine_start_alternate(k), any value:
//   with either magneto of the engine on at that moment the engine cranks and
//   catches, and kStartUpdates ticks later its running flag,
//   token::engine_running(k), becomes 1.0. With both magnetos off it cranks
//   without catching: nothing changes. A start while the engine already runs
//   or is already cranking changes nothing either, so a held starter button
//   does not delay the catch. While a flight model runs the engines
//   (set_engines_modelled), the start event only turns the starter: the
//   model decides whether the engine catches.
// - event::kClockMinuteBack / kClockMinuteOn: the simulator's time of day
//   (token::kClockHours, kClockMinutes, kClockSeconds) moves one minute back
//   / on, carrying into the hours and wrapping at 24 h.
// Events the model does not know change nothing.
#pragma once

#include <array>
#include <cstdint>
#include <map>

#include "frame/vocabulary.h"
#include "runtime/variables.h"

namespace runtime {

struct KeyEvent {
    uint32_t id = 0;
    uint32_t value = 0;
};

class KeyModel {
public:
    // Applies one key event to the variables; events the model does not know
    // change nothing.
    void apply(const KeyEvent& key, VariableStore& vars);

    // One simulation step: engines whose start event arrived begin running
    // after a few steps.
    void tick(VariableStore& vars);

    // Updates an engine needs after its start event before it runs.
    static constexpr int kStartUpdates = 3;

    // Whether an engine is cranking toward a start.
    bool is_starting(int engine) const { return engines_starting_.count(engine) != 0; }

    // Whether a start event of the engine arrived since the last step: a held
    // starter button sends one every update, so this is the button held.
    bool starter_pressed(int engine) const {
        return engine >= 0 && engine < sim::kEngineCount && starter_pressed_[static_cast<size_t>(engine)];
    }

    // A flight model runs the engines: start events no longer make an engine
    // run by themselves.
    void set_engines_modelled(bool modelled) { engines_modelled_ = modelled; }

private:
    void start_engine(int engine, VariableStore& vars);
    static void move_clock(double seconds, VariableStore& vars);

    std::map<int, int> engines_starting_;  // engine index (0..3) -> updates left
    std::array<bool, sim::kEngineCount> starter_pressed_{};
    bool engines_modelled_ = false;
};

}  // namespace runtime
