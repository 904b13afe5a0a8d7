// Panels from a configuration: modules loaded once, gauges placed and sized
// at a display scale, windows stacked, and configurations that name what
// cannot be shown.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "panelhost/panel.h"
#include "runtime/bench_fixture_support.h"

namespace {

namespace fx = bench_fixture;
using fixture_support::kDialsHeight;
using fixture_support::kDialsWidth;
using fixture_support::kPicturesHeight;
using fixture_support::kPicturesWidth;
using fixture_support::module_dir;
using panels::Panel;
using panels::PanelConfig;
using panels::PanelError;

// The fixture module carries no bitmaps: give its backgrounds sizes on load.
void give_sizes(runtime::Module& module) {
    module.override_bitmap_size(fx::kDialsBackground, kDialsWidth, kDialsHeight);
    module.override_bitmap_size(fx::kPicturesBackground, kPicturesWidth, kPicturesHeight);
}

class PanelFromConfig : public ::testing::Test {
protected:
    runtime::Host host;

    std::unique_ptr<Panel> make(const std::string& text, double scale = 1.0, bool sizes = true) {
        return std::make_unique<Panel>(host, PanelConfig::parse(text, "bench.cfg"),
                                       panels::ModulePaths{module_dir(), {}}, scale,
                                       sizes ? Panel::ModuleHook(give_sizes) : Panel::ModuleHook());
    }
};

constexpr const char* kTwoWindows = R"([Window00]
size_mm=600,400
gauge00=BenchFixture!Fixture_Dials, 10, 20
gauge01=BenchFixture!Fixture_Pictures, 300, 20, 120
gauge02=benchfixture!FIXTURE_DIALS, 10, 250, 50, 80
[Window01]
gauge00=BenchFixture!Fixture_Pictures, 5, 6, 241
[Window02]
visible=0
gauge00=BenchFixture!Fixture_Dials, 0, 0
)";

TEST_F(PanelFromConfig, PlacesAndSizesGaugesAtEveryScale) {
    struct Expected {
        double left, top, width, height;
        double instance_scale;
        bool shown;
    };
    for (double scale : {1.0, 2.0, 0.5}) {
        SCOPED_TRACE(scale);
        const std::unique_ptr<Panel> panel = make(kTwoWindows, scale);
        // Window01 has no size: as large as its gauge reaches (5 + 241, 6 + 161).
        const double second_top = 400.0 * scale + Panel::kWindowGap;
        const Expected expected[] = {
            {10, 20, kDialsWidth, kDialsHeight, 1.0, true},  // the bitmap's size
            {300, 20, 120, 120.0 * kPicturesHeight / kPicturesWidth, 120.0 / kPicturesWidth, true},  // its shape
            {10, 250, 50, 80, 50.0 / kDialsWidth, true},                                             // both given
        };
        ASSERT_EQ(panel->gauges().size(), 5u);
        for (size_t i = 0; i < std::size(expected); ++i) {
            SCOPED_TRACE(i);
            const Panel::Gauge& gauge = panel->gauges()[i];
            EXPECT_DOUBLE_EQ(gauge.left, expected[i].left * scale);
            EXPECT_DOUBLE_EQ(gauge.top, expected[i].top * scale);
            EXPECT_DOUBLE_EQ(gauge.width, expected[i].width * scale);
            EXPECT_DOUBLE_EQ(gauge.height, expected[i].height * scale);
            EXPECT_DOUBLE_EQ(gauge.instance->scale(), expected[i].instance_scale * scale);
            EXPECT_TRUE(gauge.shown);
        }
        const Panel::Gauge& stretched = panel->gauges()[2];
        EXPECT_DOUBLE_EQ(stretched.scale_x(), 50.0 / kDialsWidth * scale);
        EXPECT_DOUBLE_EQ(stretched.scale_y(), 80.0 / kDialsHeight * scale);

        const Panel::Gauge& lower = panel->gauges()[3];
        EXPECT_DOUBLE_EQ(lower.top, second_top + 6.0 * scale);
        EXPECT_FALSE(panel->gauges()[4].shown);

        ASSERT_EQ(panel->windows().size(), 2u);  // the hidden one is left out
        EXPECT_DOUBLE_EQ(panel->windows()[0].width, 600.0 * scale);
        EXPECT_DOUBLE_EQ(panel->windows()[1].top, second_top);
        EXPECT_DOUBLE_EQ(panel->windows()[1].width, (5.0 + kPicturesWidth) * scale);
        EXPECT_DOUBLE_EQ(panel->windows()[1].height, (6.0 + kPicturesHeight) * scale);
        EXPECT_DOUBLE_EQ(panel->picture_width(), 600.0 * scale);
        EXPECT_DOUBLE_EQ(panel->picture_height(), second_top + (6.0 + kPicturesHeight) * scale);
    }
}

