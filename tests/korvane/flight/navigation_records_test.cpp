// Every record of the navigation and time gauges ("Clock", "Timer", "Compass",
// "DR_Compass", "Direction_Finder") as the host reads them from the loaded
// module, stand-alone variables included, against the expected tables; and no
// record shared between two of them.
#include <gtest/gtest.h>

#include <vector>

#include "support/gauge_records.h"
#include "support/korvane_bench.h"

namespace {

using namespace gauge_records;
using Failures = std::vector<Failure>;

const std::vector<Gauge>& expected_gauges() {
    static const std::vector<Gauge> gauges = [] {
        const Failures clock_failures = {{20, 1}};
        const Failures compass_failures = {{11, 2}, {20, 1}};
        auto clock_hand = [&](uint32_t bitmap, int32_t px, int32_t py, uint32_t token) {
            return Element{.type = kNeedle,
                           .bitmap = bitmap,
                           .position = {156, 149},
                           .pivot = {px, py},
                           .flags = 0x4003,
                           .failures = clock_failures,
                           .token = token,
                           .callback = true};
        };
        return std::vector<Gauge>{
            {.name = "Clock",
             .entry = 4,
             .own_callback = true,
             .elements = {{.type = kStaticImage, .bitmap = 260, .flags = 0x4001, .failures = clock_failures},
                          clock_hand(265, 11, 11, 3),
                          clock_hand(270, 11, 11, 4),
                          clock_hand(275, 53, 7, 5)},
             // The setting knob sends the clock's own key events.
             .mouse = boxed_mouse(
                 0xA017, {.type = kMouseParent, .y = 228, .width = 72, .height = 72},
                 {{.type = kMouseChild, .width = 36, .height = 72, .cursor = 2, .flags = 0x20000000, .event_id = 65657},
                  {.type = kMouseChild,
                   .x = 36,
                   .width = 36,
                   .height = 72,
                   .cursor = 1,
                   .flags = 0x20000000,
                   .event_id = 65658}}),
             // Hours, minutes, seconds.
             .standalone = {3, 4, 5}},
            {.name = "Timer",
             .entry = 13,
             .own_callback = true,
             // Every element points at one list that holds only its terminator.
             .elements = {{.type = kStaticImage, .bitmap = 340, .flags = 0x4001, .failures = Failures{}},
                          {.type = kSprite,
                           .bitmap = 345,
                           .position = {134, 192},
                           .pivot = {157, 149},
                           .flags = 0x4003,
                           .failures = Failures{},
                           .scale_rotation = -1.0,
                           .rotation_callback = true,
                           .texture_scale_x = 0.88f,
                           .texture_scale_y = 0.88f},
                          {.type = kNeedle,
                           .bitmap = 350,
                           .position = {157, 149},
                           .pivot = {12, 12},
                           .flags = 0x4003,
                           .failures = Failures{},
                           .callback = true}},
             .mouse =
                 {{.type = kMouseParent},
                  {.type = kMouseParent, .x = 236, .y = 34, .width = 36, .height = 36},
                  {.type = kMouseChild, .width = 36, .height = 36, .cursor = 5, .flags = 0x20000000, .handler = true},
                  {.type = kMouseParentEnd},
                  {.type = kMouseParent, .x = 139, .width = 36, .height = 36},
                  {.type = kMouseChild, .width = 36, .height = 36, .cursor = 5, .flags = 0x20000000, .handler = true},
                  {.type = kMouseParentEnd},
                  {.type = kMouseParentEnd},
                  {.type = kMouseEnd}},
             // The clock's seconds.
             .standalone = {5}},
            {.name = "Compass",
             .entry = 5,
             .elements = {{.type = kStaticImage, .bitmap = 235, .flags = 0x1, .failures = compass_failures},
                          {.type = kMovingImage,
                           .bitmap = 240,
                           .position = {19, 17},
                           .flags = 0x4003,
                           .failures = compass_failures,
                           .token_x = 81,
                           .callback_x = true,
                           .min_x = 0.0,
                           .max_x = 360.0}},
             .mouse = whole_gauge_mouse(0xA005)},
            {.name = "DR_Compass",
             .entry = 45,
             .elements = {{.type = kStaticImage, .bitmap = 440, .flags = 0x4001, .failures = compass_failures},
                          {.type = kSprite,
                           .bitmap = 442,
                           .pivot = {130, 130},
                           .flags = 0x4003,
                           .failures = compass_failures,
                           .rotation_token = 81,
                           .scale_rotation = 1.0,
                           .texture_scale_x = 1.0f,
                           .texture_scale_y = 1.0f},
                          {.type = kNeedle,
                           .bitmap = 445,
                           .position = {130, 130},
                           .pivot = {88, 12},
                           .flags = 0x4003,
                           .token = 81,
                           .callback = true},
                          {.type = kIcon,
                           .bitmap = 447,
                           .position = {102, 102},
                           .flags = 0x4003,
                           .failures = compass_failures,
                           .frames = 1}},
             // The course knob: down on the left half, up on the right.
             .mouse = boxed_mouse(
                 0xA005, {.type = kMouseParent, .x = 98, .y = 98, .width = 64, .height = 64},
                 {{.type = kMouseChild, .width = 32, .height = 64, .cursor = 2, .flags = 0x20200000, .handler = true},
                  {.type = kMouseChild,
                   .x = 32,
                   .width = 32,
                   .height = 64,
                   .cursor = 1,
                   .flags = 0x20200000,
                   .handler = true}})},
            {.name = "Direction_Finder",
             .entry = 46,
             .elements = {{.type = kStaticImage, .bitmap = 450, .flags = 0x4001, .failures = Failures{{9, 1}}},
                          {.type = kNeedle,
                           .bitmap = 452,
                           .position = {91, 91},
                           .pivot = {1, 10},
                           .flags = 0x4003,
                           .failures = Failures{{9, 1}},
                           .token = 39,
                           .callback = true,
                           .max_degrees = 6}},
             .mouse = whole_gauge_mouse(0)},
        };
    }();
    return gauges;
}

using NavigationRecords = korvane_bench::KorvaneModule;

TEST_F(NavigationRecords, EveryGaugeMatchesItsTables) {
    for (const Gauge& want : expected_gauges()) check_gauge(module, want);
}

// The Clock's and the Timer's callbacks are their own, and not one another's.
TEST_F(NavigationRecords, ClockAndTimerCallbacksDiffer) {
    EXPECT_NE(gauge("Clock")->gauge_callback, gauge("Timer")->gauge_callback);
}

TEST_F(NavigationRecords, NoRecordIsSharedBetweenGauges) { expect_records_apart(module, expected_gauges()); }

}  // namespace
