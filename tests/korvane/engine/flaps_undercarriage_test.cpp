// The flap dial's limits and angles, and the undercarriage panel: which lamp
// each leg lights in the day and night sets, the 16372 mark, the knob box, the
// variables it binds and reads, and service ids it must ignore.
#include <string>
#include <utility>
#include <vector>

#include "support/korvane_bench.h"

namespace {

using namespace korvane_bench;

using Calls = std::vector<std::pair<uint32_t, uint32_t>>;

class FlapPosition : public KorvaneModule {};

TEST_F(FlapPosition, NeedleValueRestsOnTheTableEnds) {
    const struct {
        double reading, value;
    } cases[] = {{12000.5, 12000.5}, {16383, 16382}, {-10, 0}, {1e300, 16382}, {kNaN, 0}, {kInf, 16382}, {-kInf, 0}};
    ELEMENT_NEEDLE* needle = element_as<ELEMENT_NEEDLE>(gauge("Flap_Position"), 1);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reading);
        EXPECT_EQ(needle_value(needle, c.reading), c.value);
    }
}

TEST_F(FlapPosition, NeedlePointsAtUpHalfAndDown) {
    const struct {
        double reading;
        int32_t x, y;
    } cases[] = {{0, 62, 5}, {8191, 135, 66}, {16382, 64, 134}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reading);
        host.vars().set(329, c.reading);
        runtime::GaugeInstance instance(host, module, guest_of(gauge("Flap_Position")));
        instance.update();
        ASSERT_EQ(instance.elements().size(), 2u);
        EXPECT_LT(angle_gap(instance.elements()[1].angle, direction(70, 70, c.x, c.y)), 0.01);
    }
}

// --- Undercarriage lamps ------------------------------------------------------------

constexpr uint32_t kPortLeg = 333;
constexpr uint32_t kStarboardLeg = 334;
constexpr int kLampCount = 8;

class GearIndicator : public KorvaneModule {
protected:
    GearIndicator() { module.override_bitmap_size(280, 278, 278); }

    GAUGEHDR* header() { return gauge("Gear_Indicator"); }

    void legs(double port, double starboard) {
        host.vars().set(kPortLeg, port);
        host.vars().set(kStarboardLeg, starboard);
    }

    std::vector<uint32_t> flags() {
        std::vector<uint32_t> all;
        for (int depth = 0; depth <= kLampCount; ++depth) all.push_back(element_at(header(), depth)->image_flags);
        return all;
    }
};

struct LampCase {
    bool night;
    double port, starboard;
    std::vector<int> visible;  // background and one lamp per side
};

const LampCase kLampCases[] = {
    {false, 16372, 16372, {0, 3, 7}},  // the mark itself is not locked down
    {false, 16373, 16373, {0, 1, 5}}, {false, 0, 16383, {0, 1, 7}},   {false, 16383, 0, {0, 3, 5}},
    {true, 16383, 16383, {0, 2, 6}},  {true, 0, 0, {0, 4, 8}},        {true, 16373, 16372, {0, 4, 6}},
    {false, kNaN, kNaN, {0, 3, 7}},   {true, kInf, -kInf, {0, 4, 6}}, {false, -kInf, kInf, {0, 1, 7}},
};

TEST_F(GearIndicator, OneLampPerSideFromLegAndLampSet) {
    runtime::GaugeInstance instance(host, module, guest_of(header()));
    bool night = false;
    for (const LampCase& c : kLampCases) {
        SCOPED_TRACE("port " + std::to_string(c.port) + " starboard " + std::to_string(c.starboard) +
                     (c.night ? " night" : " day"));
        if (c.night != night) {
            instance.press(139, 139);
            instance.release();
            night = c.night;
        }
        legs(c.port, c.starboard);
        instance.update();
        EXPECT_EQ(visible_depths(instance), c.visible);
    }
}

TEST_F(GearIndicator, NoLampBeforeTheFirstUpdateAndSetUpBindsStarboardThenPort) {
    GAUGEHDR* gear = header();
    legs(16383, 16383);
    runtime::GaugeInstance instance(host, module, guest_of(gear));
    instance.setup();
    for (int depth = 1; depth <= kLampCount; ++depth) EXPECT_EQ(flags()[depth], 0x40000007u) << depth;

    const uint32_t starboard = address(standalone_var(gear, 0));
    const uint32_t port = address(standalone_var(gear, 1));
    EXPECT_EQ(service_calls(),
              (Calls{{service_slot::initialize_var, starboard}, {service_slot::initialize_var, port}}));

    host.clear_service_log();
    instance.update();
    EXPECT_EQ(service_calls(), (Calls{{service_slot::lookup_var, port}, {service_slot::lookup_var, starboard}}));
    EXPECT_EQ(visible_depths(instance), (std::vector<int>{0, 1, 5}));
}

// Only bit 30 of a lamp ever changes.
TEST_F(GearIndicator, LampsChangeOnlyTheirHiddenBit) {
    runtime::GaugeInstance instance(host, module, guest_of(header()));
    legs(16383, 0);
    instance.update();
    EXPECT_EQ(flags(), (std::vector<uint32_t>{0x4001, 0x40000007, 0x40000007, 0x00000007, 0x40000007, 0x00000007,
                                              0x40000007, 0x40000007, 0x40000007}));
}

TEST_F(GearIndicator, OtherServiceIdsChangeNothing) {
    GAUGEHDR* gear = header();
    runtime::GaugeInstance instance(host, module, guest_of(gear));
    legs(16383, 0);
    instance.update();
    const std::vector<uint32_t> before = flags();

    legs(0, 16383);  // would move both sides if read
    host.clear_service_log();
    for (uint32_t id : {0u, 1u, 3u, 4u, 5u, 7u, 8u, 0xFFFFFFFFu}) gear->gauge_callback(gear, id, 0);
    EXPECT_TRUE(host.service_log().empty());
    EXPECT_EQ(flags(), before);

    // Set-up again binds the two records and touches no lamp.
    gear->gauge_callback(gear, 2, 0);
    EXPECT_EQ(host.service_log().size(), 2u);
    EXPECT_EQ(flags(), before);

    instance.update();
    EXPECT_EQ(visible_depths(instance), (std::vector<int>{0, 1, 7}));
}

// The lamp set belongs to the module, not to one shown panel; the handler
// reads neither the point nor the flags.
TEST_F(GearIndicator, LampSetIsSharedByEveryPanelAndTheHandlerReadsNoArguments) {
    GAUGEHDR* gear = header();
    const MOUSERECT& knob = gear->mouse_rects[2];
    ASSERT_NE(knob.handler, nullptr);
    EXPECT_EQ(knob.handler(nullptr, 0), 0);

    legs(0, 0);
    runtime::GaugeInstance first(host, module, guest_of(gear));
    first.update();
    EXPECT_EQ(visible_depths(first), (std::vector<int>{0, 4, 8}));

    first.press(120, 150);
    first.release();
    runtime::GaugeInstance second(host, module, guest_of(gear));
    second.update();
    EXPECT_EQ(visible_depths(second), (std::vector<int>{0, 3, 7}));
}

}  // namespace
