// The six fuel contents gauges ("Fuel_Quantity_Port_1" ... "Fuel_Quantity_Stbd_3")
// and the four fuel pressure warning lights ("Fuel_Pressure_Warning1"-"4").
//
// Reads: each tank's level (tokens 291-302, odd: level through the needle)
// and capacity (even: the gauge's fuel_capacity_var); per engine the fuel
// pressure (425 + 39 * (n - 1)) and running flag (406 + 39 * (n - 1)) through
// the warning gauge's two stand-alone records.
// Calls: lookup_var (the capacity from the needle callback; pressure and
// running flag on every update of a warning gauge). The stand-alone records
// are never passed to initialize_var: the host looks them up by token alone.
#include <array>
#include <cstddef>

#include "korvane/engine/engine_gauges.h"
#include "gaugekit/readings.h"
#include "gaugekit/element_chain.h"
#include "gaugekit/builders.h"
#include "frame/numbers.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"

namespace engine {
namespace {

// --- What differs between the contents gauges ------------------------------------

struct FuelGaugeEntry {
    const char* name;
    uint32_t level_token;
    uint32_t capacity_token;
    uint32_t background_bitmap;
    int tank_number;     // picks the dial's scale and table
    double upper_limit;  // the dial's last mark, gallons
};

constexpr std::array<FuelGaugeEntry, kFuelQuantityCount> kFuelGauges{{
    {"Fuel_Quantity_Port_1", 291, 292, 375, 1, 500.0},
    {"Fuel_Quantity_Stbd_1", 297, 298, 375, 1, 500.0},
    {"Fuel_Quantity_Port_2", 293, 294, 380, 2, 310.0},
    {"Fuel_Quantity_Stbd_2", 299, 300, 380, 2, 310.0},
    {"Fuel_Quantity_Port_3", 295, 296, 385, 3, 90.0},
    {"Fuel_Quantity_Stbd_3", 301, 302, 385, 3, 90.0},
}};

// The dial scales in gallons; each dial's points around the pivot (70, 70).
template <std::size_t Gauge>
constexpr Nonlinearity<fuel_table_points(Gauge)> tank_table() {
    constexpr int tank = kFuelGauges[Gauge].tank_number;
    if constexpr (tank == 1) {
        return {{kit::point(31, 123, 0), kit::point(10, 100, 20), kit::point(3, 70, 50),
                 kit::point(12, 36, 100), kit::point(70, 3, 200), kit::point(129, 41, 300),
                 kit::point(136, 63, 350), kit::point(133, 90, 400), kit::point(113, 121, 450),
                 kit::point(95, 132, 500)}};
    } else if constexpr (tank == 2) {
        return {{kit::point(31, 123, 0), kit::point(11, 100, 10), kit::point(4, 70, 20),
                 kit::point(37, 13, 80), kit::point(119, 25, 160), kit::point(135, 77, 240),
                 kit::point(96, 130, 310)}};
    } else {
        static_assert(tank == 3);
        return {{kit::point(27, 120, 0), kit::point(4, 81, 5), kit::point(12, 37, 10), kit::point(81, 5, 30),
                 kit::point(131, 47, 50), kit::point(132, 92, 70), kit::point(102, 126, 90)}};
    }
}

// The level is the fill as a fraction of full scaled by 2^23.
constexpr double kLevelScale = 1.0 / 8388608.0;

// Gallons in the tank: the fill times the capacity the host reports, resting
// on 0 and on the dial's last mark. The level is taken before the capacity
// lookup.
template <std::size_t Gauge>
double GAUGE_CALL fuel_contents(ELEMENT_NEEDLE* needle) {
    const double fraction_full = kit::reading(needle) * kLevelScale;
    MODULE_VAR& capacity = FuelQuantity<Gauge>::records.fuel_capacity_var.var;
    kit::lookup_var(&capacity);
    return frame::limit(fraction_full * capacity.value, 0.0, kFuelGauges[Gauge].upper_limit);
}

template <std::size_t Gauge>
constexpr FuelQuantityRecords<fuel_table_points(Gauge)> fuel_quantity(
    FuelQuantityRecords<fuel_table_points(Gauge)>& self) {
    constexpr FuelGaugeEntry entry = kFuelGauges[Gauge];
    return {
        .header = kit::gauge_header(entry.name, self.element_list, self.mouse_rects),
        .fuel_capacity_var = kit::module_var_slot(entry.capacity_token),
        .element_list = {&self.background.header, nullptr},
        .background = {.header = kit::element_header(kStaticImage, entry.background_bitmap, {0, 0}, &self.header,
                                                       self.background_next, self.failures, kFlagsBackground)},
        .background_next = {&self.needle.header, nullptr},
        .needle =
            {
                .header = kit::element_header(kNeedle, 390, {70, 70}, &self.header, nullptr, self.failures,
                                                kFlagsOverlay, {27, 4}),
                .source = kit::module_var(entry.level_token),
                .nonlinearity = self.table.points,
                .nonlinearity_size = fuel_table_points(Gauge),
                .max_degrees_per_tick = 6,
                .update_callback = fuel_contents<Gauge>,
            },
        .failures = {kit::failure(20, 2), kit::failure(10, 1), kit::failure_end()},
        .table = tank_table<Gauge>(),
        .mouse_rects = {kit::mouse_whole_gauge(), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

static_assert(offsetof(FuelQuantityRecords<10>, fuel_capacity_var) == 116);
static_assert(offsetof(FuelQuantityRecords<7>, fuel_capacity_var) == 116);

// --- Fuel pressure warning lights ---------------------------------------------------

struct WarningEntry {
    const char* name;
    uint32_t fuel_pressure_token;
    uint32_t running_token;
};

constexpr std::array<WarningEntry, kEngineCount> kWarnings{{
    {"Fuel_Pressure_Warning1", 425, 406},
    {"Fuel_Pressure_Warning2", 464, 445},
    {"Fuel_Pressure_Warning3", 503, 484},
    {"Fuel_Pressure_Warning4", 542, 523},
}};

// Pounds per square foot; exactly 1050 is not low.
constexpr double kLowFuelPressure = 1050.0;
constexpr uint32_t kLampDepth = 1;

// Every update rewrites the lamp: out for an engine whose running flag is
// clearly not 1.0 or whose pressure is clearly at or above the threshold;
// otherwise lit, so an unreadable pressure on a running engine warns.
template <std::size_t Engine>
void GAUGE_CALL fuel_pressure_warning(GAUGEHDR* gauge, uint32_t service_id, uint32_t) {
    if (service_id != kServiceUpdate) return;
    FuelPressureWarningRecords& self = FuelPressureWarning<Engine>::records;
    kit::lookup_var(&self.fuel_warning_running_var.var);
    kit::lookup_var(&self.fuel_pressure_var.var);
    const double running = self.fuel_warning_running_var.var.value;
    const double pressure = self.fuel_pressure_var.var.value;

    ELEMENT_HEADER* const root = kit::root_element(gauge);
    if (running < 1.0 || running > 1.0 || pressure >= kLowFuelPressure) {
        kit::element_chain_set_flags(root, kLampDepth, kImageHidden);
    } else {
        kit::element_chain_clear_flags(root, kLampDepth, kImageHidden);
    }
}

template <std::size_t Engine>
constexpr FuelPressureWarningRecords fuel_pressure_warning_gauge(FuelPressureWarningRecords& self) {
    constexpr WarningEntry entry = kWarnings[Engine];
    return {
        .header = kit::gauge_header(entry.name, self.element_list, self.mouse_rects, fuel_pressure_warning<Engine>),
        .fuel_pressure_var = kit::module_var_slot(entry.fuel_pressure_token),
        .fuel_warning_running_var = kit::module_var_slot(entry.running_token),
        .element_list = {&self.background.header, nullptr},
        .background = {.header = kit::element_header(kStaticImage, 355, {0, 0}, &self.header, self.background_next,
                                                       self.failures, kFlagsBackground)},
        .background_next = {&self.lamp.header, nullptr},
        .lamp =
            {
                .header = kit::element_header(kIcon, 360, {13, 13}, &self.header, nullptr, self.failures,
                                                kFlagsLight),
                .source = kit::module_var(0),
                .frame_count = 1,
            },
        .failures = {kit::failure(20, 1), kit::failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

static_assert(offsetof(FuelPressureWarningRecords, fuel_pressure_var) == 116);
static_assert(offsetof(FuelPressureWarningRecords, fuel_warning_running_var) == 148);

}  // namespace

template <std::size_t Gauge>
constinit FuelQuantityRecords<fuel_table_points(Gauge)> FuelQuantity<Gauge>::records =
    fuel_quantity<Gauge>(FuelQuantity<Gauge>::records);

template <std::size_t Engine>
constinit FuelPressureWarningRecords FuelPressureWarning<Engine>::records =
    fuel_pressure_warning_gauge<Engine>(FuelPressureWarning<Engine>::records);

template struct FuelQuantity<0>;
template struct FuelQuantity<1>;
template struct FuelQuantity<2>;
template struct FuelQuantity<3>;
template struct FuelQuantity<4>;
template struct FuelQuantity<5>;

template struct FuelPressureWarning<0>;
template struct FuelPressureWarning<1>;
template struct FuelPressureWarning<2>;
template struct FuelPressureWarning<3>;

}  // namespace engine
