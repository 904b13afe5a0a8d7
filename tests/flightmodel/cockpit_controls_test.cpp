// How a pilot's inputs move the cockpit's controls: the throttles' travel,
// the undercarriage lever thrown, the flap lever's steps, the trim wheels.
// No model needed.
#include "flightmodel/cockpit_controls.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kFull = 16383.0;  // a lever fully forward, as the host keeps it

TEST(CockpitControls, ThrottlesTravelEndToEndInThreeSeconds) {
    const struct {
        double lever, rate, seconds;
        uint32_t expected;
    } cases[] = {
        {0.0, 1.0, 1.0 / 18.0, 303},   // one update's worth of 3 s
        {0.0, 1.0, 3.0, 16383},        //
        {kNaN, 1.0, 3.0, 16383},       // a lever the host has no value for is closed
        {8000.0, 0.5, 1.5, 12096},     // half rate, half the time: a quarter of the travel
        {16383.0, 1.0, 1.0, 16383},    // stops fully open
        {100.0, -1.0, 1.0 / 18.0, 0},  // and closed
        {5000.0, 0.0, 1.0, 5000},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(flightmodel::throttle_moved(c.lever, c.rate, c.seconds), c.expected)
            << c.lever << " at " << c.rate << " for " << c.seconds << " s";
    }
}

TEST(CockpitControls, LeversMoveFromThePilotsPlaceOrTheModels) {
    const struct {
        const char* what;
        double pilot, model;  // the lever the pilot set (0..1), the model's surface (host units)
        int step;             // 0: the undercarriage lever thrown; else a flap step
        double expected;
    } cases[] = {
        {"gear up in the model, unmoved: thrown down", kNaN, 0.0, 0, 1.0},
        {"gear down in the model, unmoved: thrown up", kNaN, kFull, 0, 0.0},
        {"the pilot's lever, not the model's gear", 0.0, kFull, 0, 1.0},
        {"down by the pilot: thrown up", 1.0, 0.0, 0, 0.0},
        {"no value for the gear: taken as up", kNaN, kNaN, 0, 1.0},
        {"flaps up: the take-off step", kNaN, 0.0, 1, 1.0 / 3.0},
        {"flaps at the second step: fully down", kNaN, kFull * 2.0 / 3.0, 1, 1.0},
        {"from near a step, not from between", 0.4, 0.0, -1, 0.0},
        {"the pilot's lever, not the model's flaps", 1.0 / 3.0, kFull, 1, 2.0 / 3.0},
        {"stops fully down", 1.0, 0.0, 1, 1.0},
        {"stops up", 0.0, kFull, -1, 0.0},
    };
    for (const auto& c : cases) {
        const double lever = c.step == 0 ? flightmodel::gear_lever_thrown(c.pilot, c.model)
                                         : flightmodel::flap_lever_stepped(c.pilot, c.model, c.step);
        EXPECT_DOUBLE_EQ(lever, c.expected) << c.what;
    }
}

TEST(CockpitControls, TrimMovesFromThePilotsPlaceOrTheModels) {
    const struct {
        const char* what;
        double pilot, model;  // -1..1: the pilot's trim, the model's
        int step;             // 0: turned at `rate` for a second
        double rate, expected;
    } cases[] = {
        {"a notch nose down from the model's trim", kNaN, 0.2, 1, 0.0, 0.21},
        {"from the pilot's, not the model's", -0.5, 0.2, -1, 0.0, -0.51},
        {"no trim from the model: from neutral", kNaN, kNaN, 1, 0.0, 0.01},
        {"stops at full nose down", 0.995, 0.0, 1, 0.0, 1.0},
        {"and full the other way", -1.0, 0.0, -1, 0.0, -1.0},
        {"full rate: a fifth of the travel a second", 0.0, 0.0, 0, 1.0, 0.2},
        {"half rate the other way", kNaN, 0.5, 0, -0.5, 0.4},
        {"no rate from the gamepad: stays", 0.3, 0.0, 0, kNaN, 0.3},
    };
    for (const auto& c : cases) {
        const double trim = c.step != 0 ? flightmodel::trim_stepped(c.pilot, c.model, c.step)
                                        : flightmodel::trim_turned(c.pilot, c.model, c.rate, 1.0);
        EXPECT_NEAR(trim, c.expected, 1e-12) << c.what;
    }
}

}  // namespace
