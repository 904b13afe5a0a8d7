// The gauges of Korvane.gau, in the order of the host's gauge table.
#pragma once

#include <iterator>

namespace korvane {

// The 47 gauge names of the full table, in the host's order.
inline constexpr const char* kGaugeOrder[] = {
    "Accelerometer",
    "Attitude",
    "Altimeter",
    "Airspeed",
    "Clock",
    "Compass",
    "Fuel_Pressure_Warning1",
    "Fuel_Pressure_Warning2",
    "Fuel_Pressure_Warning3",
    "Fuel_Pressure_Warning4",
    "Gear_Indicator",
    "Magneto_Switch",
    "Starter_Switch",
    "Timer",
    "Turn",
    "Tachometer1",
    "Tachometer2",
    "Tachometer3",
    "Tachometer4",
    "Boost1",
    "Boost2",
    "Boost3",
    "Boost4",
    "Oil_Temperature1",
    "Oil_Temperature2",
    "Oil_Temperature3",
    "Oil_Temperature4",
    "Oil_Pressure1",
    "Oil_Pressure2",
    "Oil_Pressure3",
    "Oil_Pressure4",
    "Radiator_Temperature1",
    "Radiator_Temperature2",
    "Radiator_Temperature3",
    "Radiator_Temperature4",
    "VSI",
    "Fuel_Quantity_Port_1",
    "Fuel_Quantity_Stbd_1",
    "Fuel_Quantity_Port_2",
    "Fuel_Quantity_Stbd_2",
    "Fuel_Quantity_Port_3",
    "Fuel_Quantity_Stbd_3",
    "Flap_Position",
    "Throttle",
    "Prop_Control",
    "DR_Compass",
    "Direction_Finder",
};
static_assert(std::size(kGaugeOrder) == 47);

}  // namespace korvane
