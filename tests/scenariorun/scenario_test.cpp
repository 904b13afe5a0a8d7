// Scenarios: the text format with its errors and line numbers, and runs on a
// panel of fixture gauges and the bomb counter: variables, updates, the mouse,
// key events, failures, prints, snapshots and progress.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "frame/vocabulary.h"
#include "panelhost/panel.h"
#include "runtime/bench_fixture_support.h"
#include "scenariorun/scenario.h"

namespace {

namespace fx = bench_fixture;
namespace sc = scenario::command;
using fixture_support::HandlerCall;
using fixture_support::module_dir;
using scenario::Scenario;
using scenario::ScenarioError;
using scenario::ScenarioRunner;

// --- The format ---------------------------------------------------------------

constexpr const char* kEveryCommand = R"(# a session
panel ../panel/cockpit.cfg
scale 1.5

set 61 180          # airspeed
set L:Vq17_Nbr_Sum 4
update
update 25
click Altimeter 130 290
drag Throttle 40 80 to 40.5 -3
hold Starter_Switch 30 80 for 20
key 65820 8000
key 66587
key 1 -1
fail 20
restore Electrics
print 61 L:Bombs_dropped
snapshot out/frame_001.png
snapshot airspeed.png Airspeed
echo   engines running, climbing
update 900 until oil_temperature.2 >= 40 degC
)";

TEST(ScenarioFormat, ReadsEveryCommand) {
    // As a Windows editor saves it: with a byte-order mark in front.
    const Scenario scenario = Scenario::parse(std::string("\xEF\xBB\xBF") + kEveryCommand, "scenarios/takeoff.txt");
    ASSERT_EQ(scenario.commands.size(), 19u);
    const auto& c = scenario.commands;
    EXPECT_EQ(c[0].line, 2);
    EXPECT_EQ(std::get<sc::Panel>(c[0].action).path, "../panel/cockpit.cfg");
    EXPECT_DOUBLE_EQ(std::get<sc::Scale>(c[1].action).scale, 1.5);

    const auto& set_token = std::get<sc::Set>(c[2].action);
    EXPECT_EQ(set_token.variable.token, 61u);
    EXPECT_DOUBLE_EQ(set_token.value, 180.0);
    const auto& set_name = std::get<sc::Set>(c[3].action);
    EXPECT_EQ(set_name.variable.token, 0u);
    EXPECT_EQ(set_name.variable.name, "L:Vq17_Nbr_Sum");
    EXPECT_EQ(c[3].line, 6);

    EXPECT_EQ(std::get<sc::Update>(c[4].action).count, 1u);
    EXPECT_EQ(std::get<sc::Update>(c[5].action).count, 25u);

    const auto& click = std::get<sc::Click>(c[6].action);
    EXPECT_EQ(click.at.gauge, "Altimeter");
    EXPECT_DOUBLE_EQ(click.at.x, 130.0);
    EXPECT_DOUBLE_EQ(click.at.y, 290.0);

    const auto& drag = std::get<sc::Drag>(c[7].action);
    EXPECT_EQ(drag.from.gauge, "Throttle");
    EXPECT_DOUBLE_EQ(drag.from.y, 80.0);
    EXPECT_DOUBLE_EQ(drag.to_x, 40.5);
    EXPECT_DOUBLE_EQ(drag.to_y, -3.0);

    const auto& hold = std::get<sc::Hold>(c[8].action);
    EXPECT_EQ(hold.at.gauge, "Starter_Switch");
    EXPECT_EQ(hold.updates, 20u);

    EXPECT_EQ(std::get<sc::Key>(c[9].action).event, 65820u);
    EXPECT_EQ(std::get<sc::Key>(c[9].action).value, 8000u);
    EXPECT_EQ(std::get<sc::Key>(c[10].action).value, 0u);
    EXPECT_EQ(std::get<sc::Key>(c[11].action).value, 0xFFFFFFFFu);  // a negative value's pattern

    EXPECT_EQ(std::get<sc::Fail>(c[12].action).key, 20u);
    EXPECT_EQ(std::get<sc::Restore>(c[13].action).key, 20u);

    const auto& print = std::get<sc::Print>(c[14].action);
    ASSERT_EQ(print.variables.size(), 2u);
    EXPECT_EQ(print.variables[0].text(), "airspeed");
    EXPECT_EQ(print.variables[1].text(), "L:Bombs_dropped");

    EXPECT_EQ(std::get<sc::Snapshot>(c[15].action).path, "out/frame_001.png");
    EXPECT_EQ(std::get<sc::Snapshot>(c[15].action).gauge, "");
    EXPECT_EQ(std::get<sc::Snapshot>(c[16].action).gauge, "Airspeed");
    EXPECT_EQ(std::get<sc::Echo>(c[17].action).text, "engines running, climbing");
    EXPECT_EQ(c[17].line, 20);
    const auto& until = std::get<sc::Update>(c[18].action);
    EXPECT_EQ(until.count, 900u);
    ASSERT_TRUE(until.until.has_value());
    EXPECT_EQ(until.until->variable.text(), "oil_temperature.2");
    EXPECT_EQ(until.until->compare, sc::Until::kAtLeast);
    EXPECT_DOUBLE_EQ(until.until->value, sim::unit::kRankineAtFreezing + 40.0 / sim::unit::kCelsiusPerRankine);
    EXPECT_EQ(until.until->text, "oil_temperature.2 >= 40 degC");

    EXPECT_EQ(scenario.panel_path(), "panel/cockpit.cfg");
    EXPECT_DOUBLE_EQ(scenario.scale(), 1.5);
}

