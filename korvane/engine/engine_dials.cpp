// The per-engine dials: "Tachometer1"-"4", "Boost1"-"4", "Oil_Temperature1"-"4",
// "Oil_Pressure1"-"4" and "Radiator_Temperature1"-"4".
//
// Reads, per engine: sim::token::engine_speed, manifold_pressure,
// oil_temperature, radiator_temperature and oil_pressure, each through its
// needle's own variable. Calls no host service; the host refreshes the needle
// variables before the callbacks.
#include <array>
#include <cmath>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "gaugekit/builders.h"
#include "gaugekit/readings.h"
#include "gaugekit/routines.h"
#include "korvane/bitmaps.h"
#include "korvane/engine/engine_gauges.h"

namespace engine {
namespace {

namespace bitmap = korvane::bitmap;

// --- Value callbacks: the same for every engine ---------------------------------

// Both hands read one 0-9 scale with 0 at 12 o'clock. A reading that is not a
// finite number has no angle, so the hands rest on the dial's 0.
constexpr double kTwelveOClock = 270.0;

[[gnu::always_inline]] inline double hand_angle(const ELEMENT_NEEDLE* needle, double degrees_per_rpm) {
    if (!kit::finite_reading(needle)) return kTwelveOClock;
    return kTwelveOClock + degrees_per_rpm * needle->source.value;
}

// One turn per 10,000 rpm: points at the thousands.
double GAUGE_CALL thousands_hand(ELEMENT_NEEDLE* needle) { return hand_angle(needle, 0.036); }

// One turn per 1,000 rpm: points at the hundreds. Not reduced modulo 360;
// the host draws an angle and the same angle modulo 360 alike.
double GAUGE_CALL hundreds_hand(ELEMENT_NEEDLE* needle) { return hand_angle(needle, 0.36); }

// Pounds per square foot above a fixed 2073 datum, in pounds per square inch.
double GAUGE_CALL boost_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(
        (kit::reading(needle) - sim::unit::kBoostDatumPsf) * (1.0 / sim::unit::kSquareInchesPerSquareFoot), -5.0, 24.0);
}

// Rankine to Celsius with the instrument maker's offset and rounded factor.
constexpr double celsius_from_rankine(double rankine) {
    return (rankine - sim::unit::kRankineAtFreezing) * sim::unit::kCelsiusPerRankine;
}

double GAUGE_CALL oil_temperature_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(celsius_from_rankine(kit::reading(needle)), 0.0, 120.0);
}

double GAUGE_CALL oil_pressure_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(kit::reading(needle) * (1.0 / sim::unit::kSquareInchesPerSquareFoot), 0.0, 120.0);
}

double GAUGE_CALL radiator_temperature_scaling(ELEMENT_NEEDLE* needle) {
    return frame::limit(celsius_from_rankine(kit::reading(needle)), 40.0, 140.0);
}

// --- What differs between engines ---------------------------------------------

// The gauges' names; each dial reads its own engine's variables.
struct Variant {
    const char* tachometer;
    const char* boost;
    const char* oil_temperature;
    const char* oil_pressure;
    const char* radiator_temperature;
};

constexpr std::array<Variant, kEngineCount> kEngines{{
    {"Tachometer1", "Boost1", "Oil_Temperature1", "Oil_Pressure1", "Radiator_Temperature1"},
    {"Tachometer2", "Boost2", "Oil_Temperature2", "Oil_Pressure2", "Radiator_Temperature2"},
    {"Tachometer3", "Boost3", "Oil_Temperature3", "Oil_Pressure3", "Radiator_Temperature3"},
    {"Tachometer4", "Boost4", "Oil_Temperature4", "Oil_Pressure4", "Radiator_Temperature4"},
}};

// --- Tachometer -------------------------------------------------------------------

constexpr kit::Placement kTachometerPivot{139, 139};

