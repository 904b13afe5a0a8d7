// The host's value-to-picture rules as pure functions: screen directions,
// calibration tables, the per-update turn limit, moving-image offsets and
// icon frames.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "runtime/evaluate.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kTolerance = 1e-9;

constexpr guest::NONLINEARITY point(int32_t x, int32_t y, double value) { return {.x = x, .y = y, .value = value}; }

void expect_in_turn(double angle) {
    EXPECT_GE(angle, 0.0);
    EXPECT_LT(angle, 360.0);
}

// --- Directions --------------------------------------------------------------

struct DirectionCase {
    double to_x, to_y;
    double expected;
};

TEST(Direction, ClockwiseFromThreeOClockWithYDown) {
    const DirectionCase cases[] = {
        {10, 0, 0.0}, {-5, 5, 135.0}, {0, -10, 270.0}, {5, -5, 315.0}, {0, 0, 0.0},  // no direction at all: 3 o'clock
    };
    for (const DirectionCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "to (" << c.to_x << ", " << c.to_y << ")");
        const double angle = runtime::direction_degrees(100, 100, 100 + c.to_x, 100 + c.to_y);
        EXPECT_NEAR(angle, c.expected, kTolerance);
        expect_in_turn(angle);
    }
}

// --- Calibration tables ----------------------------------------------------------

// 6, 9 and 12 o'clock around (100, 100), with unequal value steps.
const guest::NONLINEARITY kAscending[] = {point(100, 150, 0.0), point(50, 100, 10.0), point(100, 50, 100.0)};
// Values fall while the needle turns clockwise (the turn gauge's shape).
const guest::NONLINEARITY kDescending[] = {point(50, 50, 4.0), point(100, 50, 0.0), point(150, 50, -4.0)};
// 315 -> 0 -> 45 -> 135: the first step crosses 3 o'clock.
const guest::NONLINEARITY kWrap[] = {point(150, 50, 0.0), point(150, 100, 10.0), point(150, 150, 20.0),
                                     point(50, 150, 30.0)};
// A step with no change of value, then a normal one.
const guest::NONLINEARITY kFlatStep[] = {point(100, 150, 0.0), point(50, 100, 0.0), point(100, 50, 10.0)};
const guest::NONLINEARITY kSinglePoint[] = {point(150, 150, 7.0)};

struct TableCase {
    const char* name;
    const guest::NONLINEARITY* table;
    uint32_t size;
    double value;
    double expected;
};

TEST(TableAngle, InterpolatesClockwiseAndRestsOnTheEnds) {
    const TableCase cases[] = {
        {"ascending first point", kAscending, 3, 0.0, 90.0},
        {"ascending inside first step", kAscending, 3, 5.0, 135.0},
        {"ascending inside long step", kAscending, 3, 55.0, 225.0},
        {"ascending last point", kAscending, 3, 100.0, 270.0},
        {"ascending below the first", kAscending, 3, -5.0, 90.0},
        {"ascending above the last", kAscending, 3, 1000.0, 270.0},
        {"ascending +inf", kAscending, 3, kInf, 270.0},
        {"ascending NaN rests on the first point", kAscending, 3, kNaN, 90.0},
        {"descending falling value turns clockwise", kDescending, 3, 2.0, 247.5},
        {"descending second step", kDescending, 3, -2.0, 292.5},
        {"descending above the first value", kDescending, 3, 6.0, 225.0},
        {"descending below the last value", kDescending, 3, -9.0, 315.0},
        {"descending NaN", kDescending, 3, kNaN, 225.0},
        {"wrap across 3 o'clock", kWrap, 4, 5.0, 337.5},
        {"wrap at 3 o'clock", kWrap, 4, 10.0, 0.0},
        {"wrap wide step", kWrap, 4, 25.0, 90.0},
        {"wrap beyond the last", kWrap, 4, 40.0, 135.0},
        {"flat step at its value", kFlatStep, 3, 0.0, 90.0},
        {"flat step, next step", kFlatStep, 3, 5.0, 225.0},
        {"single point, any value", kSinglePoint, 1, -50.0, 45.0},
        {"single point, NaN", kSinglePoint, 1, kNaN, 45.0},
    };
    for (const TableCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<double> angle = runtime::table_angle(c.table, c.size, 100, 100, c.value);
        ASSERT_TRUE(angle.has_value());
        EXPECT_NEAR(*angle, c.expected, kTolerance);
        expect_in_turn(*angle);
        // The same place along the scale, counted from the first point and
        // never beyond the scale's end.
        const double travel = *runtime::table_travel(c.table, c.size, 100, 100, c.value);
        const double whole = *runtime::table_travel(c.table, c.size, 100, 100, c.table[c.size - 1].value);
        EXPECT_NEAR(
            runtime::normalize_degrees(*runtime::table_angle(c.table, c.size, 100, 100, c.table[0].value) + travel),
            c.expected, kTolerance);
        EXPECT_GE(travel, 0.0);
        EXPECT_LE(travel, whole + kTolerance);
    }
    EXPECT_NEAR(*runtime::table_travel(kWrap, 4, 100, 100, 40.0), 180.0, kTolerance);  // 315 on through 0 to 135
    EXPECT_FALSE(runtime::table_travel(nullptr, 3, 0, 0, 1.0).has_value());
}

