// "Throttle" and "Prop_Control": one lever per engine in each quadrant.
// Reads: the lever positions, sim::token::throttle_lever and propeller_lever
// per engine, drawn by the host from the sliders' own variables; the module
// itself reads only the background's displayed height.
// Calls: trigger_key_event (sim::event::throttle_set and propeller_set) from
// the lever handlers.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "gaugekit/builders.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"
#include "korvane/bitmaps.h"
#include "korvane/controls/controls_gauges.h"
#include "korvane/module_state.h"

namespace controls {
namespace {

namespace bitmap = korvane::bitmap;
using kit::Placement;

struct Box {
    int32_t x;
    int32_t y;
    int32_t width;
    int32_t height;
};

struct Lever {
    uint32_t bitmap;
    Placement position;  // the lever picture at value 0
    Box box;             // drag box, relative to the panel box
};

struct Variant {
    const char* name;
    ELEMENT_STATIC_IMAGE** root_element;  // module state, captured at service id 2
    // Box height over background height, to four decimals; the stored value
    // is what the lever values are built on, not the exact quotient.
    double ratio;
    uint32_t background_bitmap;
    Box panel;
    double scale_y;                 // pixels per lever unit: the picture's travel / 16384, upward
    uint32_t (*token)(int engine);  // lever position 0..16383
    uint32_t (*event)(int engine);  // sets the lever to an absolute position
    Lever levers[kEngineCount];     // by engine
};

constexpr Variant kQuadrants[kQuadrantCount] = {
    {
        .name = "Throttle",
        .root_element = &module_state::throttle_root_element,
        .ratio = 0.3455,                                 // 57 / 165
        .background_bitmap = bitmap::kThrottleQuadrant,  // 266 x 165
        .panel = {0, 0, 265, 165},
        .scale_y = -0.00347900390625,  // 57 pixels of travel
        .token = sim::token::throttle_lever,
        .event = sim::event::throttle_set,
        .levers =
            {
                {bitmap::kThrottleLever1, {2, 57}, {15, 29, 58, 57}},
                {bitmap::kThrottleLever2, {91, 112}, {91, 108, 58, 57}},
                {bitmap::kThrottleLever3, {137, 112}, {133, 108, 58, 57}},
                {bitmap::kThrottleLever4, {157, 57}, {193, 29, 58, 57}},
            },
    },
    {
        .name = "Prop_Control",
        .root_element = &module_state::prop_root_element,
        .ratio = 0.8202,                                  // 146 / 178
        .background_bitmap = bitmap::kPropellerQuadrant,  // 198 x 178
        .panel = {0, 0, 198, 178},
        .scale_y = -0.00750732421875,  // 123 pixels of travel
        .token = sim::token::propeller_lever,
        .event = sim::event::propeller_set,
        .levers =
            {
                {bitmap::kPropellerLever1, {0, 123}, {0, 16, 53, 146}},
                {bitmap::kPropellerLever2, {53, 123}, {53, 16, 46, 146}},
                {bitmap::kPropellerLever3, {99, 123}, {99, 16, 47, 146}},
                {bitmap::kPropellerLever4, {146, 123}, {146, 16, 52, 146}},
            },
    },
};

// Engine 1's lever is drawn last, over the others.
constexpr size_t kDrawingOrder[kEngineCount] = {1, 2, 3, 0};

constexpr double kLeverMax = sim::event::kLeverMaximum;

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
    constexpr const Variant& quadrant = kQuadrants[Quadrant];
    constexpr uint32_t event = quadrant.event(static_cast<int>(Engine));
    const ELEMENT_STATIC_IMAGE* root = *quadrant.root_element;
    if (point == nullptr || root == nullptr || root->image == nullptr) return 0;
    const uint32_t displayed_height = root->image->displayed_height;
    if (displayed_height == 0) return 0;
    kit::trigger_key_event(event, lever_value(displayed_height, quadrant.ratio, point->y));
    return 0;
}

// The lever drawn in the given place of the drawing order.
template <size_t Quadrant>
constexpr ELEMENT_SLIDER lever_slider(LeverQuadrantRecords& self, size_t slot) {
    constexpr const Variant& quadrant = kQuadrants[Quadrant];
    const size_t engine = kDrawingOrder[slot];
    const Lever& lever = quadrant.levers[engine];
    return ELEMENT_SLIDER{
        .header = kit::element_header(kSlider, lever.bitmap, lever.position, &self.header,
                                      slot + 1 < kEngineCount ? self.lever_next[slot].data() : nullptr, nullptr,
                                      kFlagsOverlay),
        .source_x = {},  // the levers move only up and down
        .source_y = kit::module_var(quadrant.token(static_cast<int>(engine))),
        .scale_y = quadrant.scale_y,
    };
}

template <size_t Quadrant, size_t... Slot>
constexpr std::array<ELEMENT_SLIDER, sizeof...(Slot)> lever_sliders(LeverQuadrantRecords& self,
                                                                    std::index_sequence<Slot...>) {
    return {lever_slider<Quadrant>(self, Slot)...};
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
        kit::mouse_whole_gauge(),         kit::mouse_parent(panel.x, panel.y, panel.width, panel.height),
        lever_box<Quadrant, Engine>()..., kit::mouse_parent_end(),
        kit::mouse_parent_end(),          kit::mouse_end(),
    };
}

template <size_t Quadrant>
constexpr LeverQuadrantRecords lever_quadrant(LeverQuadrantRecords& self) {
    constexpr const Variant& quadrant = kQuadrants[Quadrant];
    return {
        .header = kit::gauge_header(quadrant.name, self.element_list.data(), self.mouse_rects.data(),
                                    lever_gauge_callback<Quadrant>),
        .element_list = kit::element_list(self.background),
        .background = {.header =
                           kit::element_header(kStaticImage, quadrant.background_bitmap, Placement{0, 0}, &self.header,
                                               self.background_next.data(), nullptr, kFlagsBackground)},
        .background_next = kit::element_list(self.levers[0]),
        .levers = lever_sliders<Quadrant>(self, std::make_index_sequence<kEngineCount>{}),
        .lever_next = {kit::element_list(self.levers[1]), kit::element_list(self.levers[2]),
                       kit::element_list(self.levers[3])},
        .mouse_rects = lever_mouse<Quadrant>(std::make_index_sequence<kEngineCount>{}),
    };
}

}  // namespace

template <size_t Quadrant>
constinit LeverQuadrantRecords LeverQuadrant<Quadrant>::records =
    lever_quadrant<Quadrant>(LeverQuadrant<Quadrant>::records);

template struct LeverQuadrant<kThrottle>;
template struct LeverQuadrant<kPropControl>;

}  // namespace controls
