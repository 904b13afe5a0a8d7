// "Flap_Position", the flap dial, and "Gear_Indicator", the undercarriage lamp
// panel with its day/night knob.
//
// Reads: sim::token::kFlapPosition through the flap needle's variable; the
// port (kGearLeftPosition) and starboard (kGearRightPosition) leg extension
// through the panel's stand-alone records gear_left_var and gear_right_var.
// Calls: initialize_var on both leg records at set-up (service id 2), then
// lookup_var on both at every update (service id 6), where the lamps are
// shown and hidden through the element-chain helpers.
#include <array>
#include <cstddef>

#include "frame/numbers.h"
#include "frame/vocabulary.h"
#include "gaugekit/builders.h"
#include "gaugekit/element_chain.h"
#include "gaugekit/readings.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"
#include "korvane/bitmaps.h"
#include "korvane/engine/engine_gauges.h"
#include "korvane/module_state.h"

namespace engine {
namespace {

namespace bitmap = korvane::bitmap;

// --- Flap dial ------------------------------------------------------------------

// The table ends at 16382, one short of the lever's full travel.
double GAUGE_CALL flap_limit(ELEMENT_NEEDLE* needle) { return frame::limit(kit::reading(needle), 0.0, 16382.0); }

constexpr NeedleDialRecords<3> flap_position(NeedleDialRecords<3>& self) {
    return {
        .header = kit::gauge_header("Flap_Position", self.element_list.data(), self.mouse_rects),
        .element_list = kit::element_list(self.background),
        .background = {.header = kit::element_header(kStaticImage, bitmap::kFlapDial, {0, 0}, &self.header,
                                                     self.background_next.data(), nullptr, kFlagsBackground)},
        .background_next = kit::element_list(self.needle),
        .needle =
            {
                .header = kit::element_header(kNeedle, bitmap::kFlapNeedle, {70, 70}, &self.header, nullptr,
                                              self.needle_failures, kFlagsOverlay, {27, 4}),
                .source = kit::module_var(sim::token::kFlapPosition),
                .nonlinearity = self.table.points,
                .nonlinearity_size = 3,
                .max_degrees_per_tick = 6,
                .update_callback = flap_limit,
            },
        .needle_failures = {kit::failure(kFailElectrics, kFailureGrey), kit::failure_end()},
        .table = {{kit::point(62, 5, 0), kit::point(135, 66, 8191), kit::point(64, 134, 16382)}},
        .mouse_rects = {kit::mouse_whole_gauge(sim::help::kFlapPosition), kit::mouse_parent_end(), kit::mouse_end()},
    };
}

// --- Undercarriage lamp panel -------------------------------------------------------

// A leg counts as locked down only beyond this mark.
constexpr double kLockedDown = 16372.0;

// Each side's four lamps sit at consecutive depths down the chain: day down,
// night down, day up, night up; the port side's deeper.
constexpr uint32_t kStarboardFirstDepth = 1;
constexpr uint32_t kPortFirstDepth = 5;

// The lamp of a side that matches the leg and the lamp set, as a bit at its
// depth.
constexpr uint32_t shown_lamp(uint32_t first_depth, bool down, bool night) {
    return 1u << (first_depth + (down ? 0 : 2) + (night ? 1 : 0));
}

// What an update writes into bit 30 of each lamp's flags, by depth, for one
// state of the two legs and the lamp set: the whole choice made once, ahead.
struct LampBits {
    uint32_t at_depth[kGearLampCount + 1];
};

constexpr uint32_t lamp_state(bool left_down, bool right_down, bool night) {
    return (left_down ? 4u : 0u) | (right_down ? 2u : 0u) | (night ? 1u : 0u);
}

constexpr std::array<LampBits, 8> lamp_bits_by_state() {
    std::array<LampBits, 8> table{};
    for (uint32_t state = 0; state < table.size(); ++state) {
        const bool night = (state & 1u) != 0;
        const uint32_t shown = shown_lamp(kPortFirstDepth, (state & 4u) != 0, night) |
                               shown_lamp(kStarboardFirstDepth, (state & 2u) != 0, night);
        for (uint32_t depth = 1; depth <= kGearLampCount; ++depth)
            table[state].at_depth[depth] = (shown >> depth & 1u) != 0 ? 0u : uint32_t{kImageHidden};
    }
    return table;
}

constexpr std::array<LampBits, 8> kLampBits = lamp_bits_by_state();
static_assert(kLampBits[lamp_state(true, true, false)].at_depth[5] == 0 &&
              kLampBits[lamp_state(true, true, false)].at_depth[7] == kImageHidden);

// The lamp at Depth, reached from the element one step above it: the rest of
// the chain below is walked first and written on the way back, so the whole
// chain is read before any lamp changes and the deepest lamp is written first.
template <uint32_t Depth>
[[gnu::always_inline]] inline void write_lamps_from(const ELEMENT_HEADER* above, const LampBits& bits) {
    ELEMENT_HEADER* const lamp = kit::element_chain_next(above);
    if (lamp == nullptr) return;
    if constexpr (Depth < kGearLampCount) write_lamps_from<Depth + 1>(lamp, bits);
    lamp->image_flags = (lamp->image_flags & ~kImageHidden) | bits.at_depth[Depth];
}

void GAUGE_CALL undercarriage_lamps(GAUGEHDR* gauge, uint32_t service_id, uint32_t) {
    MODULE_VAR& right = gear_indicator_gauge.gear_right_var.var;
    MODULE_VAR& left = gear_indicator_gauge.gear_left_var.var;
    if (service_id == kServiceSetup) {
        kit::initialize_var(&right);
        kit::initialize_var(&left);
        return;
    }
    if (service_id != kServiceUpdate) return;

    kit::lookup_var(&left);
    kit::lookup_var(&right);
    const bool left_down = left.value > kLockedDown;
    const bool right_down = right.value > kLockedDown;
    module_state::gear_left_down = left_down ? 1 : 0;
    module_state::gear_right_down = right_down ? 1 : 0;
    const LampBits& bits = kLampBits[lamp_state(left_down, right_down, module_state::gear_lamp_mode != 0)];
    // From the header handed in: the host owns the element lists, so nothing
    // of the chain is kept between updates.
    if (const ELEMENT_HEADER* const root = kit::root_element(gauge)) write_lamps_from<1>(root, bits);
}

// The knob: each click swaps the lamp set; the lamps follow at the next update.
int32_t GAUGE_CALL lamp_mode_switch(PIXPOINT*, uint32_t) {
    module_state::gear_lamp_mode = module_state::gear_lamp_mode == 0 ? 1 : 0;
    return 0;
}

struct Lamp {
    uint32_t bitmap;
    kit::Placement position;
};

// In chain order, depth 1 to 8: the starboard side's four lamps, then the
// port side's; both sides share the red locked-up pictures.
constexpr std::array<Lamp, kGearLampCount> kGearLamps{{
    {bitmap::kGearStarboardDownLampDay, {213, 114}},
    {bitmap::kGearStarboardDownLampNight, {213, 114}},
    {bitmap::kGearUpLampDay, {191, 53}},
    {bitmap::kGearUpLampNight, {191, 53}},
    {bitmap::kGearPortDownLampDay, {18, 114}},
    {bitmap::kGearPortDownLampNight, {18, 114}},
    {bitmap::kGearUpLampDay, {55, 53}},
    {bitmap::kGearUpLampNight, {55, 53}},
}};

// The lamps read no variable: the gauge callback shows and hides them.
constexpr ELEMENT_ICON gear_lamp(GearIndicatorRecords& self, std::size_t index) {
    ELEMENT_HEADER* const* const next = index + 1 < kGearLampCount ? self.lamp_next[index].data() : nullptr;
    return {
        .header = kit::element_header(kIcon, kGearLamps[index].bitmap, kGearLamps[index].position, &self.header, next,
                                      self.failures, kFlagsLight),
        .source = {},
        .frame_count = 1,
    };
}

constexpr GearIndicatorRecords gear_indicator(GearIndicatorRecords& self) {
    return {
        .header = kit::gauge_header("Gear_Indicator", self.element_list.data(), self.mouse_rects, undercarriage_lamps),
        .gear_right_var = kit::module_var_slot(sim::token::kGearRightPosition),
        .gear_left_var = kit::module_var_slot(sim::token::kGearLeftPosition),
        .element_list = kit::element_list(self.background),
        .background = {.header = kit::element_header(kStaticImage, bitmap::kGearPanel, {0, 0}, &self.header,
                                                     self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = kit::element_list(self.lamps[0]),
        .lamps = {gear_lamp(self, 0), gear_lamp(self, 1), gear_lamp(self, 2), gear_lamp(self, 3), gear_lamp(self, 4),
                  gear_lamp(self, 5), gear_lamp(self, 6), gear_lamp(self, 7)},
        .lamp_next = {kit::element_list(self.lamps[1]), kit::element_list(self.lamps[2]),
                      kit::element_list(self.lamps[3]), kit::element_list(self.lamps[4]),
                      kit::element_list(self.lamps[5]), kit::element_list(self.lamps[6]),
                      kit::element_list(self.lamps[7])},
        .failures = {kit::failure(kFailElectrics, kFailureGrey), kit::failure_end()},
        .mouse_rects =
            {
                kit::mouse_whole_gauge(),
                kit::mouse_parent(107, 107, 64, 64),
                kit::mouse_handler_child(0, 0, 64, 64, kCursorHand, kMouseClick, lamp_mode_switch),
                kit::mouse_parent_end(),
                kit::mouse_parent_end(),
                kit::mouse_end(),
            },
    };
}

static_assert(offsetof(GearIndicatorRecords, gear_right_var) == 116);
static_assert(offsetof(GearIndicatorRecords, gear_left_var) == 148);

}  // namespace

constinit NeedleDialRecords<3> flap_position_gauge = flap_position(flap_position_gauge);
constinit GearIndicatorRecords gear_indicator_gauge = gear_indicator(gear_indicator_gauge);

}  // namespace engine
