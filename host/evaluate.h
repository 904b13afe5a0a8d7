// What the records fix about drawing: needle angles from calibration tables,
// rate limits, slider shifts, icon frames, moving-image offsets and sprite
// transforms. Pure functions, shared by the gauge instances and the renderer.
//
// Angles are degrees clockwise on the screen from 3 o'clock (y grows down).
#pragma once

#include <cstdint>
#include <optional>

#include "frame/records.h"

namespace bench {

// The screen direction from (from_x, from_y) to (to_x, to_y), in [0, 360).
double direction_degrees(double from_x, double from_y, double to_x, double to_y);

// The angle of `value` on a calibration table around `pivot`: linear between
// consecutive points, turning clockwise from each point to the next; values
// beyond the ends rest on the end points. Tables may ascend or descend. The
// result is in [0, 360). An empty table gives nullopt.
std::optional<double> table_angle(const NONLINEARITY* table, uint32_t size, int32_t pivot_x, int32_t pivot_y,
                                  double value);

// Turns `current` toward `target` by at most `max_degrees` along the shorter
// way round (0: jump). Both in degrees; the result is reduced to [0, 360).
double rate_limited_angle(double current, double target, int32_t max_degrees);

// Reduces an angle to [0, 360); a value that is not finite gives 0.
double normalize_degrees(double angle);

// Offset of a moving image's picture behind its window along one axis, in
// bitmap pixels (0 .. picture - window); an axis with min == max stays at 0.
double moving_image_offset(double value, double min, double max, double picture_extent, double window_extent);

// The frame an icon shows for a value: the whole part, kept within the frames.
uint32_t icon_frame(double value, uint32_t frame_count);

}  // namespace bench
