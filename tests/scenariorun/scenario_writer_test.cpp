// A session written as a scenario: values as a `set` line takes them, within
// the variable's range and to the dials' reading, and the text read back by
// the scenario reader as the same session.
#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <string>
#include <variant>

#include "frame/vocabulary.h"
#include "scenariorun/scenario.h"
#include "scenariorun/scenario_writer.h"

namespace {

namespace sc = scenario::command;

struct ValueCase {
    const char* variable;
    double shown;  // in the unit people read it in
    const char* text;
};

const ValueCase kValues[] = {
    {"airspeed", 185.34, "185.3 kt"},
    {"altitude", 9412.6, "9413 ft"},
    {"fuel_level.port_1", 0.78125, "0.7813 full"},
    {"normal_acceleration", 1.0049, "1 g"},
    {"heading", 359.97, "360 \u00B0"},
    {"bank", -0.01, "0 \u00B0"},  // never "-0"
    {"running.1", 1.0, "1"},
    {"clock_seconds", 7.0, "7 s"},
    // Held within the range, even where the decimals cannot write its end.
    {"boost.1", -14.396, "-14.39 lb/in\u00B2"},
    {"engine_speed.2", 7000.0, "5000 rpm"},
    {"oil_temperature.3", 72.04, "72 \u00B0C"},
};

TEST(ScenarioWriter, ValueTexts) {
    for (const ValueCase& c : kValues) {
        const sim::Variable variable = *sim::find_variable(c.variable);
        EXPECT_EQ(scenario::set_value_text(variable, variable.entry->reading.to_host(c.shown)), c.text) << c.variable;
    }
    const sim::Variable airspeed = *sim::find_variable("airspeed");
    EXPECT_EQ(scenario::set_value_text(airspeed, NAN), "0 kt");
}

// Runs a parsed scenario's sets and updates into a store.
struct Replayed {
    runtime::VariableStore vars;
    uint64_t updates = 0;
    std::string panel;
};

Replayed replay(const std::string& text) {
    const scenario::Scenario script = scenario::Scenario::parse(text, "recorded.txt");
    Replayed out;
    for (const scenario::ScenarioCommand& command : script.commands) {
        if (const auto* set = std::get_if<sc::Set>(&command.action)) out.vars.set(set->variable.token, set->value);
        if (const auto* update = std::get_if<sc::Update>(&command.action)) out.updates += update->count;
        if (const auto* panel = std::get_if<sc::Panel>(&command.action)) out.panel = panel->path;
    }
    return out;
}

TEST(ScenarioWriter, ReadsBackAsTheSession) {
    std::string text;
    scenario::ScenarioWriter writer([&text](std::string_view more) { text += more; });
    runtime::VariableStore vars;
    vars.set(sim::token::kIndicatedAirspeed, 150.0);
    vars.set(sim::token::manifold_pressure(0), sim::unit::kBoost.to_host(6.0));
    vars.set(sim::token::tank_level(2), 0.4 * sim::unit::kFullTankLevel);
    writer.start("../my panel/panel #2.cfg", {"recorded", ""}, vars);
    // Three updates that change nothing, then the airspeed and a tank move
    // before the fourth; the fifth changes by less than the dial shows.
    for (int i = 0; i < 3; ++i) writer.update(vars);
    vars.set(sim::token::kIndicatedAirspeed, 151.26);
    vars.set(sim::token::tank_level(2), 0.39 * sim::unit::kFullTankLevel);
    writer.update(vars);
    vars.set(sim::token::kIndicatedAirspeed, 151.27);
    writer.update(vars);
    writer.finish();
    EXPECT_EQ(writer.updates(), 5u);
    EXPECT_EQ(writer.bytes(), text.size());
    EXPECT_EQ(text.rfind("# recorded\n#\npanel \"../my panel/panel #2.cfg\"\n", 0), 0u) << text;
    EXPECT_NE(text.find("update 3\nset airspeed 151.3 kt\nset fuel_level.port_3 0.39 full\nupdate 2\n"),
              std::string::npos)
        << text;

    const Replayed back = replay(text);
    EXPECT_EQ(back.panel, "../my panel/panel #2.cfg");
    EXPECT_EQ(back.updates, 5u);
    EXPECT_NEAR(back.vars.get(sim::token::kIndicatedAirspeed), 151.27, 0.05);
    EXPECT_NEAR(back.vars.get(sim::token::manifold_pressure(0)), vars.get(sim::token::manifold_pressure(0)),
                144 * 0.005);
    EXPECT_NEAR(back.vars.get(sim::token::tank_level(2)), vars.get(sim::token::tank_level(2)), 1e-4 * 8388608);
    // Every variable of the vocabulary is set, in range, with the unit the reader takes.
    for (const std::string& name : sim::variable_names())
        EXPECT_NE(text.find("set " + name + " "), std::string::npos) << name;
}

TEST(ScenarioWriter, RefusesAPanelNoScenarioCanName) {
    scenario::ScenarioWriter writer([](std::string_view) {});
    EXPECT_THROW(writer.start("say \"hi\".cfg", {}, runtime::VariableStore{}), std::invalid_argument);
    EXPECT_THROW(writer.start("two\nlines.cfg", {}, runtime::VariableStore{}), std::invalid_argument);
}

}  // namespace
