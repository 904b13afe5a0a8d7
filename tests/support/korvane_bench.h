// What the gauge tests of Korvane.gau share: the module freshly loaded under a
// bench host, gauges by name, set-up instances, elements by their depth in the
// chain with their callbacks, the stand-alone variables, and needle geometry;
// and, for every module test of the twin, the module's native records behind
// the host's guest addresses.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <numbers>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/linkage.h"
#include "frame/records.h"
#include "frame/services.h"
#include "runtime/host.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "support/test_paths.h"

namespace korvane_bench {

// --- Native records at guest addresses (the twin's tests only) ------------------
//
// The twin runs module code in this process, so a guest address is the
// native pointer itself. The module tests check the module's own data and
// call its own routines: they read its records as the module's native
// structs, and hand the host guest pointers made from them.
static_assert(FRAME_NATIVE_RECORDS, "native records exist in the twin's 32-bit tree only");

template <typename Native>
struct GuestViewOf;
template <typename View>
struct NativeOf;

// clang-format off
#define KORVANE_BENCH_RECORDS(X)                                                                              \
    X(GAUGEHDR) X(GAUGEHDR_V800) X(ELEMENT_HEADER) X(ELEMENT_STATIC_IMAGE) X(ELEMENT_NEEDLE) X(ELEMENT_SLIDER) \
    X(ELEMENT_ICON) X(ELEMENT_MOVING_IMAGE) X(ELEMENT_SPRITE) X(PIXPOINT) X(MODULE_VAR) X(MODULE_VAR_SLOT)     \
    X(FAILURE_RECORD) X(NONLINEARITY) X(MOUSERECT) X(HOST_IMAGE_PREFIX) X(LINKAGE_HEADER) X(IMPORT_TABLE)      \
    X(PANELS)
// clang-format on
#define KORVANE_BENCH_VIEW(name)     \
    template <>                      \
    struct GuestViewOf<::name> {     \
        using type = ::guest::name;  \
    };                               \
    template <>                      \
    struct NativeOf<::guest::name> { \
        using type = ::name;         \
    };
KORVANE_BENCH_RECORDS(KORVANE_BENCH_VIEW)
#undef KORVANE_BENCH_VIEW
#undef KORVANE_BENCH_RECORDS

template <typename Native>
struct GuestViewOf<const Native> {
    using type = const typename GuestViewOf<Native>::type;
};
template <typename View>
struct NativeOf<const View> {
    using type = const typename NativeOf<View>::type;
};

// The guest view of a native record: guest_view_t<const GAUGEHDR> is const guest::GAUGEHDR.
template <typename Native>
using guest_view_t = typename GuestViewOf<Native>::type;

// The module's record where a guest pointer points.
template <typename View>
auto* native(frame::GuestPtr<View> pointer) {
    return reinterpret_cast<typename NativeOf<View>::type*>(static_cast<uintptr_t>(pointer.address));
}

// A native record as the guest pointer the host takes.
template <typename Native>
frame::GuestPtr<guest_view_t<Native>> guest_of(Native* record) {
    return frame::GuestPtr<guest_view_t<Native>>(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(record)));
}

// --- The PE build's bitmaps ---------------------------------------------------------

// The twin carries no bitmaps: they come with the PE build, which may not be
// built yet when the twin's tests run.
inline bool present(const std::string& pe_path) { return !pe_path.empty() && std::filesystem::exists(pe_path); }

// Why a test of the bitmaps skips.
inline std::string no_pe_build(const std::string& pe_path) {
    if (pe_path.empty()) return "the PE build is not known to this tree (KORVANE_PE_DIR)";
    return pe_path + " is not built: the bitmaps it carries cannot be checked";
}

// --- Korvane.gau under the bench host -------------------------------------------

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
        GAUGEHDR* found = native(module.gauge(name));
        if (found == nullptr) ADD_FAILURE() << "no gauge " << name;
        return found;
    }

    template <size_t N>
    void give_sizes(const BitmapSize (&sizes)[N]) {
        for (const BitmapSize& b : sizes) module.override_bitmap_size(b.id, b.width, b.height);
    }

    // An instance of the gauge, set up.
    std::unique_ptr<runtime::GaugeInstance> open(GAUGEHDR* gauge, double scale = 1.0) {
        auto instance = std::make_unique<runtime::GaugeInstance>(host, module, guest_of(gauge), scale);
        instance->setup();
        return instance;
    }

    // The services called since the log was last cleared, as (slot, first
    // argument) in call order.
    std::vector<std::pair<uint32_t, uint32_t>> service_calls() const {
        std::vector<std::pair<uint32_t, uint32_t>> calls;
        for (const runtime::ServiceCall& call : host.service_log()) calls.emplace_back(call.slot, call.args[0]);
        return calls;
    }

    runtime::Host host;
    runtime::Module module{host, test_paths::module("Korvane.gau")};
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
inline std::vector<int> visible_depths(const runtime::GaugeInstance& instance) {
    std::vector<int> depths;
    for (const runtime::ElementState& state : instance.elements()) {
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
