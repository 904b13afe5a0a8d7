// What the gauge tests of Korvane.gau share: the module freshly loaded under a
// bench host, gauges by name, set-up instances, elements by their depth in the
// chain with their callbacks, the stand-alone variables, and needle geometry.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <numbers>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/records.h"
#include "host/host.h"
#include "host/instance.h"
#include "host/module.h"
#include "support/test_paths.h"

namespace korvane_bench {

inline constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
inline constexpr double kInf = std::numeric_limits<double>::infinity();
inline constexpr double kHuge = std::numeric_limits<double>::max();

// A size for a bitmap the module does not carry.
struct BitmapSize {
    uint32_t id, width, height;
};

// A fresh load of Korvane.gau for every test: records and module state start
// at their load values.
class KorvaneModule : public ::testing::Test {
protected:
    // The gauge of that name; null, and a failure, when there is none.
    GAUGEHDR* gauge(std::string_view name) const {
        GAUGEHDR* found = module.gauge(name);
        if (found == nullptr) ADD_FAILURE() << "no gauge " << name;
        return found;
    }

    template <size_t N>
    void give_sizes(const BitmapSize (&sizes)[N]) {
        for (const BitmapSize& b : sizes) module.override_bitmap_size(b.id, b.width, b.height);
    }

    // An instance of the gauge, set up.
    std::unique_ptr<bench::GaugeInstance> open(GAUGEHDR* gauge, double scale = 1.0) {
        auto instance = std::make_unique<bench::GaugeInstance>(host, module, gauge, scale);
        instance->setup();
        return instance;
    }

    // The services called since the log was last cleared, as (slot, first
    // argument) in call order.
    std::vector<std::pair<uint32_t, uint32_t>> service_calls() const {
        std::vector<std::pair<uint32_t, uint32_t>> calls;
        for (const bench::ServiceCall& call : host.service_log()) calls.emplace_back(call.slot, call.args[0]);
        return calls;
    }

    bench::Host host;
    bench::Module module{host, test_paths::module("Korvane.gau")};
};

// The element `depth` steps down the first entries of the element lists (0:
// the root); null past the end.
inline ELEMENT_HEADER* element_at(const GAUGEHDR* gauge, int depth) {
    if (gauge == nullptr || gauge->element_list == nullptr) return nullptr;
    ELEMENT_HEADER* element = gauge->element_list[0];
    for (int step = 0; element != nullptr && step < depth; ++step) {
        element = element->next_element_list != nullptr ? element->next_element_list[0] : nullptr;
    }
    return element;
}

// The element type a record type stands for.
template <typename Record>
constexpr uint32_t kind_of() {
    if constexpr (std::is_same_v<Record, ELEMENT_NEEDLE>) {
        return kNeedle;
    } else if constexpr (std::is_same_v<Record, ELEMENT_SLIDER>) {
        return kSlider;
    } else if constexpr (std::is_same_v<Record, ELEMENT_ICON>) {
        return kIcon;
    } else if constexpr (std::is_same_v<Record, ELEMENT_MOVING_IMAGE>) {
        return kMovingImage;
    } else if constexpr (std::is_same_v<Record, ELEMENT_SPRITE>) {
        return kSprite;
    } else {
        static_assert(std::is_same_v<Record, ELEMENT_STATIC_IMAGE>, "not an element record");
        return kStaticImage;
    }
}

// The element at `depth` as its kind's record; null, and a failure, when there
// is none of that kind.
template <typename Record>
Record* element_as(const GAUGEHDR* gauge, int depth) {
    ELEMENT_HEADER* element = element_at(gauge, depth);
    if (element == nullptr || element->element_type != kind_of<Record>()) {
        ADD_FAILURE() << "no element of kind " << kind_of<Record>() << " at depth " << depth;
        return nullptr;
    }
    return reinterpret_cast<Record*>(element);
}

// Sets the needle's own variable as the host would and asks its callback.
inline double needle_value(ELEMENT_NEEDLE* needle, double reading) {
    if (needle == nullptr || needle->update_callback == nullptr) return kNaN;
    needle->source.value = reading;
    return needle->update_callback(needle);
}

inline double needle_value(const GAUGEHDR* gauge, int depth, double reading) {
    return needle_value(element_as<ELEMENT_NEEDLE>(gauge, depth), reading);
}

// The stand-alone variable `index` behind the header: the records follow the
// header 32 bytes apart.
inline MODULE_VAR* standalone_var(const GAUGEHDR* gauge, size_t index) {
    auto* slots = reinterpret_cast<MODULE_VAR_SLOT*>(const_cast<GAUGEHDR*>(gauge) + 1);
    return &slots[index].var;
}

// An address as the 32-bit argument the service log records.
inline uint32_t address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

// Depths of the elements drawn after the latest update.
inline std::vector<int> visible_depths(const bench::GaugeInstance& instance) {
    std::vector<int> depths;
    for (const bench::ElementState& state : instance.elements()) {
        if (state.visible) depths.push_back(state.depth);
    }
    return depths;
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

}  // namespace korvane_bench
