// Panel configuration: windows, gauge lines and their defaults, every
// malformed line reported with its line number, and files that are no panel.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "panelhost/panel_config.h"

namespace {

using panels::PanelConfig;
using panels::PanelConfigError;

constexpr const char* kPanel = R"(// a comment line
[Window Titles]
Window00=Pilot
Window01=Engineer

[VIEWS]
VIEW_FORWARD_DIR=0,0,0

[Window00]
size_mm=800,600
position=7
ident=MAIN_PANEL
background_color=10,20,30
gauge01=Korvane!Clock, 300, 10, 150       // trailing comment
gauge00=Korvane!Airspeed,10,20,200,210, 3
; another comment
gauge02=Dropwatch!Dropwatch, -5, 7.5

[window01]
VISIBLE=0
gauge00=Korvane!Throttle, 0, 0, 133

[VCockpit01]
gauge00=Korvane!Clock, 0, 0, 100, 100
)";

TEST(PanelConfig, ReadsWindowsAndGaugesInNumberOrder) {
    // As a Windows editor saves it: with a byte-order mark in front.
    const PanelConfig config = PanelConfig::parse(std::string("\xEF\xBB\xBF") + kPanel, "panel.cfg");
    ASSERT_EQ(config.windows.size(), 2u);
    const panels::PanelWindow& pilot = config.windows[0];
    EXPECT_EQ(pilot.section, "Window00");
    EXPECT_EQ(pilot.title, "Pilot");
    EXPECT_EQ(pilot.line, 9);
    EXPECT_DOUBLE_EQ(pilot.width, 800.0);
    EXPECT_DOUBLE_EQ(pilot.height, 600.0);
    EXPECT_TRUE(pilot.visible);
    EXPECT_EQ(pilot.background, 0x0A141Eu);

    struct Expected {
        const char* module;
        const char* gauge;
        double x, y;
        double width, height;  // 0: not given
        const char* parameter;
        int line;
    };
    const Expected expected[] = {
        {"Korvane", "Airspeed", 10, 20, 200, 210, "3", 15},
        {"Korvane", "Clock", 300, 10, 150, 0, "", 14},
        {"Dropwatch", "Dropwatch", -5, 7.5, 0, 0, "", 17},
    };
    ASSERT_EQ(pilot.gauges.size(), std::size(expected));
    for (size_t i = 0; i < std::size(expected); ++i) {
        SCOPED_TRACE(expected[i].gauge);
        const panels::PanelGauge& gauge = pilot.gauges[i];
        EXPECT_EQ(gauge.module, expected[i].module);
        EXPECT_EQ(gauge.gauge, expected[i].gauge);
        EXPECT_DOUBLE_EQ(gauge.x, expected[i].x);
        EXPECT_DOUBLE_EQ(gauge.y, expected[i].y);
        EXPECT_EQ(gauge.width.value_or(0.0), expected[i].width);
        EXPECT_EQ(gauge.height.value_or(0.0), expected[i].height);
        EXPECT_EQ(gauge.parameter, expected[i].parameter);
        EXPECT_EQ(gauge.line, expected[i].line);
    }

    const panels::PanelWindow& engineer = config.windows[1];
    EXPECT_EQ(engineer.title, "Engineer");  // section names are case-blind
    EXPECT_FALSE(engineer.visible);
    EXPECT_EQ(engineer.width, 0.0);
    ASSERT_EQ(engineer.gauges.size(), 1u);
    EXPECT_EQ(engineer.gauges[0].gauge, "Throttle");

    // The virtual cockpit is not drawn, and the caller hears so.
    ASSERT_EQ(config.warnings.size(), 1u);
    EXPECT_EQ(config.warnings[0].rfind("panel.cfg:23: [VCockpit01] is a virtual cockpit", 0), 0u) << config.warnings[0];
}

TEST(PanelConfig, WindowWithoutTitleIsKnownBySection) {
    const PanelConfig config = PanelConfig::parse("[Window03]\ngauge00=A!B,1,2\n", "p.cfg");
    ASSERT_EQ(config.windows.size(), 1u);
    EXPECT_EQ(config.windows[0].title, "Window03");
}

struct BadConfig {
    const char* name;
    const char* text;
    int line;
    const char* message;  // a part of the message
};

