// Small helpers shared by the flight instrument tests: reaching elements of a
// loaded gauge, giving the module's bitmaps their sizes, and needle geometry.
#pragma once

#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

#include "frame/records.h"
#include "host/module.h"

namespace flight_bench {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

struct BitmapSize {
    uint32_t id, width, height;
};

template <size_t N>
void override_sizes(bench::Module& module, const BitmapSize (&sizes)[N]) {
    for (const BitmapSize& b : sizes) module.override_bitmap_size(b.id, b.width, b.height);
}

// The element `depth` steps down a gauge's chain (0: the background).
inline ELEMENT_HEADER* element_at(GAUGEHDR* gauge, int depth) {
    ELEMENT_HEADER* e = gauge->element_list[0];
    for (int i = 0; i < depth && e != nullptr; ++i) e = e->next_element_list ? e->next_element_list[0] : nullptr;
    return e;
}

template <typename Element>
Element* element_as(GAUGEHDR* gauge, int depth) {
    return reinterpret_cast<Element*>(element_at(gauge, depth));
}

// Calls a needle's value callback through the record with `input` as its
// variable's value.
inline double needle_value(GAUGEHDR* gauge, int depth, double input) {
    auto* needle = element_as<ELEMENT_NEEDLE>(gauge, depth);
    needle->source.value = input;
    return needle->update_callback(needle);
}

// The screen direction (degrees clockwise from 3 o'clock) from a needle's
// pivot to a point of its table.
inline double direction(double pivot_x, double pivot_y, double x, double y) {
    const double d = std::atan2(y - pivot_y, x - pivot_x) * 180.0 / std::numbers::pi;
    return d < 0 ? d + 360.0 : d;
}

// The angle half-way between two directions, turning clockwise from the first.
inline double clockwise_midpoint(double from, double to) {
    const double sweep = std::fmod(to - from + 360.0, 360.0);
    return std::fmod(from + sweep / 2.0, 360.0);
}

// How far apart two angles are along the circle.
inline double angle_gap(double a, double b) { return std::fabs(std::remainder(a - b, 360.0)); }

}  // namespace flight_bench