TEST(ScenarioFormat, WithoutPanelOrScale) {
    const Scenario scenario = Scenario::parse("update 2\n", "s.txt");
    EXPECT_EQ(scenario.panel_path(), "");
    EXPECT_DOUBLE_EQ(scenario.scale(), 1.0);
}

struct BadScenario {
    const char* name;
    const char* text;
    int line;
    const char* message;
};

const BadScenario kBadScenarios[] = {
    {"unknown command", "update 1\n\njump 3\n", 3, "unknown command 'jump'"},
    {"misspelt command", "clik Altimeter 1 1\n", 1, "unknown command 'clik' (did you mean 'click'?)"},
    {"set without value", "set 61\n", 1, "usage: set"},
    {"set of a bad name", "set speed 3\n", 1, "unknown variable 'speed': expected a token number, a name"},
    {"set of a misspelt name", "set fuel_levl.port_1 0.5\n", 1,
     "unknown variable 'fuel_levl.port_1' (did you mean 'fuel_level.port_1'?)"},
    {"print of a misspelt name", "update\nprint airspeed engine_sped.3\n", 2,
     "unknown variable 'engine_sped.3' (did you mean 'engine_speed.3'?)"},
    {"engine out of range", "set engine_speed.5 1200\n", 1, "unknown variable 'engine_speed.5'"},
    {"key of a misspelt event", "key bomb_relased\n", 1,
     "unknown event 'bomb_relased' (did you mean 'bomb_released'?)"},
    {"set of token zero", "set 0 3\n", 1, "variable token '0'"},
    {"set of a non-number", "# first\nset 61 fast\n", 2, "value 'fast' is not a number"},
    {"update of zero", "update 0\n", 1, "update count '0'"},
    {"update of too many", "update 10000001\n", 1, "update count"},
    {"update until without its most", "update until running.1 > 0\n", 1, "usage: update [count] or update <most>"},
    {"update while", "update 9 while running.1 > 0\n", 1, "usage: update"},
    {"update until equal", "update 9 until running.1 = 1\n", 1, "compare with >, >=, < or <=, not '='"},
    {"update until beyond the range", "update 9 until throttle.1 > 120\n", 1, "throttle.1 takes 0 to 100"},
    {"click without y", "click Altimeter 130\n", 1, "usage: click"},
    {"click at a word", "click Altimeter here 3\n", 1, "x 'here' is not a number"},
    {"drag without to", "drag Throttle 1 2 3 4 5\n", 1, "usage: drag"},
    {"hold without for", "hold Starter_Switch 1 2 in 5\n", 1, "usage: hold"},
    {"hold of no updates", "hold Starter_Switch 1 2 for 0\n", 1, "hold count"},
    {"key without event", "key\n", 1, "usage: key"},
    {"key of event zero", "key 0\n", 1, "event id"},
    {"key value too large", "key 1 4294967296\n", 1, "event value"},
    {"fail of key zero", "fail 0\n", 1, "failure key"},
    {"fail of a misspelt failure", "fail airsped\n", 1, "unknown failure 'airsped' (did you mean 'airspeed'?)"},
    {"restore of an unknown failure", "restore wings\n", 1,
     "unknown failure 'wings': expected a failure key or pitot_static, airspeed, "},
    {"restore of two keys", "restore 1 2\n", 1, "usage: restore"},
    {"print of nothing", "print\n", 1, "usage: print"},
    {"snapshot of nothing", "snapshot\n", 1, "usage: snapshot"},
    {"snapshot under another format's name", "snapshot x.jpg\n", 1, "expected a file name ending in .png"},
    {"snapshot without an extension", "snapshot png\n", 1, "ending in .png"},
    {"snapshot climbing out of --out", "snapshot shots/../../x.png\n", 1, "inside the output directory, without '..'"},
    {"snapshot to an absolute path", "snapshot /tmp/x.png\n", 1, "not an absolute one"},
    {"snapshot to a drive", "snapshot C:\\x.png\n", 1, "not an absolute one"},
    {"set in a unit the variable is not read in", "set airspeed 180 mph\n", 1,
     "airspeed takes a value in knots (kt, kts, knots, kn), not one in 'mph'"},
    {"set of a unit on a switch", "set magneto_1.1 1 on\n", 1, "magneto_1.1 has no unit"},
    {"set of a unit on a program's variable", "set L:Note 3 kt\n", 1, "L:Note is a program's variable"},
    {"set beyond the range", "update\nset fuel_level.port_1 2\n", 2,
     "fuel_level.port_1 takes 0 to 1 (fraction of full), not 2"},
    {"set beyond the range in another unit", "set fuel_level.port_1 150 %\n", 1, "not 150 %"},
    {"set below the range", "set oil_temperature.2 -300 degC\n", 1, "takes -60 to 160 (degrees Celsius)"},
    {"set by number beyond the range", "set 291 16777216\n", 1,
     "token 291 (fuel_level.port_1) takes 0 to 8388608 as the host keeps it"},
    {"key value beyond the event's range", "key throttle_set.1 99999\n", 1,
     "throttle_set.1 takes a whole number from 0 to 16383"},
    {"key value by id beyond the range", "key 65820 -1\n", 1, "throttle_set.1 takes a whole number"},
    {"key value for an event that carries none", "key bomb_released 3\n", 1, "bomb_released carries no value"},
    {"unterminated quote", "update\nsnapshot \"a b.png\n", 2, "unterminated quote: the '\"' at column 10"},
    {"quoted empty gauge", "click \"\" 1 2\n", 1, "the gauge's name is empty"},
    {"scale out of range", "scale 17\n", 1, "scale must lie above 0 and at most 16, not 17"},
    {"panel after an action", "update 1\npanel p.cfg\n", 2, "must come before the first action"},
    {"panel twice", "panel a.cfg\npanel b.cfg\n", 2, "given twice"},
    // Only decimal numbers: strtod's other forms would pass as values.
    {"set in hexadecimal", "set airspeed 0x10\n", 1, "value '0x10' is not a number: expected a decimal one"},
    {"set in hexadecimal with a unit", "set airspeed 0X10kt\n", 1, "value '0X10kt' is not a number"},
    {"set of a hexadecimal float", "set airspeed 0x1p4\n", 1, "value '0x1p4' is not a number"},
    {"set of infinity", "set airspeed inf\n", 1, "value 'inf' is not a number"},
    {"set of not a number", "set airspeed -nan\n", 1, "value '-nan' is not a number"},
    {"set too large", "set airspeed 1e999\n", 1, "value '1e999' is too large a number"},
    {"token in hexadecimal", "set 0x3d 100\n", 1, "variable token '0x3d' is not a number"},
    {"update count in hexadecimal", "update 0x10\n", 1, "update count '0x10' is not a number"},
    {"click at infinity", "click Altimeter inf 3\n", 1, "x 'inf' is not a number"},
    {"heading past its end", "set heading 360.0000001\n", 1, "heading takes 0 to 360"},
    {"heading before its start", "set heading -0.0000001\n", 1, "heading takes 0 to 360"},
};

