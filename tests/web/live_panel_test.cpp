// The live panel without a server: what the page is told lies under the
// pointer, a scenario's starting state, and the reload of changed files.
#include "web/live_panel.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>

#include "frame/vocabulary.h"
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
    static nlohmann::json status(const web::LivePanel& panel) { return nlohmann::json::parse(panel.status_json(1, 1)); }

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
        const nlohmann::json info = nlohmann::json::parse(panel.pointer_json(c.x, c.y));
        EXPECT_EQ(info.contains("gauge"), c.gauge) << c.x << "," << c.y;
        if (c.gauge) {
            EXPECT_EQ(info["gauge"], "Korvane!Airspeed");
        }
    }
    // Background-bitmap pixels from the gauge's corner; its middle shows the
    // dial (a face at least).
    const nlohmann::json corner = nlohmann::json::parse(panel.pointer_json(40, 20));
    const nlohmann::json middle = nlohmann::json::parse(panel.pointer_json(150, 130));
    EXPECT_EQ(corner["pixel"], nlohmann::json::array({0.0, 0.0}));
    EXPECT_GT(middle["pixel"][0].get<double>(), 50.0);
    EXPECT_GT(middle["pixel"][1].get<double>(), 50.0);
    ASSERT_TRUE(middle.contains("element"));
    EXPECT_GT(middle["element"]["bitmap"].get<int>(), 0);
}

TEST_F(LivePanelTest, ScenarioStartsColdAsTheScenarioCommandDoes) {
    const std::string panel_path = write_panel(40);
    const fs::path scenario = dir_ / "idle.txt";
    std::ofstream(scenario) << "update 1\n";
    web::LiveOptions cruise = options(panel_path);
    cruise.steady_state = [](bench::Host& host) { host.vars().set(sim::token::engine_speed(0), 2400.0); };
    web::LiveOptions cold = cruise;
    cold.scenario_path = scenario.string();
    EXPECT_EQ(status(web::LivePanel(cruise))["rpm"][0], 2400);
    EXPECT_EQ(status(web::LivePanel(cold))["rpm"][0], 0);
}

TEST_F(LivePanelTest, WatchRemakesChangedPanelKeepingItsState) {
    web::LiveOptions live = options(write_panel(40));
    live.watch = true;
    web::LivePanel panel(live);
    for (int i = 0; i < 20; ++i) panel.step();
    const double time = status(panel)["time"];
    const uint64_t generation = panel.layout_generation();
    ASSERT_EQ(panel.layout().front().left, 40);

    write_panel(100);
    // File times may be coarse: make the change visible whatever the clock.
    fs::last_write_time(dir_ / "panel.cfg", fs::last_write_time(dir_ / "panel.cfg") + std::chrono::seconds(2));
    for (int i = 0; i < 20; ++i) panel.step();
    EXPECT_GT(panel.layout_generation(), generation);
    EXPECT_EQ(panel.layout().front().left, 100);
    EXPECT_GE(status(panel)["time"].get<double>(), time);

    // A configuration that no longer loads is reported, and the next good one mends it.
    std::ofstream(dir_ / "panel.cfg") << "[Window00]\nsize_mm=600,300\nvisible=1\ngauge00=Korvane!NoSuchGauge, 0, 0\n";
    fs::last_write_time(dir_ / "panel.cfg", fs::last_write_time(dir_ / "panel.cfg") + std::chrono::seconds(4));
    for (int i = 0; i < 20; ++i) panel.step();
    EXPECT_TRUE(status(panel).contains("error"));
    write_panel(60);
    fs::last_write_time(dir_ / "panel.cfg", fs::last_write_time(dir_ / "panel.cfg") + std::chrono::seconds(6));
    for (int i = 0; i < 20; ++i) panel.step();
    ASSERT_FALSE(panel.layout().empty());
    EXPECT_EQ(panel.layout().front().left, 60);
}

}  // namespace
