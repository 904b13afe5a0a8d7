// What the engine gauge tests share: the loaded module under a bench host,
// element access by chain depth, and the direction of a calibration point.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "frame/records.h"
#include "host/host.h"
#include "host/instance.h"
#include "host/module.h"
#include "support/test_paths.h"

namespace engine_test {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();

inline constexpr uint32_t kInitializeVarSlot = 38;
inline constexpr uint32_t kLookupVarSlot = 40;

// A fresh load of Korvane.gau for every test: records and module state start
// at their load values.
class LoadedModule : public ::testing::Test {
protected:
    bench::Host host;
    bench::Module module{host, test_paths::module("Korvane.gau")};

    GAUGEHDR* gauge(const std::string& name) {
        GAUGEHDR* found = module.gauge(name);
        if (found == nullptr) ADD_FAILURE() << "no gauge " << name;
        return found;
    }
};

// The element `depth` steps down the first entries of the next-element lists.
inline ELEMENT_HEADER* element_at(GAUGEHDR* gauge, int depth) {
    if (gauge == nullptr || gauge->element_list == nullptr) return nullptr;
    ELEMENT_HEADER* element = gauge->element_list[0];
    for (int step = 0; element != nullptr && step < depth; ++step) {
        element = element->next_element_list != nullptr ? element->next_element_list[0] : nullptr;
    }
    return element;
}

inline ELEMENT_NEEDLE* needle_at(GAUGEHDR* gauge, int depth) {
    ELEMENT_HEADER* element = element_at(gauge, depth);
    if (element == nullptr || element->element_type != kNeedle) {
        ADD_FAILURE() << "no needle at depth " << depth;
        return nullptr;
    }
    return reinterpret_cast<ELEMENT_NEEDLE*>(element);
}

// Sets the needle's own variable as the host would and asks its callback.
inline double needle_value(ELEMENT_NEEDLE* needle, double reading) {
    if (needle == nullptr || needle->update_callback == nullptr) return kNaN;
    needle->source.value = reading;
    return needle->update_callback(needle);
}

// Depths of the elements drawn after the latest update.
inline std::vector<int> visible_depths(const bench::GaugeInstance& instance) {
    std::vector<int> depths;
    for (const bench::ElementState& state : instance.elements()) {
        if (state.visible) depths.push_back(state.depth);
    }
    return depths;
}

// Screen direction from the pivot to a point, degrees clockwise from 3 o'clock.
inline double direction(int32_t pivot_x, int32_t pivot_y, int32_t x, int32_t y) {
    const double degrees = std::atan2(y - pivot_y, x - pivot_x) * 180.0 / 3.14159265358979323846;
    return degrees < 0.0 ? degrees + 360.0 : degrees;
}

// Angles compared on the circle.
inline double angle_difference(double a, double b) {
    const double d = std::fmod(std::fabs(a - b), 360.0);
    return d > 180.0 ? 360.0 - d : d;
}

}  // namespace engine_test