// A value with a unit is converted to the host's unit through the variable's
// reading, whether the variable is named or numbered.
TEST(ScenarioFormat, ValuesTakeTheUnitsOfTheirVariables) {
    struct Case {
        const char* line;
        uint32_t token;
        double host;
    };
    const Case cases[] = {
        {"set airspeed 180 kt", 61, 180.0},
        {"set airspeed 180kt", 61, 180.0},
        {"set altitude 9000 ft", 74, 9000.0},
        {"set boost.1 7 lb/in\u00B2", 391, 3081.0},
        {"set boost.1 7 psi", 391, 3081.0},
        {"set 391 7 lb/in2", 391, 3081.0},
        {"set oil_temperature.1 70 \u00B0C", 416, 492.0 + 70.0 / sim::unit::kCelsiusPerRankine},
        {"set oil_temperature.1 70 degC", 416, 492.0 + 70.0 / sim::unit::kCelsiusPerRankine},
        {"set throttle.1 50 %", 128, 16383.0 / 2.0},
        {"set fuel_level.port_1 50 %", 291, sim::unit::kFullTankLevel / 2.0},
        {"set vertical_speed 800 ft/min", 65, 800.0 / sim::unit::kVsiFeetPerMinutePerUnit},
        {"set normal_acceleration 2 g", 351, 1234.0},
        {"set pressure_setting 1013 hPa", 75, 1013.0},
        {"set engine_speed.2 2850 rpm", 429, 2850.0},
        {"set heading 360", 81, 360.0},
        {"set heading 0", 81, 0.0},
        {"set airspeed +1.5e2", 61, 150.0},
        {"set airspeed 180.", 61, 180.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const Scenario scenario = Scenario::parse(c.line, "units.txt");
        const auto& set = std::get<sc::Set>(scenario.commands.at(0).action);
        EXPECT_EQ(set.variable.token, c.token);
        EXPECT_NEAR(set.value, c.host, 1e-6);
    }
}

TEST(ScenarioFormat, QuotesKeepBlanksAndHashesInAWord) {
    const Scenario scenario = Scenario::parse(
        "panel \"my panelhost/a panel.cfg\"  # the cockpit\nsnapshot \"shot #1.png\" \"Fixture_Dials\"\necho 5\" dial\n",
        "dir/q.txt");
    ASSERT_EQ(scenario.commands.size(), 3u);
    EXPECT_EQ(scenario.panel_path(), "dir/my panelhost/a panel.cfg");
    EXPECT_EQ(std::get<sc::Snapshot>(scenario.commands[1].action).path, "shot #1.png");
    EXPECT_EQ(std::get<sc::Snapshot>(scenario.commands[1].action).gauge, "Fixture_Dials");
    EXPECT_EQ(std::get<sc::Echo>(scenario.commands[2].action).text, "5\" dial");  // echo's text as it stands
}

TEST(ScenarioFormat, FilesAreReadAsPanelConfigurationsAre) {
    for (const std::string& path : {testing::TempDir(), std::string("/dev/zero")}) {
        SCOPED_TRACE(path);
        try {
            Scenario::read_file(path);
            ADD_FAILURE() << "accepted";
        } catch (const ScenarioError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(path + ": ", 0), 0u) << error.what();
        }
    }
}

