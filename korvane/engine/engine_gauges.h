// Record sets of the engine and systems gauges: the twenty per-engine dials,
// the six fuel contents gauges, the four fuel pressure warning lights, the
// flap dial and the undercarriage lamp panel.
//
// Every gauge is one object holding all of its records, so each gauge owns a
// copy of every record and the pointers between them are address constants
// into that object. Families are class templates on the engine (or gauge)
// index; the gauge table takes the headers' addresses from here. No member is
// const: the host writes into the reserved fields of every record.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "frame/records.h"
#include "frame/vocabulary.h"

namespace engine {

// The vocabulary's engine count, as the size the gauges' arrays take.
inline constexpr std::size_t kEngineCount = sim::kEngineCount;
inline constexpr std::size_t kFuelQuantityCount = 6;  // Port_1, Stbd_1, Port_2, Stbd_2, Port_3, Stbd_3

// A calibration table stored inside a gauge's record set.
template <std::size_t Points>
struct Nonlinearity {
    NONLINEARITY points[Points];
};

// The mouse list of a gauge without mouse areas: whole-gauge parent, end of
// parent, end.
using PlainMouseList = MOUSERECT[3];

// Background with the thousands hand over it and the hundreds hand on top.
struct TachometerRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_NEEDLE thousands_hand;
    std::array<ELEMENT_HEADER*, 2> thousands_hand_next;
    ELEMENT_NEEDLE hundreds_hand;
    FAILURE_RECORD failures[2];
    PlainMouseList mouse_rects;
};

// Background with one table needle; only the needle has a failure list.
template <std::size_t TablePoints>
struct NeedleDialRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_NEEDLE needle;
    FAILURE_RECORD needle_failures[2];
    Nonlinearity<TablePoints> table;
    PlainMouseList mouse_rects;
};

// A contents dial; the tank's capacity is a stand-alone variable stored right
// after the header.
template <std::size_t TablePoints>
struct FuelQuantityRecords {
    GAUGEHDR header;
    MODULE_VAR_SLOT fuel_capacity_var;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_NEEDLE needle;
    FAILURE_RECORD failures[3];
    Nonlinearity<TablePoints> table;
    PlainMouseList mouse_rects;
};

// Lamp housing with the lamp one step down the chain; the two engine
// variables are stand-alone records right after the header.
struct FuelPressureWarningRecords {
    GAUGEHDR header;
    MODULE_VAR_SLOT fuel_pressure_var;
    MODULE_VAR_SLOT fuel_warning_running_var;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_ICON lamp;
    FAILURE_RECORD failures[2];
    PlainMouseList mouse_rects;
};

inline constexpr std::size_t kGearLampCount = 8;

// Background and eight lamps as one chain (lamp k at depth k + 1); the two
// legs are stand-alone records right after the header, starboard first.
struct GearIndicatorRecords {
    GAUGEHDR header;
    MODULE_VAR_SLOT gear_right_var;
    MODULE_VAR_SLOT gear_left_var;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_ICON lamps[kGearLampCount];
    std::array<ELEMENT_HEADER*, 2> lamp_next[kGearLampCount - 1];
    FAILURE_RECORD failures[2];
    MOUSERECT mouse_rects[6];
};

// --- The per-engine dials ------------------------------------------------------

template <std::size_t Engine>
struct Tachometer {
    static_assert(Engine < kEngineCount);
    static TachometerRecords records;
};

enum class Dial { boost, oil_temperature, oil_pressure, radiator_temperature };

constexpr std::size_t dial_table_points(Dial dial) {
    return dial == Dial::oil_pressure || dial == Dial::radiator_temperature ? 3 : 6;
}

template <Dial Family, std::size_t Engine>
struct EngineDial {
    static_assert(Engine < kEngineCount);
    static NeedleDialRecords<dial_table_points(Family)> records;
};

// --- Fuel ------------------------------------------------------------------------

// Gauge index 0..5 in gauge-table order; the number 1 tanks have the long table.
constexpr std::size_t fuel_table_points(std::size_t gauge) { return gauge < 2 ? 10 : 7; }

template <std::size_t Gauge>
struct FuelQuantity {
    static_assert(Gauge < kFuelQuantityCount);
    static FuelQuantityRecords<fuel_table_points(Gauge)> records;
};

template <std::size_t Engine>
struct FuelPressureWarning {
    static_assert(Engine < kEngineCount);
    static FuelPressureWarningRecords records;
};

// --- Flaps and undercarriage ----------------------------------------------------

extern NeedleDialRecords<3> flap_position_gauge;
extern GearIndicatorRecords gear_indicator_gauge;

}  // namespace engine
