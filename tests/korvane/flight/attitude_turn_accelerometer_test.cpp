// The gyroscopic and inertial instruments ("Accelerometer", "Attitude",
// "Turn") as the host sees them: their callbacks called through the loaded
// records, and the gauges on the bench host (needle angles from the tables,
// the horizon's shift and rotation, failures).
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/korvane_bench.h"

namespace {

using namespace korvane_bench;

constexpr BitmapSize kBitmaps[] = {
    {220, 256, 256}, {225, 256, 256}, {226, 256, 256}, {230, 110, 15}, {135, 282, 282},
    {140, 93, 19},   {145, 101, 19},  {330, 278, 278}, {335, 175, 21},
};

// Element depths.
constexpr int kHorizon = 1;      // Attitude
constexpr int kBankPointer = 2;  // Attitude
constexpr int kSlipNeedle = 1;   // Turn
constexpr int kTurnPointer = 2;  // Turn
constexpr int kGNeedle = 1;      // Accelerometer

constexpr double kRawPerG = 617.0;

double pitch_value(GAUGEHDR* attitude, double input) {
    auto* horizon = element_as<ELEMENT_SPRITE>(attitude, kHorizon);
    horizon->source_y.value = input;
    return horizon->callback_y(horizon);
}

class AttitudeTurnAccelerometer : public KorvaneModule {
protected:
    void SetUp() override {
        give_sizes(kBitmaps);
        accelerometer = gauge("Accelerometer");
        attitude = gauge("Attitude");
        turn = gauge("Turn");
        ASSERT_FALSE(HasFailure()) << "a gauge is missing";
    }

    // Enough updates for a needle limited to 6 degrees an update to settle.
    static void settle(runtime::GaugeInstance& gauge) {
        for (int i = 0; i < 70; ++i) gauge.update();
    }

    GAUGEHDR* accelerometer = nullptr;
    GAUGEHDR* attitude = nullptr;
    GAUGEHDR* turn = nullptr;
};

// --- Callbacks through the loaded records ----------------------------------------
// Limits, non-finite readings and what the host shows only modulo a turn; the
// gauges on the host below show the scaling.

struct Case {
    double input;
    double result;
};

TEST_F(AttitudeTurnAccelerometer, CallbacksLimitTheirReadings) {
    const struct {
        const char* what;
        std::function<double(double)> value;
        std::vector<Case> cases;
    } families[] = {
        {"pitch",
         [&](double v) { return pitch_value(attitude, v); },
         {{89, 89}, {1e308, 89}, {kInf, 89}, {-kInf, -89}, {kNaN, -89}}},
        // No reading: wings level.
        {"bank",
         [&](double v) { return needle_value(attitude, kBankPointer, v); },
         {{180, 270}, {-180, -90}, {kInf, 90}, {-kInf, 90}, {kNaN, 90}}},
        {"slip",
         [&](double v) { return needle_value(turn, kSlipNeedle, v); },
         {{126.984, 19.99998}, {1e308, 20}, {-1e308, -20}, {kInf, 20}, {-kInf, -20}, {kNaN, -20}}},
        {"turn",
         [&](double v) { return needle_value(turn, kTurnPointer, v); },
         {{1092, 3.999996}, {-1092, -3.999996}, {1e308, 4}, {kInf, 4}, {-kInf, -4}, {kNaN, -4}}},
        {"g",
         [&](double v) { return needle_value(accelerometer, kGNeedle, v); },
         {{308.5, 0.5}, {3085, 5}, {-1234, -2}, {1e308, 5}, {-1e308, -2}, {kInf, 5}, {-kInf, -2}, {kNaN, -2}}},
    };
    for (const auto& family : families) {
        for (const Case& c : family.cases) {
            SCOPED_TRACE(std::string(family.what) + " " + std::to_string(c.input));
            EXPECT_NEAR(family.value(c.input), c.result, 1e-9);
        }
    }
}

TEST_F(AttitudeTurnAccelerometer, CallbacksWithoutAnElementRestOnTheirLowerLimitOrZero) {
    auto* horizon = element_as<ELEMENT_SPRITE>(attitude, kHorizon);
    EXPECT_EQ(horizon->callback_y(nullptr), -89.0);
    EXPECT_EQ(element_as<ELEMENT_NEEDLE>(attitude, kBankPointer)->update_callback(nullptr), 90.0);
    EXPECT_EQ(element_as<ELEMENT_NEEDLE>(turn, kSlipNeedle)->update_callback(nullptr), -20.0);
    EXPECT_EQ(element_as<ELEMENT_NEEDLE>(turn, kTurnPointer)->update_callback(nullptr), -4.0);
    EXPECT_EQ(element_as<ELEMENT_NEEDLE>(accelerometer, kGNeedle)->update_callback(nullptr), -2.0);
}

// --- On the bench host --------------------------------------------------------------

// Table points of the needles, for the directions the cases expect.
struct Point {
    double x, y;
};
constexpr Point kAccelerometerPivot = {139, 139};
constexpr Point kGPoints[] = {{231, 231}, {47, 231}, {47, 47}, {270, 139}};  // -2, 0, 2, 5 g
constexpr Point kTurnPivot = {141, 141};
constexpr Point kSlipPoints[] = {{88, 59}, {105, 52}, {141, 44}, {177, 52}, {194, 59}};  // -20 .. 20
constexpr Point kTurnPoints[] = {{214, 217}, {141, 245}, {68, 217}};                     // 4, 0, -4

double towards(Point pivot, Point p) { return direction(pivot.x, pivot.y, p.x, p.y); }

TEST_F(AttitudeTurnAccelerometer, AccelerometerNeedleSweeps45DegreesPerG) {
    // The table's points lie at 45, 135, 225 and 360 degrees.
    const double at[] = {towards(kAccelerometerPivot, kGPoints[0]), towards(kAccelerometerPivot, kGPoints[1]),
                         towards(kAccelerometerPivot, kGPoints[2]), towards(kAccelerometerPivot, kGPoints[3])};
    const Case cases[] = {
        {kRawPerG, clockwise_midpoint(at[1], at[2])},        // 1 g: 180 degrees
        {3.5 * kRawPerG, clockwise_midpoint(at[2], at[3])},  // 292.5
        {6 * kRawPerG, at[3]},                               // beyond the dial: 5 g
        {-kRawPerG, clockwise_midpoint(at[0], at[1])},       // -1 g: 90
        {0, at[1]},
    };
    auto gauge = open(accelerometer);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.input);
        host.vars().set(351, c.input);
        settle(*gauge);
        EXPECT_LT(angle_gap(gauge->elements()[kGNeedle].angle, c.result), 1e-6);
    }
}

