// "Compass", "DR_Compass" and "Direction_Finder" through the loaded module:
// their records, callbacks and knob, and what the bench host shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <limits>
#include <string>
#include <vector>

#include "frame/gauge_table.h"

#include "navigation_records.h"
#include "host/instance.h"

namespace {

using namespace navigation_test;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kHuge = std::numeric_limits<double>::max();

// --- Records ---------------------------------------------------------------------

using Failures = std::vector<std::pair<uint32_t, uint32_t>>;
const Failures kCompassFailures = {{11, 2}, {20, 1}};

TEST_F(LoadedModule, CompassRecords) {
    GAUGEHDR* g = gauge("Compass");
    ASSERT_NE(g, nullptr);
    expect_header(g, "Compass");
    expect_elements(g, {
                           {kStaticImage, 235, 0, 0, 0, 0, 0x1, kCompassFailures},
                           {kMovingImage, 240, 19, 17, 0, 0, 0x4003, kCompassFailures},
                       });
    auto* card = element_at<ELEMENT_MOVING_IMAGE>(g, 1);
    ASSERT_NE(card, nullptr);
    EXPECT_EQ(card->source_x.token, 81u);
    EXPECT_EQ(card->min_x, 0.0);
    EXPECT_EQ(card->max_x, 360.0);
    EXPECT_EQ(card->source_y.token, 0u);
    EXPECT_EQ(card->min_y, 0.0);
    EXPECT_EQ(card->max_y, 0.0);
    EXPECT_NE(card->callback_x, nullptr);
    EXPECT_EQ(card->callback_y, nullptr);
    expect_mouse_list(g->mouse_rects, {
                                          {kMouseParent, 0, 0, 0, 0, -1, 0xA005, 0, 0, nullptr},
                                          {kMouseParentEnd},
                                          {kMouseEnd},
                                      });
}

TEST_F(LoadedModule, DrCompassRecords) {
    GAUGEHDR* g = gauge("DR_Compass");
    ASSERT_NE(g, nullptr);
    expect_header(g, "DR_Compass");
    expect_elements(g, {
                           {kStaticImage, 440, 0, 0, 0, 0, 0x4001, kCompassFailures},
                           {kSprite, 442, 0, 0, 130, 130, 0x4003, kCompassFailures},
                           {kNeedle, 445, 130, 130, 88, 12, 0x4003, std::nullopt},
                           {kIcon, 447, 102, 102, 0, 0, 0x4003, kCompassFailures},
                       });
    auto* card = element_at<ELEMENT_SPRITE>(g, 1);
    auto* pointer = element_at<ELEMENT_NEEDLE>(g, 2);
    auto* knob = element_at<ELEMENT_ICON>(g, 3);
    ASSERT_TRUE(card && pointer && knob);
    EXPECT_EQ(card->source_x.token, 0u);
    EXPECT_EQ(card->scale_x, 0.0);
    EXPECT_EQ(card->source_y.token, 0u);
    EXPECT_EQ(card->scale_y, 0.0);
    EXPECT_EQ(card->source_rotation.token, 81u);
    EXPECT_EQ(card->scale_rotation, 1.0);
    EXPECT_EQ(card->texture_scale_x, 1.0f);
    EXPECT_EQ(card->texture_scale_y, 1.0f);
    EXPECT_EQ(card->callback_x, nullptr);
    EXPECT_EQ(card->callback_y, nullptr);
    EXPECT_EQ(card->callback_rotation, nullptr);
    EXPECT_EQ(pointer->source.token, 81u);
    EXPECT_EQ(pointer->nonlinearity, nullptr);
    EXPECT_EQ(pointer->nonlinearity_size, 0u);
    EXPECT_EQ(pointer->max_degrees_per_tick, 0);
    EXPECT_NE(pointer->update_callback, nullptr);
    EXPECT_EQ(knob->source.token, 0u);
    EXPECT_EQ(knob->frame_count, 1u);
    EXPECT_EQ(knob->callback, nullptr);
    expect_mouse_list(g->mouse_rects, {
                                          {kMouseParent, 0, 0, 0, 0, -1, 0xA005, 0, 0, nullptr},
                                          {kMouseParent, 98, 98, 64, 64, -1, 0, 0, 0, nullptr},
                                          {kMouseChild, 0, 0, 32, 64, 2, 0, 0x20200000, 0, kHandler},
                                          {kMouseChild, 32, 0, 32, 64, 1, 0, 0x20200000, 0, kHandler},
                                          {kMouseParentEnd},
                                          {kMouseParentEnd},
                                          {kMouseEnd},
                                      });
}

TEST_F(LoadedModule, DirectionFinderRecords) {
    GAUGEHDR* g = gauge("Direction_Finder");
    ASSERT_NE(g, nullptr);
    expect_header(g, "Direction_Finder");
    const Failures failures = {{9, 1}};
    expect_elements(g, {
                           {kStaticImage, 450, 0, 0, 0, 0, 0x4001, failures},
                           {kNeedle, 452, 91, 91, 1, 10, 0x4003, failures},
                       });
    auto* needle = element_at<ELEMENT_NEEDLE>(g, 1);
    ASSERT_NE(needle, nullptr);
    EXPECT_EQ(needle->source.token, 39u);
    EXPECT_EQ(needle->nonlinearity, nullptr);
    EXPECT_EQ(needle->nonlinearity_size, 0u);
    EXPECT_EQ(needle->max_degrees_per_tick, 6);
    EXPECT_NE(needle->update_callback, nullptr);
    expect_mouse_list(g->mouse_rects, {
                                          {kMouseParent, 0, 0, 0, 0, -1, 0, 0, 0, nullptr},
                                          {kMouseParentEnd},
                                          {kMouseEnd},
                                      });
}

// The three share the module's empty gauge callback; the Clock and the Timer
// have callbacks of their own.
TEST_F(LoadedModule, NavigationGaugeCallbacks) {
    GAUGEHDR* compass = gauge("Compass");
    GAUGEHDR* dr = gauge("DR_Compass");
    GAUGEHDR* finder = gauge("Direction_Finder");
    GAUGEHDR* clock = gauge("Clock");
    GAUGEHDR* timer = gauge("Timer");
    ASSERT_TRUE(compass && dr && finder && clock && timer);
    EXPECT_EQ(dr->gauge_callback, compass->gauge_callback);
    EXPECT_EQ(finder->gauge_callback, compass->gauge_callback);
    EXPECT_NE(clock->gauge_callback, compass->gauge_callback);
    EXPECT_NE(timer->gauge_callback, compass->gauge_callback);
    EXPECT_NE(timer->gauge_callback, clock->gauge_callback);
    for (uint32_t service : {2u, 4u, 6u}) compass->gauge_callback(compass, service, 0);
    EXPECT_TRUE(host.service_log().empty());
}

// The five stand in the gauge table in the host's order.
TEST_F(LoadedModule, NavigationGaugesInTableOrder) {
    std::vector<std::string> names;
    for (GAUGEHDR* g : module.gauges()) names.push_back(g->gauge_name);
    size_t next = 0;  // the table must be a subsequence of the full order
    for (const std::string& name : names) {
        while (next < std::size(frame::kKorvaneGaugeOrder) && name != frame::kKorvaneGaugeOrder[next]) ++next;
        ASSERT_LT(next, std::size(frame::kKorvaneGaugeOrder)) << name << " out of order";
        ++next;
    }
    for (const char* name : {"Clock", "Compass", "Timer", "DR_Compass", "Direction_Finder"}) {
        EXPECT_EQ(std::count(names.begin(), names.end(), name), 1) << name;
    }
}

// --- Compass card ------------------------------------------------------------------

struct CardCase {
    double heading;
    double position;
};

// Falling headings from the strip's left end: 360 - h, parked at 0 outside.
const CardCase kCardCases[] = {
    {0.0, 360.0},  {90.0, 270.0}, {180.0, 180.0}, {359.5, 0.5}, {360.0, 0.0},  {-10.0, 0.0},
    {370.0, 0.0},  {-0.001, 0.0}, {360.001, 0.0}, {kNaN, 0.0},  {kInf, 0.0},   {-kInf, 0.0},
    {kHuge, 0.0},  {-kHuge, 0.0},
};

TEST_F(LoadedModule, CardPosition) {
    auto* card = element_at<ELEMENT_MOVING_IMAGE>(gauge("Compass"), 1);
    ASSERT_NE(card, nullptr);
    for (const CardCase& c : kCardCases) {
        card->source_x.value = c.heading;
        EXPECT_EQ(card->callback_x(card), c.position) << "heading " << c.heading;
    }
}

// The picture (720 wide) behind the 72-wide window: position 0 shows the first
// 72 columns, 360 the last, 1.8 pixels per degree between.
TEST_F(LoadedModule, CardWindowThroughHost) {
    module.override_bitmap_size(235, 110, 110);
    module.override_bitmap_size(240, 720, 32);
    module.override_bitmap_size(241, 72, 32);
    bench::GaugeInstance compass(host, module, gauge("Compass"));
    compass.setup();
    const struct {
        double heading;
        double offset;
    } cases[] = {{360.0, 0.0}, {0.0, 648.0}, {90.0, 486.0}, {270.0, 162.0}, {-10.0, 0.0}, {370.0, 0.0}, {kNaN, 0.0}};
    for (const auto& c : cases) {
        host.vars().set(81, c.heading);
        compass.update();
        ASSERT_EQ(compass.elements().size(), 2u);
        EXPECT_NEAR(compass.elements()[1].offset_x, c.offset, 1e-9) << "heading " << c.heading;
        EXPECT_EQ(compass.elements()[1].offset_y, 0.0);
    }
}

// --- DR compass: knob and pointer ----------------------------------------------------

class DrCompass : public LoadedModule {
protected:
    void SetUp() override {
        dr_ = gauge("DR_Compass");
        ASSERT_NE(dr_, nullptr);
        pointer_ = element_at<ELEMENT_NEEDLE>(dr_, 2);
        ASSERT_NE(pointer_, nullptr);
    }