const BadConfig kBadConfigs[] = {
    {"key outside a section", "size_mm=1,2\n", 1, "outside any section"},
    {"line without equals", "[Window00]\n\ngauge00 Korvane!Clock, 1, 2\n", 3, "expected 'key=value'"},
    {"unclosed section", "[Window00\n", 1, "closing ']'"},
    {"empty section", "[ ]\n", 1, "empty section"},
    {"section twice", "[Window00]\n[WINDOW00]\n", 2, "appears twice"},
    {"gauge without module", "[Window00]\ngauge00=Airspeed, 1, 2\n", 2, "not 'Module!Gauge'"},
    {"gauge without y", "[Window00]\ngauge00=Korvane!Clock, 1\n", 2, "Module!Gauge, x, y"},
    {"gauge with too much", "[Window00]\ngauge00=Korvane!Clock, 1, 2, 3, 4, 5, 6\n", 2, "Module!Gauge, x, y"},
    {"bad x", "[Window00]\n\n\ngauge00=Korvane!Clock, left, 2\n", 4, "x 'left' is not a number"},
    {"zero width", "[Window00]\ngauge00=Korvane!Clock, 1, 2, 0\n", 2, "width must be positive"},
    {"negative height", "[Window00]\ngauge00=Korvane!Clock, 1, 2, 10, -3\n", 2, "height must be positive"},
    {"gauge number twice", "[Window00]\ngauge01=K!A, 1, 2\ngauge1=K!B, 1, 2\n", 3, "appears twice"},
    {"gauge key not a number", "[Window00]\ngaugeX=K!A, 1, 2\n", 2, "gauge keys"},
    {"size with one value", "[Window00]\nsize_mm=800\n", 2, "size_mm takes"},
    {"size not positive", "[Window00]\nsize_mm=800,0\n", 2, "must be positive"},
    {"visible not a flag", "[Window00]\nvisible=yes\n", 2, "visible takes 0 or 1"},
    {"colour out of range", "[Window00]\nbackground_color=0,256,0\n", 2, "0 to 255"},
    {"colour with two channels", "[Window00]\nbackground_color=0,0\n", 2, "red,green,blue"},
    {"position beyond 8", "[Window00]\nposition=9\n", 2, "position takes a whole number 0 to 8"},
    {"window_pos off the screen", "[Window00]\nwindow_pos=0.5,1.2\n", 2, "fractions of the screen"},
    {"file without a name", "[Window00]\nfile=\n", 2, "file takes"},
    {"night switch without its box", "[Lighting]\nnight_switch=Gear_Indicator, 1, 2\n", 2, "night_switch takes"},
    {"night switch of no size", "[Lighting]\nnight_switch=Gear_Indicator, 1, 2, 0, 5\n", 2, "must be positive"},
};

TEST(PanelConfig, NightSwitchIsAGaugesBox) {
    const PanelConfig config = PanelConfig::parse(
        "[Window00]\ngauge00=K!A, 1, 2\n[LIGHTING]\nnight_switch = Gear_Indicator, 107, 108, 64, 65\nlamps=3\n",
        "cockpit.cfg");
    ASSERT_TRUE(config.night_switch);
    EXPECT_EQ(config.night_switch->gauge, "Gear_Indicator");
    EXPECT_EQ(config.night_switch->y, 108.0);
    EXPECT_EQ(config.night_switch->height, 65.0);
    ASSERT_EQ(config.warnings.size(), 1u) << "an unknown [Lighting] key is read past, with a warning";
    EXPECT_NE(config.warnings[0].find("cockpit.cfg:5:"), std::string::npos) << config.warnings[0];
}

TEST(PanelConfig, ErrorsNameTheLine) {
    for (const BadConfig& bad : kBadConfigs) {
        SCOPED_TRACE(bad.name);
        try {
            PanelConfig::parse(bad.text, "cockpit.cfg");
            ADD_FAILURE() << "accepted";
        } catch (const PanelConfigError& error) {
            EXPECT_EQ(error.line(), bad.line);
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("cockpit.cfg:" + std::to_string(bad.line) + ": ", 0), 0u) << message;
            EXPECT_NE(message.find(bad.message), std::string::npos) << message;
        }
    }
}

TEST(PanelConfig, FilesThatAreNoPanelAreRefusedByName) {
    const std::string dir = testing::TempDir() + "panel_config_files/";
    std::filesystem::create_directories(dir);
    const std::string huge = dir + "huge.cfg", empty = dir + "empty.cfg";
    std::ofstream(huge).close();
    std::filesystem::resize_file(huge, (4u << 20) + 1);  // sparse: a byte over the limit
    std::ofstream(empty) << "// nothing but a comment\n[Views]\n";
    struct File {
        std::string path;
        const char* message;
    };
    std::vector<File> files = {
        {"no/such/panel.cfg", "file not found"},
        {dir, "is a directory"},
        {huge, "at most 4194304 bytes"},
        {empty, "no windows"},
    };
#ifndef _WIN32
    const std::string fifo = dir + "fifo.cfg";
    std::filesystem::remove(fifo);
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    files.push_back({fifo, "not a regular file"});
    files.push_back({"/dev/zero", "not a regular file"});
#endif
    for (const File& file : files) {
        SCOPED_TRACE(file.path);
        try {
            PanelConfig::read_file(file.path);
            ADD_FAILURE() << "accepted";
        } catch (const PanelConfigError& error) {
            EXPECT_EQ(error.line(), 0);
            EXPECT_EQ(std::string(error.what()).rfind(file.path + ": ", 0), 0u) << error.what();
            EXPECT_NE(std::string(error.what()).find(file.message), std::string::npos) << error.what();
        }
    }
}

}  // namespace
