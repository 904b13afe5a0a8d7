// Record sets of the flight instruments: "Accelerometer", "Attitude", "Turn",
// "Airspeed", "Altimeter" and "VSI".
//
// Every gauge is one object holding all of its records, header first, so the
// pointers between them are address constants into that object. The gauge
// table takes the headers' addresses from here.
#pragma once

#include <array>
#include <cstddef>

#include "frame/records.h"

namespace flight {

// --- Attitude, turn and accelerometer --------------------------------------------

// Background and one table needle; the failure list holds only its end.
struct AccelerometerRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_NEEDLE needle;
    NONLINEARITY table[4];
    FAILURE_RECORD failures[1];
    MOUSERECT mouse_rects[3];
};

// Case, horizon bar over it and the bank pointer on top.
struct AttitudeRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_SPRITE horizon;
    std::array<ELEMENT_HEADER*, 2> horizon_next;
    ELEMENT_NEEDLE bank_needle;
    FAILURE_RECORD failures[2];
    MOUSERECT mouse_rects[3];
};

// Dial, slip needle and turn pointer, each needle with its own table; the
// dial alone has no failure list.
struct TurnRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_NEEDLE slip_needle;
    std::array<ELEMENT_HEADER*, 2> slip_next;
    ELEMENT_NEEDLE turn_pointer;
    NONLINEARITY slip_table[5];
    NONLINEARITY turn_table[3];
    FAILURE_RECORD needle_failures[3];
    MOUSERECT mouse_rects[3];
};

// --- Airspeed, altimeter and vertical speed --------------------------------------

// Dial and needle; only the needle has a failure list.
struct AirspeedRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_NEEDLE needle;
    FAILURE_RECORD needle_failures[3];
    MOUSERECT mouse_rects[3];
};

inline constexpr std::size_t kAltimeterDrumCount = 4;
inline constexpr std::size_t kAltimeterPointerCount = 3;

// Dial, the pressure-setting drums right to left, then the three pointers,
// long hand last: one chain of eight elements.
struct AltimeterRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_MOVING_IMAGE drums[kAltimeterDrumCount];
    std::array<ELEMENT_HEADER*, 2> drum_next[kAltimeterDrumCount];
    ELEMENT_NEEDLE pointers[kAltimeterPointerCount];
    std::array<ELEMENT_HEADER*, 2> pointer_next[kAltimeterPointerCount - 1];
    FAILURE_RECORD failures[3];
    MOUSERECT mouse_rects[7];
};

// Dial and one table needle.
struct VsiRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    ELEMENT_NEEDLE needle;
    NONLINEARITY table[11];
    FAILURE_RECORD failures[3];
    MOUSERECT mouse_rects[3];
};

extern AccelerometerRecords accelerometer_gauge;
extern AttitudeRecords attitude_gauge;
extern TurnRecords turn_gauge;

extern AirspeedRecords airspeed_gauge;
extern AltimeterRecords altimeter_gauge;
extern VsiRecords vsi_gauge;

}  // namespace flight
