// A panel configuration laid out anew, written back as its designer wrote
// it: the layout editor (serve --edit) hands over where every gauge and
// window should be, and only the values that differ from the text are
// rewritten. Comments, blank lines, spacing, key order and letter case,
// sections and keys the bench does not read, the gaugeNN numbers, a
// byte-order mark and each line's ending stay byte for byte; a value is
// compared as a number, so "40.0" stays "40.0" while the gauge stays at 40.
//
// A gauge no longer in its window's layout loses its line; one whose key the
// window lacks gets a line after the window's last gauge line, spaced as that
// one is; a window key given for the first time gets a line after the
// window's last other key. A width or height the layout leaves to the bitmap
// is taken off its line, unless a parameter follows it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "panelhost/panel_config.h"

namespace panels {

// The paint behind a window whose background_color is not given.
inline constexpr uint32_t kDefaultBackground = 0x242622;

struct WindowLayout {
    std::string section;  // "Window00", matched letter case aside
    std::optional<std::pair<double, double>> size_mm;
    std::optional<int> position;  // 0..8; none: no position= line
    bool visible = true;
    uint32_t background = kDefaultBackground;  // 0xRRGGBB
    std::string file;                          // the background bitmap; empty: none
    bool operator==(const WindowLayout&) const = default;
};

struct GaugeLayout {
    std::string window;  // its section
    std::string key;     // "gauge07": kept as written, new ones as the page numbers them
    std::string name;    // "Module!Gauge"
    double x = 0.0, y = 0.0;
    std::optional<double> width, height;  // none: as the bitmap has it
    bool operator==(const GaugeLayout&) const = default;
};

// Only the windows listed are changed; in them, only the gauges listed are kept.
struct PanelLayout {
    std::vector<WindowLayout> windows;
    std::vector<GaugeLayout> gauges;
    bool operator==(const PanelLayout&) const = default;
};

// The layout a configuration describes: every window and gauge line.
PanelLayout layout_of(const PanelConfig& config);

// `text` (the configuration `source`) with `layout` written into it. Throws
// PanelConfigError for a window the text lacks, a gauge key that is no
// gaugeNN or is given twice in a window, and for a result that would not
// read back (a value out of range), naming `source`.
std::string apply_layout(std::string_view text, const PanelLayout& layout, const std::string& source);

}  // namespace panels
