// "Throttle" and "Prop_Control": one lever per engine in each quadrant.
// Reads: the lever positions, tokens 128, 163, 198, 233 (throttle) and 129,
// 164, 199, 234 (propeller), drawn by the host from the sliders' own
// variables; the module itself reads only the background's displayed height.
// Calls: trigger_key_event (set-lever events 65820..65823, 65923..65926) from
// the lever handlers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "korvane/controls/controls_gauges.h"
#include "korvane/module_state.h"
#include "gaugekit/builders.h"
#include "frame/numbers.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"

namespace controls {
namespace {

using kit::Placement;

struct Box {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

struct LeverVariant {
    uint32_t bitmap;
    Placement position;  // the lever picture at value 0
    uint32_t token;      // lever position 0..16383
    uint32_t event;      // sets the lever to an absolute position
    Box box;             // drag box, relative to the panel box
};

struct QuadrantVariant {
    const char* name;
    GAUGEHDR* gauge;
    ELEMENT_STATIC_IMAGE** root_element;  // module state, captured at service id 2
    // Box height over background height, to four decimals; the stored value
    // is what the lever values are built on, not the exact quotient.
    double ratio;
    uint32_t background_bitmap;
    Box panel;
    double scale_y;               // pixels per lever unit: the picture's travel / 16384, upward
    LeverVariant levers[4];       // by engine
};

constexpr size_t kEngineCount = 4;

constexpr QuadrantVariant kQuadrants[] = {
    {
        .name = "Throttle",
        .gauge = &throttle_gauge,
        .root_element = &module_state::throttle_root_element,
        .ratio = 0.3455,  // 57 / 165
        .background_bitmap = 405,  // 266 x 165
        .panel = {0, 0, 265, 165},
        .scale_y = -0.00347900390625,  // 57 pixels of travel
        .levers =
            {
                {410, {2, 57}, 128, 0x1011C, {15, 29, 58, 57}},
                {415, {91, 112}, 163, 0x1011D, {91, 108, 58, 57}},
                {420, {137, 112}, 198, 0x1011E, {133, 108, 58, 57}},
                {425, {157, 57}, 233, 0x1011F, {193, 29, 58, 57}},
            },
    },
    {
        .name = "Prop_Control",
        .gauge = &prop_control_gauge,
        .root_element = &module_state::prop_root_element,
        .ratio = 0.8202,  // 146 / 178
        .background_bitmap = 430,  // 198 x 178
        .panel = {0, 0, 198, 178},
        .scale_y = -0.00750732421875,  // 123 pixels of travel
        .levers =
            {
                {432, {0, 123}, 129, 0x10183, {0, 16, 53, 146}},
                {434, {53, 123}, 164, 0x10184, {53, 16, 46, 146}},
                {436, {99, 123}, 199, 0x10185, {99, 16, 47, 146}},
                {438, {146, 123}, 234, 0x10186, {146, 16, 52, 146}},
            },
    },
};
constexpr size_t kThrottle = 0;
constexpr size_t kPropControl = 1;

// Engine 1's lever is drawn last, over the others.
constexpr size_t kDrawingOrder[kEngineCount] = {1, 2, 3, 0};

constexpr int32_t kCursorHand = 5;
constexpr double kLeverMax = 16383.0;

// The lever value for a pointer `pointer_y` pixels below the top of a box, on
// a background shown `displayed_height` pixels high: the travel T = H * k; the
// whole pixels left above the box's bottom, times 16384, over T, truncated and
// limited to 0..16383. `displayed_height` must be positive. The arithmetic is
// wide enough for any pointer and any height: |T - y| < 2^34 and 16384 times
// that < 2^48, so neither the int64 truncation nor the product can overflow.
constexpr uint32_t lever_value(uint32_t displayed_height, double ratio, int32_t pointer_y) {
    const double travel = static_cast<double>(displayed_height) * ratio;
    const int64_t rise = static_cast<int64_t>(travel - static_cast<double>(pointer_y));
    const double value = static_cast<double>(rise * 16384) / travel;
    return static_cast<uint32_t>(frame::trunc_to_int32(frame::limit(value, 0.0, kLeverMax)));
}

constexpr double kThrottleRatio = kQuadrants[kThrottle].ratio;
constexpr double kPropRatio = kQuadrants[kPropControl].ratio;

// The lever values at the bitmaps' own sizes and at twice the throttle's, and
// at the ends of the argument types (where constant evaluation would reject
// any overflowing step).
static_assert(lever_value(165, kThrottleRatio, -1) == 16383);
static_assert(lever_value(165, kThrottleRatio, 0) == 16381);
static_assert(lever_value(165, kThrottleRatio, 1) == 16094);
static_assert(lever_value(165, kThrottleRatio, 28) == 8334);
static_assert(lever_value(165, kThrottleRatio, 56) == 287);
static_assert(lever_value(165, kThrottleRatio, 57) == 0);
static_assert(lever_value(165, kThrottleRatio, 100) == 0);
static_assert(lever_value(178, kPropRatio, -1) == 16383);
static_assert(lever_value(178, kPropRatio, 0) == 16272);
static_assert(lever_value(178, kPropRatio, 100) == 5050);
static_assert(lever_value(178, kPropRatio, 145) == 0);
static_assert(lever_value(330, kThrottleRatio, 57) == 8190);
static_assert(lever_value(1, kThrottleRatio, INT32_MIN) == 16383);
static_assert(lever_value(1, kThrottleRatio, INT32_MAX) == 0);
static_assert(lever_value(UINT32_MAX, kPropRatio, INT32_MIN) == 16383);

// The quadrant's background, when the header names one.
ELEMENT_STATIC_IMAGE* root_static_image(GAUGEHDR* gauge) {
    if (gauge == nullptr || gauge->element_list == nullptr) return nullptr;
    ELEMENT_HEADER* root = gauge->element_list[0];
    if (root == nullptr || root->element_type != kStaticImage) return nullptr;
    // The header is the first member of the static image record.
    return reinterpret_cast<ELEMENT_STATIC_IMAGE*>(root);
}

template <size_t Quadrant>
void GAUGE_CALL lever_gauge_callback(GAUGEHDR* gauge, uint32_t service_id, uint32_t) {
    if (service_id != kServiceSetup) return;
    *kQuadrants[Quadrant].root_element = root_static_image(gauge);
}

// Sets the lever from the pointer's height in its box, at every call. Before
// the gauge's set-up, before the host has loaded the background, or while it
// is shown zero pixels high there is no travel to measure against: nothing is
// sent.
template <size_t Quadrant, size_t Engine>
int32_t GAUGE_CALL lever_drag(PIXPOINT* point, uint32_t) {
    const QuadrantVariant& quadrant = kQuadrants[Quadrant];
    const ELEMENT_STATIC_IMAGE* root = *quadrant.root_element;
    if (point == nullptr || root == nullptr || root->image == nullptr) return 0;
    const uint32_t displayed_height = root->image->displayed_height;
    if (displayed_height == 0) return 0;
    kit::trigger_key_event(quadrant.levers[Engine].event, lever_value(displayed_height, quadrant.ratio, point->y));
    return 0;
}

template <size_t Quadrant>
struct LeverQuadrant {
    static constexpr const QuadrantVariant& variant = kQuadrants[Quadrant];