TEST_F(PanelFromConfig, GaugeWithoutBitmapsIsASquareOfItsHeaderWidth) {
    const std::unique_ptr<Panel> panel =
        make("[Window00]\ngauge00=BenchFixture!Fixture_Dials, 0, 0\ngauge01=BenchFixture!Fixture_Panel, 0, 0, 40\n",
             1.0, false);
    const Panel::Gauge& natural = panel->gauges()[0];
    EXPECT_EQ(natural.bitmap_width, 0u);
    EXPECT_DOUBLE_EQ(natural.width, 100.0);
    EXPECT_DOUBLE_EQ(natural.height, 100.0);
    EXPECT_DOUBLE_EQ(panel->gauges()[1].height, 40.0);
    EXPECT_DOUBLE_EQ(panel->gauges()[1].instance->scale(), 0.4);
}

TEST_F(PanelFromConfig, LoadsEachModuleOnceAndKeepsAnInstancePerLine) {
    // Names match in any letter case, as on Windows: gauge02 is written in another.
    const std::unique_ptr<Panel> panel = make(kTwoWindows);
    const runtime::Module* module = panel->module("BenchFixture");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(panel->module("Korvane"), nullptr);
    for (const Panel::Gauge& gauge : panel->gauges()) EXPECT_EQ(gauge.module, module);
    EXPECT_NE(panel->gauges()[0].instance.get(), panel->gauges()[2].instance.get());
    EXPECT_EQ(panel->gauges()[0].instance->gauge(), panel->gauges()[2].instance->gauge());
}

TEST_F(PanelFromConfig, FindsGaugesByNameOrModuleAndName) {
    const std::unique_ptr<Panel> panel = make(kTwoWindows);
    struct Lookup {
        const char* name;
        int index;  // -1: none
    };
    const Lookup lookups[] = {
        {"Fixture_Dials", 0}, {"BenchFixture!Fixture_Pictures", 1}, {"Fixture_Panel", -1}, {"Other!Fixture_Dials", -1},
        {"fixture_dials", 0}, {"benchfixture!fixture_pictures", 1},
    };
    for (const Lookup& lookup : lookups) {
        SCOPED_TRACE(lookup.name);
        const Panel::Gauge* found = panel->find(lookup.name);
        if (lookup.index < 0) {
            EXPECT_EQ(found, nullptr);
        } else {
            EXPECT_EQ(found, &panel->gauges()[static_cast<size_t>(lookup.index)]);
        }
    }
}

TEST_F(PanelFromConfig, UpdatesEveryGauge) {
    const std::unique_ptr<Panel> panel = make(kTwoWindows);
    host.vars().set(fx::kTokenRated, 123.0);
    panel->setup();
    panel->update();
    for (const Panel::Gauge& gauge : panel->gauges()) {
        EXPECT_TRUE(gauge.instance->is_set_up());
        EXPECT_FALSE(gauge.instance->elements().empty());
    }
    // Fixture_Dials' rate-limited needle jumps on its first update.
    EXPECT_DOUBLE_EQ(panel->gauges()[0].instance->elements()[4].angle, 123.0);
}

struct BadPanel {
    const char* name;
    const char* text;
    double scale;
    int line;
    const char* message;
};

