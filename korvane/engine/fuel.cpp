// The six fuel contents gauges ("Fuel_Quantity_Port_1" ... "Fuel_Quantity_Stbd_3")
// and the four fuel pressure warning lights ("Fuel_Pressure_Warning1"-"4").
//
// Reads: each tank's level (sim::token::tank_level) through the needle and its
// capacity (sim::token::tank_capacity) through the gauge's fuel_capacity_var;
// per engine sim::token::fuel_pressure and engine_running through the warning
// gauge's two stand-alone records.
// Calls: lookup_var (the capacity from the needle callback; pressure and
// running flag on every update of a warning gauge). The stand-alone records
// are never passed to initialize_var: the host looks them up by token alone.
#include <array>
#include <cstddef>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "gaugekit/builders.h"
#include "gaugekit/element_chain.h"
#include "gaugekit/readings.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"
#include "korvane/bitmaps.h"
#include "korvane/engine/engine_gauges.h"

namespace engine {
namespace {

namespace bitmap = korvane::bitmap;

// --- Fuel contents gauges -----------------------------------------------------------

namespace quantity {

struct Variant {
    const char* name;
    int tank;  // the host's tank 0..5: its level and capacity variables
    uint32_t background_bitmap;
    int tank_number;     // picks the dial's scale and table
    double upper_limit;  // the dial's last mark, gallons
};

// The host numbers the port tanks 0..2 and the starboard tanks 3..5.
constexpr std::array<Variant, kFuelQuantityCount> kFuelGauges{{
    {"Fuel_Quantity_Port_1", 0, bitmap::kFuelQuantityDial1, 1, 500.0},
    {"Fuel_Quantity_Stbd_1", 3, bitmap::kFuelQuantityDial1, 1, 500.0},
    {"Fuel_Quantity_Port_2", 1, bitmap::kFuelQuantityDial2, 2, 310.0},
    {"Fuel_Quantity_Stbd_2", 4, bitmap::kFuelQuantityDial2, 2, 310.0},
    {"Fuel_Quantity_Port_3", 2, bitmap::kFuelQuantityDial3, 3, 90.0},
    {"Fuel_Quantity_Stbd_3", 5, bitmap::kFuelQuantityDial3, 3, 90.0},
}};

// The dial scales in gallons; each dial's points around the pivot (70, 70).
template <std::size_t Gauge>
constexpr Nonlinearity<fuel_table_points(Gauge)> tank_table() {
    constexpr int tank = kFuelGauges[Gauge].tank_number;
    if constexpr (tank == 1) {
        return {{kit::point(31, 123, 0), kit::point(10, 100, 20), kit::point(3, 70, 50), kit::point(12, 36, 100),
                 kit::point(70, 3, 200), kit::point(129, 41, 300), kit::point(136, 63, 350), kit::point(133, 90, 400),
                 kit::point(113, 121, 450), kit::point(95, 132, 500)}};
    } else if constexpr (tank == 2) {
        return {{kit::point(31, 123, 0), kit::point(11, 100, 10), kit::point(4, 70, 20), kit::point(37, 13, 80),
                 kit::point(119, 25, 160), kit::point(135, 77, 240), kit::point(96, 130, 310)}};
    } else {
        static_assert(tank == 3);
        return {{kit::point(27, 120, 0), kit::point(4, 81, 5), kit::point(12, 37, 10), kit::point(81, 5, 30),
                 kit::point(131, 47, 50), kit::point(132, 92, 70), kit::point(102, 126, 90)}};
    }
}

// The level is the fill as a fraction of full scaled by 2^23.
constexpr double kLevelScale = 1.0 / sim::unit::kFullTankLevel;

// Gallons in the tank: the fill times the capacity the host reports, resting
// on 0 and on the dial's last mark. The level is taken before the capacity
// lookup.
template <std::size_t Gauge>
double GAUGE_CALL fuel_contents(ELEMENT_NEEDLE* needle) {
    // Kept in memory as a double across the call, whichever way the call
    // goes: the x87 unit would otherwise hold it wider while no service is
    // called, and the result would depend on the service table.
    const volatile double fraction_full = kit::reading(needle) * kLevelScale;
    MODULE_VAR& capacity = FuelQuantity<Gauge>::records.fuel_capacity_var.var;
    kit::lookup_var(&capacity);
    return frame::limit(fraction_full * capacity.value, 0.0, kFuelGauges[Gauge].upper_limit);
}

template <std::size_t Gauge>
constexpr FuelQuantityRecords<fuel_table_points(Gauge)> fuel_quantity(
    FuelQuantityRecords<fuel_table_points(Gauge)>& self) {
    constexpr Variant variant = kFuelGauges[Gauge];
    return {
        .header = kit::gauge_header(variant.name, self.element_list.data(), self.mouse_rects),
        .fuel_capacity_var = kit::module_var_slot(sim::token::tank_capacity(variant.tank)),
        .element_list = kit::element_list(self.background),
        .background = {.header = kit::element_header(kStaticImage, variant.background_bitmap, {0, 0}, &self.header,
                                                     self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = kit::element_list(self.needle),
        .needle =
            {
                .header = kit::element_header(kNeedle, bitmap::kFuelQuantityNeedle, {70, 70}, &self.header, nullptr,
                                              self.failures, kFlagsOverlay, {27, 4}),
                .source = kit::module_var(sim::token::tank_level(variant.tank)),
                .nonlinearity = self.table.points,
                .nonlinearity_size = fuel_table_points(Gauge),
                .max_degrees_per_tick = 6,
                .update_callback = fuel_contents<Gauge>,
            },
        .failures = {kit::failure(kFailElectrics, kFailurePark), kit::failure(kFailFuelContents, kFailureGrey),
                     kit::failure_end()},
        .table = tank_table<Gauge>(),
        .mouse_rects = {kit::mouse_whole_gauge(), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

static_assert(offsetof(FuelQuantityRecords<10>, fuel_capacity_var) == 116);
static_assert(offsetof(FuelQuantityRecords<7>, fuel_capacity_var) == 116);

}  // namespace quantity

// --- Fuel pressure warning lights ---------------------------------------------------

namespace pressure_warning {

struct Variant {
    const char* name;
};

constexpr std::array<Variant, kEngineCount> kWarnings{{
    {"Fuel_Pressure_Warning1"},
    {"Fuel_Pressure_Warning2"},
    {"Fuel_Pressure_Warning3"},
    {"Fuel_Pressure_Warning4"},
}};

// Pounds per square foot; exactly 1050 is not low.
constexpr double kLowFuelPressure = 1050.0;

// Every update rewrites the lamp, one step down the chain: out for an engine whose running flag is
// clearly not 1.0 or whose pressure is clearly at or above the threshold;
// otherwise lit, so an unreadable pressure on a running engine warns.
template <std::size_t Engine>
void GAUGE_CALL fuel_pressure_lamp(GAUGEHDR* gauge, uint32_t service_id, uint32_t) {
    if (service_id != kServiceUpdate) return;
    FuelPressureWarningRecords& self = FuelPressureWarning<Engine>::records;
    kit::lookup_var(&self.fuel_warning_running_var.var);
    kit::lookup_var(&self.fuel_pressure_var.var);
    const double running = self.fuel_warning_running_var.var.value;
    const double pressure = self.fuel_pressure_var.var.value;

    ELEMENT_HEADER* const lamp = kit::element_chain_next(kit::root_element(gauge));
    if (lamp == nullptr) return;
    if (running < 1.0 || running > 1.0 || pressure >= kLowFuelPressure) {
        lamp->image_flags |= kImageHidden;
    } else {
        lamp->image_flags &= ~kImageHidden;
    }
}

template <std::size_t Engine>
constexpr FuelPressureWarningRecords fuel_pressure_warning(FuelPressureWarningRecords& self) {
    constexpr int engine = static_cast<int>(Engine);
    return {
        .header = kit::gauge_header(kWarnings[Engine].name, self.element_list.data(), self.mouse_rects,
                                    fuel_pressure_lamp<Engine>),
        .fuel_pressure_var = kit::module_var_slot(sim::token::fuel_pressure(engine)),
        .fuel_warning_running_var = kit::module_var_slot(sim::token::engine_running(engine)),
        .element_list = kit::element_list(self.background),
        .background = {.header =
                           kit::element_header(kStaticImage, bitmap::kFuelPressureWarningHousing, {0, 0}, &self.header,
                                               self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = kit::element_list(self.lamp),
        // The lamp reads no variable: the gauge callback shows and hides it.
        .lamp =
            {
                .header = kit::element_header(kIcon, bitmap::kFuelPressureWarningLamp, {13, 13}, &self.header, nullptr,
                                              self.failures, kFlagsLight),
                .source = {},
                .frame_count = 1,
            },
        .failures = {kit::failure(kFailElectrics, kFailureGrey), kit::failure_end()},
        .mouse_rects = {kit::mouse_whole_gauge(), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

static_assert(offsetof(FuelPressureWarningRecords, fuel_pressure_var) == 116);
static_assert(offsetof(FuelPressureWarningRecords, fuel_warning_running_var) == 148);

}  // namespace pressure_warning

}  // namespace

template <std::size_t Gauge>
constinit FuelQuantityRecords<fuel_table_points(Gauge)> FuelQuantity<Gauge>::records =
    quantity::fuel_quantity<Gauge>(FuelQuantity<Gauge>::records);

template <std::size_t Engine>
constinit FuelPressureWarningRecords FuelPressureWarning<Engine>::records =
    pressure_warning::fuel_pressure_warning<Engine>(FuelPressureWarning<Engine>::records);

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