    static constinit ELEMENT_STATIC_IMAGE background;
    static constinit const std::array<ELEMENT_HEADER*, 2> root_list;
    // By drawing order: each lever is the only entry of the list of the one
    // drawn before it; the last has no list.
    static constinit std::array<ELEMENT_SLIDER, kEngineCount> levers;
    static constinit const std::array<std::array<ELEMENT_HEADER*, 2>, kEngineCount> lever_lists;
    static constinit const std::array<MOUSERECT, kEngineCount + 5> mouse;
};

template <size_t Quadrant, size_t Slot>
constexpr ELEMENT_SLIDER lever_slider() {
    constexpr const QuadrantVariant& quadrant = kQuadrants[Quadrant];
    constexpr const LeverVariant& lever = quadrant.levers[kDrawingOrder[Slot]];
    ELEMENT_HEADER* const* next = nullptr;
    if constexpr (Slot + 1 < kEngineCount) next = LeverQuadrant<Quadrant>::lever_lists[Slot + 1].data();
    return ELEMENT_SLIDER{
        .header = kit::element_header(kSlider, lever.bitmap, lever.position, quadrant.gauge, next, nullptr,
                                        kFlagsOverlay),
        .source_x = kit::module_var(0),
        .scale_x = 0.0,
        .source_y = kit::module_var(lever.token),
        .scale_y = quadrant.scale_y,
    };
}

template <size_t Quadrant, size_t... Slot>
constexpr std::array<ELEMENT_SLIDER, sizeof...(Slot)> lever_sliders(std::index_sequence<Slot...>) {
    return {lever_slider<Quadrant, Slot>()...};
}

template <size_t Quadrant, size_t Engine>
constexpr MOUSERECT lever_box() {
    constexpr Box box = kQuadrants[Quadrant].levers[Engine].box;
    return kit::mouse_handler_child(box.x, box.y, box.width, box.height, kCursorHand, kMouseDrag,
                                      lever_drag<Quadrant, Engine>);
}

template <size_t Quadrant, size_t... Engine>
constexpr std::array<MOUSERECT, sizeof...(Engine) + 5> lever_mouse(std::index_sequence<Engine...>) {
    constexpr Box panel = kQuadrants[Quadrant].panel;
    return {
        kit::mouse_whole_gauge(),
        kit::mouse_parent(panel.x, panel.y, panel.width, panel.height),
        lever_box<Quadrant, Engine>()...,
        kit::mouse_parent_end(),
        kit::mouse_parent_end(),
        kit::mouse_end(),
    };
}

template <size_t Quadrant>
constinit ELEMENT_STATIC_IMAGE LeverQuadrant<Quadrant>::background{
    .header = kit::element_header(kStaticImage, variant.background_bitmap, Placement{0, 0}, variant.gauge,
                                    LeverQuadrant<Quadrant>::lever_lists[0].data(), nullptr, kFlagsBackground),
};

template <size_t Quadrant>
constinit const std::array<ELEMENT_HEADER*, 2> LeverQuadrant<Quadrant>::root_list =
    kit::element_list(LeverQuadrant<Quadrant>::background);

template <size_t Quadrant>
constinit std::array<ELEMENT_SLIDER, kEngineCount> LeverQuadrant<Quadrant>::levers =
    lever_sliders<Quadrant>(std::make_index_sequence<kEngineCount>{});

template <size_t Quadrant>
constinit const std::array<std::array<ELEMENT_HEADER*, 2>, kEngineCount> LeverQuadrant<Quadrant>::lever_lists = {
    kit::element_list(LeverQuadrant<Quadrant>::levers[0]),
    kit::element_list(LeverQuadrant<Quadrant>::levers[1]),
    kit::element_list(LeverQuadrant<Quadrant>::levers[2]),
    kit::element_list(LeverQuadrant<Quadrant>::levers[3]),
};

template <size_t Quadrant>
constinit const std::array<MOUSERECT, kEngineCount + 5> LeverQuadrant<Quadrant>::mouse =
    lever_mouse<Quadrant>(std::make_index_sequence<kEngineCount>{});

template <size_t Quadrant>
constexpr GAUGEHDR quadrant_header() {
    return kit::gauge_header(kQuadrants[Quadrant].name, LeverQuadrant<Quadrant>::root_list.data(),
                               LeverQuadrant<Quadrant>::mouse.data(), lever_gauge_callback<Quadrant>);
}

}  // namespace

constinit GAUGEHDR throttle_gauge = quadrant_header<kThrottle>();
constinit GAUGEHDR prop_control_gauge = quadrant_header<kPropControl>();

}  // namespace controls
