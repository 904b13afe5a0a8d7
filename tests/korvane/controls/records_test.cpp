// Every record of Magneto_Switch, Starter_Switch, Throttle and Prop_Control as
// the host reads it from the loaded module, against the expected tables; and
// no record, and no mouse handler, shared between two of them.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "support/gauge_records.h"
#include "support/korvane_bench.h"

namespace {

using namespace gauge_records;

const FailureList kSwitchFailures = std::vector<Failure>{{20, 1}};

Element background(uint32_t bitmap, const FailureList& failures) {
    return {.type = kStaticImage, .bitmap = bitmap, .flags = 0x4001, .failures = failures};
}

Element switch_icon(uint32_t bitmap, int32_t x, uint32_t token, bool callback) {
    return {.type = kIcon,
            .bitmap = bitmap,
            .position = {x, 0},
            .flags = 0x4003,
            .failures = kSwitchFailures,
            .token = token,
            .callback = callback,
            .frames = 2};
}

Element lever(uint32_t bitmap, int32_t x, int32_t y, uint32_t token, double scale) {
    return {.type = kSlider, .bitmap = bitmap, .position = {x, y}, .flags = 0x4003, .token = token, .scale_y = scale};
}

// The boxes of a panel, inside one box over all of it.
std::vector<Mouse> boxes(int32_t width, int32_t height, const std::vector<Mouse>& children) {
    return boxed_mouse(0, {.type = kMouseParent, .width = width, .height = height}, children);
}

Mouse click_box(int32_t x, int32_t y, int32_t width, int32_t height, int32_t cursor, uint32_t flags,
                uint32_t event_id) {
    return {.type = kMouseChild,
            .x = x,
            .y = y,
            .width = width,
            .height = height,
            .cursor = cursor,
            .flags = flags,
            .event_id = event_id,
            .handler = event_id == 0};
}

constexpr double kThrottleScale = -0.00347900390625;
constexpr double kPropScale = -0.00750732421875;

const std::vector<Gauge>& expected_gauges() {
    static const std::vector<Gauge> gauges = {
        {.name = "Magneto_Switch",
         .entry = 11,
         .shape = Shape::kFan,
         .elements = {background(310, kSwitchFailures), switch_icon(315, 0, 399, false),
                      switch_icon(315, 45, 400, false), switch_icon(315, 90, 438, false),
                      switch_icon(315, 135, 439, false), switch_icon(315, 200, 477, false),
                      switch_icon(315, 245, 478, false), switch_icon(315, 290, 516, false),
                      switch_icon(315, 335, 517, false)},
         .mouse = boxes(
             380, 138,
             {click_box(0, 0, 45, 138, 5, 0x20000000, 65929), click_box(45, 0, 45, 138, 5, 0x20000000, 65928),
              click_box(90, 0, 45, 138, 5, 0x20000000, 65935), click_box(135, 0, 45, 138, 5, 0x20000000, 65934),
              click_box(200, 0, 45, 138, 5, 0x20000000, 65941), click_box(245, 0, 45, 138, 5, 0x20000000, 65940),
              click_box(290, 0, 45, 138, 5, 0x20000000, 65947), click_box(335, 0, 45, 138, 5, 0x20000000, 65946)})},
        {.name = "Starter_Switch",
         .entry = 12,
         .own_callback = true,
         .shape = Shape::kFan,
         .elements = {background(365, kSwitchFailures), switch_icon(370, 11, 0, true), switch_icon(370, 86, 0, true),
                      switch_icon(370, 161, 0, true), switch_icon(370, 236, 0, true)},
         // Per engine: the arming switch above, the start button below.
         .mouse = boxes(300, 115,
                        {click_box(0, 0, 75, 52, 1, 0x20000000, 0), click_box(0, 53, 75, 62, 5, 0x20200000, 0),
                         click_box(75, 0, 75, 52, 1, 0x20000000, 0), click_box(75, 53, 75, 62, 5, 0x20200000, 0),
                         click_box(150, 0, 75, 52, 1, 0x20000000, 0), click_box(150, 53, 75, 62, 5, 0x20200000, 0),
                         click_box(225, 0, 75, 52, 1, 0x20000000, 0), click_box(225, 53, 75, 62, 5, 0x20200000, 0)}),
         // The engines' running variables.
         .standalone = {406, 445, 484, 523}},
        // Drawing order of the levers: engines 2, 3, 4, then 1.
        {.name = "Throttle",
         .entry = 43,
         .own_callback = true,
         .elements = {background(405, std::nullopt), lever(415, 91, 112, 163, kThrottleScale),
                      lever(420, 137, 112, 198, kThrottleScale), lever(425, 157, 57, 233, kThrottleScale),
                      lever(410, 2, 57, 128, kThrottleScale)},
         .mouse = boxes(265, 165,
                        {click_box(15, 29, 58, 57, 5, 0x00800000, 0), click_box(91, 108, 58, 57, 5, 0x00800000, 0),
                         click_box(133, 108, 58, 57, 5, 0x00800000, 0), click_box(193, 29, 58, 57, 5, 0x00800000, 0)})},
        {.name = "Prop_Control",
         .entry = 44,
         .own_callback = true,
         .elements = {background(430, std::nullopt), lever(434, 53, 123, 164, kPropScale),
                      lever(436, 99, 123, 199, kPropScale), lever(438, 146, 123, 234, kPropScale),
                      lever(432, 0, 123, 129, kPropScale)},
         .mouse = boxes(198, 178,
                        {click_box(0, 16, 53, 146, 5, 0x00800000, 0), click_box(53, 16, 46, 146, 5, 0x00800000, 0),
                         click_box(99, 16, 47, 146, 5, 0x00800000, 0), click_box(146, 16, 52, 146, 5, 0x00800000, 0)})},
    };
    return gauges;
}

using ControlRecords = korvane_bench::KorvaneModule;

TEST_F(ControlRecords, EveryGaugeMatchesItsTables) {
    for (const Gauge& want : expected_gauges()) check_gauge(module, want);
}

TEST_F(ControlRecords, EachGaugeKeepsItsOwnCallbacks) {
    std::set<GaugeCallback> callbacks;
    for (const Gauge& want : expected_gauges()) callbacks.insert(gauge(want.name)->gauge_callback);
    EXPECT_EQ(callbacks.size(), 4u) << "the magneto panel's empty callback, the starter's and one per lever quadrant";

    // The starter's icons hang side by side under its background.
    ELEMENT_HEADER* const* icons = gauge("Starter_Switch")->element_list[0]->next_element_list;
    ASSERT_NE(icons, nullptr);
    std::set<IconCallback> icon_callbacks;
    for (size_t i = 0; i < 4; ++i) {
        ASSERT_NE(icons[i], nullptr);
        icon_callbacks.insert(reinterpret_cast<const ELEMENT_ICON*>(icons[i])->callback);
    }
    EXPECT_EQ(icon_callbacks.size(), 4u) << "one icon callback per engine";
}

TEST_F(ControlRecords, NoRecordIsSharedBetweenGauges) {
    expect_records_apart(module, expected_gauges());
    std::set<MouseHandler> handlers;
    for (const Gauge& want : expected_gauges()) {
        const MOUSERECT* list = gauge(want.name)->mouse_rects;
        for (size_t i = 0; i < want.mouse.size(); ++i) {
            if (list[i].handler != nullptr) {
                EXPECT_TRUE(handlers.insert(list[i].handler).second) << want.name << " shares a handler";
            }
        }
    }
}

}  // namespace
