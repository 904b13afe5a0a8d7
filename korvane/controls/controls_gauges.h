// The engine-control gauges of Korvane.gau, for the gauge table.
#pragma once

#include <cstddef>

#include "frame/records.h"

namespace controls {

extern GAUGEHDR magneto_switch_gauge;

// The starter panel's header is followed directly by its four engine running
// variables, 32 bytes apart, as one block of module data.
struct StarterSwitchBlock {
    GAUGEHDR header;
    MODULE_VAR_SLOT starter_running_var[4];
};
static_assert(offsetof(StarterSwitchBlock, header) == 0);
static_assert(offsetof(StarterSwitchBlock, starter_running_var[0]) == 116);
static_assert(offsetof(StarterSwitchBlock, starter_running_var[1]) == 148);
static_assert(offsetof(StarterSwitchBlock, starter_running_var[2]) == 180);
static_assert(offsetof(StarterSwitchBlock, starter_running_var[3]) == 212);
static_assert(sizeof(StarterSwitchBlock) == 244);

extern StarterSwitchBlock starter_switch_gauge;

extern GAUGEHDR throttle_gauge;
extern GAUGEHDR prop_control_gauge;

}  // namespace controls
