// The per-engine dials: conversions and limits of every callback, the tokens
// of all four engines, and the angles the host draws at the table points.
#include <array>
#include <string>

#include "support/korvane_bench.h"

namespace {

using namespace korvane_bench;

struct Family {
    const char* prefix;  // gauge name without the engine number
    int depth;           // the needle's place in the chain
    uint32_t engine1_token;
};

constexpr Family kThousandsHand{"Tachometer", 1, 390};
constexpr Family kHundredsHand{"Tachometer", 2, 390};
constexpr Family kBoost{"Boost", 1, 391};
constexpr Family kOilTemperature{"Oil_Temperature", 1, 416};
constexpr Family kOilPressure{"Oil_Pressure", 1, 418};
constexpr Family kRadiator{"Radiator_Temperature", 1, 417};

std::string gauge_name(const Family& family, int engine) { return family.prefix + std::to_string(engine); }
uint32_t token_of(const Family& family, int engine) { return family.engine1_token + 39 * (engine - 1); }

struct ReadingCase {
    const Family* family;
    double reading;
    double expected;
};

// Limits and readings that are no number; the scaling shows in the tokens'
// cases below.
const ReadingCase kReadingCases[] = {
    // The long hand is not reduced; a reading with no angle leaves the hands
    // on the dial's 0.
    {&kHundredsHand, 2400, 1134},
    {&kThousandsHand, kNaN, 270},
    {&kHundredsHand, kNaN, 270},
    {&kThousandsHand, kInf, 270},
    {&kHundredsHand, -kInf, 270},
    // Boost against the 2073 datum, limited to -5 .. 24.
    {&kBoost, 5529, 24},
    {&kBoost, 5600, 24},
    {&kBoost, 1353, -5},
    {&kBoost, 1000, -5},
    {&kBoost, kNaN, -5},
    {&kBoost, kInf, 24},
    {&kBoost, -kInf, -5},
    // Rankine offset 492 and factor 0.555556, not 491.67 and 5/9.
    {&kOilTemperature, 708, 120},
    {&kOilTemperature, 311.67, 0},
    {&kOilTemperature, kNaN, 0},
    {&kOilTemperature, kInf, 120},
    {&kOilTemperature, -kInf, 0},
    {&kRadiator, 563, 40},
    {&kRadiator, 744, 140},
    {&kRadiator, kNaN, 40},
    {&kRadiator, kInf, 140},
    {&kRadiator, -kInf, 40},
    // Pounds per square foot to per square inch, limited to 0 .. 120.
    {&kOilPressure, 17280, 120},
    {&kOilPressure, 20000, 120},
    {&kOilPressure, -1, 0},
    {&kOilPressure, kNaN, 0},
    {&kOilPressure, kInf, 120},
    {&kOilPressure, -kInf, 0},
};

class EngineDials : public KorvaneModule {};

TEST_F(EngineDials, EveryEngineConvertsAndLimitsItsReading) {
    for (int engine = 1; engine <= 4; ++engine) {
        for (const ReadingCase& c : kReadingCases) {
            const std::string name = gauge_name(*c.family, engine);
            SCOPED_TRACE(name + " reading " + std::to_string(c.reading));
            const double result = needle_value(element_as<ELEMENT_NEEDLE>(gauge(name), c.family->depth), c.reading);
            EXPECT_NEAR(result, c.expected, 1e-9);
        }
    }
}

// Each engine's gauge reads its own engine's token and no other: every
// engine gets a different reading and each gauge must show its own.
struct TokenCase {
    const Family* family;
    std::array<double, 4> readings;  // engines 1 to 4
    std::array<double, 4> shown;
};

const TokenCase kTokenCases[] = {
    {&kThousandsHand, {1000, 2000, 3000, 4000}, {306, 342, 378, 414}},
    {&kHundredsHand, {100, 200, 300, 400}, {306, 342, 378, 414}},
    {&kBoost, {2073, 2217, 2361, 2505}, {0, 1, 2, 3}},
    {&kOilTemperature, {492, 510, 528, 546}, {0, 10.000008, 20.000016, 30.000024}},
    {&kOilPressure, {1440, 2880, 4320, 5760}, {10, 20, 30, 40}},
    {&kRadiator, {564, 582, 600, 618}, {40.000032, 50.00004, 60.000048, 70.000056}},
};

TEST_F(EngineDials, EachEngineReadsItsOwnToken) {
    for (const TokenCase& c : kTokenCases) {
        for (int engine = 1; engine <= 4; ++engine)
            host.vars().set(token_of(*c.family, engine), c.readings[engine - 1]);
        for (int engine = 1; engine <= 4; ++engine) {
            const std::string name = gauge_name(*c.family, engine);
            SCOPED_TRACE(name);
            runtime::GaugeInstance instance(host, module, guest_of(gauge(name)));
            instance.update();
            ASSERT_GT(instance.elements().size(), static_cast<size_t>(c.family->depth));
            EXPECT_NEAR(instance.elements()[c.family->depth].value, c.shown[engine - 1], 1e-9);
        }
    }
}

// The host draws a table needle at the direction of a point from the pivot; a
// reading that converts to the point's value must land there.
struct PointCase {
    const Family* family;
    int32_t pivot_x, pivot_y;
    double reading;
    int32_t x, y;
};

const PointCase kPointCases[] = {
    {&kBoost, 139, 139, 2073 + 16 * 144, 189, 252},
    {&kOilTemperature, 69, 114, 492 + 60 / 0.555556, 77, 36},
    {&kOilPressure, 69, 69, 60 * 144, 69, 5},
    {&kRadiator, 69, 114, 492 + 90 / 0.555556, 69, 35},
};

TEST_F(EngineDials, TableNeedlesPointAtTheirTablePoints) {
    for (const PointCase& c : kPointCases) {
        for (int engine = 1; engine <= 4; ++engine) {
            const std::string name = gauge_name(*c.family, engine);
            SCOPED_TRACE(name + " at (" + std::to_string(c.x) + ", " + std::to_string(c.y) + ")");
            host.vars().set(token_of(*c.family, engine), c.reading);
            runtime::GaugeInstance instance(host, module, guest_of(gauge(name)));
            instance.update();
            ASSERT_EQ(instance.elements().size(), 2u);
            EXPECT_LT(angle_gap(instance.elements()[1].angle, direction(c.pivot_x, c.pivot_y, c.x, c.y)), 0.01);
        }
    }
}

}  // namespace