TEST(TableAngle, NoTableGivesNothing) {
    EXPECT_FALSE(runtime::table_angle(nullptr, 3, 0, 0, 1.0).has_value());
    EXPECT_FALSE(runtime::table_angle(kAscending, 0, 0, 0, 1.0).has_value());
}

// --- Angles and turn limit ------------------------------------------------------

struct NormalizeCase {
    double angle;
    double expected;
};

TEST(NormalizeDegrees, ReducesToOneTurn) {
    const NormalizeCase cases[] = {
        {0.0, 0.0},    {359.5, 359.5}, {360.0, 0.0}, {725.0, 5.0}, {-90.0, 270.0},
        {-720.0, 0.0}, {-1e-20, 0.0},  {kNaN, 0.0},  {kInf, 0.0},  {-kInf, 0.0},
    };
    for (const NormalizeCase& c : cases) {
        SCOPED_TRACE(c.angle);
        const double angle = runtime::normalize_degrees(c.angle);
        EXPECT_NEAR(angle, c.expected, kTolerance);
        expect_in_turn(angle);
    }
    expect_in_turn(runtime::normalize_degrees(1e300));
    expect_in_turn(runtime::normalize_degrees(-1e300));
}

struct RateCase {
    const char* name;
    double current, target;
    int32_t max_degrees;
    double expected;
};

TEST(RateLimitedTravel, MovesByAtMostTheLimitWithoutWrapping) {
    const RateCase cases[] = {
        {"limited up", 0, 10, 6, 6},
        {"limited down", 10, 0, 6, 4},
        {"within the limit", 358, 362, 6, 362},
        {"4 to 350 goes up the scale, not back across 0", 4, 350, 6, 10},
        {"a whole turn is no shortcut", 0, 360, 6, 6},
        {"zero jumps", 0, 200, 0, 200},
        {"negative limit jumps", 0, 200, -3, 200},
        {"NaN current starts from 0", kNaN, 50, 6, 6},
        {"NaN target goes toward 0", 20, kNaN, 6, 14},
    };
    for (const RateCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_NEAR(runtime::rate_limited_travel(c.current, c.target, c.max_degrees), c.expected, kTolerance);
    }
}

// --- Moving images -------------------------------------------------------------

struct OffsetCase {
    const char* name;
    double value, min, max, picture, window;
    double expected;
};

TEST(MovingImageOffset, WindowRunsFromFirstEdgeToFarEdge) {
    const OffsetCase cases[] = {
        {"card at 0 shows the first 72 columns", 0, 0, 360, 720, 72, 0},
        {"card at 360 shows the last 72 columns", 360, 0, 360, 720, 72, 648},
        {"card: 1.8 pixels per degree", 1, 0, 360, 720, 72, 1.8},
        {"card above the range", 400, 0, 360, 720, 72, 648},
        {"drum: 2.7 pixels per unit", 1, 0, 100, 297, 27, 2.7},
        {"min equal to max stays", 50, 20, 20, 720, 72, 0},
        {"reversed range", 0, 360, 0, 720, 72, 648},
        {"picture no larger than window", 50, 0, 100, 72, 72, 0},
        {"NaN value", kNaN, 0, 360, 720, 72, 0},
        {"infinite value", kInf, 0, 360, 720, 72, 0},
        {"infinite minimum", 5, -kInf, 360, 720, 72, 0},
        {"range too wide for a double", 0, -1.7e308, 1.7e308, 720, 72, 324},
    };
    for (const OffsetCase& c : cases) {
        SCOPED_TRACE(c.name);
        const double offset = runtime::moving_image_offset(c.value, c.min, c.max, c.picture, c.window);
        EXPECT_NEAR(offset, c.expected, 1e-9);
        EXPECT_GE(offset, 0.0);
        EXPECT_LE(offset, std::fmax(c.picture - c.window, 0.0));
    }
}

TEST(MovingImageFraction, StaysWithinZeroAndOne) {
    const OffsetCase cases[] = {
        {"start", 0, 0, 100, 0, 0, 0.0},  {"middle", 25, 0, 100, 0, 0, 0.25}, {"end", 100, 0, 100, 0, 0, 1.0},
        {"below", -1, 0, 100, 0, 0, 0.0}, {"above", 101, 0, 100, 0, 0, 1.0},  {"flat", 5, 3, 3, 0, 0, 0.0},
        {"NaN", kNaN, 0, 100, 0, 0, 0.0}, {"-inf", -kInf, 0, 100, 0, 0, 0.0},
    };
    for (const OffsetCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(runtime::moving_image_fraction(c.value, c.min, c.max), c.expected);
    }
}

// --- Icon frames ----------------------------------------------------------------

struct FrameCase {
    double value;
    uint32_t frame_count;
    uint32_t expected;
};

TEST(IconFrame, WholePartWithinTheFrames) {
    const FrameCase cases[] = {
        {1.0, 2, 1},  {0.0, 2, 0},  {0.99, 2, 0},  {1.5, 2, 1}, {2.0, 2, 1}, {-1.0, 2, 0}, {-0.5, 2, 0},
        {kNaN, 2, 0}, {kInf, 2, 1}, {-kInf, 2, 0}, {5.0, 0, 0}, {5.0, 1, 0}, {3e9, 5, 4},  {3.0, 5, 3},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " of " << c.frame_count);
        EXPECT_EQ(runtime::icon_frame(c.value, c.frame_count), c.expected);
    }
}

}  // namespace
