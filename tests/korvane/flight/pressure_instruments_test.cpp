// The pressure instruments ("Airspeed", "Altimeter", "VSI") as the host sees
// them: their callbacks called through the loaded records, and the gauges
// driven on the bench host (needle angles, drum offsets, the pressure-setting
// knob and the key event it feeds).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "support/korvane_bench.h"

namespace {

using namespace korvane_bench;

constexpr uint32_t kSettingEvent = 66040;
constexpr uint32_t kSettingAtLoad = 16208;
constexpr uint32_t kPressureToken = 75;

// Element depths in the Altimeter's chain.
enum AltimeterElement : int {
    kUnitsDrum = 1,
    kTensDrum = 2,
    kHundredsDrum = 3,
    kThousandsDrum = 4,
    kPointer100k = 5,
    kPointer10k = 6,
    kPointer1k = 7,
};

// The knob halves, at the centre of each box on the undisplaced gauge.
constexpr int32_t kKnobLeftX = 121 + 9;
constexpr int32_t kKnobRightX = 121 + 18 + 9;
constexpr int32_t kKnobY = 278 + 18;

// The bitmap sizes the gauges are drawn with.
constexpr BitmapSize kBitmaps[] = {
    {100, 278, 314}, {105, 91, 25},   {110, 133, 35}, {115, 182, 17},  {120, 18, 297},
    {121, 18, 27},   {125, 278, 278}, {130, 172, 17}, {200, 278, 278}, {205, 172, 17},
};

double drum_value(GAUGEHDR* gauge, int depth, double input) {
    auto* drum = element_as<ELEMENT_MOVING_IMAGE>(gauge, depth);
    drum->source_y.value = input;
    return drum->callback_y(drum);
}

class PressureInstruments : public KorvaneModule {
protected:
    void SetUp() override {
        give_sizes(kBitmaps);
        airspeed = gauge("Airspeed");
        altimeter = gauge("Altimeter");
        vsi = gauge("VSI");
        ASSERT_FALSE(HasFailure()) << "a gauge is missing";
    }

    // The setting the Altimeter sends on its next update.
    uint32_t sent_setting(runtime::GaugeInstance& instance) {
        host.clear_key_log();
        instance.update();
        EXPECT_EQ(host.key_log().size(), 1u);
        if (host.key_log().empty()) return 0;
        EXPECT_EQ(host.key_log().back().id, kSettingEvent);
        return host.key_log().back().value;
    }

    void click(runtime::GaugeInstance& instance, int32_t x, int32_t y) {
        instance.press(x, y);
        instance.release();
    }

