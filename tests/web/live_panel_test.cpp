// The live panel without a server: what the page is told lies under the
// pointer, a scenario's starting state, and the reload of changed files.
#include "web/live_panel.h"
#include "web/page_messages.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "frame/vocabulary.h"
#include "frame/vocabulary_names.h"
#include "scenariorun/scenario_prelude.h"
#include "support/test_paths.h"

namespace {

namespace fs = std::filesystem;

class LivePanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("live_panel_test_" + std::to_string(::getpid()));
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A panel of the airspeed indicator alone, at (left, 20), 220 wide.
    std::string write_panel(int left) const {
        const fs::path path = dir_ / "panel.cfg";
        std::ofstream(path) << "[Window00]\nsize_mm=600,300\nvisible=1\ngauge00=Korvane!Airspeed, " << left
                            << ", 20, 220\n";
        return path.string();
    }
    web::LiveOptions options(const std::string& panel) const {
        web::LiveOptions live;
        live.panel_path = panel;
        live.paths.module_dir = fs::path(test_paths::module("Korvane.gau")).parent_path().string();
        return live;
    }
    static nlohmann::json status(const web::LivePanel& panel) { return nlohmann::json::parse(web::status_message(panel, 1, 1)); }

    fs::path dir_;
};

TEST_F(LivePanelTest, PointerNamesWhatLiesBeneath) {
    web::LivePanel panel(options(write_panel(40)));
    panel.step();
    struct Case {
        int x, y;
        bool gauge;
    };
    for (const Case& c : {Case{150, 130, true}, Case{40, 20, true}, Case{39, 20, false}, Case{500, 200, false}}) {
        const nlohmann::json info = nlohmann::json::parse(web::pointer_message(panel, c.x, c.y));
        EXPECT_EQ(info.contains("gauge"), c.gauge) << c.x << "," << c.y;
        if (c.gauge) {
            EXPECT_EQ(info["gauge"], "Korvane!Airspeed");
        }
    }
    // Background-bitmap pixels from the gauge's corner; its middle shows the
    // dial (a face at least).
    const nlohmann::json corner = nlohmann::json::parse(web::pointer_message(panel, 40, 20));
    const nlohmann::json middle = nlohmann::json::parse(web::pointer_message(panel, 150, 130));
    EXPECT_EQ(corner["pixel"], nlohmann::json::array({0.0, 0.0}));
    EXPECT_GT(middle["pixel"][0].get<double>(), 50.0);
    EXPECT_GT(middle["pixel"][1].get<double>(), 50.0);
    ASSERT_TRUE(middle.contains("element"));
    EXPECT_GT(middle["element"]["bitmap"].get<int>(), 0);
}

