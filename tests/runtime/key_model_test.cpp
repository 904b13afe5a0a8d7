// The host's model of the aircraft: each key event's effect on the simulator
// variables, engine starts with and without ignition, and the clock setting.
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <string>
#include <vector>

#include "frame/vocabulary.h"
#include "runtime/key_model.h"

namespace {

using runtime::KeyModel;
using runtime::VariableStore;
namespace token = sim::token;
namespace event = sim::event;

struct EventCase {
    const char* name;
    std::map<uint32_t, double> before;
    uint32_t id;
    uint32_t value;
    std::map<uint32_t, double> after;  // every token the event must leave like this
};

std::vector<EventCase> event_cases() {
    const uint32_t pressure = token::kPressureSetting;
    const uint32_t magneto = token::first_magneto(0);
    std::vector<EventCase> cases = {
        {"altimeter in sixteenths of a millibar", {}, event::kAltimeterSetting, 16209, {{pressure, 1013.0625}}},
        {"altimeter zero", {{pressure, 990.0}}, event::kAltimeterSetting, 0, {{pressure, 0.0}}},
        {"magneto off", {{magneto, 1.0}}, event::first_magneto_toggle(0), 0, {{magneto, 0.0}}},
        {"magneto odd reading reads as on", {{magneto, 0.5}}, event::first_magneto_toggle(0), 0, {{magneto, 0.0}}},
        {"unknown event",
         {{token::throttle_lever(0), 3.0}},
         event::throttle_set(0) - 1,
         77,
         {{token::throttle_lever(0), 3.0}, {pressure, 0.0}}},
        {"start without ignition", {}, event::engine_start(0), 4, {{token::engine_running(0), 0.0}}},
    };
    // A lever takes the event's value; a magneto switches on, whatever the value.
    for (int e = 0; e < sim::kEngineCount; ++e) {
        cases.push_back({"throttle", {}, event::throttle_set(e), 8190, {{token::throttle_lever(e), 8190.0}}});
        cases.push_back({"propeller", {}, event::propeller_set(e), 8190, {{token::propeller_lever(e), 8190.0}}});
        cases.push_back({"magneto 1", {}, event::first_magneto_toggle(e), 8190, {{token::first_magneto(e), 1.0}}});
        cases.push_back({"magneto 2", {}, event::second_magneto_toggle(e), 8190, {{token::second_magneto(e), 1.0}}});
    }
    return cases;
}

TEST(KeyModelEvents, EachEventSetsItsVariable) {
    for (const EventCase& c : event_cases()) {
        SCOPED_TRACE(std::string(c.name) + ", event " + std::to_string(c.id));
        VariableStore vars;
        for (const auto& [number, value] : c.before) vars.set(number, value);
        KeyModel model;
        model.apply({c.id, c.value}, vars);
        for (const auto& [number, value] : c.after) EXPECT_DOUBLE_EQ(vars.get(number), value) << "token " << number;
        // Nothing beyond the named tokens appears.
        for (const auto& [number, value] : vars.tokens()) {
            EXPECT_TRUE(c.after.count(number) != 0 || c.before.count(number) != 0) << "token " << number << " set";
        }
    }
}

struct StartCase {
    const char* name;
    int engine;  // 0..3
    bool first_magneto;
    bool second_magneto;
    bool alternate;  // the second start family
    bool catches;
};

const StartCase kStartCases[] = {
    {"engine 1, first magneto", 0, true, false, false, true},
    {"engine 1, second magneto, other start", 0, false, true, true, true},
    {"engine 2, both magnetos", 1, true, true, false, true},
    {"engine 2, no ignition", 1, false, false, false, false},
    {"engine 3, first magneto, other start", 2, true, false, true, true},
    {"engine 3, no ignition, other start", 2, false, false, true, false},
    {"engine 4, second magneto", 3, false, true, false, true},
    {"engine 4, no ignition, other start", 3, false, false, true, false},
};

TEST(KeyModelEngineStart, CatchesAfterTheStartUpdatesOnlyWithIgnition) {
    for (const StartCase& c : kStartCases) {
        SCOPED_TRACE(c.name);
        VariableStore vars;
        vars.set(token::first_magneto(c.engine), c.first_magneto ? 1.0 : 0.0);
        vars.set(token::second_magneto(c.engine), c.second_magneto ? 1.0 : 0.0);
        KeyModel model;
        model.apply({c.alternate ? event::engine_start_alternate(c.engine) : event::engine_start(c.engine), 0}, vars);
        for (int tick = 1; tick < KeyModel::kStartUpdates; ++tick) {
            model.tick(vars);
            EXPECT_EQ(vars.get(token::engine_running(c.engine)), 0.0) << "running early, after tick " << tick;
        }
        model.tick(vars);
        EXPECT_EQ(vars.get(token::engine_running(c.engine)), c.catches ? 1.0 : 0.0);
        for (int tick = 0; tick < 3 * KeyModel::kStartUpdates; ++tick) model.tick(vars);
        EXPECT_EQ(vars.get(token::engine_running(c.engine)), c.catches ? 1.0 : 0.0);
        for (int other = 0; other < sim::kEngineCount; ++other) {
            if (other == c.engine) continue;
            EXPECT_EQ(vars.get(token::engine_running(other)), 0.0) << "engine " << other + 1;
        }
    }
}

TEST(KeyModelEngineStart, HeldStarterDoesNotPostponeTheCatch) {
    VariableStore vars;
    vars.set(token::first_magneto(2), 1.0);
    KeyModel model;
    for (int tick = 0; tick < KeyModel::kStartUpdates; ++tick) {
        model.apply({event::engine_start(2), 4}, vars);  // a repeat of the held button at every update
        model.tick(vars);
    }
    EXPECT_EQ(vars.get(token::engine_running(2)), 1.0);
}

TEST(KeyModelEngineStart, IgnitionAfterTheStartEventDoesNotCatch) {
    VariableStore vars;
    KeyModel model;
    model.apply({event::engine_start(0), 4}, vars);          // cranks with both magnetos off
    model.apply({event::first_magneto_toggle(0), 0}, vars);  // then the ignition comes on
    for (int tick = 0; tick < 2 * KeyModel::kStartUpdates; ++tick) model.tick(vars);
    EXPECT_EQ(vars.get(token::engine_running(0)), 0.0);
    model.apply({event::engine_start(0), 4}, vars);  // a fresh start now catches
    for (int tick = 0; tick < KeyModel::kStartUpdates; ++tick) model.tick(vars);
    EXPECT_EQ(vars.get(token::engine_running(0)), 1.0);
}

struct ClockCase {
    const char* name;
    double hours, minutes, seconds;
    uint32_t id;
    double new_hours, new_minutes, new_seconds;
};

constexpr uint32_t kBack = event::kClockMinuteBack;
constexpr uint32_t kOn = event::kClockMinuteOn;

const ClockCase kClockCases[] = {
    {"carry into the hour", 12, 59, 40, kOn, 13, 0, 40},
    {"borrow from the hour", 10, 0, 0, kBack, 9, 59, 0},
    {"wrap past midnight", 23, 59, 5, kOn, 0, 0, 5},
    {"wrap back before midnight", 0, 0, 30, kBack, 23, 59, 30},
    {"fractional seconds kept", 6, 10, 12.5, kOn, 6, 11, 12.5},
    {"out of range hours wrap", 25, 0, 0, kOn, 1, 1, 0},
    {"garbled hours read as zero", std::numeric_limits<double>::quiet_NaN(), 5, 0, kOn, 0, 6, 0},
    {"infinite minutes read as zero", 3, std::numeric_limits<double>::infinity(), 0, kBack, 2, 59, 0},
};

TEST(KeyModelClock, SettingMovesOneMinuteWithCarryAndWrap) {
    for (const ClockCase& c : kClockCases) {
        SCOPED_TRACE(c.name);
        VariableStore vars;
        vars.set(token::kClockHours, c.hours);
        vars.set(token::kClockMinutes, c.minutes);
        vars.set(token::kClockSeconds, c.seconds);
        KeyModel model;
        model.apply({c.id, 0}, vars);
        EXPECT_DOUBLE_EQ(vars.get(token::kClockHours), c.new_hours);
        EXPECT_DOUBLE_EQ(vars.get(token::kClockMinutes), c.new_minutes);
        EXPECT_DOUBLE_EQ(vars.get(token::kClockSeconds), c.new_seconds);
    }
}

TEST(KeyModelClock, SixtyStepsOnMakeOneHour) {
    VariableStore vars;
    vars.set(token::kClockHours, 23.0);
    vars.set(token::kClockMinutes, 30.0);
    KeyModel model;
    for (int step = 0; step < 60; ++step) model.apply({kOn, 0}, vars);
    EXPECT_EQ(vars.get(token::kClockHours), 0.0);
    EXPECT_EQ(vars.get(token::kClockMinutes), 30.0);
    for (int step = 0; step < 24 * 60; ++step) model.apply({kBack, 0}, vars);
    EXPECT_EQ(vars.get(token::kClockHours), 0.0);
    EXPECT_EQ(vars.get(token::kClockMinutes), 30.0);
}

}  // namespace

// The store the model writes: tokens read through its cache, and copies
// (the live panel keeps one to go back to) that read their own values.
TEST(VariableStore, CopiesReadTheirOwnValues) {
    VariableStore store;
    store.set(token::kClockHours, 2.0);
    EXPECT_EQ(store.get(token::kClockHours), 2.0);
    EXPECT_EQ(store.get(token::kClockHours + 256), 0.0);  // the same slot of the cache, never set
    VariableStore copy = store;
    copy.set(token::kClockHours, 3.0);
    EXPECT_EQ(store.get(token::kClockHours), 2.0);
    EXPECT_EQ(copy.get(token::kClockHours), 3.0);
    store = copy;
    copy.set(token::kClockHours, 4.0);
    EXPECT_EQ(store.get(token::kClockHours), 3.0);
    store.set(token::kClockHours + 256, 5.0);
    EXPECT_EQ(store.get(token::kClockHours + 256), 5.0);
    EXPECT_EQ(store.get(token::kClockHours), 3.0);
}