TEST(ScenarioFormat, ErrorsNameTheLine) {
    for (const BadScenario& bad : kBadScenarios) {
        SCOPED_TRACE(bad.name);
        try {
            Scenario::parse(bad.text, "bad.txt");
            ADD_FAILURE() << "accepted";
        } catch (const ScenarioError& error) {
            EXPECT_EQ(error.line(), bad.line);
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("bad.txt:" + std::to_string(bad.line) + ": ", 0), 0u) << message;
            EXPECT_NE(message.find(bad.message), std::string::npos) << message;
        }
    }
}

// --- Runs -----------------------------------------------------------------------

// Fixture_Panel shown at twice its size, the dials beside it, the counter.
constexpr const char* kPanel = R"([Window00]
gauge00=BenchFixture!Fixture_Panel, 0, 0, 600
gauge01=BenchFixture!Fixture_Dials, 600, 0
gauge02=Dropwatch!Dropwatch, 0, 400, 50
)";

class ScenarioRun : public ::testing::Test {
protected:
    runtime::Host host;
    panels::Panel panel{host, panels::PanelConfig::parse(kPanel, "bench.cfg"), panels::ModulePaths{module_dir(), {}},
                        1.0, [](runtime::Module& module) {
                            module.override_bitmap_size(fx::kPanelBackground, fixture_support::kPanelWidth,
                                                        fixture_support::kPanelHeight);
                            module.override_bitmap_size(fx::kDialsBackground, fixture_support::kDialsWidth,
                                                        fixture_support::kDialsHeight);
                        }};
    std::FILE* out = std::tmpfile();
    std::FILE* progress = std::tmpfile();
    struct Shot {
        const panels::Panel::Gauge* gauge;
        std::string path;
    };
    std::vector<Shot> shots;
    ScenarioRunner runner{panel,
                          [this](const panels::Panel&, const panels::Panel::Gauge* gauge, const std::string& path) {
                              shots.push_back({gauge, path});
                          },
                          out, progress};

