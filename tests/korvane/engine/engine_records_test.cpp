// Every record of the engine and systems gauges as the host reads them from
// the loaded module, against the expected tables: header, table entry, element
// chain, variables, calibration tables, failure lists, mouse lists and
// stand-alone variables; and no record shared between two of them.
#include <gtest/gtest.h>

#include <array>
#include <iterator>
#include <string>
#include <vector>

#include "fuel_tanks.h"
#include "support/gauge_records.h"
#include "support/korvane_bench.h"

namespace {

using namespace gauge_records;
using Failures = std::vector<Failure>;

Element background(uint32_t bitmap, FailureList failures) {
    return {.type = kStaticImage, .bitmap = bitmap, .flags = 0x4001, .failures = std::move(failures)};
}

Element needle(uint32_t bitmap, int32_t x, int32_t y, int32_t ofs_x, int32_t ofs_y, uint32_t token,
               std::vector<TablePoint> table, int32_t max_degrees, FailureList failures) {
    return {.type = kNeedle,
            .bitmap = bitmap,
            .position = {x, y},
            .pivot = {ofs_x, ofs_y},
            .flags = 0x4003,
            .failures = std::move(failures),
            .token = token,
            .callback = true,
            .max_degrees = max_degrees,
            .table = std::move(table)};
}

Element lamp(uint32_t bitmap, int32_t x, int32_t y, FailureList failures) {
    return {.type = kIcon,
            .bitmap = bitmap,
            .position = {x, y},
            .flags = 0x40000007,
            .failures = std::move(failures),
            .frames = 1};
}

std::vector<Gauge> expected_gauges() {
    std::vector<Gauge> gauges;
    const char* const digits[] = {"1", "2", "3", "4"};
    const std::vector<TablePoint> boost{{35, 69, -5}, {65, 38, -4},   {139, 13, 0},
                                        {212, 38, 4}, {189, 252, 16}, {40, 216, 24}};
    const std::vector<TablePoint> oil_temperature{{18, 54, 0},  {39, 41, 20}, {59, 36, 40},
                                                  {77, 36, 60}, {93, 39, 80}, {119, 54, 120}};
    const std::vector<TablePoint> oil_pressure{{18, 106, 0}, {69, 5, 60}, {120, 106, 120}};
    const std::vector<TablePoint> radiator{{18, 54, 40}, {69, 35, 90}, {119, 54, 140}};
    const std::array<uint32_t, 4> speed{390, 429, 468, 507}, manifold{391, 430, 469, 508}, oil_t{416, 455, 494, 533},
        oil_p{418, 457, 496, 535}, radiator_t{417, 456, 495, 534}, pressure{425, 464, 503, 542},
        running{406, 445, 484, 523};
    // Key 20 greys most dials out; on the tachometers and the tanks it parks
    // the needles.
    const Failures greys = {{20, 1}};
    const Failures parks = {{20, 2}};

    // The dials with one needle, per engine.
    const struct {
        const char* name;
        size_t entry;
        uint32_t background, bitmap;
        int32_t x, y, ofs_x, ofs_y;
        const std::array<uint32_t, 4>* tokens;
        const std::vector<TablePoint>* table;
        int32_t max_degrees;
        uint32_t help;
    } dials[] = {
        {"Boost", 19, 165, 170, 139, 139, 56, 8, &manifold, &boost, 0, 0xA021},
        {"Oil_Temperature", 23, 175, 180, 69, 114, 3, 5, &oil_t, &oil_temperature, 6, 0xA022},
        {"Oil_Pressure", 27, 210, 215, 69, 69, 28, 28, &oil_p, &oil_pressure, 6, 0xA023},
        {"Radiator_Temperature", 31, 185, 190, 69, 114, 3, 5, &radiator_t, &radiator, 6, 0xA86A},
    };

    for (size_t e = 0; e < 4; ++e) {
        gauges.push_back({.name = std::string("Fuel_Pressure_Warning") + digits[e],
                          .entry = 6 + e,
                          .own_callback = true,
                          .elements = {background(355, greys), lamp(360, 13, 13, greys)},
                          .mouse = whole_gauge_mouse(0),
                          .standalone = {pressure[e], running[e]}});
        gauges.push_back({.name = std::string("Tachometer") + digits[e],
                          .entry = 15 + e,
                          .elements = {background(150, parks), needle(155, 139, 139, 35, 17, speed[e], {}, 0, parks),
                                       needle(160, 139, 139, 54, 8, speed[e], {}, 0, parks)},
                          .mouse = whole_gauge_mouse(0xA020)});
        for (const auto& d : dials) {
            gauges.push_back({.name = d.name + std::string(digits[e]),
                              .entry = d.entry + e,
                              .elements = {background(d.background, std::nullopt),
                                           needle(d.bitmap, d.x, d.y, d.ofs_x, d.ofs_y, (*d.tokens)[e], *d.table,
                                                  d.max_degrees, greys)},
                              .mouse = whole_gauge_mouse(d.help)});
        }
    }

    const Failures tank_failures = {{20, 2}, {10, 1}};
    for (size_t t = 0; t < std::size(fuel_tanks::kTanks); ++t) {
        const fuel_tanks::Tank& tank = fuel_tanks::kTanks[t];
        gauges.push_back({.name = tank.name,
                          .entry = 36 + t,
                          .elements = {background(tank.bitmap, tank_failures),
                                       needle(390, 70, 70, 27, 4, tank.level_token, *tank.table, 6, tank_failures)},
                          .mouse = whole_gauge_mouse(0),
                          .standalone = {tank.capacity_token}});
    }

    gauges.push_back(
        {.name = "Flap_Position",
         .entry = 42,
         .elements = {background(395, std::nullopt),
                      needle(400, 70, 70, 27, 4, 329, {{62, 5, 0}, {135, 66, 8191}, {64, 134, 16382}}, 6, greys)},
         .mouse = whole_gauge_mouse(0xA015)});

    gauges.push_back(
        {.name = "Gear_Indicator",
         .entry = 10,
         .own_callback = true,
         .elements = {background(280, greys), lamp(306, 213, 114, greys), lamp(305, 213, 114, greys),
                      lamp(290, 191, 53, greys), lamp(285, 191, 53, greys), lamp(300, 18, 114, greys),
                      lamp(295, 18, 114, greys), lamp(290, 55, 53, greys), lamp(285, 55, 53, greys)},
         // The knob that swaps the day and night lamps.
         .mouse = boxed_mouse(
             0, {.type = kMouseParent, .x = 107, .y = 107, .width = 64, .height = 64},
             {{.type = kMouseChild, .width = 64, .height = 64, .cursor = 5, .flags = 0x20000000, .handler = true}}),
         .standalone = {334, 333}});
    return gauges;
}

using EngineRecords = korvane_bench::KorvaneModule;

TEST_F(EngineRecords, EveryGaugeMatchesItsRecordsAndTableEntry) {
    const std::vector<Gauge> gauges = expected_gauges();
    ASSERT_EQ(gauges.size(), 32u);
    for (const Gauge& want : gauges) check_gauge(module, want);
}

// Every record of every gauge, stand-alone variables included, occupies
// bytes of its own: no two records overlap, within a gauge or between two.
TEST_F(EngineRecords, NoRecordIsSharedBetweenTwoGauges) { expect_records_apart(module, expected_gauges()); }

}  // namespace
