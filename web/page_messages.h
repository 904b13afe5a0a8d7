// The page's words for the live panel: the layout it draws its boxes and
// strip by, the status line with every frame, and what lies under the
// pointer, each as the JSON message the page takes. They read the panel's
// public face only; the simulation itself is LivePanel's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "web/live_panel.h"

namespace web {

// A mouse box as the page needs it for the cursor and the tooltip, in
// panel-picture pixels (right and bottom exclusive).
struct PageBox {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    bool child = false;
    int32_t cursor = kCursorNone;
    uint32_t help_id = sim::help::kNone;
    std::string help_text;  // the tooltip the help id stands for (empty: none known)
    uint32_t mouse_flags = 0;
};

struct PageGauge {
    std::string name;  // Module!Gauge
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    std::vector<PageBox> boxes;           // list order
    double scale_x = 1.0, scale_y = 1.0;  // picture pixels per background-bitmap pixel
};

// The boxes and gauges of the panel, for the page.
std::vector<PageGauge> page_layout(const LivePanel& live);

// The layout as the page takes it: {"type":"layout", "width", "height",
// "gauges":[{"name", "left", "top", "right", "bottom", "boxes":[{"left",
// "top", "right", "bottom", "child", "cursor", "help", "help_text",
// "flags"}]}], "cursors": {cursor number: CSS cursor}, "drag_flag", "keys":
// [{"key", "event", "name"}], "units": {figure: unit}, "windows", "edit"}:
// the page's keys, the units of the status's figures and the vocabulary it
// needs come from here, never from literals of its own.
std::string layout_message(const LivePanel& live);

// The status line: paused, time, the update rate (updates_per_second),
// night, bombs (the bomb counter's L:Bombs_dropped), the share of real time
// the updates keep and the pictures a second, rpm and running per engine,
// key events the page caused and the latest one's vocabulary name, the
// flight's state, the flight strip's "figures" by vocabulary name in the
// units the dials read (airspeed, altitude, heading, vertical_speed, pitch,
// bank, normal_acceleration, flaps, undercarriage.port; throttle, boost,
// oil_temperature and radiator_temperature per engine; with a flight model
// also height above the ground and on_ground, a wheel or the airframe on
// it), with a flight model "hands" (the pilot has worked a control since the
// flight started), "trim" ({"elevator", "rudder"}: -1..1, + nose down and
// right), "buffet" (0..1, the stall's warning), "crashed" ("crashed: the
// port wing tip struck the ground") and "on_belly" when so, the feed's link,
// the gauges taken out by faults ("faults": [{"gauge": "Module!Gauge",
// "fault"}]), error (the flight model's, each fault's, a reset's that
// failed).
std::string status_message(const LivePanel& live, double real_time_share, double pictures_per_second);

// What lies under the pointer at (x, y) of the picture: {"type":"pointer",
// "x", "y"} and, over a gauge, "gauge" (Module!Gauge), "pixel" [x, y] of its
// background bitmap, "element" {"index", "kind", "bitmap"} drawn topmost
// there, "box" {"record", "cursor", "flags"}, the mouse box the host finds
// there, "help", the tooltip there, "control" {"name", "state"}, what a
// pilot calls the control or instrument there and the state it is in
// (web/control_words.h), and with a trace the gauge's latest "calls". Never
// throws for any point.
std::string pointer_message(LivePanel& live, int32_t x, int32_t y);

}  // namespace web