// What a pilot is told lies under the pointer: a switch by the key event its
// box sends, a starter's by the table of controls whose records say nothing,
// a lever by the variable its knob shows wherever in its box the knob is, an
// instrument by its tooltip (else its variable), each with the state it is
// in. Points are picture pixels, the gauges at their bitmaps' size.
TEST_F(LivePanelTest, PointerNamesTheControlAndItsStateForAPilot) {
    const fs::path path = dir_ / "controls.cfg";
    std::ofstream(path) << "[Window00]\nsize_mm=1400,700\nvisible=1\ngauge00=Korvane!Magneto_Switch, 0, 0\n"
                           "gauge01=Korvane!Starter_Switch, 0, 200\ngauge02=Korvane!Throttle, 400, 0\n"
                           "gauge03=Korvane!Airspeed, 700, 0\ngauge04=Korvane!Tachometer2, 1000, 0\n"
                           "gauge05=Korvane!Fuel_Quantity_Stbd_1, 700, 300\n";
    web::LiveOptions live = options(path.string());
    live.steady_state = [](runtime::Host& host) {
        host.vars().set(sim::token::first_magneto(1), 1.0);
        host.vars().set(sim::token::engine_running(1), 1.0);
        host.vars().set(sim::token::throttle_lever(0), 0.2 * sim::event::kLeverMaximum);
        host.vars().set(sim::token::throttle_lever(3), sim::event::kLeverMaximum);
        host.vars().set(sim::token::kIndicatedAirspeed, 161.8);
        host.vars().set(sim::token::engine_speed(1), 2650.0);
        host.vars().set(sim::token::tank_level(3), 0.85 * sim::unit::kFullTankLevel);
    };
    web::LivePanel panel(live);
    panel.step();
    const struct {
        int x, y;
        const char* name;
        const char* state;
    } cases[] = {
        {112, 69, "Magneto 1, engine 2", "ON"},
        {157, 69, "Magneto 2, engine 2", "OFF"},
        {37, 226, "Starter arming switch, engine 1", "OFF"},
        {112, 284, "Starter button, engine 2", "engine running"},
        {444, 57, "Throttle lever, engine 1", "20%"},  // the box's middle, the knob low in its slot
        {622, 57, "Throttle lever, engine 4", "100%"},
        {839, 60, "Airspeed indicator", "162 kt"},
        {1085, 40, "Engine speed (rpm), engine 2", "2650 rpm"},
        {760, 360, "Tank level, stbd 1", "85%"},
    };
    for (const auto& c : cases) {
        const nlohmann::json control = nlohmann::json::parse(web::pointer_message(panel, c.x, c.y))["control"];
        EXPECT_EQ(control.value("name", ""), c.name) << c.x << "," << c.y;
        EXPECT_EQ(control.value("state", ""), c.state) << c.x << "," << c.y;
    }
    // Armed, the arming switch's icon says so.
    web::Input click;
    click.kind = web::Input::kPress;
    click.x = 37;
    click.y = 226;
    panel.apply(click);
    click.kind = web::Input::kRelease;
    panel.apply(click);
    panel.step();
    EXPECT_EQ(nlohmann::json::parse(web::pointer_message(panel, 37, 226))["control"]["state"], "ARMED");
}

// The picture at the finest pixel ratio of the pages open (to the quarter
// above, 1 at least), back to the panel's own once they have gone (at the
// next update, here); the panel made again each time, its clock and
// variables kept.
TEST_F(LivePanelTest, PictureFollowsTheFinestPixelRatioOfThePagesOpen) {
    web::LiveOptions live = options(write_panel(40));
    live.scale = 0.5;
    live.closed_page_seconds = 0.0;
    web::LivePanel panel(live);
    const int width = panel.width();
    web::Input input;
    input.kind = web::Input::kNight;
    panel.apply(input);
    for (int i = 0; i < 18; ++i) panel.step();
    input.kind = web::Input::kPause;
    panel.apply(input);  // paused, it still forgets the pages gone
    const struct {
        web::Input::Kind kind;
        uint64_t page;
        double ratio;
        double scale;  // of the picture, over the panel's own
    } steps[] = {
        {web::Input::kRatio, 1, 2.0, 2.0},       {web::Input::kRatio, 2, 1.1, 2.0},
        {web::Input::kRatio, 1, 0.5, 1.25},      {web::Input::kPageClosed, 2, 1.0, 1.0},
        {web::Input::kRatio, 3, 9.0, 4.0},       {web::Input::kPageClosed, 3, 1.0, 1.0},
    };
    for (const auto& step : steps) {
        const uint64_t generation = panel.layout_generation();
        const int before = panel.width();
        input.kind = step.kind;
        input.page = step.page;
        input.ratio = step.ratio;
        panel.apply(input);
        if (step.kind == web::Input::kPageClosed) panel.step();
        EXPECT_EQ(panel.width(), static_cast<int>(std::ceil(width * step.scale))) << step.page << " " << step.ratio;
        EXPECT_EQ(panel.layout_generation() != generation, panel.width() != before) << "made again only to rescale";
        const nlohmann::json now = status(panel);
        EXPECT_NEAR(now["time"].get<double>(), 1.0, 1e-9);
        EXPECT_EQ(now["night"], true);
    }
}

