// Every record of the flight instruments ("Accelerometer", "Attitude", "Turn",
// "Airspeed", "Altimeter", "VSI") as the host reads them from the loaded module,
// against the instrument tables; and no record shared between two of them.
#include <gtest/gtest.h>

#include <vector>

#include "support/gauge_records.h"
#include "support/korvane_bench.h"

namespace {

using namespace gauge_records;
using Failures = std::vector<Failure>;

const std::vector<Gauge>& expected_gauges() {
    static const std::vector<Gauge> gauges = [] {
        const Failures attitude_failures = {{8, 0}};
        const Failures turn_failures = {{18, 1}, {20, 2}};
        const Failures altimeter_failures = {{7, 1}, {3, 1}};
        const Failures vsi_failures = {{19, 1}, {3, 1}};
        auto drum = [&](int32_t x) {
            return Element{.type = kMovingImage,
                           .bitmap = 120,
                           .position = {x, 214},
                           .flags = 0x4003,
                           .failures = altimeter_failures,
                           .token = 75,
                           .callback = true,
                           .min_y = 0,
                           .max_y = 100};
        };
        auto pointer = [&](uint32_t bitmap, int32_t px, int32_t py) {
            return Element{.type = kNeedle,
                           .bitmap = bitmap,
                           .position = {139, 139},
                           .pivot = {px, py},
                           .flags = 0x4003,
                           .failures = altimeter_failures,
                           .token = 74,
                           .callback = true};
        };
        return std::vector<Gauge>{
            {.name = "Accelerometer",
             .entry = 0,
             .elements = {{.type = kStaticImage, .bitmap = 330, .flags = 0x4001, .failures = Failures{}},
                          {.type = kNeedle,
                           .bitmap = 335,
                           .position = {139, 139},
                           .pivot = {56, 10},
                           .flags = 0x4003,
                           .failures = Failures{},
                           .token = 351,
                           .callback = true,
                           .max_degrees = 6,
                           .table = {{231, 231, -2}, {47, 231, 0}, {47, 47, 2}, {270, 139, 5}}}},
             .mouse = whole_gauge_mouse(0)},
            {.name = "Attitude",
             .entry = 1,
             .elements = {{.type = kStaticImage, .bitmap = 220, .flags = 0x4001, .failures = attitude_failures},
                          {.type = kSprite,
                           .bitmap = 225,
                           .pivot = {128, 128},
                           .flags = 0x4003,
                           .failures = attitude_failures,
                           .token = 78,
                           .callback = true,
                           .scale_y = 1.17,
                           .rotation_token = 80,
                           .scale_rotation = -1.0,
                           .texture_scale_x = 0.5f,
                           .texture_scale_y = 0.25f},
                          {.type = kNeedle,
                           .bitmap = 230,
                           .position = {128, 128},
                           .pivot = {7, 7},
                           .flags = 0x4003,
                           .failures = attitude_failures,
                           .token = 80,
                           .callback = true}},
             .mouse = whole_gauge_mouse(0xA004)},
            {.name = "Turn",
             .entry = 14,
             .elements = {{.type = kStaticImage, .bitmap = 135, .flags = 0x4001},
                          {.type = kNeedle,
                           .bitmap = 140,
                           .position = {141, 141},
                           .pivot = {5, 9},
                           .flags = 0x4003,
                           .failures = turn_failures,
                           .token = 69,
                           .callback = true,
                           .table = {{88, 59, -20}, {105, 52, -10}, {141, 44, 0}, {177, 52, 10}, {194, 59, 20}}},
                          {.type = kNeedle,
                           .bitmap = 145,
                           .position = {141, 141},
                           .pivot = {5, 9},
                           .flags = 0x4003,
                           .failures = turn_failures,
                           .token = 70,
                           .callback = true,
                           .table = {{214, 217, 4}, {141, 245, 0}, {68, 217, -4}}}},
             .mouse = whole_gauge_mouse(0xA01A)},
            {.name = "Airspeed",
             .entry = 3,
             .elements = {{.type = kStaticImage, .bitmap = 125, .flags = 0x4001},
                          {.type = kNeedle,
                           .bitmap = 130,
                           .position = {139, 139},
                           .pivot = {56, 8},
                           .flags = 0x4003,
                           .failures = Failures{{6, 1}, {3, 1}},
                           .token = 61,
                           .callback = true}},
             .mouse = whole_gauge_mouse(0xA003)},
            {.name = "Altimeter",
             .entry = 2,
             .own_callback = true,
             .elements = {{.type = kStaticImage, .bitmap = 100, .flags = 0x4001, .failures = altimeter_failures},
                          drum(159),
                          drum(140),
                          drum(121),
                          drum(102),
                          pointer(105, 25, 12),
                          pointer(110, 35, 17),
                          pointer(115, 54, 8)},
             // The pressure-setting knob: down on the left half, up on the right.
             .mouse = boxed_mouse(
                 0xA001, {.type = kMouseParent, .x = 121, .y = 278, .width = 36, .height = 36, .help_id = 0xA034},
                 {{.type = kMouseChild, .width = 18, .height = 36, .cursor = 2, .flags = 0x20200000, .handler = true},
                  {.type = kMouseChild,
                   .x = 18,
                   .width = 18,
                   .height = 36,
                   .cursor = 1,
                   .flags = 0x20200000,
                   .handler = true}})},
            {.name = "VSI",
             .entry = 35,
             .elements = {{.type = kStaticImage, .bitmap = 200, .flags = 0x4001, .failures = vsi_failures},
                          {.type = kNeedle,
                           .bitmap = 205,
                           .position = {139, 139},
                           .pivot = {54, 8},
                           .flags = 0x4003,
                           .failures = vsi_failures,
                           .token = 65,
                           .callback = true,
                           .max_degrees = 6,
                           .table = {{253, 199, -4000},
                                     {222, 238, -3000},
                                     {170, 263, -2000},
                                     {82, 254, -1000},
                                     {36, 216, -500},
                                     {10, 139, 0},
                                     {36, 62, 500},
                                     {82, 83, 1000},
                                     {170, 14, 2000},
                                     {222, 40, 3000},
                                     {253, 79, 4000}}}},
             .mouse = whole_gauge_mouse(0xA01F)},
        };
    }();
    return gauges;
}

using FlightRecords = korvane_bench::KorvaneModule;

TEST_F(FlightRecords, EveryGaugeMatchesTheInstrumentTables) {
    for (const Gauge& want : expected_gauges()) check_gauge(module, want);
}

// The callback of every gauge without code of its own does nothing, whatever
// the service id.
TEST_F(FlightRecords, SharedEmptyCallbackDoesNothing) {
    const GaugeCallback empty = shared_empty_callback(module);
    ASSERT_NE(empty, nullptr);
    GAUGEHDR* accelerometer = gauge("Accelerometer");
    for (uint32_t service_id : {0u, 2u, 4u, 6u, 0xFFFFFFFFu}) empty(accelerometer, service_id, 0);
    EXPECT_TRUE(host.key_log().empty());
    EXPECT_TRUE(host.service_log().empty());
}

TEST_F(FlightRecords, NoRecordIsSharedBetweenGauges) { expect_records_apart(module, expected_gauges()); }

}  // namespace
