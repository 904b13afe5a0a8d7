// What the records fix about drawing: needle angles from calibration tables,
// rate limits, slider shifts, icon frames, moving-image offsets and sprite
// transforms. Pure functions, shared by the gauge instances and the renderer.
//
// Angles are degrees clockwise on the screen from 3 o'clock (y grows down).
#pragma once

#include <cstdint>
#include <optional>

#include "frame/records.h"

namespace runtime {

// The screen direction from (from_x, from_y) to (to_x, to_y), in [0, 360).
double direction_degrees(double from_x, double from_y, double to_x, double to_y);

// The angle of `value` on a calibration table around `pivot`: linear between
// consecutive points, turning clockwise from each point to the next; values
// beyond the ends rest on the end points, NaN on the first point. Tables may
// ascend or descend, and a step may cross 3 o'clock (the turn from one point
// to the next is taken clockwise, modulo 360). The result is in [0, 360). An
// empty table gives nullopt.
std::optional<double> table_angle(const guest::NONLINEARITY* table, uint32_t size, int32_t pivot_x, int32_t pivot_y,
                                  double value);

// How far along its scale a table needle stands at `value`: degrees turned
// clockwise from the first point, in [0, the table's whole turn]. The angle
// is the first point's plus this; a needle's rate limit counts here, so it
// moves along its scale and never takes the shorter way round through the
// part of the dial the scale leaves out. Values beyond the ends and NaN as
// for table_angle; an empty table gives nullopt.
std::optional<double> table_travel(const guest::NONLINEARITY* table, uint32_t size, int32_t pivot_x, int32_t pivot_y,
                                   double value);

// Both at once, each exactly as its own function gives it, each point's
// direction worked out once (an update asks both for every table needle).
struct TablePlace {
    double travel = 0.0;
    double angle = 0.0;
};
std::optional<TablePlace> table_place(const guest::NONLINEARITY* table, uint32_t size, int32_t pivot_x, int32_t pivot_y,
                                      double value);

// Moves `current` toward `target` by at most `max_degrees` (0 or less: jumps),
// without wrapping: a travel along a scale, or an untabled needle's angle as
// its callback gives it. Not finite inputs count as 0.
double rate_limited_travel(double current, double target, int32_t max_degrees);

// Reduces an angle to [0, 360); a value that is not finite gives 0.
double normalize_degrees(double angle);

// How far along its travel a moving image's axis stands: (value - min) /
// (max - min) kept within [0, 1]. An axis with min == max, or any input that
// is not finite, stands at 0.
double moving_image_fraction(double value, double min, double max);

// Offset of a moving image's picture behind its window along one axis, in
// bitmap pixels: the fraction above times (picture - window), so the window
// shows the picture's first edge at min and its far edge at max. A picture no
// larger than its window stays at 0.
double moving_image_offset(double value, double min, double max, double picture_extent, double window_extent);

// The frame an icon shows for a value: the whole part (truncated toward
// zero), kept within [0, frame_count - 1]; NaN shows frame 0.
uint32_t icon_frame(double value, uint32_t frame_count);

}  // namespace runtime