// With a trace, the gauge's latest calls come with the answer, the newest
// last: of an update, the gauge's callback, the host's failure check by the
// failures' names and the needle's callback; without one, none.
TEST_F(LivePanelTest, PointerCarriesTheGaugesLatestCalls) {
    runtime::Trace trace(nullptr, {}, 3);
    web::LiveOptions live = options(write_panel(40));
    live.trace = &trace;
    web::LivePanel panel(live);
    for (int i = 0; i < 4; ++i) panel.step();
    const nlohmann::json calls = nlohmann::json::parse(web::pointer_message(panel, 150, 130))["calls"];
    ASSERT_EQ(calls.size(), 3u) << calls.dump();
    EXPECT_EQ(calls[0]["callback"], "gauge_callback (update)");
    EXPECT_EQ(calls[1]["services"][0]["failure"], "airspeed") << calls.dump();
    EXPECT_EQ(calls[2]["callback"], "needle callback");
    EXPECT_GT(calls[2]["instructions"].get<int>(), 0);
    web::LivePanel untraced(options(write_panel(40)));
    EXPECT_FALSE(nlohmann::json::parse(web::pointer_message(untraced, 150, 130)).contains("calls"));
}

TEST_F(LivePanelTest, ScenarioStartsColdAsTheScenarioCommandDoes) {
    const std::string panel_path = write_panel(40);
    const fs::path scenario = dir_ / "idle.txt";
    std::ofstream(scenario) << "update 1\n";
    web::LiveOptions cruise = options(panel_path);
    cruise.steady_state = [](runtime::Host& host) { host.vars().set(sim::token::engine_speed(0), 2400.0); };
    web::LiveOptions cold = cruise;
    cold.prelude = scenario::scenario_prelude(scenario.string(), "");
    EXPECT_EQ(status(web::LivePanel(cruise))["rpm"][0], 2400);
    EXPECT_EQ(status(web::LivePanel(cold))["rpm"][0], 0);
}

// The strip's figures come in the units the dials read, from the host's own;
// the latest key event by its name.
TEST_F(LivePanelTest, StatusGivesFiguresInTheDialsUnitsAndEventsByName) {
    struct Case {
        uint32_t token;
        double host;
        const char* figure;
        int engine;  // -1: a figure of the aircraft's
        double shown;
    };
    const Case cases[] = {
        {sim::token::kIndicatedAirspeed, 185.0, "airspeed", -1, 185.0},
        {sim::token::kVerticalSpeed, -1000.0, "vertical_speed", -1, -797.194},
        {sim::token::kBank, -12.5, "bank", -1, -12.5},
        {sim::token::kFlapPosition, sim::event::kLeverMaximum / 2.0, "flaps", -1, 50.0},
        {sim::token::throttle_lever(3), sim::event::kLeverMaximum, "throttle", 3, 100.0},
        // 6 lb/in² above the dial's datum, not 6 above one standard atmosphere.
        {sim::token::manifold_pressure(1), sim::unit::kBoostDatumPsf + 6 * 144.0, "boost", 1, 6.0},
        // What the warm-up waits for, and the pull.
        {sim::token::oil_temperature(2), sim::unit::kRankineAtFreezing + 40.0 / sim::unit::kCelsiusPerRankine,
         "oil_temperature", 2, 40.0},
        {sim::token::radiator_temperature(0), sim::unit::kRankineAtFreezing + 60.0 / sim::unit::kCelsiusPerRankine,
         "radiator_temperature", 0, 60.0},
        {sim::token::kNormalAcceleration, 2.5 * sim::unit::kAccelerometerUnitsPerG, "normal_acceleration", -1, 2.5},
    };
    web::LiveOptions live = options(write_panel(40));
    live.steady_state = [&cases](runtime::Host& host) {
        for (const Case& c : cases) host.vars().set(c.token, c.host);
    };
    web::LivePanel panel(live);
    panel.apply({.kind = web::Input::kKey, .event = sim::event::kBombReleased});
    const nlohmann::json now = status(panel);
    for (const Case& c : cases) {
        const nlohmann::json& figure = c.engine < 0 ? now["figures"][c.figure] : now["figures"][c.figure][c.engine];
        EXPECT_NEAR(figure.get<double>(), c.shown, 0.001) << c.figure;
    }
    EXPECT_EQ(now["last_event"], sim::event_of(sim::event::kBombReleased)->name);
    EXPECT_FALSE(now.contains("hands")) << "no flight model, no hands on it";
}

