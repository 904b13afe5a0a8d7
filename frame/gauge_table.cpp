// The exported records of Korvane.gau: ImportTable, and Linkage with the gauge
// table in the host's order (frame/gauge_table.h lists the full order).
#include "frame/gauge_table.h"

#include "controls/controls_gauges.h"
#include "flight/flight_gauges.h"
#include "flight/navigation_gauges.h"

namespace {

// Gauges built so far: one line per gauge, in the host's order.
constexpr size_t kGaugeCount = 15;

}  // namespace

extern "C" {

constinit IMPORT_TABLE ImportTable{};

constinit LINKAGE<kGaugeCount + 1> Linkage{
    .header =
        {
            .module_id = kModuleId,
            .module_init = frame::empty_module_routine,
            .module_deinit = frame::empty_module_routine,
            .module_flags = 0,
            .module_priority = 0,
            .module_version = 0,
        },
    .gauge_table =
        {
            &flight::accelerometer_gauge,
            &flight::attitude_gauge,
            &flight::altimeter_gauge,
            &flight::airspeed_gauge,
            &navigation::clock_gauge.header,
            &navigation::compass_gauge,
            &controls::magneto_switch_gauge,
            &controls::starter_switch_gauge.header,
            &navigation::timer_gauge.header,
            &flight::turn_gauge,
            &flight::vsi_gauge,
            &controls::throttle_gauge,
            &controls::prop_control_gauge,
            &navigation::dr_compass_gauge,
            &navigation::direction_finder_gauge,
            nullptr,
        },
};

}  // extern "C"

namespace frame {

ELEMENT_HEADER* first_gauge_root() { return root_of_first_gauge(Linkage.gauge_table); }

}  // namespace frame