const BadPanel kBadPanels[] = {
    {"unknown module", "[Window00]\ngauge00=BenchFixture!Fixture_Dials,0,0\n\ngauge01=Nowhere!Clock, 0, 0\n", 1.0, 4,
     "no module 'Nowhere'"},
    {"unknown gauge", "[Window00]\n\ngauge00=BenchFixture!Clock, 0, 0\n", 1.0, 3,
     "module BenchFixture has no gauge 'Clock'"},
    {"mistyped gauge", "[Window00]\ngauge00=BenchFixture!Fixture_Dails, 0, 0\n", 1.0, 2,
     "no gauge 'Fixture_Dails' (did you mean 'Fixture_Dials'?)"},
    {"mistyped module", "[Window00]\ngauge00=BenchFixtrue!Fixture_Dials, 0, 0\n", 1.0, 2,
     "(did you mean 'BenchFixture'?)"},
    {"window too large to draw", "[Window00]\nsize_mm=3e9,100\ngauge00=BenchFixture!Fixture_Dials, 0, 0\n", 1.0, 1,
     "a picture holds at most 32767 x 32767"},
    {"windows too tall together",
     "[Window00]\nsize_mm=100,20000\ngauge00=BenchFixture!Fixture_Dials, 0, 0\n[Window01]\nsize_mm=100,20000\n", 1.0, 4,
     "a picture holds at most"},
    {"gauge beyond any picture", "[Window00]\nsize_mm=100,100\ngauge00=BenchFixture!Fixture_Dials, 1.7e308, 0\n", 2.0,
     3, "lies beyond any picture"},
    {"every window hidden", "[Window00]\nvisible=0\ngauge00=BenchFixture!Fixture_Dials, 0, 0\n", 1.0, 0,
     "no window to show"},
    {"no gauges", "[Window00]\nsize_mm=100,100\n", 1.0, 0, "no gauges"},
    {"file that is no module", "[Window00]\ngauge00=NoExports!Clock, 0, 0\n", 1.0, 2, "module 'NoExports'"},
    {"gauge beyond the largest scale", "[Window00]\ngauge00=BenchFixture!Fixture_Dials, 0, 0, 3300\n", 1.0, 2,
     "at most 16"},
    {"scale makes it too large", "[Window00]\ngauge00=BenchFixture!Fixture_Dials, 0, 0, 1700\n", 2.0, 2, "at most 16"},
};

TEST_F(PanelFromConfig, ErrorsNameTheLine) {
    for (const BadPanel& bad : kBadPanels) {
        SCOPED_TRACE(bad.name);
        try {
            make(bad.text, bad.scale);
            ADD_FAILURE() << "accepted";
        } catch (const PanelError& error) {
            const std::string message = error.what();
            const std::string where = bad.line > 0 ? "bench.cfg:" + std::to_string(bad.line) + ": " : "bench.cfg: ";
            EXPECT_EQ(message.rfind(where, 0), 0u) << message;
            EXPECT_NE(message.find(bad.message), std::string::npos) << message;
        }
    }
}

TEST_F(PanelFromConfig, RefusesAScaleOutOfRange) {
    for (double scale : {0.0, -1.0, 16.5}) {
        SCOPED_TRACE(scale);
        EXPECT_THROW(make("[Window00]\ngauge00=BenchFixture!Fixture_Dials, 0, 0\n", scale), PanelError);
    }
}

TEST_F(PanelFromConfig, WarnsOfWhatItShowsOtherwiseThanWritten) {
    const std::unique_ptr<Panel> panel = make(
        "[Window00]\nsize_mm=300,300\ngauge00=BenchFixture!Fixture_Dials, 0, 0, 300\n"
        "gauge01=BenchFixture!Fixture_Dials, 250, 0, 100\ngauge02=BenchFixture!Fixture_Dials, 0, -1, 100\n"
        "[VCockpit01]\n",
        1.0, false);
    const std::vector<std::string> expected = {
        "bench.cfg:6: [VCockpit01] is a virtual cockpit panel",
        "bench.cfg:4: gauge 'Fixture_Dials' (250, 0 to 350, 100) reaches outside [Window00] (300 x 300)",
        "bench.cfg:5: gauge 'Fixture_Dials' (0, -1 to 100, 99) reaches outside [Window00]",
        "bench.cfg: module 'BenchFixture': no PE build with its bitmaps was given; 3 gauges (Fixture_Dials, "
        "Fixture_Dials, Fixture_Dials) drawn as grey placeholders",
    };
    ASSERT_EQ(panel->warnings().size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(panel->warnings()[i].rfind(expected[i], 0), 0u) << panel->warnings()[i];
    }
}

}  // namespace
