#include "runtime/evaluate.h"

#include <cmath>
#include <numbers>

#include "frame/numbers.h"

namespace runtime {
namespace {

// The clockwise turn from `from` to `to`, in [0, 360).
double clockwise_turn(double from, double to) { return normalize_degrees(to - from); }

double point_angle(const guest::NONLINEARITY& point, int32_t pivot_x, int32_t pivot_y) {
    return direction_degrees(pivot_x, pivot_y, point.x, point.y);
}

}  // namespace

double normalize_degrees(double angle) {
    if (!std::isfinite(angle)) return 0.0;
    double reduced = std::fmod(angle, 360.0);
    if (reduced < 0.0) reduced += 360.0;
    // A tiny negative remainder plus 360 rounds to exactly 360.
    if (reduced >= 360.0) reduced = 0.0;
    return reduced;
}

double direction_degrees(double from_x, double from_y, double to_x, double to_y) {
    // Screen y grows downward, so atan2 of the raw difference already turns
    // clockwise on the screen.
    const double radians = std::atan2(to_y - from_y, to_x - from_x);
    return normalize_degrees(radians * 180.0 / std::numbers::pi);
}

std::optional<TablePlace> table_place(const guest::NONLINEARITY* table, uint32_t size, int32_t pivot_x, int32_t pivot_y,
                                      double value) {
    if (table == nullptr || size == 0) return std::nullopt;
    const guest::NONLINEARITY& first = table[0];
    const guest::NONLINEARITY& last = table[size - 1];
    if (size == 1 || std::isnan(value)) return TablePlace{0.0, point_angle(first, pivot_x, pivot_y)};

    // Which way the values run decides which end a value lies beyond.
    const bool descending = last.value < first.value;
    const bool before_first = descending ? value > first.value : value < first.value;
    const bool after_last = descending ? value < last.value : value > last.value;
    if (before_first) return TablePlace{0.0, point_angle(first, pivot_x, pivot_y)};

    // The turns of the steps, clockwise, summed in order up to the step
    // holding the value: the travel; the angle goes from that step's first
    // point by the same share of its turn.
    double before = 0.0;
    double from = point_angle(first, pivot_x, pivot_y);
    for (uint32_t i = 0; i + 1 < size; ++i) {
        const guest::NONLINEARITY& a = table[i];
        const guest::NONLINEARITY& b = table[i + 1];
        const double to = point_angle(b, pivot_x, pivot_y);
        const double turn = clockwise_turn(from, to);
        const double low = std::fmin(a.value, b.value);
        const double high = std::fmax(a.value, b.value);
        if (!after_last && value >= low && value <= high) {
            if (a.value == b.value) return TablePlace{before, from};
            const double fraction = frame::limit((value - a.value) / (b.value - a.value), 0.0, 1.0);
            return TablePlace{before + fraction * turn, normalize_degrees(from + fraction * turn)};
        }
        before += turn;
        from = to;
    }
    // Past the last point, or a table whose values do not run one way: its
    // whole turn, resting on its last point.
    return TablePlace{before, from};
}

std::optional<double> table_angle(const guest::NONLINEARITY* table, uint32_t size, int32_t pivot_x, int32_t pivot_y,
                                  double value) {
    const std::optional<TablePlace> place = table_place(table, size, pivot_x, pivot_y, value);
    if (!place) return std::nullopt;
    return place->angle;
}

std::optional<double> table_travel(const guest::NONLINEARITY* table, uint32_t size, int32_t pivot_x, int32_t pivot_y,
                                   double value) {
    const std::optional<TablePlace> place = table_place(table, size, pivot_x, pivot_y, value);
    if (!place) return std::nullopt;
    return place->travel;
}

double rate_limited_travel(double current, double target, int32_t max_degrees) {
    const double from = frame::finite_or_zero(current);
    const double goal = frame::finite_or_zero(target);
    if (max_degrees <= 0) return goal;
    const double step = static_cast<double>(max_degrees);
    return frame::limit(goal, from - step, from + step);
}

double moving_image_fraction(double value, double min, double max) {
    if (!std::isfinite(value) || !std::isfinite(min) || !std::isfinite(max) || min == max) return 0.0;
    double fraction = (value - min) / (max - min);
    // A range wider than a double holds: the same ratio on halves.
    if (!std::isfinite(max - min)) fraction = (0.5 * value - 0.5 * min) / (0.5 * max - 0.5 * min);
    return frame::limit(fraction, 0.0, 1.0);
}

double moving_image_offset(double value, double min, double max, double picture_extent, double window_extent) {
    const double travel = picture_extent - window_extent;
    if (!std::isfinite(travel) || !(travel > 0.0)) return 0.0;
    return moving_image_fraction(value, min, max) * travel;
}

uint32_t icon_frame(double value, uint32_t frame_count) {
    if (frame_count <= 1) return 0;
    const int32_t whole = frame::trunc_to_int32(value);
    if (whole <= 0) return 0;
    const uint32_t frame = static_cast<uint32_t>(whole);
    return frame >= frame_count ? frame_count - 1 : frame;
}

}  // namespace runtime
