// The exported Linkage of Korvane.gau, made from the module's one registry
// of gauges.
#include "korvane/gauge_table.h"

#include <utility>

#include "gaugekit/routines.h"
#include "korvane/controls/controls_gauges.h"
#include "korvane/engine/engine_gauges.h"
#include "korvane/flight/flight_gauges.h"
#include "korvane/flight/navigation_gauges.h"

namespace korvane {

// Every gauge of the module, in the order of the host's gauge table. A gauge
// is its header: its name, its size and its callback are the header's, so
// registering a gauge is one line here beside its family's builder.
constexpr GAUGEHDR* kGauges[] = {
    &flight::accelerometer_gauge.header,
    &flight::attitude_gauge.header,
    &flight::altimeter_gauge.header,
    &flight::airspeed_gauge.header,
    &navigation::clock_gauge.header,
    &navigation::compass_gauge.header,
    &engine::FuelPressureWarning<0>::records.header,
    &engine::FuelPressureWarning<1>::records.header,
    &engine::FuelPressureWarning<2>::records.header,
    &engine::FuelPressureWarning<3>::records.header,
    &engine::gear_indicator_gauge.header,
    &controls::magneto_switch_gauge.header,
    &controls::starter_switch_gauge.header,
    &navigation::timer_gauge.header,
    &flight::turn_gauge.header,
    &engine::Tachometer<0>::records.header,
    &engine::Tachometer<1>::records.header,
    &engine::Tachometer<2>::records.header,
    &engine::Tachometer<3>::records.header,
    &engine::EngineDial<engine::Dial::boost, 0>::records.header,
    &engine::EngineDial<engine::Dial::boost, 1>::records.header,
    &engine::EngineDial<engine::Dial::boost, 2>::records.header,
    &engine::EngineDial<engine::Dial::boost, 3>::records.header,
    &engine::EngineDial<engine::Dial::oil_temperature, 0>::records.header,
    &engine::EngineDial<engine::Dial::oil_temperature, 1>::records.header,
    &engine::EngineDial<engine::Dial::oil_temperature, 2>::records.header,
    &engine::EngineDial<engine::Dial::oil_temperature, 3>::records.header,
    &engine::EngineDial<engine::Dial::oil_pressure, 0>::records.header,
    &engine::EngineDial<engine::Dial::oil_pressure, 1>::records.header,
    &engine::EngineDial<engine::Dial::oil_pressure, 2>::records.header,
    &engine::EngineDial<engine::Dial::oil_pressure, 3>::records.header,
    &engine::EngineDial<engine::Dial::radiator_temperature, 0>::records.header,
    &engine::EngineDial<engine::Dial::radiator_temperature, 1>::records.header,
    &engine::EngineDial<engine::Dial::radiator_temperature, 2>::records.header,
    &engine::EngineDial<engine::Dial::radiator_temperature, 3>::records.header,
    &flight::vsi_gauge.header,
    &engine::FuelQuantity<0>::records.header,
    &engine::FuelQuantity<1>::records.header,
    &engine::FuelQuantity<2>::records.header,
    &engine::FuelQuantity<3>::records.header,
    &engine::FuelQuantity<4>::records.header,
    &engine::FuelQuantity<5>::records.header,
    &engine::flap_position_gauge.header,
    &controls::LeverQuadrant<controls::kThrottle>::records.header,
    &controls::LeverQuadrant<controls::kPropControl>::records.header,
    &navigation::dr_compass_gauge.header,
    &navigation::direction_finder_gauge.header,
};
static_assert(std::size(kGauges) == kGaugeCount, "the host's gauge table holds 47 gauges");

}  // namespace korvane

namespace {

template <size_t... Entry>
constexpr LINKAGE<sizeof...(Entry) + 1> linkage_of(std::index_sequence<Entry...>) {
    return {
        .header = {.module_init = kit::empty_module_routine, .module_deinit = kit::empty_module_routine},
        .gauge_table = {korvane::kGauges[Entry]..., nullptr},
    };
}

}  // namespace

extern "C" {

constinit LINKAGE<korvane::kGaugeCount + 1> Linkage = linkage_of(std::make_index_sequence<korvane::kGaugeCount>());

}  // extern "C"

namespace kit {

ELEMENT_HEADER* first_gauge_root() { return root_of_first_gauge(Linkage.gauge_table); }

}  // namespace kit
