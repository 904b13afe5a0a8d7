// "Magneto_Switch" and "Starter_Switch": ignition and starting of the four
// engines.
// Reads: each engine's running flag, sim::token::engine_running (starter, by
// lookup_var); the magneto switches show sim::token::first_magneto and
// second_magneto (drawn by the host from the icons' own variables).
// Calls: lookup_var and trigger_key_event (sim::event::engine_start or
// engine_start_alternate) from the starter's callbacks; user32's FindWindowA
// at the starter's service id 4. The magneto switches' key events
// (sim::event::first_magneto_toggle, second_magneto_toggle) are sent by the
// host from the mouse records.
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "frame/vocabulary.h"
#include "gaugekit/builders.h"
#include "gaugekit/readings.h"
#include "gaugekit/platform.h"
#include "gaugekit/routines.h"
#include "gaugekit/services.h"
#include "korvane/bitmaps.h"
#include "korvane/controls/controls_gauges.h"
#include "korvane/module_state.h"

namespace controls {
namespace {

namespace bitmap = korvane::bitmap;
using kit::Placement;

// What differs between the engines on the magneto panel; everything else
// follows from the engine's number.
struct Variant {
    int32_t magneto_x;  // the first switch; the second lies one switch width right
};

// Engines 2 and 3 lie either side of a 20-pixel gap with no magneto switch
// (x 180 to 199).
constexpr Variant kEngines[kEngineCount] = {{0}, {90}, {200}, {290}};

// --- Magneto_Switch ------------------------------------------------------------

// The switch icons have two frames, off then on.
constexpr int32_t kMagnetoPanelWidth = 380;
constexpr int32_t kMagnetoPanelHeight = 138;
constexpr int32_t kMagnetoSwitchWidth = 45;

// Each icon and its box (the full panel height) share their left edge.
struct MagnetoSwitchPlace {
    int32_t x;
    uint32_t token;  // switch position (0 or 1): the icon's frame
    uint32_t event;  // the key event the host sends on a click in the switch's box
};

constexpr MagnetoSwitchPlace magneto_place(size_t index) {
    const int engine = static_cast<int>(index / 2);
    const bool second = index % 2 != 0;
    return {kEngines[index / 2].magneto_x + (second ? kMagnetoSwitchWidth : 0),
            second ? sim::token::second_magneto(engine) : sim::token::first_magneto(engine),
            second ? sim::event::second_magneto_toggle(engine) : sim::event::first_magneto_toggle(engine)};
}

template <size_t... I>
constexpr std::array<ELEMENT_ICON, sizeof...(I)> magneto_icons(MagnetoSwitchRecords& self, std::index_sequence<I...>) {
    return {ELEMENT_ICON{
        .header = kit::element_header(kIcon, bitmap::kMagnetoSwitchOff, Placement{magneto_place(I).x, 0}, &self.header,
                                      nullptr, self.failures, kFlagsOverlay),
        .source = kit::module_var(magneto_place(I).token),
        .frame_count = 2,
    }...};
}

template <size_t... I>
constexpr std::array<MOUSERECT, sizeof...(I) + 5> magneto_mouse(std::index_sequence<I...>) {
    return {
        kit::mouse_whole_gauge(),
        kit::mouse_parent(0, 0, kMagnetoPanelWidth, kMagnetoPanelHeight),
        kit::mouse_event_child(magneto_place(I).x, 0, kMagnetoSwitchWidth, kMagnetoPanelHeight, kCursorHand,
                               kMouseClick, magneto_place(I).event)...,
        kit::mouse_parent_end(),
        kit::mouse_parent_end(),
        kit::mouse_end(),
    };
}

constexpr MagnetoSwitchRecords magneto_switch(MagnetoSwitchRecords& self) {
    return {
        .header = kit::gauge_header("Magneto_Switch", self.element_list.data(), self.mouse_rects.data()),
        .element_list = kit::element_list(self.background),
        .background = {.header = kit::element_header(kStaticImage, bitmap::kMagnetoPanel, Placement{0, 0}, &self.header,
                                                     self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = kit::element_list(self.switches),
        .switches = magneto_icons(self, std::make_index_sequence<kMagnetoSwitchCount>{}),
        .failures = {kit::failure(kFailElectrics, kFailureGrey), kit::failure_end()},
        .mouse_rects = magneto_mouse(std::make_index_sequence<kMagnetoSwitchCount>{}),
    };
}

// --- Starter_Switch ------------------------------------------------------------

// One 75-pixel column per engine; the arming icons have two frames, not
// armed then armed.
constexpr int32_t kStarterPanelWidth = 300;
constexpr int32_t kStarterPanelHeight = 115;
constexpr int32_t kStarterColumnWidth = 75;
constexpr int32_t kStarterIconInset = 11;
// Row 52 of each column belongs to neither box.
constexpr int32_t kArmBoxHeight = 52;
constexpr int32_t kButtonBoxTop = 53;
constexpr int32_t kButtonBoxHeight = 62;
constexpr uint32_t kStartValueWindow = 4;
constexpr uint32_t kStartValueNoWindow = 0;

constexpr const char kMainWindowClass[] = "MSCFSMAIN";
constexpr const char kMainWindowTitle[] = "Microsoft Combat Flight Simulator";

template <size_t Engine>
MODULE_VAR& running_var() {
    return starter_switch_gauge.starter_running_var[Engine].var;
}

// The arming drops out at the first update that sees the engine running.
template <size_t Engine>
double GAUGE_CALL starter_icon_update(ELEMENT_ICON*) {
    MODULE_VAR& running = running_var<Engine>();
    kit::lookup_var(&running);
    // 1.0 has one encoding: the stored bits say it without loading the value.
    if (kit::stored_bits(running.value) == std::bit_cast<uint64_t>(1.0)) module_state::starter_armed[Engine] = 0;
    return module_state::starter_armed[Engine] != 0 ? 1.0 : 0.0;
}

// The arming switch can only be worked while the engine is stopped.
template <size_t Engine>
int32_t GAUGE_CALL starter_arm_click(PIXPOINT*, uint32_t) {
    MODULE_VAR& running = running_var<Engine>();
    kit::lookup_var(&running);
    if (running.value == 0.0) {
        int32_t& armed = module_state::starter_armed[Engine];
        armed = armed == 0 ? 1 : 0;
    }
    return 0;
}

// Held down, the button keeps the starter engaged: every repeat sends the
// start event again while the engine stays armed. With the main window found
// the start goes as the first family's event with value 4, otherwise as the
// second family's with value 0.
template <size_t Engine>
int32_t GAUGE_CALL starter_button_click(PIXPOINT*, uint32_t) {
    constexpr int engine = static_cast<int>(Engine);
    if (module_state::starter_armed[Engine] == 0) return 0;
    if (module_state::cfs_main_window_found != 0) {
        kit::trigger_key_event(sim::event::engine_start(engine), kStartValueWindow);
    } else {
        kit::trigger_key_event(sim::event::engine_start_alternate(engine), kStartValueNoWindow);
    }
    return 0;
}

// The start event's family depends on which simulator shell is running; the
// check is repeated at every service id 4.
void GAUGE_CALL starter_gauge_callback(GAUGEHDR*, uint32_t service_id, uint32_t) {
    if (service_id != kServiceAfterSetup) return;
    module_state::cfs_main_window_found = FindWindowA(kMainWindowClass, kMainWindowTitle) != nullptr ? 1 : 0;
}

// The arming icons read no variable: their callbacks give the frame.
template <size_t... Engine>
constexpr std::array<ELEMENT_ICON, sizeof...(Engine)> arming_icons(StarterSwitchRecords& self,
                                                                   std::index_sequence<Engine...>) {
    return {ELEMENT_ICON{
        .header =
            kit::element_header(kIcon, bitmap::kArmingSwitchOff,
                                Placement{kStarterIconInset + kStarterColumnWidth * static_cast<int32_t>(Engine), 0},
                                &self.header, nullptr, self.failures, kFlagsOverlay),
        .source = {},
        .frame_count = 2,
        .callback = starter_icon_update<Engine>,
    }...};
}

template <size_t... Engine>
constexpr std::array<MODULE_VAR_SLOT, sizeof...(Engine)> running_vars(std::index_sequence<Engine...>) {
    return {kit::module_var_slot(sim::token::engine_running(static_cast<int>(Engine)))...};
}

// Two boxes per engine, engine by engine: the arming box over the switch
// (even I), then the start button below it (odd I).
template <size_t I>
constexpr MOUSERECT starter_box() {
    constexpr size_t engine = I / 2;
    constexpr int32_t x = kStarterColumnWidth * static_cast<int32_t>(engine);
    if constexpr (I % 2 == 0) {
        return kit::mouse_handler_child(x, 0, kStarterColumnWidth, kArmBoxHeight, kCursorArrow, kMouseClick,
                                        starter_arm_click<engine>);
    } else {
        return kit::mouse_handler_child(x, kButtonBoxTop, kStarterColumnWidth, kButtonBoxHeight, kCursorHand,
                                        kMouseClickRepeat, starter_button_click<engine>);
    }
}

template <size_t... I>
constexpr std::array<MOUSERECT, sizeof...(I) + 5> starter_mouse(std::index_sequence<I...>) {
    return {
        kit::mouse_whole_gauge(), kit::mouse_parent(0, 0, kStarterPanelWidth, kStarterPanelHeight),
        starter_box<I>()...,      kit::mouse_parent_end(),
        kit::mouse_parent_end(),  kit::mouse_end(),
    };
}

constexpr StarterSwitchRecords starter_switch(StarterSwitchRecords& self) {
    return {
        .header = kit::gauge_header("Starter_Switch", self.element_list.data(), self.mouse_rects.data(),
                                    starter_gauge_callback),
        .starter_running_var = running_vars(std::make_index_sequence<kEngineCount>{}),
        .element_list = kit::element_list(self.background),
        .background = {.header = kit::element_header(kStaticImage, bitmap::kStarterPanel, Placement{0, 0}, &self.header,
                                                     self.background_next.data(), self.failures, kFlagsBackground)},
        .background_next = kit::element_list(self.arming_icons),
        .arming_icons = arming_icons(self, std::make_index_sequence<kEngineCount>{}),
        .failures = {kit::failure(kFailElectrics, kFailureGrey), kit::failure_end()},
        .mouse_rects = starter_mouse(std::make_index_sequence<2 * kEngineCount>{}),
    };
}

}  // namespace

constinit MagnetoSwitchRecords magneto_switch_gauge = magneto_switch(magneto_switch_gauge);
constinit StarterSwitchRecords starter_switch_gauge = starter_switch(starter_switch_gauge);

}  // namespace controls
