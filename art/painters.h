// The painters of the Korvane bitmaps: one per resource id, each drawing its
// bitmap on a canvas of the bitmap's size from the module's records.
#pragma once

#include <cstdint>
#include <span>

#include "art/canvas.h"
#include "art/records.h"

namespace art {

using Painter = void (*)(Canvas& canvas, const Records& records);

struct PainterEntry {
    uint32_t id;
    Painter paint;
};

std::span<const PainterEntry> flight_painters();      // airspeed, altimeter, VSI, attitude, turn, accelerometer
std::span<const PainterEntry> navigation_painters();  // compasses, direction finder, clock, timer
std::span<const PainterEntry> engine_painters();      // engine dials, fuel, flaps, undercarriage
std::span<const PainterEntry> controls_painters();    // switches and levers

}  // namespace art