// Each edit in turn on one session: what the terminal is told, the panel
// shown, and the state (time, night, the steady state set once) going on
// through edits that make no panel and those that mend them.
TEST_F(LivePanelTest, WatchRemakesChangedPanelAndRunsOnThroughBrokenEdits) {
    const fs::path modules = dir_ / "modules";
    fs::create_directories(modules);
    const fs::path module = modules / "Korvane.gau";
    fs::copy_file(test_paths::module("Korvane.gau"), module);
    const std::string cfg = write_panel(40);
    web::LiveOptions live = options(cfg);
    live.paths.module_dir = modules.string();
    live.watch = true;
    int steady_states = 0;
    live.steady_state = [&steady_states](runtime::Host& host) {
        ++steady_states;
        host.vars().set(sim::token::engine_speed(0), 2400.0);
    };
    std::vector<std::string> told;
    live.report = [&told](const std::string& line) { told.push_back(line); };
    web::LivePanel panel(live);
    panel.apply({.kind = web::Input::kNight});

    const auto write_config = [&](const std::string& text) { std::ofstream(cfg) << text; };
    const std::string window = "[Window00]\nsize_mm=600,300\nvisible=1\n";
    struct Edit {
        const char* what;
        std::function<void()> edit;
        std::string edited;  // the file whose time moves on
        std::string told;    // what the terminal line holds
        int left;            // where the gauge then stands
        bool error;          // the page shows why the edit made no panel
    } edits[] = {
        {"moved", [&] { write_panel(100); }, cfg, "reloaded " + cfg + " (1 gauge)", 100, false},
        {"a gauge the module lacks", [&] { write_config(window + "gauge00=Korvane!NoSuchGauge, 0, 0\n"); }, cfg,
         cfg + ":4: module Korvane has no gauge 'NoSuchGauge'", 100, true},
        {"mended", [&] { write_panel(60); }, cfg, "fixed: reloaded " + cfg, 60, false},
        {"a line that does not parse", [&] { write_config(window + "gauge00=\n"); }, cfg, cfg + ":4: ", 60, true},
        {"a background bitmap found nowhere",
         [&] { write_config(window + "file=nowhere.bmp\ngauge00=Korvane!Airspeed, 20, 20, 220\n"); }, cfg,
         "background nowhere.bmp not found", 60, true},
        {"mended again", [&] { write_panel(20); }, cfg, "fixed: reloaded", 20, false},
        {"the module a FIFO",
         [&] {
             fs::remove(module);
             ASSERT_EQ(::mkfifo(module.c_str(), 0600), 0);
         },
         module.string(), module.string() + ": is not a regular file (a FIFO)", 20, true},
        {"the module back",
         [&] {
             fs::remove(module);
             fs::copy_file(test_paths::module("Korvane.gau"), module);
         },
         module.string(), "fixed: reloaded", 20, false},
    };
    double time = status(panel)["time"];
    int seconds = 0;
    for (const Edit& e : edits) {
        told.clear();
        const uint64_t generation = panel.layout_generation();
        e.edit();
        // File times may be coarse: make the change visible whatever the clock.
        fs::last_write_time(e.edited, fs::file_time_type::clock::now() + std::chrono::seconds(seconds += 2));
        for (int i = 0; i < 20; ++i) panel.step();
        const nlohmann::json now = status(panel);
        ASSERT_EQ(told.size(), 1u) << e.what;
        EXPECT_NE(told[0].find(e.told), std::string::npos) << e.what << ": told " << told[0];
        EXPECT_EQ(told[0].ends_with("; the panel runs on as it was"), e.error) << e.what << ": told " << told[0];
        EXPECT_EQ(now.contains("error"), e.error) << e.what;
        if (e.error) {
            EXPECT_NE(now.value("error", "").find(told[0]), std::string::npos) << e.what;
        }
        EXPECT_EQ(panel.layout_generation() > generation, !e.error) << e.what;
        ASSERT_FALSE(web::page_layout(panel).empty()) << e.what;
        EXPECT_EQ(web::page_layout(panel).front().left, e.left) << e.what;
        EXPECT_GT(now["time"].get<double>(), time) << e.what;
        time = now["time"];
        EXPECT_EQ(now["rpm"][0], 2400) << e.what;
        EXPECT_TRUE(now["night"].get<bool>()) << e.what;
        EXPECT_EQ(steady_states, 1) << e.what;
    }
}

}  // namespace
