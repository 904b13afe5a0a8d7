// The host's small model of the aircraft: which simulator variables follow
// which key events. It stands in for the simulator's own handling, so that a
// panel driven on the bench behaves as in the simulator.
//
// The rules, in the host's numbering (k is the engine index 0..3):
// - 66040, altimeter pressure setting: token 75 (millibars) = value / 16; the
//   event carries sixteenths of a millibar.
// - 65820 + k, throttle lever: token 128 + 35k = value (0..16383).
// - 65923 + k, propeller lever: token 129 + 35k = value (0..16383).
// - 65929 + 6k toggles the first magneto, token 399 + 39k, between 0 and 1;
//   65928 + 6k toggles the second, token 400 + 39k. The value is ignored.
// - 65932 + 6k and 66300 + k, engine start, any value: with either magneto of
//   the engine on at that moment the engine cranks and catches, and
//   kStartUpdates ticks later its running flag, token 406 + 39k, becomes 1.0.
//   With both magnetos off it cranks without catching: nothing changes. A
//   start while the engine already runs or is already cranking changes
//   nothing either, so a held starter button does not delay the catch.
// - 65657 / 65658, clock setting: the simulator's time of day (tokens 3
//   hours, 4 minutes, 5 seconds) moves one minute back / on, carrying into
//   the hours and wrapping at 24 h.
// Events the model does not know change nothing.
#pragma once

#include <cstdint>
#include <map>

#include "host/variables.h"

namespace bench {

struct KeyEvent {
    uint32_t id = 0;
    uint32_t value = 0;
};

class KeyModel {
public:
    // Applies one key event to the variables; events the model does not know
    // change nothing.
    void apply(const KeyEvent& event, VariableStore& vars);

    // One simulation step: engines whose start event arrived begin running
    // after a few steps.
    void tick(VariableStore& vars);

    // Updates an engine needs after its start event before it runs.
    static constexpr int kStartUpdates = 3;

    static constexpr int kEngineCount = 4;

    // Event ids and tokens of the model, by engine index 0..3.
    static constexpr uint32_t kAltimeterSettingEvent = 66040;
    static constexpr uint32_t kAltimeterSettingToken = 75;
    static constexpr uint32_t kClockMinuteBackEvent = 65657;
    static constexpr uint32_t kClockMinuteOnEvent = 65658;
    static constexpr uint32_t kClockHoursToken = 3;
    static constexpr uint32_t kClockMinutesToken = 4;
    static constexpr uint32_t kClockSecondsToken = 5;
    static constexpr uint32_t throttle_event(int engine) { return 65820 + engine; }
    static constexpr uint32_t throttle_token(int engine) { return 128 + 35 * engine; }
    static constexpr uint32_t propeller_event(int engine) { return 65923 + engine; }
    static constexpr uint32_t propeller_token(int engine) { return 129 + 35 * engine; }
    static constexpr uint32_t first_magneto_event(int engine) { return 65929 + 6 * engine; }
    static constexpr uint32_t second_magneto_event(int engine) { return 65928 + 6 * engine; }
    static constexpr uint32_t first_magneto_token(int engine) { return 399 + 39 * engine; }
    static constexpr uint32_t second_magneto_token(int engine) { return 400 + 39 * engine; }
    static constexpr uint32_t start_event(int engine) { return 65932 + 6 * engine; }
    static constexpr uint32_t start_event_alternate(int engine) { return 66300 + engine; }
    static constexpr uint32_t running_token(int engine) { return 406 + 39 * engine; }

    // Whether an engine is cranking toward a start.
    bool is_starting(int engine) const { return engines_starting_.count(engine) != 0; }

private:
    void start_engine(int engine, VariableStore& vars);
    static void move_clock(double seconds, VariableStore& vars);

    std::map<int, int> engines_starting_;  // engine index (0..3) -> updates left
};

}  // namespace bench
