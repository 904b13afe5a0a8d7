// The gauge headers of the flight instruments, for the gauge table.
#pragma once

#include "frame/records.h"

namespace flight {

// Attitude, turn and accelerometer.
extern GAUGEHDR accelerometer_gauge;
extern GAUGEHDR attitude_gauge;
extern GAUGEHDR turn_gauge;

// Airspeed, altimeter and vertical speed.
extern GAUGEHDR airspeed_gauge;
extern GAUGEHDR altimeter_gauge;
extern GAUGEHDR vsi_gauge;

}  // namespace flight