template <std::size_t Engine>
constexpr TachometerRecords tachometer(TachometerRecords& self) {
    constexpr uint32_t speed = sim::token::engine_speed(static_cast<int>(Engine));
    return TachometerRecords{
        .header = kit::gauge_header(kEngines[Engine].tachometer, self.element_list.data(), self.mouse_rects),
        .element_list = kit::element_list(self.background),
        .background = {.header = kit::element_header(kStaticImage, bitmap::kTachometerDial, {0, 0}, &self.header,
                                                     self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = kit::element_list(self.thousands_hand),
        .thousands_hand =
            {
                .header = kit::element_header(kNeedle, bitmap::kTachometerThousandsHand, kTachometerPivot, &self.header,
                                              self.thousands_hand_next.data(), self.failures, kFlagsOverlay, {35, 17}),
                .source = kit::module_var(speed),
                .update_callback = thousands_hand,
            },
        .thousands_hand_next = kit::element_list(self.hundreds_hand),
        .hundreds_hand =
            {
                .header = kit::element_header(kNeedle, bitmap::kTachometerHundredsHand, kTachometerPivot, &self.header,
                                              nullptr, self.failures, kFlagsOverlay, {54, 8}),
                .source = kit::module_var(speed),
                .update_callback = hundreds_hand,
            },
        .failures = {kit::failure(kFailElectrics, kFailurePark), kit::failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(sim::help::kEngineSpeed), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

// --- Boost, oil temperature, oil pressure, radiator temperature ----------------

// What a single-needle family fixes for all four engines.
template <std::size_t TablePoints>
struct DialFamily {
    const char* Variant::*name;
    uint32_t (*token)(int engine);  // the needle's variable, by engine 0..3
    uint32_t background_bitmap;
    uint32_t needle_bitmap;
    kit::Placement pivot;         // on the background
    kit::Placement needle_pivot;  // inside the needle bitmap
    int32_t max_degrees_per_tick;
    uint32_t help_id;
    NeedleCallback callback;
    Nonlinearity<TablePoints> table;
};

template <Dial Family>
constexpr DialFamily<dial_table_points(Family)> dial_family() {
    if constexpr (Family == Dial::boost) {
        return {
            .name = &Variant::boost,
            .token = sim::token::manifold_pressure,
            .background_bitmap = bitmap::kBoostDial,
            .needle_bitmap = bitmap::kBoostNeedle,
            .pivot = {139, 139},
            .needle_pivot = {56, 8},
            .max_degrees_per_tick = 0,
            .help_id = sim::help::kBoost,
            .callback = boost_scaling,
            .table = {{kit::point(35, 69, -5), kit::point(65, 38, -4), kit::point(139, 13, 0), kit::point(212, 38, 4),
                       kit::point(189, 252, 16), kit::point(40, 216, 24)}},
        };
    } else if constexpr (Family == Dial::oil_temperature) {
        return {
            .name = &Variant::oil_temperature,
            .token = sim::token::oil_temperature,
            .background_bitmap = bitmap::kOilTemperatureDial,
            .needle_bitmap = bitmap::kOilTemperatureNeedle,
            .pivot = {69, 114},
            .needle_pivot = {3, 5},
            .max_degrees_per_tick = 6,
            .help_id = sim::help::kOilTemperature,
            .callback = oil_temperature_scaling,
            .table = {{kit::point(18, 54, 0), kit::point(39, 41, 20), kit::point(59, 36, 40), kit::point(77, 36, 60),
                       kit::point(93, 39, 80), kit::point(119, 54, 120)}},
        };
    } else if constexpr (Family == Dial::oil_pressure) {
        return {
            .name = &Variant::oil_pressure,
            .token = sim::token::oil_pressure,
            .background_bitmap = bitmap::kOilPressureDial,
            .needle_bitmap = bitmap::kOilPressureNeedle,
            .pivot = {69, 69},
            .needle_pivot = {28, 28},
            .max_degrees_per_tick = 6,
            .help_id = sim::help::kOilPressure,
            .callback = oil_pressure_scaling,
            .table = {{kit::point(18, 106, 0), kit::point(69, 5, 60), kit::point(120, 106, 120)}},
        };
    } else {
        static_assert(Family == Dial::radiator_temperature);
        return {
            .name = &Variant::radiator_temperature,
            .token = sim::token::radiator_temperature,
            .background_bitmap = bitmap::kRadiatorTemperatureDial,
            .needle_bitmap = bitmap::kRadiatorTemperatureNeedle,
            .pivot = {69, 114},
            .needle_pivot = {3, 5},
            .max_degrees_per_tick = 6,
            .help_id = sim::help::kRadiatorTemperature,
            .callback = radiator_temperature_scaling,
            .table = {{kit::point(18, 54, 40), kit::point(69, 35, 90), kit::point(119, 54, 140)}},
        };
    }
}

template <Dial Family, std::size_t Engine>
constexpr NeedleDialRecords<dial_table_points(Family)> engine_dial(NeedleDialRecords<dial_table_points(Family)>& self) {
    constexpr auto family = dial_family<Family>();
    return {
        .header = kit::gauge_header(kEngines[Engine].*family.name, self.element_list.data(), self.mouse_rects),
        .element_list = kit::element_list(self.background),
        .background = {.header = kit::element_header(kStaticImage, family.background_bitmap, {0, 0}, &self.header,
                                                     self.background_next.data(), nullptr, kFlagsBackground)},
        .background_next = kit::element_list(self.needle),
        .needle =
            {
                .header = kit::element_header(kNeedle, family.needle_bitmap, family.pivot, &self.header, nullptr,
                                              self.needle_failures, kFlagsOverlay, family.needle_pivot),
                .source = kit::module_var(family.token(static_cast<int>(Engine))),
                .nonlinearity = self.table.points,
                .nonlinearity_size = dial_table_points(Family),
                .max_degrees_per_tick = family.max_degrees_per_tick,
                .update_callback = family.callback,
            },
        .needle_failures = {kit::failure(kFailElectrics, kFailureGrey), kit::failure_end()},
        .table = family.table,
        .mouse_rects = {kit::mouse_whole_gauge(family.help_id), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

}  // namespace

template <std::size_t Engine>
constinit TachometerRecords Tachometer<Engine>::records = tachometer<Engine>(Tachometer<Engine>::records);

template <Dial Family, std::size_t Engine>
constinit NeedleDialRecords<dial_table_points(Family)> EngineDial<Family, Engine>::records =
    engine_dial<Family, Engine>(EngineDial<Family, Engine>::records);

template struct Tachometer<0>;
template struct Tachometer<1>;
template struct Tachometer<2>;
template struct Tachometer<3>;

template struct EngineDial<Dial::boost, 0>;
template struct EngineDial<Dial::boost, 1>;
template struct EngineDial<Dial::boost, 2>;
template struct EngineDial<Dial::boost, 3>;

template struct EngineDial<Dial::oil_temperature, 0>;
template struct EngineDial<Dial::oil_temperature, 1>;
template struct EngineDial<Dial::oil_temperature, 2>;
template struct EngineDial<Dial::oil_temperature, 3>;

template struct EngineDial<Dial::oil_pressure, 0>;
template struct EngineDial<Dial::oil_pressure, 1>;
template struct EngineDial<Dial::oil_pressure, 2>;
template struct EngineDial<Dial::oil_pressure, 3>;

template struct EngineDial<Dial::radiator_temperature, 0>;
template struct EngineDial<Dial::radiator_temperature, 1>;
template struct EngineDial<Dial::radiator_temperature, 2>;
template struct EngineDial<Dial::radiator_temperature, 3>;

}  // namespace engine