    ~ScenarioRun() override {
        std::fclose(out);
        std::fclose(progress);
    }

    void run(const std::string& text) { runner.run(Scenario::parse(text, "run.txt")); }

    static std::string read(std::FILE* file) {
        std::fflush(file);
        std::rewind(file);
        std::string text;
        char buffer[256];
        size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
        return text;
    }

    std::vector<HandlerCall> handler_calls(uint32_t base) const {
        std::vector<HandlerCall> calls = fixture_support::handler_calls(host);
        std::erase_if(calls, [base](const HandlerCall& call) { return call.base != base; });
        return calls;
    }
};

TEST_F(ScenarioRun, SetsVariablesUpdatesAndPrints) {
    run("set 61 180\nset L:Note 2.5\nupdate 3\nprint 61 L:Note 62\necho done\n");
    EXPECT_EQ(runner.updates_run(), 3u);
    EXPECT_EQ(read(out), "[update 3]  airspeed = 180 kt  L:Note = 2.5  62 = 0\ndone\n");
    // Every gauge had its set-up and three updates.
    for (const panels::Panel::Gauge& gauge : panel.gauges()) EXPECT_TRUE(gauge.instance->is_set_up());
    size_t dials_updates = 0;
    for (const runtime::KeyEvent& event : host.key_log()) {
        if (event.id == fx::service_report(0, kServiceUpdate)) ++dials_updates;
    }
    EXPECT_EQ(dials_updates, 3u);
}

// An update waits for a condition, at most its count: the engine started
// with a magneto on runs KeyModel::kStartUpdates updates later; one that
// never comes true runs them all and says so.
TEST_F(ScenarioRun, UpdatesUntilAConditionHolds) {
    run("key magneto_1_toggle.1\nkey engine_start.1\nupdate 50 until running.1 >= 1\nprint running.1\n"
        "update 7 until engine_speed.1 > 4000 rpm\nupdate 5 until running.1 > 0\n");
    EXPECT_EQ(read(out), "[update " + std::to_string(runtime::KeyModel::kStartUpdates) + "]  running.1 = 1\n");
    EXPECT_EQ(runner.updates_run(), runtime::KeyModel::kStartUpdates + 7u);
    ASSERT_EQ(runner.warnings().size(), 1u);
    EXPECT_EQ(runner.warnings()[0], "run.txt:5: 'engine_speed.1 > 4000 rpm' did not come true in 7 updates");
}