    double pointer(double heading) {
        pointer_->source.value = heading;
        return pointer_->update_callback(pointer_);
    }
    // With heading 0 the pointer shows the course itself, unreduced.
    double course() { return pointer(0.0) - 270.0; }
    void down() {
        PIXPOINT point{5, 5};
        EXPECT_EQ(dr_->mouse_rects[2].handler(&point, kMouseClickRepeat), 0);
    }
    void up() {
        PIXPOINT point{5, 5};
        EXPECT_EQ(dr_->mouse_rects[3].handler(&point, kMouseClickRepeat), 0);
    }
    // The knob steps in whole degrees: down-clicks reach 0..359, 360 is one
    // up-click from 359.
    void set_course(double target) {
        if (target == 360.0) {
            set_course(359.0);
            up();
            return;
        }
        for (int clicks = 0; clicks <= 361 && course() != target; ++clicks) down();
        ASSERT_EQ(course(), target);
    }

    GAUGEHDR* dr_ = nullptr;
    ELEMENT_NEEDLE* pointer_ = nullptr;
};

// Each test loads the library afresh, so the course starts at its load value.
TEST_F(DrCompass, StartsAtZero) {
    EXPECT_EQ(pointer(0.0), 270.0);
    down();
    EXPECT_EQ(course(), 359.0);
}

TEST_F(DrCompass, KnobWraps) {
    const struct {
        double from;
        int steps;  // negative: down-clicks
        std::vector<double> seen;
    } cases[] = {
        {0.0, -1, {359.0}},
        {359.0, 2, {360.0, 1.0}},
        {1.0, -2, {0.0, 359.0}},
        {360.0, -1, {359.0}},
        {0.0, 1, {1.0}},
        {180.0, 3, {181.0, 182.0, 183.0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("from " + std::to_string(c.from));
        set_course(c.from);
        for (size_t i = 0; i < c.seen.size(); ++i) {
            c.steps < 0 ? down() : up();
            EXPECT_EQ(course(), c.seen[i]) << "after click " << i + 1;
        }
    }
}

TEST_F(DrCompass, HandlersIgnoreTheirArguments) {
    set_course(10.0);
    EXPECT_EQ(dr_->mouse_rects[3].handler(nullptr, 0), 0);
    EXPECT_EQ(dr_->mouse_rects[3].handler(nullptr, 0xFFFFFFFFu), 0);
    EXPECT_EQ(course(), 12.0);
    EXPECT_EQ(dr_->mouse_rects[2].handler(nullptr, 0), 0);
    EXPECT_EQ(course(), 11.0);
}

struct PointerCase {
    double course;
    double heading;
    double angle;
};

const PointerCase kPointerCases[] = {
    {0.0, 0.0, 270.0},     // dead ahead: 12 o'clock
    {90.0, 0.0, 360.0},    // 90 right: 3 o'clock
    {0.0, 90.0, 540.0},    // 90 left: 9 o'clock
    {0.0, 350.0, 280.0},   // -350 + 360
    {360.0, 0.0, 630.0},   // 360 is not above 360: not reduced
    {360.0, 360.0, 270.0},
    {0.0, 360.0, 270.0},   // -360 + 360
    {1.0, 0.0, 271.0},
    {359.0, 0.0, 629.0},
    {180.0, 359.0, 451.0},
    {10.0, -10.0, 290.0},  // out-of-range headings get one step only
    {0.0, 400.0, 230.0},
    {0.0, -400.0, 310.0},  // 400 - 360
    // A heading that is no finite number reads as 0.
    {45.0, kNaN, 315.0},
    {45.0, kInf, 315.0},
    {45.0, -kInf, 315.0},
};

TEST_F(DrCompass, CoursePointer) {
    for (const PointerCase& c : kPointerCases) {
        set_course(c.course);
        EXPECT_EQ(pointer(c.heading), c.angle) << "course " << c.course << " heading " << c.heading;
    }
}

TEST_F(DrCompass, CoursePointerStaysFiniteForHugeHeadings) {
    set_course(200.0);
    for (double heading : {kHuge, -kHuge, 1e300, -1e300}) {
        EXPECT_TRUE(std::isfinite(pointer(heading))) << heading;
    }
}

// Through the host: the knob's halves step the course, a held button repeats,
// the card turns anticlockwise by the heading and the pointer shows the course
// relative to it.
TEST_F(DrCompass, KnobAndCardThroughHost) {
    module.override_bitmap_size(440, 260, 260);
    bench::GaugeInstance instance(host, module, dr_);
    instance.setup();
    set_course(100.0);

    instance.press(98 + 40, 98 + 10);  // right half: up
    instance.release();
    EXPECT_EQ(course(), 101.0);
    instance.press(98 + 5, 98 + 60);   // left half: down, then held
    instance.repeat();
    instance.repeat();
    instance.release();
    EXPECT_EQ(course(), 98.0);
    instance.press(50, 50);            // outside the knob
    instance.release();
    EXPECT_EQ(course(), 98.0);

    const struct {
        double heading;
        double rotation;
        double pointer_angle;  // screen angle in [0, 360)
    } cases[] = {{0.0, 0.0, 8.0}, {90.0, 90.0, 278.0}, {98.0, 98.0, 270.0}, {350.0, 350.0, 18.0}};
    for (const auto& c : cases) {
        host.vars().set(81, c.heading);
        instance.update();
        ASSERT_EQ(instance.elements().size(), 4u);
        EXPECT_EQ(instance.elements()[1].rotation, c.rotation) << "heading " << c.heading;
        EXPECT_NEAR(instance.elements()[2].angle, c.pointer_angle, 1e-9) << "heading " << c.heading;
    }
}

// --- Direction finder ---------------------------------------------------------------

struct BearingCase {
    double bearing;
    double angle;
};

const BearingCase kBearingCases[] = {
    {0.0, -90.0},    {30.0, -60.0},    {65.0, -25.0},    {65.5, -25.0},   {100.0, -25.0},
    {180.0, -25.0},  {-65.0, -155.0},  {-100.0, -155.0}, {-179.9, -155.0},
    // Outside (-180, 180] nothing is limited.
    {180.5, 90.5},   {200.0, 110.0},   {-180.0, -270.0}, {-200.0, -290.0},
    // No finite number reads as dead ahead.
    {kNaN, -90.0},   {kInf, -90.0},    {-kInf, -90.0},
};

TEST_F(LoadedModule, BearingLimit) {
    auto* needle = element_at<ELEMENT_NEEDLE>(gauge("Direction_Finder"), 1);
    ASSERT_NE(needle, nullptr);
    for (const BearingCase& c : kBearingCases) {
        needle->source.value = c.bearing;
        EXPECT_EQ(needle->update_callback(needle), c.angle) << "bearing " << c.bearing;
    }
    for (double huge : {kHuge, -kHuge}) {
        needle->source.value = huge;
        EXPECT_TRUE(std::isfinite(needle->update_callback(needle))) << huge;
    }
}

// The needle turns at most 6 degrees per update toward the limited bearing.
TEST_F(LoadedModule, DirectionFinderThroughHost) {
    module.override_bitmap_size(450, 185, 185);
    bench::GaugeInstance instance(host, module, gauge("Direction_Finder"));
    host.vars().set(39, 0.0);
    instance.update();
    ASSERT_EQ(instance.elements().size(), 2u);
    EXPECT_NEAR(instance.elements()[1].angle, 270.0, 1e-9);
    host.vars().set(39, 100.0);
    const double expected[] = {276.0, 282.0, 288.0, 294.0, 300.0, 306.0, 312.0, 318.0, 324.0, 330.0, 335.0, 335.0};
    for (double angle : expected) {
        instance.update();
        EXPECT_NEAR(instance.elements()[1].angle, angle, 1e-9);
    }
}

}  // namespace
