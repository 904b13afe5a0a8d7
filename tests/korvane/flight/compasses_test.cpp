// "Compass", "DR_Compass" and "Direction_Finder" through the loaded module:
// their callbacks and knob, and what the bench host shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "support/korvane_bench.h"

namespace {

using namespace korvane_bench;

using Compasses = KorvaneModule;

// --- Compass card ------------------------------------------------------------------

struct CardCase {
    double heading;
    double position;
};

// Falling headings from the strip's left end: 360 - h, parked at 0 outside
// (the host's window below shows the scale).
const CardCase kCardCases[] = {
    {359.5, 0.5}, {-0.001, 0.0}, {360.001, 0.0}, {kNaN, 0.0}, {kInf, 0.0}, {-kInf, 0.0}, {kHuge, 0.0}, {-kHuge, 0.0},
};

TEST_F(Compasses, CardPosition) {
    auto* card = element_as<ELEMENT_MOVING_IMAGE>(gauge("Compass"), 1);
    ASSERT_NE(card, nullptr);
    for (const CardCase& c : kCardCases) {
        card->source_x.value = c.heading;
        EXPECT_EQ(card->callback_x(card), c.position) << "heading " << c.heading;
    }
}

// The picture (720 wide) behind the 72-wide window: position 0 shows the first
// 72 columns, 360 the last, 1.8 pixels per degree between.
TEST_F(Compasses, CardWindowThroughHost) {
    module.override_bitmap_size(235, 110, 110);
    module.override_bitmap_size(240, 720, 32);
    module.override_bitmap_size(241, 72, 32);
    runtime::GaugeInstance compass(host, module, guest_of(gauge("Compass")));
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

class DrCompass : public KorvaneModule {
protected:
    void SetUp() override {
        dr_ = gauge("DR_Compass");
        ASSERT_NE(dr_, nullptr);
        pointer_ = element_as<ELEMENT_NEEDLE>(dr_, 2);
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
TEST_F(DrCompass, KnobStartsAtZeroAndWraps) {
    EXPECT_EQ(pointer(0.0), 270.0);
    const struct {
        double from;
        int steps;  // negative: down-clicks
        std::vector<double> seen;
    } cases[] = {
        {0.0, -1, {359.0}},
        {359.0, 2, {360.0, 1.0}},
        {1.0, -2, {0.0, 359.0}},
        {360.0, -1, {359.0}},
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
    {90.0, 0.0, 360.0},   // 90 right: 3 o'clock
    {0.0, 90.0, 540.0},   // 90 left: 9 o'clock
    {0.0, 350.0, 280.0},  // -350 + 360
    {360.0, 0.0, 630.0},  // 360 is not above 360: not reduced
    {0.0, 360.0, 270.0},  // -360 + 360
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
    for (double heading : {kHuge, -kHuge}) EXPECT_TRUE(std::isfinite(pointer(heading))) << heading;
}

// Through the host: the knob's halves step the course, a held button repeats,
// the card turns anticlockwise by the heading and the pointer shows the course
// relative to it.
TEST_F(DrCompass, KnobAndCardThroughHost) {
    module.override_bitmap_size(440, 260, 260);
    runtime::GaugeInstance instance(host, module, guest_of(dr_));
    instance.setup();
    set_course(100.0);

    instance.press(98 + 40, 98 + 10);  // right half: up
    instance.release();
    EXPECT_EQ(course(), 101.0);
    instance.press(98 + 5, 98 + 60);  // left half: down, then held
    instance.repeat();
    instance.repeat();
    instance.release();
    EXPECT_EQ(course(), 98.0);
    instance.press(50, 50);  // outside the knob
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
    {30.0, -60.0},
    {65.0, -25.0},
    {65.5, -25.0},
    {180.0, -25.0},
    {-65.0, -155.0},
    {-179.9, -155.0},
    // Outside (-180, 180] nothing is limited.
    {180.5, 90.5},
    {-180.0, -270.0},
    {-200.0, -290.0},
    // No finite number reads as dead ahead.
    {kNaN, -90.0},
    {kInf, -90.0},
    {-kInf, -90.0},
};

TEST_F(Compasses, BearingLimit) {
    auto* needle = element_as<ELEMENT_NEEDLE>(gauge("Direction_Finder"), 1);
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
TEST_F(Compasses, DirectionFinderThroughHost) {
    module.override_bitmap_size(450, 185, 185);
    runtime::GaugeInstance instance(host, module, guest_of(gauge("Direction_Finder")));
    host.vars().set(39, 0.0);
    instance.update();
    ASSERT_EQ(instance.elements().size(), 2u);
    EXPECT_NEAR(instance.elements()[1].angle, 270.0, 1e-9);
    host.vars().set(39, 100.0);
    for (int update = 1; update <= 12; ++update) {
        instance.update();
        EXPECT_NEAR(instance.elements()[1].angle, std::min(270.0 + 6.0 * update, 335.0), 1e-9) << update;
    }
}

}  // namespace