TEST_F(ScenarioRun, ClicksAtBitmapPointsWhateverTheDisplaySize) {
    // The panel gauge is shown at twice its size: (15, 30) on its bitmap is a
    // displayed (30, 60), which lies 10 and 20 displayed pixels into the left box.
    run("click Fixture_Panel 15 30\n");
    const std::vector<HandlerCall> calls = handler_calls(fx::kHandlerLeft);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].x, (15 - fx::kLeftBox.x) * 2);
    EXPECT_EQ(calls[0].y, (30 - fx::kLeftBox.y) * 2);
    EXPECT_EQ(calls[0].flags, kMouseClick);
}

TEST_F(ScenarioRun, DragsInStepsToTheEndPoint) {
    const fx::Box box = fx::kLeverBox;
    run("drag Fixture_Panel 20 110 to 20 80\n");
    const std::vector<HandlerCall> calls = handler_calls(fx::kHandlerLever);
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls.front().y, (110 - box.y) * 2);
    EXPECT_EQ(calls.back().y, (80 - box.y) * 2);
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].flags, kMouseDrag);
        EXPECT_LT(calls[i].y, calls[i - 1].y);  // upward all the way
    }
    // The drag is over: a later move reaches no handler.
    const size_t before = host.key_log().size();
    panel.find("Fixture_Panel")->instance->move(40, 40);
    EXPECT_EQ(host.key_log().size(), before);
}

TEST_F(ScenarioRun, HoldsAButtonThroughUpdates) {
    run("hold Fixture_Panel 120 30 for 5\nupdate 2\n");
    const std::vector<HandlerCall> calls = handler_calls(fx::kHandlerKnob);
    ASSERT_EQ(calls.size(), 6u);  // the press and one repeat per update held
    EXPECT_EQ(calls[0].flags, kMouseClickRepeat & (kMouseClick | kMouseDrag));
    for (size_t i = 1; i < calls.size(); ++i) EXPECT_EQ(calls[i].flags, kMouseRepeat);
    EXPECT_EQ(runner.updates_run(), 7u);
}

TEST_F(ScenarioRun, SendsKeysAndFailsAndRestores) {
    run("key " + std::to_string(sim::event::throttle_set(0)) + " 8000\nfail 31\nfail 32\nrestore 31\n");
    EXPECT_DOUBLE_EQ(host.vars().get(sim::token::throttle_lever(0)), 8000.0);
    EXPECT_FALSE(host.is_failed(31));
    EXPECT_TRUE(host.is_failed(32));
}

TEST_F(ScenarioRun, PlaysABombRunThroughTheCalculator) {
    // The sequence starts after 36 updates, two seconds of host time.
    run("set L:Vq17_Nbr_Sum 4\nset L:Vq17_Interv_Sum 1.5\nupdate 36\nkey 66587\nkey 66658\nkey 66658\n"
        "print L:Bombs_dropped L:Repeat L:Elapsed\n");
    EXPECT_EQ(read(out), "[update 36]  L:Bombs_dropped = 2  L:Repeat = 4  L:Elapsed = 0.5\n");
    EXPECT_TRUE(runner.calculator().errors().empty());
}

TEST_F(ScenarioRun, SnapshotsUnderTheOutputDirectory) {
    runner.set_output_dir(testing::TempDir() + "scenario_run");
    run("snapshot a.png\nupdate\nsnapshot sub/b.png Fixture_Dials\n");
    ASSERT_EQ(shots.size(), 2u);
    EXPECT_EQ(shots[0].gauge, nullptr);
    EXPECT_EQ(shots[1].gauge, panel.find("Fixture_Dials"));
    EXPECT_NE(shots[0].path.find("scenario_run"), std::string::npos);
    EXPECT_NE(shots[1].path.find("b.png"), std::string::npos);
    EXPECT_EQ(runner.snapshots().size(), 2u);
    EXPECT_NE(read(progress).find("wrote"), std::string::npos);
}

TEST_F(ScenarioRun, ReportsProgressEveryNUpdates) {
    runner.set_progress_every(4);
    run("update 10\nupdate 3\n");
    const std::string text = read(progress);
    size_t lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 3u) << text;  // at 4, 8 and 12
    EXPECT_NE(text.find("run.txt:1: 8 updates run"), std::string::npos) << text;
    EXPECT_NE(text.find("run.txt:2: 12 updates run"), std::string::npos) << text;
}