    GAUGEHDR* airspeed = nullptr;
    GAUGEHDR* altimeter = nullptr;
    GAUGEHDR* vsi = nullptr;
};

// --- Callbacks through the loaded records ----------------------------------------

struct Case {
    double input;
    double result;
};

// One reading inside each airspeed band (the bands meet, so their ends tell
// nothing), the dial's limits and readings that are no number.
TEST_F(PressureInstruments, NeedleCallbacks) {
    const struct {
        const char* what;
        GAUGEHDR* gauge;
        int depth;
        std::vector<Case> cases;
    } families[] = {
        {"airspeed",
         airspeed,
         1,
         {{30, 108.5},
          {70, 134.5},
          {90, 163.5},
          {110, 200},
          {170, 332.5},
          {224.7, 454.9875},
          {300, 615},
          {-40, 95},
          {351, 721.25},
          {1e308, 721.25},
          {kInf, 721.25},
          {-kInf, 95},
          {kNaN, 95}}},
        // One turn per 100,000, 10,000 and 1,000 feet, unreduced; no reading
        // rests at zero.
        {"100,000 ft",
         altimeter,
         kPointer100k,
         {{1000, 273.6}, {-1000, 266.4}, {25000, 360}, {kNaN, 270}, {kInf, 270}}},
        {"10,000 ft", altimeter, kPointer10k, {{1000, 306}, {-1000, 234}, {-kInf, 270}}},
        {"1,000 ft", altimeter, kPointer1k, {{1000, 630}, {25000, 9270}, {-1000, -90}, {kNaN, 270}}},
        {"VSI",
         vsi,
         1,
         {{1000, 797.194},
          {-1000, -797.194},
          {5017, 3999.522298},
          {6000, 4000},
          {-1e308, -4000},
          {kInf, 4000},
          {-kInf, -4000},
          {kNaN, -4000}}},
    };
    for (const auto& family : families) {
        for (const Case& c : family.cases) {
            SCOPED_TRACE(std::string(family.what) + " " + std::to_string(c.input));
            EXPECT_NEAR(needle_value(family.gauge, family.depth, c.input), c.result, 1e-6);
        }
    }
    EXPECT_TRUE(std::isfinite(needle_value(altimeter, kPointer1k, 1e308)));
}

struct DrumCase {
    double millibars;
    double thousands, hundreds, tens, units;
};
// Whole settings of the knob's range are swept below.
constexpr DrumCase kDrumCases[] = {
    {995.5, 0, 90, 90, 55},  // the units drum half-way between 5 and 6
    {999.9, 0, 90, 90, 99},  // nearly at its bottom cell
    {1019.75, 10, 0, 10, 97.5},
    {959.999, 0, 90, 50, 99.99},
    {0, 0, 0, 0, 0},
    {12345, 20, 30, 40, 50},  // five digits: the drums show the last four
    {1e300, 0, 0, 0, 0},
    {-995.5, 0, 0, 0, 0},  // below zero: every drum on its top cell, none above the strip
    {-2147483648.0, 0, 0, 0, 0},
    {-4.9406564584124654e-324, 0, 0, 0, 0},
    {kNaN, 0, 0, 0, 0},
    {kInf, 0, 0, 0, 0},
    {-kInf, 0, 0, 0, 0},
};

TEST_F(PressureInstruments, DrumsShowTheSettingsDigits) {
    for (const DrumCase& c : kDrumCases) {
        SCOPED_TRACE(c.millibars);
        EXPECT_EQ(drum_value(altimeter, kThousandsDrum, c.millibars), c.thousands);
        EXPECT_EQ(drum_value(altimeter, kHundredsDrum, c.millibars), c.hundreds);
        EXPECT_EQ(drum_value(altimeter, kTensDrum, c.millibars), c.tens);
        EXPECT_NEAR(drum_value(altimeter, kUnitsDrum, c.millibars), c.units, 1e-6);
    }
}

// 960: 0.096 * 10 * 10 leaves the tens a hair short of 6.
TEST_F(PressureInstruments, EveryKnobSettingShowsItsOwnDigits) {
    for (int mb = 948; mb <= 1084; ++mb) {
        SCOPED_TRACE(mb);
        EXPECT_EQ(drum_value(altimeter, kThousandsDrum, mb), 10.0 * (mb / 1000 % 10));
        EXPECT_EQ(drum_value(altimeter, kHundredsDrum, mb), 10.0 * (mb / 100 % 10));
        EXPECT_EQ(drum_value(altimeter, kTensDrum, mb), 10.0 * (mb / 10 % 10));
        EXPECT_NEAR(drum_value(altimeter, kUnitsDrum, mb), 10.0 * (mb % 10), 1e-6);
    }
}

// --- On the bench host --------------------------------------------------------------

TEST_F(PressureInstruments, FirstUpdateSendsTheSettingOfLoadTime) {
    host.vars().set(kPressureToken, 990.0);
    auto gauge = open(altimeter);
    EXPECT_TRUE(host.key_log().empty()) << "set-up sends nothing";
    EXPECT_EQ(sent_setting(*gauge), kSettingAtLoad);
    // The host's setting follows; the drums show 1013 from the next update on.
    gauge->update();
    EXPECT_DOUBLE_EQ(host.vars().get(kPressureToken), 1013.0);
    EXPECT_NEAR(gauge->elements()[kUnitsDrum].offset_y, 30 * 2.7, 1e-6);
}

TEST_F(PressureInstruments, AltimeterCallbackSendsOnlyOnUpdate) {
    for (uint32_t service_id = 0; service_id <= 20; ++service_id) {
        SCOPED_TRACE(service_id);
        host.clear_key_log();
        altimeter->gauge_callback(altimeter, service_id, 0);
        if (service_id == 6) {
            ASSERT_EQ(host.key_log().size(), 1u);
            EXPECT_EQ(host.key_log()[0].id, kSettingEvent);
        } else {
            EXPECT_TRUE(host.key_log().empty());
        }
    }
}

// Steps of the knob from the setting of load time; the sequence ends where it
// began, so later tests see the load-time setting again.
struct KnobStep {
    const char* what;
    int32_t x;
    int clicks;
    bool held;  // one press held through clicks - 1 repeats
    uint32_t setting;
};
constexpr KnobStep kKnobSteps[] = {
    {"64 down", kKnobLeftX, 64, false, 15184},
    {"65th down reaches the limit", kKnobLeftX, 1, false, 15168},
    {"further down stays", kKnobLeftX, 3, false, 15168},
    {"held down stays", kKnobLeftX, 5, true, 15168},
    {"65 up: back to 1013", kKnobRightX, 65, false, 16208},
    {"held up, 70 steps", kKnobRightX, 70, true, 17328},
    {"71st up reaches the limit", kKnobRightX, 1, false, 17344},
    {"further up stays", kKnobRightX, 3, false, 17344},
    {"71 down: back to 1013", kKnobLeftX, 71, false, 16208},
};

TEST_F(PressureInstruments, KnobStepsOneMillibarWithinItsLimits) {
    auto gauge = open(altimeter);
    ASSERT_EQ(sent_setting(*gauge), kSettingAtLoad);
    for (const KnobStep& step : kKnobSteps) {
        SCOPED_TRACE(step.what);
        if (step.held) {
            gauge->press(step.x, kKnobY);
            for (int i = 1; i < step.clicks; ++i) gauge->repeat();
            gauge->release();
        } else {
            for (int i = 0; i < step.clicks; ++i) click(*gauge, step.x, kKnobY);
        }
        EXPECT_EQ(sent_setting(*gauge), step.setting);
    }
}

TEST_F(PressureInstruments, ClicksBesideTheKnobChangeNothing) {
    auto gauge = open(altimeter);
    const struct { int32_t x, y; } misses[] = {{139, 139}, {120, kKnobY}, {157, kKnobY}, {kKnobLeftX, 277}};
    for (const auto& m : misses) {
        SCOPED_TRACE(std::to_string(m.x) + ", " + std::to_string(m.y));
        click(*gauge, m.x, m.y);
        EXPECT_EQ(sent_setting(*gauge), kSettingAtLoad);
    }
}

TEST_F(PressureInstruments, DrumsFollowAKnobClickOnTheNextUpdate) {
    auto gauge = open(altimeter);
    gauge->update();
    click(*gauge, kKnobRightX, kKnobY);
    EXPECT_EQ(sent_setting(*gauge), kSettingAtLoad + 16);
    // This update still drew the old setting; the host has applied the event.
    EXPECT_NEAR(gauge->elements()[kUnitsDrum].offset_y, 30 * 2.7, 1e-6);
    gauge->update();
    EXPECT_NEAR(gauge->elements()[kUnitsDrum].offset_y, 40 * 2.7, 1e-6);

    click(*gauge, kKnobLeftX, kKnobY);
    EXPECT_EQ(sent_setting(*gauge), kSettingAtLoad);
}

// The VSI needle turns at most 6 degrees an update; each case runs until it
// has settled, then stands on the direction of its table point.
TEST_F(PressureInstruments, VsiNeedleStandsOnItsTablePoints) {
    const double pivot = 139;
    const struct {
        double raw;
        double x, y;
    } cases[] = {
        {1000 / 0.797194, 82, 83},    // climb over the top
        {-1000 / 0.797194, 82, 254},  // descent under the bottom
        {0, 10, 139},                 // zero climb at 9 o'clock
    };
    auto gauge = open(vsi);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        host.vars().set(65, c.raw);
        for (int i = 0; i < 80; ++i) gauge->update();
        EXPECT_LT(angle_gap(gauge->elements()[1].angle, direction(pivot, pivot, c.x, c.y)), 1e-6);
    }
}

}  // namespace
