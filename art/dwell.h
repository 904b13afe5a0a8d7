// Where the needles stand for most of a flight and on the ground before it,
// so that the dials' legends can be written where no needle covers them then.
//
// On the ground the engines stand stopped (no speed, no boost, no oil
// pressure, cold oil and coolant), then idle and warm up between 600 and
// 1,200 rpm while the oil warms from 15 to 60 degrees; the aircraft stands
// level at 1 g with no climb.
//
// Measured on the recorded take-off (300 s: engines started, warm-up at
// 1,600 rpm, take-off at +12 and 3,000 rpm, climb at +12 and then +9 and
// 2,850 rpm, a climbing turn, levelling towards 160 kt):
//   build/linux/gaugebench fly fdm/scripts/takeoff.xml --scenario scenarios/takeoff_crew.txt --out /tmp/artfly
// from the CSV it writes (/tmp/artfly/takeoff.csv: rpm-0, boost-psi-0,
// oil-temp-degF-0, coolant-degC-0, oil-pressure-psi-0, airspeed-kt,
// climb-fps, tank-gal-N, normal-g, flaps-deg) cut into warm-up (45-104 s), take-off
// (104-130 s), climb (130-200 s) and the turn (200-300 s). A band is the
// 10th to 90th percentile of the phases in which the needle holds or creeps,
// rounded outward; sweeps the eye does not rest on (the take-off run's
// airspeed, temperatures rising through the warm-up) are left out. A `print`
// of the variables below every 36 updates, added to a copy of the crew's
// scenario, gives the same figures in the gauges' own units. The warm-up band
// reaches down to 1,500 rpm, where crews also run it. Measure again
// when the flight model or the script changes; tests/art/dial_legend_test.cpp
// holds the built dials to this table.
#pragma once

#include <cstdint>
#include <string_view>

#include "korvane/bitmaps.h"

namespace art {

struct DwellBand {
    double low;
    double high;
};

struct Dwell {
    std::string_view gauge;     // one engine's or tank's gauge stands for every gauge showing that dial
    uint32_t needle;            // the needle's bitmap
    std::string_view variable;  // as frame/vocabulary.h names it, read in the unit `print` shows
    double per_unit;            // dial reading per unit of the variable: gallons per tank full, lever per percent
    DwellBand bands[5];         // in the dial's reading; a band may repeat
};

// clang-format off
inline constexpr Dwell kDwell[] = {
    // stopped; idling and warming; warm-up run; take-off and the first climb; climb and cruise
    {"Tachometer1", korvane::bitmap::kTachometerThousandsHand, "engine_speed.1", 1.0,
     {{0, 0}, {600, 1200}, {1500, 1600}, {2990, 3015}, {2845, 2855}}},
    {"Tachometer1", korvane::bitmap::kTachometerHundredsHand, "engine_speed.1", 1.0,
     {{0, 0}, {600, 1200}, {1500, 1600}, {2990, 3015}, {2845, 2855}}},
    {"Boost1", korvane::bitmap::kBoostNeedle, "boost.1", 1.0,
     {{0, 0}, {-7.8, -7.3}, {-7.8, -7.3}, {11.8, 12.1}, {8.9, 9.4}}},
    // cold; warming; climb and cruise (the oil past 60 and the coolant at 60 are only passed)
    {"Oil_Temperature1", korvane::bitmap::kOilTemperatureNeedle, "oil_temperature.1", 1.0,
     {{15, 15}, {15, 60}, {77, 89}, {77, 89}, {77, 89}}},
    {"Radiator_Temperature1", korvane::bitmap::kRadiatorTemperatureNeedle, "radiator_temperature.1", 1.0,
     {{15, 15}, {86, 101}, {86, 101}, {86, 101}, {86, 101}}},
    // stopped; warm-up; take-off; climb and cruise
    {"Oil_Pressure1", korvane::bitmap::kOilPressureNeedle, "oil_pressure.1", 1.0,
     {{0, 0}, {89, 95}, {89, 95}, {80, 89}, {76, 80}}},
    // standing; climb; cruise
    {"Airspeed", korvane::bitmap::kAirspeedNeedle, "airspeed", 1.0,
     {{0, 0}, {0, 0}, {114, 152}, {155, 158}, {155, 158}}},
    // standing and level; climb; cruise
    {"VSI", korvane::bitmap::kVsiNeedle, "vertical_speed", 1.0, {{0, 0}, {0, 0}, {430, 1300}, {650, 830}, {650, 830}}},
    {"Accelerometer", korvane::bitmap::kAccelerometerNeedle, "normal_acceleration", 1.0,
     {{1, 1}, {0.9, 1.1}, {0.9, 1.1}, {0.9, 1.1}, {0.9, 1.1}}},
    // up on the ground, a third down for take-off, then up (lever units, 163.83 to the percent)
    {"Flap_Position", korvane::bitmap::kFlapNeedle, "flaps", 163.83, {{0, 0}, {5461, 5461}, {0, 0}, {0, 0}, {0, 0}}},
    // the outer tanks stay full, beyond their dials' last marks; No. 2 feeds
    {"Fuel_Quantity_Port_1", korvane::bitmap::kFuelQuantityNeedle, "fuel_level.port_1", 580.0,
     {{580, 580}, {580, 580}, {580, 580}, {580, 580}, {580, 580}}},
    {"Fuel_Quantity_Port_2", korvane::bitmap::kFuelQuantityNeedle, "fuel_level.port_2", 363.0,
     {{363, 363}, {288, 301}, {288, 301}, {288, 301}, {288, 301}}},
    {"Fuel_Quantity_Port_3", korvane::bitmap::kFuelQuantityNeedle, "fuel_level.port_3", 114.0,
     {{114, 114}, {114, 114}, {114, 114}, {114, 114}, {114, 114}}},
};
// clang-format on

constexpr const Dwell* dwell_of(std::string_view gauge, uint32_t needle) {
    for (const Dwell& d : kDwell) {
        if (d.gauge == gauge && d.needle == needle) return &d;
    }
    return nullptr;
}

}  // namespace art