// Names read and write in the unit people read; numbers in the host's own.
// Both spellings of a session leave the host in the same state.
TEST_F(ScenarioRun, NamesActAsTheNumbersTheyStandFor) {
    const std::vector<uint32_t> touched = {61, 416, 391, 291, 351, 333, 163, 80};
    const auto state = [&] {
        std::vector<double> values;
        for (uint32_t token : touched) values.push_back(host.vars().get(token));
        for (uint32_t token : touched) host.vars().set(token, 0.0);
        return values;
    };
    run("set 61 180\nset 416 519\nset 391 3081\nset 291 4194304\nset 351 1234\nset 333 16383\nset 80 -15\n"
        "key 65821 8000\nupdate 2\n");
    const std::vector<double> by_number = state();
    run("set airspeed 180\nset oil_temperature.1 15\nset boost.1 7\nset fuel_level.port_1 0.5\n"
        "set normal_acceleration 2\nset undercarriage.port 100\nset bank -15\nkey throttle_set.2 8000\nupdate 2\n");
    const std::vector<double> by_name = state();
    for (size_t i = 0; i < touched.size(); ++i) EXPECT_NEAR(by_name[i], by_number[i], 1e-3) << touched[i];
    EXPECT_NE(by_number[6], 0.0);  // the key event moved the lever

    run("set boost.2 -2\nprint boost.2 430 throttle.2 oil_temperature.3\n");
    EXPECT_NE(read(out).find("boost.2 = -2 lb/in\u00B2  boost.2 = -2 lb/in\u00B2  throttle.2 = "), std::string::npos)
        << read(out);
}

TEST_F(ScenarioRun, UnknownGaugeStopsTheRunBeforeItStarts) {
    struct Unknown {
        const char* text;
        const char* message;
    };
    const Unknown unknowns[] = {
        {"set 61 5\nclick Airspeed 1 2\n", "no gauge 'Airspeed' on the panel"},
        {"set 61 5\ndrag Nowhere 1 2 to 3 4\n", "no gauge 'Nowhere'"},
        {"set 61 5\nhold Fixture_Dialz 1 2 for 3\n",
         "no gauge 'Fixture_Dialz' on the panel (did you mean 'Fixture_Dials'?)"},
        {"set 61 5\nsnapshot x.png Clock\n", "no gauge 'Clock'"},
    };
    for (const Unknown& unknown : unknowns) {
        SCOPED_TRACE(unknown.text);
        try {
            run(unknown.text);
            FAIL() << "ran";
        } catch (const ScenarioError& error) {
            EXPECT_EQ(error.line(), 2);
            EXPECT_NE(std::string(error.what()).find(unknown.message), std::string::npos) << error.what();
        }
        EXPECT_EQ(host.vars().get(61), 0.0);
    }
}

TEST_F(ScenarioRun, WarnsOfPressesOutsideTheGaugeAndOfVariablesNothingUses) {
    // Fixture_Panel's bitmap is 300 x 200 (shown at 600 x 400): x 300 is past its edge.
    // L:Repeat is printed before the counter's program sets it: no slip.
    run("set L:Note 1\nclick Fixture_Panel 300 30\ndrag Fixture_Panel 20 -1 to 20 80\nclick Fixture_Panel 299 199\n"
        "print L:Note L:Nope L:Repeat 61\nkey 66587\nprint L:Nope\n");
    const std::vector<std::string> expected = {
        "run.txt:2: the point 300, 30 lies outside gauge 'Fixture_Panel' (300 x 200 pixels)",
        "run.txt:3: the point 20, -1 lies outside gauge 'Fixture_Panel'",
        "run.txt:5: L:Nope is printed, but nothing set or read it",
    };
    ASSERT_EQ(runner.warnings().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(runner.warnings()[i].rfind(expected[i], 0), 0u) << runner.warnings()[i];
    }
    EXPECT_NE(read(progress).find("warning: run.txt:5: L:Nope"), std::string::npos);
}

}  // namespace
