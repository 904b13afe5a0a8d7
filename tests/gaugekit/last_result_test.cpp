// A value callback's last result, handed back while its reading's bits stay.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "gaugekit/last_result.h"
#include "gaugekit/readings.h"

namespace {

int computed = 0;

// Tells 0.0 from -0.0 (1 and -1), as a result kept for the wrong one would not.
double signed_step(double reading) { return std::copysign(1.0, reading) + reading; }

double GAUGE_CALL stepped(ELEMENT_NEEDLE* needle) {
    ++computed;
    return signed_step(kit::reading(needle));
}

constexpr NeedleCallback kRemembered = kit::same_reading_same_result<stepped, kit::reading>;

TEST(LastResult, ComputesOnlyWhenTheReadingsBitsChange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Step {
        double reading;
        bool computes;
    };
    const Step steps[] = {{2.0, true},  {2.0, false}, {4.0, true},  {-0.0, true}, {0.0, true},
                          {0.0, false}, {nan, true},  {nan, false}, {2.0, true}};
    ELEMENT_NEEDLE needle{};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.reading);
        needle.source.value = step.reading;
        const int before = computed;
        const double result = kRemembered(&needle);
        EXPECT_EQ(computed - before, step.computes ? 1 : 0);
        const double expected = signed_step(step.reading);
        EXPECT_TRUE(std::isnan(expected) ? std::isnan(result) : result == expected);
    }
    // A missing element reads as not-a-number, the last reading's bits here.
    const int before = computed;
    EXPECT_TRUE(std::isnan(kRemembered(nullptr)));
    EXPECT_EQ(computed - before, 1);  // the last reading was 2.0
}

}  // namespace
