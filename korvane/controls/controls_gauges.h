// Record sets of the engine-control gauges: the magneto and starter panels and
// the throttle and propeller lever quadrants.
//
// Every gauge is one object holding all of its records, the pointers between
// them address constants into that object; the two quadrants are a class
// template on the quadrant index. The gauge table takes the headers'
// addresses from here. No member is const: the host writes into the reserved
// fields of every record.
#pragma once

#include <array>
#include <cstddef>

#include "frame/records.h"
#include "frame/vocabulary.h"

namespace controls {

// The vocabulary's engine count, as the size the gauges' arrays take.
inline constexpr std::size_t kEngineCount = sim::kEngineCount;

// --- Magneto_Switch ---------------------------------------------------------------

// Two switches per engine, first then second, in engine order.
inline constexpr std::size_t kMagnetoSwitchCount = 2 * kEngineCount;

// The panel with every switch hanging side by side under it.
struct MagnetoSwitchRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, kMagnetoSwitchCount + 1> background_next;
    std::array<ELEMENT_ICON, kMagnetoSwitchCount> switches;
    FAILURE_RECORD failures[2];
    std::array<MOUSERECT, kMagnetoSwitchCount + 5> mouse_rects;
};

extern MagnetoSwitchRecords magneto_switch_gauge;

// --- Starter_Switch ---------------------------------------------------------------

// The panel with the arming switches side by side under it; the engines'
// running variables are stand-alone records right after the header, 32 bytes
// apart.
struct StarterSwitchRecords {
    GAUGEHDR header;
    std::array<MODULE_VAR_SLOT, kEngineCount> starter_running_var;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, kEngineCount + 1> background_next;
    std::array<ELEMENT_ICON, kEngineCount> arming_icons;
    FAILURE_RECORD failures[2];
    std::array<MOUSERECT, 2 * kEngineCount + 5> mouse_rects;
};
static_assert(offsetof(StarterSwitchRecords, starter_running_var) == sizeof(GAUGEHDR));
static_assert(sizeof(MODULE_VAR_SLOT) == 32);

extern StarterSwitchRecords starter_switch_gauge;

// --- Throttle and Prop_Control ----------------------------------------------------

// The quadrant with its levers as one chain in drawing order: each lever is
// the only entry of the list of the one drawn before it; the last has none.
struct LeverQuadrantRecords {
    GAUGEHDR header;
    std::array<ELEMENT_HEADER*, 2> element_list;
    ELEMENT_STATIC_IMAGE background;
    std::array<ELEMENT_HEADER*, 2> background_next;
    std::array<ELEMENT_SLIDER, kEngineCount> levers;
    std::array<ELEMENT_HEADER*, 2> lever_next[kEngineCount - 1];
    std::array<MOUSERECT, kEngineCount + 5> mouse_rects;
};

inline constexpr std::size_t kThrottle = 0;
inline constexpr std::size_t kPropControl = 1;
inline constexpr std::size_t kQuadrantCount = 2;

template <std::size_t Quadrant>
struct LeverQuadrant {
    static_assert(Quadrant < kQuadrantCount);
    static LeverQuadrantRecords records;
};

}  // namespace controls
