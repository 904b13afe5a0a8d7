// Throttle and Prop_Control driven through the loaded module: lever values
// from the pointer's height at the bitmaps' sizes and at twice the size, the
// sound handling of drags without a measurable background and of pointers far
// outside the box.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "support/korvane_bench.h"

namespace {

using korvane_bench::BitmapSize;
using korvane_bench::guest_of;

struct Box {
    int32_t x, y, width, height;
};

struct Lever {
    uint32_t event;
    Box box;
};

struct Quadrant {
    const char* name;
    uint32_t background;
    Lever levers[4];  // by engine
};

constexpr Quadrant kThrottle{
    "Throttle",
    405,
    {{65820, {15, 29, 58, 57}}, {65821, {91, 108, 58, 57}}, {65822, {133, 108, 58, 57}}, {65823, {193, 29, 58, 57}}},
};

constexpr Quadrant kPropControl{
    "Prop_Control",
    430,
    {{65923, {0, 16, 53, 146}}, {65924, {53, 16, 46, 146}}, {65925, {99, 16, 47, 146}}, {65926, {146, 16, 52, 146}}},
};

const Quadrant* const kQuadrants[] = {&kThrottle, &kPropControl};

struct LeverCase {
    const Quadrant* quadrant;
    double scale;
    int32_t y;       // pointer height in the box, displayed pixels from its top
    uint32_t value;  // lever value sent
};

// At the bitmaps' sizes (H = 165 and 178) and at twice them (H = 330, 356).
const LeverCase kLeverCases[] = {
    {&kThrottle, 1.0, -1, 16383}, {&kThrottle, 1.0, 0, 16381},     {&kThrottle, 1.0, 28, 8334},
    {&kThrottle, 1.0, 57, 0},     {&kPropControl, 1.0, 0, 16272},  {&kPropControl, 1.0, 100, 5050},
    {&kPropControl, 1.0, 145, 0}, {&kThrottle, 2.0, 1, 16238},     {&kThrottle, 2.0, 57, 8190},
    {&kThrottle, 2.0, 114, 0},    {&kPropControl, 2.0, 145, 8192},
};

constexpr BitmapSize kBitmaps[] = {
    {405, 266, 165}, {410, 107, 108}, {415, 39, 53}, {420, 39, 53}, {425, 107, 108},
    {430, 198, 178}, {432, 53, 55},   {434, 46, 55}, {436, 47, 55}, {438, 52, 55},
};

class LeversTest : public korvane_bench::KorvaneModule {
protected:
    void SetUp() override {
        for (const Quadrant* quadrant : kQuadrants) ASSERT_NE(gauge(*quadrant), nullptr) << quadrant->name;
    }

    using KorvaneModule::gauge;
    GAUGEHDR* gauge(const Quadrant& quadrant) const { return gauge(quadrant.name); }

    // The handler of engine e's box: children follow the two parents.
    MouseHandler handler(const Quadrant& quadrant, size_t engine) const {
        return gauge(quadrant)->mouse_rects[2 + engine].handler;
    }

    static ELEMENT_STATIC_IMAGE* root(GAUGEHDR* gauge) {
        return reinterpret_cast<ELEMENT_STATIC_IMAGE*>(gauge->element_list[0]);
    }