TEST_F(AttitudeTurnAccelerometer, TurnPointerSwingsRightForPositiveTurns) {
    const double at[] = {towards(kTurnPivot, kTurnPoints[0]), towards(kTurnPivot, kTurnPoints[1]),
                         towards(kTurnPivot, kTurnPoints[2])};
    const struct {
        double raw;
        double angle;
    } cases[] = {
        {0, at[1]},      // hanging straight down
        {1093, at[0]},   // rate 4: right, on the screen's clockwise side
        {-1093, at[2]},  // rate -4: left
        {4 / 0.003663 / 2, clockwise_midpoint(at[0], at[1])},
        {-4 / 0.003663 / 2, clockwise_midpoint(at[1], at[2])},
        {1e6, at[0]},
    };
    auto gauge = open(turn);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        host.vars().set(70, c.raw);
        gauge->update();
        EXPECT_LT(angle_gap(gauge->elements()[kTurnPointer].angle, c.angle), 1e-3);
    }
}

TEST_F(AttitudeTurnAccelerometer, SideSlipNeedleStandsUpAndSwingsBothWays) {
    const struct {
        double raw;
        Point point;
    } cases[] = {
        {0, kSlipPoints[2]},           {200, kSlipPoints[4]},          {-200, kSlipPoints[0]},
        {10 / 0.1575, kSlipPoints[3]}, {-10 / 0.1575, kSlipPoints[1]},
    };
    auto gauge = open(turn);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.raw);
        host.vars().set(69, c.raw);
        gauge->update();
        EXPECT_LT(angle_gap(gauge->elements()[kSlipNeedle].angle, towards(kTurnPivot, c.point)), 1e-6);
    }
}

TEST_F(AttitudeTurnAccelerometer, HorizonFollowsPitchAndBank) {
    const struct {
        double pitch, bank;
        double shift_y, rotation, pointer;
    } cases[] = {
        {0, 0, 0, 0, 90},
        {30, 30, 30 * 1.17, -30, 120},
        {95, -90, 89 * 1.17, 90, 0},
        {-120, 45, -89 * 1.17, -45, 135},
    };
    auto gauge = open(attitude);
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.pitch) + " / " + std::to_string(c.bank));
        host.vars().set(78, c.pitch);
        host.vars().set(80, c.bank);
        gauge->update();
        const auto& horizon = gauge->elements()[kHorizon];
        EXPECT_NEAR(horizon.shift_y, c.shift_y, 1e-9);
        EXPECT_NEAR(horizon.shift_x, 0, 1e-9);
        EXPECT_LT(angle_gap(horizon.rotation, c.rotation), 1e-9);
        EXPECT_LT(angle_gap(gauge->elements()[kBankPointer].angle, c.pointer), 1e-9);
    }
}

}  // namespace
