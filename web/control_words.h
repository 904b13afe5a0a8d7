// What lies under the pointer, in a pilot's words: the control or
// instrument and the state it is in ("Magneto 1, engine 2: ON", "Throttle
// lever, engine 3: 55%", "Airspeed indicator: 162 kt"). The words come from
// the gauge's records (the key event its mouse box sends, the variables its
// elements show, its tooltip) through the vocabulary's names; the few
// controls whose records say nothing of what they work (their code decides)
// are named in one table in control_words.cpp.
#pragma once

#include <string>

#include "render/renderer.h"
#include "runtime/instance.h"
#include "runtime/mouse.h"
#include "runtime/variables.h"

namespace web {

struct ControlWords {
    std::string name;   // "Magneto 1, engine 2"
    std::string state;  // "ON"; empty where nothing is known of it
};

// The element a mouse box works: of those drawn in it that show a variable
// or a frame (not a static picture), the one drawn over most of it, sampled
// on a grid (a lever's knob moves about its box); -1 for none. Throws
// runtime::ModuleFault as drawing would.
int element_of_box(const runtime::GaugeInstance& instance, render::BitmapCache& bitmaps, const runtime::MouseBox& box);

// The gauge `instance` under the pointer: `box` the mouse box there (null:
// none) and `help` the tooltip shown there (empty: none), `element` the
// element drawn topmost there and `box_element` the one the box works
// (element_of_box; -1: none), the variables as they stand.
ControlWords control_words(const runtime::GaugeInstance& instance, const runtime::MouseBox* box,
                           const std::string& help, int element, int box_element, const runtime::VariableStore& vars);

}  // namespace web
