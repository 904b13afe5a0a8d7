// The window background of a panel configuration: painted metal behind the
// gauges, a shock-mounted sub-panel under the blind-flying instruments,
// screws, and engraved placards beside the dials they name. Every position
// comes from the configuration's gauge lines as the bench host places them,
// so moving a gauge moves its placard and screws with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "art/bmp.h"
#include "panelhost/panel.h"

namespace art {

// A gauge on the window, in the window's design units.
struct PanelSlot {
    std::string gauge;  // the header's name
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
};

struct PanelLayout {
    uint32_t width = 0, height = 0;  // the window, design units
    Rgb paint;                       // its background_color
    std::vector<PanelSlot> gauges;
};

// The first visible window of `panel_cfg` as the host lays it out at scale 1,
// with the modules from `module_dir`; `on_load` is called on each module as
// it loads (to give a module built without art its bitmaps' sizes). Throws
// with the configuration's file and line for a panel that cannot be shown.
PanelLayout read_panel_layout(const std::string& panel_cfg, const std::string& module_dir,
                              const panels::Panel::ModuleHook& on_load);
// The same of a panel already loaded.
PanelLayout layout_of(const panels::Panel& panel);

// Whether the gauge's own picture leaves the point (fractions of its box,
// 0..1 across and down) to the background: a round dial's corners do.
using SeeThrough = std::function<bool(const std::string& gauge, double u, double v)>;

// The background, width x height pixels. The fonts must be loaded.
RgbImage paint_panel(const PanelLayout& layout, const SeeThrough& see_through);

// A placard or painted legend as paint_panel lays it out on the window:
// its words (lines joined by " / "), the gauge it names (or those it stands
// between or over) and the box of its lettering, in the window's design
// units, and how it is lettered: engraved or stencilled light on dark, or
// a card written in ink.
enum class Lettering { Engraved, Stencilled, Ink };
struct Placard {
    std::string words;
    std::string beside;
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
    Lettering lettering = Lettering::Engraved;
};

// Every placard and legend paint_panel draws, where it draws it. The fonts
// must be loaded.
std::vector<Placard> panel_placards(const PanelLayout& layout);

}  // namespace art
