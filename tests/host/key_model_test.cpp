// The host's model of the aircraft: each key event's effect on the simulator
// variables, engine starts with and without ignition, and the clock setting.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/key_model.h"

namespace {

using bench::KeyModel;
using bench::VariableStore;

struct EventCase {
    const char* name;
    std::map<uint32_t, double> before;
    uint32_t event;
    uint32_t value;
    std::map<uint32_t, double> after;  // every token the event must leave like this
};

std::vector<EventCase> event_cases() {
    std::vector<EventCase> cases = {
        {"altimeter in sixteenths of a millibar", {}, 66040, 16209, {{75, 1013.0625}}},
        {"altimeter zero", {{75, 990.0}}, 66040, 0, {{75, 0.0}}},
        {"magneto off", {{399, 1.0}}, 65929, 0, {{399, 0.0}}},
        {"magneto odd reading reads as on", {{399, 0.5}}, 65929, 0, {{399, 0.0}}},
        {"unknown event", {{128, 3.0}}, 65819, 77, {{128, 3.0}, {75, 0.0}}},
        {"start without ignition", {}, 65932, 4, {{406, 0.0}}},
    };
    // Per engine: throttle, propeller, the two magnetos (event, token).
    const std::pair<uint32_t, uint32_t> engines[4][4] = {
        {{65820, 128}, {65923, 129}, {65929, 399}, {65928, 400}},
        {{65821, 163}, {65924, 164}, {65935, 438}, {65934, 439}},
        {{65822, 198}, {65925, 199}, {65941, 477}, {65940, 478}},
        {{65823, 233}, {65926, 234}, {65947, 516}, {65946, 517}},
    };
    for (const auto& engine : engines) {
        for (int i = 0; i < 4; ++i) {
            const auto [event, token] = engine[i];
            // A lever takes the event's value; a magneto switches on, whatever the value.
            cases.push_back({"engine control", {}, event, 8190, {{token, i < 2 ? 8190.0 : 1.0}}});
        }
    }
    return cases;
}

TEST(KeyModelEvents, EachEventSetsItsVariable) {
    for (const EventCase& c : event_cases()) {
        SCOPED_TRACE(std::string(c.name) + ", event " + std::to_string(c.event));
        VariableStore vars;
        for (const auto& [token, value] : c.before) vars.set(token, value);
        KeyModel model;
        model.apply({c.event, c.value}, vars);
        for (const auto& [token, value] : c.after) EXPECT_DOUBLE_EQ(vars.get(token), value) << "token " << token;
        // Nothing beyond the named tokens appears.
        for (const auto& [token, value] : vars.tokens()) {
            EXPECT_TRUE(c.after.count(token) != 0 || c.before.count(token) != 0) << "token " << token << " set";
        }
    }
}

struct StartCase {
    const char* name;
    int engine;             // 0..3
    bool first_magneto;
    bool second_magneto;
    uint32_t event;
    bool catches;
};

const StartCase kStartCases[] = {
    {"engine 1, first magneto, window found", 0, true, false, 65932, true},
    {"engine 1, second magneto, window missing", 0, false, true, 66300, true},
    {"engine 2, both magnetos", 1, true, true, 65938, true},
    {"engine 2, no ignition", 1, false, false, 65938, false},
    {"engine 3, first magneto, window missing", 2, true, false, 66302, true},
    {"engine 3, no ignition, window missing", 2, false, false, 66302, false},
    {"engine 4, second magneto", 3, false, true, 65950, true},
    {"engine 4, no ignition", 3, false, false, 66303, false},
};

uint32_t running_token(int engine) { return 406 + 39 * engine; }

TEST(KeyModelEngineStart, CatchesAfterTheStartUpdatesOnlyWithIgnition) {
    for (const StartCase& c : kStartCases) {
        SCOPED_TRACE(c.name);
        VariableStore vars;
        vars.set(399 + 39 * c.engine, c.first_magneto ? 1.0 : 0.0);
        vars.set(400 + 39 * c.engine, c.second_magneto ? 1.0 : 0.0);
        KeyModel model;
        model.apply({c.event, 0}, vars);
        for (int tick = 1; tick < KeyModel::kStartUpdates; ++tick) {
            model.tick(vars);
            EXPECT_EQ(vars.get(running_token(c.engine)), 0.0) << "running early, after tick " << tick;
        }
        model.tick(vars);
        EXPECT_EQ(vars.get(running_token(c.engine)), c.catches ? 1.0 : 0.0);
        for (int tick = 0; tick < 3 * KeyModel::kStartUpdates; ++tick) model.tick(vars);
        EXPECT_EQ(vars.get(running_token(c.engine)), c.catches ? 1.0 : 0.0);
        for (int other = 0; other < KeyModel::kEngineCount; ++other) {
            if (other == c.engine) continue;
            EXPECT_EQ(vars.get(running_token(other)), 0.0) << "engine " << other + 1;
        }
    }
}

TEST(KeyModelEngineStart, HeldStarterDoesNotPostponeTheCatch) {
    VariableStore vars;
    vars.set(477, 1.0);
    KeyModel model;
    for (int tick = 0; tick < KeyModel::kStartUpdates; ++tick) {
        model.apply({65944, 4}, vars);  // a repeat of the held button at every update
        model.tick(vars);
    }
    EXPECT_EQ(vars.get(484), 1.0);
}

TEST(KeyModelEngineStart, IgnitionAfterTheStartEventDoesNotCatch) {
    VariableStore vars;
    KeyModel model;
    model.apply({65932, 4}, vars);  // cranks with both magnetos off
    model.apply({65929, 0}, vars);  // then the ignition comes on
    for (int tick = 0; tick < 2 * KeyModel::kStartUpdates; ++tick) model.tick(vars);
    EXPECT_EQ(vars.get(406), 0.0);
    model.apply({65932, 4}, vars);  // a fresh start now catches
    for (int tick = 0; tick < KeyModel::kStartUpdates; ++tick) model.tick(vars);
    EXPECT_EQ(vars.get(406), 1.0);
}

struct ClockCase {
    const char* name;
    double hours, minutes, seconds;
    uint32_t event;
    double new_hours, new_minutes, new_seconds;
};

const ClockCase kClockCases[] = {
    {"carry into the hour", 12, 59, 40, 65658, 13, 0, 40},
    {"borrow from the hour", 10, 0, 0, 65657, 9, 59, 0},
    {"wrap past midnight", 23, 59, 5, 65658, 0, 0, 5},
    {"wrap back before midnight", 0, 0, 30, 65657, 23, 59, 30},
    {"fractional seconds kept", 6, 10, 12.5, 65658, 6, 11, 12.5},
    {"out of range hours wrap", 25, 0, 0, 65658, 1, 1, 0},
    {"garbled hours read as zero", std::numeric_limits<double>::quiet_NaN(), 5, 0, 65658, 0, 6, 0},
    {"infinite minutes read as zero", 3, std::numeric_limits<double>::infinity(), 0, 65657, 2, 59, 0},
};

TEST(KeyModelClock, SettingMovesOneMinuteWithCarryAndWrap) {
    for (const ClockCase& c : kClockCases) {
        SCOPED_TRACE(c.name);
        VariableStore vars;
        vars.set(3, c.hours);
        vars.set(4, c.minutes);
        vars.set(5, c.seconds);
        KeyModel model;
        model.apply({c.event, 0}, vars);
        EXPECT_DOUBLE_EQ(vars.get(3), c.new_hours);
        EXPECT_DOUBLE_EQ(vars.get(4), c.new_minutes);
        EXPECT_DOUBLE_EQ(vars.get(5), c.new_seconds);
    }
}

TEST(KeyModelClock, SixtyStepsOnMakeOneHour) {
    VariableStore vars;
    vars.set(3, 23.0);
    vars.set(4, 30.0);
    KeyModel model;
    for (int step = 0; step < 60; ++step) model.apply({65658, 0}, vars);
    EXPECT_EQ(vars.get(3), 0.0);
    EXPECT_EQ(vars.get(4), 30.0);
    for (int step = 0; step < 24 * 60; ++step) model.apply({65657, 0}, vars);
    EXPECT_EQ(vars.get(3), 0.0);
    EXPECT_EQ(vars.get(4), 30.0);
}

}  // namespace
