// "Magneto_Switch" and "Starter_Switch": ignition and starting of the four
// engines.
// Reads: the engines' running flags, tokens 406, 445, 484, 523 (starter, by
// lookup_var); the magneto switches show tokens 399/400, 438/439, 477/478,
// 516/517 (drawn by the host from the icons' own variables).
// Calls: lookup_var and trigger_key_event (start events) from the starter's
// callbacks; user32's FindWindowA at the starter's service id 4. The magneto
// switches' key events are sent by the host from the mouse records.
#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "korvane/controls/controls_gauges.h"
#include "korvane/module_state.h"
#include "gaugekit/builders.h"
#include "gaugekit/routines.h"
#include "gaugekit/platform.h"
#include "gaugekit/services.h"

namespace controls {
namespace {

using kit::Placement;

// What differs between the engines on both panels.
struct EngineSwitches {
    // Magneto_Switch: the engine's first and second switch, side by side.
    int32_t magneto_x;              // the first switch; the second lies one switch width right
    uint32_t magneto_tokens[2];     // switch positions (0 or 1): the icons' frames
    uint32_t magneto_events[2];     // key events the host sends on a click in a switch's box
    // Starter_Switch.
    uint32_t running_token;         // 1.0 running, 0.0 stopped
    uint32_t start_event_window;    // sent with value 4 when the main window was found
    uint32_t start_event_no_window; // sent with value 0 otherwise
};

// Engines 2 and 3 lie either side of a 20-pixel gap with no magneto switch
// (x 180 to 199).
constexpr EngineSwitches kEngines[] = {
    {0, {399, 400}, {0x10189, 0x10188}, 406, 0x1018C, 0x102FC},
    {90, {438, 439}, {0x1018F, 0x1018E}, 445, 0x10192, 0x102FD},
    {200, {477, 478}, {0x10195, 0x10194}, 484, 0x10198, 0x102FE},
    {290, {516, 517}, {0x1019B, 0x1019A}, 523, 0x1019E, 0x102FF},
};
constexpr size_t kEngineCount = std::size(kEngines);
static_assert(kEngineCount == std::size(module_state::starter_armed));

constexpr int32_t kCursorHand = 5;
constexpr int32_t kCursorArm = 1;
constexpr uint32_t kFailureKeyPanel = 20;

// --- Magneto_Switch ------------------------------------------------------------

constexpr uint32_t kMagnetoBackgroundBitmap = 310;  // 380 x 138
constexpr uint32_t kMagnetoSwitchBitmap = 315;      // 45 x 138, frames 315 and 316
constexpr int32_t kMagnetoPanelWidth = 380;
constexpr int32_t kMagnetoPanelHeight = 138;
constexpr int32_t kMagnetoSwitchWidth = 45;

// Two switches per engine, first then second, in engine order; each icon and
// its box (the full panel height) share their left edge.
constexpr size_t kMagnetoSwitchCount = 2 * kEngineCount;

struct MagnetoSwitchPlace {
    int32_t x;
    uint32_t token;
    uint32_t event;
};

constexpr MagnetoSwitchPlace magneto_switch(size_t index) {
    const EngineSwitches& engine = kEngines[index / 2];
    const size_t which = index % 2;
    return {engine.magneto_x + kMagnetoSwitchWidth * static_cast<int32_t>(which), engine.magneto_tokens[which],
            engine.magneto_events[which]};
}

struct MagnetoSwitch {
    static constinit const FAILURE_RECORD failures[2];
    static constinit std::array<ELEMENT_ICON, kMagnetoSwitchCount> switches;
    static constinit const std::array<ELEMENT_HEADER*, kMagnetoSwitchCount + 1> switch_list;
    static constinit ELEMENT_STATIC_IMAGE background;
    static constinit const std::array<ELEMENT_HEADER*, 2> root_list;
    static constinit const std::array<MOUSERECT, kMagnetoSwitchCount + 5> mouse;
};

constexpr ELEMENT_ICON magneto_icon(const MagnetoSwitchPlace& place) {
    return ELEMENT_ICON{
        .header = kit::element_header(kIcon, kMagnetoSwitchBitmap, Placement{place.x, 0}, &magneto_switch_gauge,
                                        nullptr, MagnetoSwitch::failures, kFlagsOverlay),
        .source = kit::module_var(place.token),
        .frame_count = 2,
    };
}

template <size_t... I>
constexpr std::array<ELEMENT_ICON, sizeof...(I)> magneto_icons(std::index_sequence<I...>) {
    return {magneto_icon(magneto_switch(I))...};
}

template <size_t... I>
constexpr std::array<MOUSERECT, sizeof...(I) + 5> magneto_mouse(std::index_sequence<I...>) {
    return {
        kit::mouse_whole_gauge(),
        kit::mouse_parent(0, 0, kMagnetoPanelWidth, kMagnetoPanelHeight),
        kit::mouse_event_child(magneto_switch(I).x, 0, kMagnetoSwitchWidth, kMagnetoPanelHeight, kCursorHand,
                                 kMouseClick, magneto_switch(I).event)...,
        kit::mouse_parent_end(),
        kit::mouse_parent_end(),
        kit::mouse_end(),
    };
}

constinit const FAILURE_RECORD MagnetoSwitch::failures[2] = {kit::failure(kFailureKeyPanel, 1), kit::failure_end()};
constinit std::array<ELEMENT_ICON, kMagnetoSwitchCount> MagnetoSwitch::switches =
    magneto_icons(std::make_index_sequence<kMagnetoSwitchCount>{});
constinit const std::array<ELEMENT_HEADER*, kMagnetoSwitchCount + 1> MagnetoSwitch::switch_list =
    kit::element_list(MagnetoSwitch::switches);
constinit ELEMENT_STATIC_IMAGE MagnetoSwitch::background{
    .header = kit::element_header(kStaticImage, kMagnetoBackgroundBitmap, Placement{0, 0}, &magneto_switch_gauge,
                                    MagnetoSwitch::switch_list.data(), MagnetoSwitch::failures, kFlagsBackground),
};
constinit const std::array<ELEMENT_HEADER*, 2> MagnetoSwitch::root_list =
    kit::element_list(MagnetoSwitch::background);
constinit const std::array<MOUSERECT, kMagnetoSwitchCount + 5> MagnetoSwitch::mouse =
    magneto_mouse(std::make_index_sequence<kMagnetoSwitchCount>{});

// --- Starter_Switch ------------------------------------------------------------

constexpr uint32_t kStarterBackgroundBitmap = 365;  // 300 x 115: one 75-pixel column per engine
constexpr uint32_t kStarterArmingBitmap = 370;      // 54 x 111, frames 370 (not armed) and 371 (armed)
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
    if (running.value == 1.0) module_state::starter_armed[Engine] = 0;
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
// start event again while the engine stays armed.
template <size_t Engine>
int32_t GAUGE_CALL starter_button_click(PIXPOINT*, uint32_t) {
    if (module_state::starter_armed[Engine] == 0) return 0;
    const EngineSwitches& engine = kEngines[Engine];
    if (module_state::cfs_main_window_found != 0) {
        kit::trigger_key_event(engine.start_event_window, kStartValueWindow);
    } else {
        kit::trigger_key_event(engine.start_event_no_window, kStartValueNoWindow);
    }
    return 0;
}

// The start event's family depends on which simulator shell is running; the
// check is repeated at every service id 4.
void GAUGE_CALL starter_gauge_callback(GAUGEHDR*, uint32_t service_id, uint32_t) {
    if (service_id != kServiceAfterSetup) return;
    module_state::cfs_main_window_found = FindWindowA(kMainWindowClass, kMainWindowTitle) != nullptr ? 1 : 0;
}

struct StarterSwitch {
    static constinit const FAILURE_RECORD failures[2];
    static constinit std::array<ELEMENT_ICON, kEngineCount> arming_icons;
    static constinit const std::array<ELEMENT_HEADER*, kEngineCount + 1> icon_list;
    static constinit ELEMENT_STATIC_IMAGE background;
    static constinit const std::array<ELEMENT_HEADER*, 2> root_list;
    static constinit const std::array<MOUSERECT, 2 * kEngineCount + 5> mouse;
};

template <size_t Engine>
constexpr ELEMENT_ICON arming_icon() {
    constexpr int32_t x = kStarterIconInset + kStarterColumnWidth * static_cast<int32_t>(Engine);
    return ELEMENT_ICON{
        .header = kit::element_header(kIcon, kStarterArmingBitmap, Placement{x, 0}, &starter_switch_gauge.header,
                                        nullptr, StarterSwitch::failures, kFlagsOverlay),
        .source = kit::module_var(0),
        .frame_count = 2,
        .callback = starter_icon_update<Engine>,
    };
}

template <size_t... Engine>
constexpr std::array<ELEMENT_ICON, sizeof...(Engine)> build_arming_icons(std::index_sequence<Engine...>) {
    return {arming_icon<Engine>()...};
}

// Two boxes per engine, engine by engine: the arming box over the switch
// (even I), then the start button below it (odd I).
template <size_t I>
constexpr MOUSERECT starter_box() {
    constexpr size_t engine = I / 2;
    constexpr int32_t x = kStarterColumnWidth * static_cast<int32_t>(engine);
    if constexpr (I % 2 == 0) {
        return kit::mouse_handler_child(x, 0, kStarterColumnWidth, kArmBoxHeight, kCursorArm, kMouseClick,
                                          starter_arm_click<engine>);
    } else {
        return kit::mouse_handler_child(x, kButtonBoxTop, kStarterColumnWidth, kButtonBoxHeight, kCursorHand,
                                          kMouseClickRepeat, starter_button_click<engine>);
    }
}

template <size_t... I>
constexpr std::array<MOUSERECT, sizeof...(I) + 5> starter_mouse(std::index_sequence<I...>) {
    return {
        kit::mouse_whole_gauge(),
        kit::mouse_parent(0, 0, kStarterPanelWidth, kStarterPanelHeight),
        starter_box<I>()...,
        kit::mouse_parent_end(),
        kit::mouse_parent_end(),
        kit::mouse_end(),
    };
}

constinit const FAILURE_RECORD StarterSwitch::failures[2] = {kit::failure(kFailureKeyPanel, 1), kit::failure_end()};
constinit std::array<ELEMENT_ICON, kEngineCount> StarterSwitch::arming_icons =
    build_arming_icons(std::make_index_sequence<kEngineCount>{});
constinit const std::array<ELEMENT_HEADER*, kEngineCount + 1> StarterSwitch::icon_list =
    kit::element_list(StarterSwitch::arming_icons);
constinit ELEMENT_STATIC_IMAGE StarterSwitch::background{
    .header = kit::element_header(kStaticImage, kStarterBackgroundBitmap, Placement{0, 0},
                                    &starter_switch_gauge.header, StarterSwitch::icon_list.data(),
                                    StarterSwitch::failures, kFlagsBackground),
};
constinit const std::array<ELEMENT_HEADER*, 2> StarterSwitch::root_list =
    kit::element_list(StarterSwitch::background);
constinit const std::array<MOUSERECT, 2 * kEngineCount + 5> StarterSwitch::mouse =
    starter_mouse(std::make_index_sequence<2 * kEngineCount>{});

template <size_t... Engine>
constexpr StarterSwitchBlock starter_block(std::index_sequence<Engine...>) {
    return StarterSwitchBlock{
        .header = kit::gauge_header("Starter_Switch", StarterSwitch::root_list.data(), StarterSwitch::mouse.data(),
                                      starter_gauge_callback),
        .starter_running_var = {kit::module_var_slot(kEngines[Engine].running_token)...},
    };
}

}  // namespace

constinit GAUGEHDR magneto_switch_gauge =
    kit::gauge_header("Magneto_Switch", MagnetoSwitch::root_list.data(), MagnetoSwitch::mouse.data());

constinit StarterSwitchBlock starter_switch_gauge = starter_block(std::make_index_sequence<kEngineCount>{});

}  // namespace controls