    size_t key_event_calls() const { return host.calls_to(service_slot::trigger_key_event).size(); }
};

// --- Lever values --------------------------------------------------------------

TEST_F(LeversTest, DragGivesTheLeverValueOfThePointerHeight) {
    give_sizes(kBitmaps);
    for (const LeverCase& c : kLeverCases) {
        runtime::GaugeInstance instance(host, module, guest_of(gauge(*c.quadrant)), c.scale);
        instance.setup();
        for (size_t engine = 0; engine < 4; ++engine) {
            const Box& box = c.quadrant->levers[engine].box;
            SCOPED_TRACE(::testing::Message()
                         << c.quadrant->name << " x" << c.scale << ", engine " << engine + 1 << ", y " << c.y);
            const int32_t x = static_cast<int32_t>((box.x + box.width / 2) * c.scale);
            const int32_t top = static_cast<int32_t>(box.y * c.scale);
            instance.press(x, top + 10);
            host.clear_key_log();
            instance.move(x, top + c.y);
            instance.release();
            ASSERT_EQ(host.key_log().size(), 1u);
            EXPECT_EQ(host.key_log()[0].id, c.quadrant->levers[engine].event);
            EXPECT_EQ(host.key_log()[0].value, c.value);
        }
    }
}

TEST_F(LeversTest, EveryCallSendsEvenAnUnchangedValue) {
    give_sizes(kBitmaps);
    for (const Quadrant* quadrant : kQuadrants) {
        SCOPED_TRACE(quadrant->name);
        runtime::GaugeInstance instance(host, module, guest_of(gauge(*quadrant)));
        instance.setup();
        const Box& box = quadrant->levers[0].box;
        host.clear_key_log();
        instance.press(box.x + 5, box.y + 20);
        instance.move(box.x + 5, box.y + 20);
        instance.move(box.x + 6, box.y + 20);
        instance.release();
        ASSERT_EQ(host.key_log().size(), 3u);
        EXPECT_EQ(host.key_log()[1].value, host.key_log()[0].value);
        EXPECT_EQ(host.key_log()[2].value, host.key_log()[0].value) << "only the height counts";
    }
}

TEST_F(LeversTest, DragReadsNoVariableAndCallsOnlyTheKeyEventService) {
    give_sizes(kBitmaps);
    for (const Quadrant* quadrant : kQuadrants) {
        runtime::GaugeInstance instance(host, module, guest_of(gauge(*quadrant)));
        instance.setup();
        host.clear_service_log();
        for (size_t engine = 0; engine < 4; ++engine) {
            const Box& box = quadrant->levers[engine].box;
            instance.press(box.x + box.width / 2, box.y + 2);
            instance.move(box.x + box.width / 2, box.y + 30);
            instance.release();
        }
        EXPECT_EQ(host.service_log().size(), 8u) << quadrant->name;
        EXPECT_EQ(key_event_calls(), 8u) << quadrant->name;
    }
}

// --- Drags the lever cannot measure -------------------------------------------

TEST_F(LeversTest, DragBeforeSetUpSendsNothing) {
    for (const Quadrant* quadrant : kQuadrants) {
        for (size_t engine = 0; engine < 4; ++engine) {
            PIXPOINT point{5, 5};
            EXPECT_EQ(handler(*quadrant, engine)(&point, 0x00800000), 0);
        }
    }
    EXPECT_TRUE(host.key_log().empty());
    EXPECT_TRUE(host.service_log().empty());
}

TEST_F(LeversTest, OnlyServiceIdTwoCapturesTheRoot) {
    HOST_IMAGE_PREFIX image{266, 405, 165};
    for (const Quadrant* quadrant : kQuadrants) {
        SCOPED_TRACE(quadrant->name);
        GAUGEHDR* header = gauge(*quadrant);
        root(header)->image = &image;
        PIXPOINT point{5, 5};
        for (uint32_t service_id : {0u, 4u, 6u, 7u, 0xFFFFFFFFu}) {
            header->gauge_callback(header, service_id, 0);
            handler(*quadrant, 0)(&point, 0x00800000);
        }
        EXPECT_TRUE(host.key_log().empty());
        header->gauge_callback(header, 2, 0);
        handler(*quadrant, 0)(&point, 0x00800000);
        EXPECT_EQ(host.key_log().size(), 1u);
        root(header)->image = nullptr;
        host.clear_key_log();
    }
}

TEST_F(LeversTest, DragWithoutHostImageSendsNothing) {
    give_sizes(kBitmaps);
    for (const Quadrant* quadrant : kQuadrants) {
        SCOPED_TRACE(quadrant->name);
        runtime::GaugeInstance instance(host, module, guest_of(gauge(*quadrant)));
        instance.setup();
        instance.kill();  // the root stays captured; its image is gone
        ASSERT_EQ(root(gauge(*quadrant))->image, nullptr);
        for (size_t engine = 0; engine < 4; ++engine) {
            PIXPOINT point{5, 5};
            EXPECT_EQ(handler(*quadrant, engine)(&point, 0x00800000), 0);
        }
    }
    EXPECT_TRUE(host.key_log().empty());
}

TEST_F(LeversTest, DragOnABackgroundShownZeroHighSendsNothing) {
    // No sizes given: the host shows the background 0 x 0.
    for (const Quadrant* quadrant : kQuadrants) {
        SCOPED_TRACE(quadrant->name);
        runtime::GaugeInstance instance(host, module, guest_of(gauge(*quadrant)));
        instance.setup();
        ASSERT_NE(root(gauge(*quadrant))->image, nullptr);
        ASSERT_EQ(root(gauge(*quadrant))->image->displayed_height, 0u);
        for (size_t engine = 0; engine < 4; ++engine) {
            for (int32_t y : {-1, 0, 1, 100}) {
                PIXPOINT point{5, y};
                EXPECT_EQ(handler(*quadrant, engine)(&point, 0x00800000), 0);
            }
        }
    }
    EXPECT_TRUE(host.key_log().empty());
}

// Heights and pointers at the ends of their types: the value is limited, never
// overflowed (the sanitizer build checks every conversion).
TEST_F(LeversTest, ExtremeHeightsAndPointersGiveLimitedValues) {
    struct Case {
        const Quadrant* quadrant;
        uint32_t displayed_height;
        int32_t y;
        uint32_t value;
    };
    constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
    constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
    constexpr uint32_t kHuge = std::numeric_limits<uint32_t>::max();
    const Case cases[] = {
        {&kThrottle, 165, kMin, 16383}, {&kThrottle, 165, kMax, 0},         {&kThrottle, 1, 0, 0},
        {&kThrottle, 1, -1, 16383},     {&kThrottle, kHuge, kMin, 16383},   {&kThrottle, kHuge, kMax, 0},
        {&kPropControl, 178, kMax, 0},  {&kPropControl, kHuge, kMax, 6396}, {&kPropControl, kHuge, 0, 16383},
    };
    give_sizes(kBitmaps);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.quadrant->name << ", H " << c.displayed_height << ", y " << c.y);
        runtime::GaugeInstance instance(host, module, guest_of(gauge(*c.quadrant)));
        instance.setup();
        HOST_IMAGE_PREFIX image{0, c.quadrant->background, c.displayed_height};
        HOST_IMAGE_PREFIX* const installed = root(gauge(*c.quadrant))->image;
        root(gauge(*c.quadrant))->image = &image;
        for (size_t engine = 0; engine < 4; ++engine) {
            host.clear_key_log();
            PIXPOINT point{c.y, c.y};
            EXPECT_EQ(handler(*c.quadrant, engine)(&point, 0x00800000), 0);
            ASSERT_EQ(host.key_log().size(), 1u);
            EXPECT_EQ(host.key_log()[0].id, c.quadrant->levers[engine].event);
            EXPECT_EQ(host.key_log()[0].value, c.value);
        }
        root(gauge(*c.quadrant))->image = installed;
    }
}

}  // namespace
