// The simulator's panel configuration, as far as the bench host shows panels:
// windows and the gauges placed on them.
//
//   [Window Titles]
//   Window00=Main panel
//
//   [Window00]
//   size_mm=1200,900          design size of the window: the gauge coordinates' space
//   visible=1                 0 leaves the window out of the picture
//   background_color=36,38,34 paint behind the gauges
//   file=panel.bmp            a bitmap drawn over the paint, stretched to the window
//   position=4                where on the screen: 0 1 2 top, 3 4 5 middle, 6 7 8 bottom
//   window_pos=0.25,0.5       the top-left corner, in fractions of the screen (wins over position)
//   gauge00=Korvane!Airspeed, 20, 40, 200, 200
//   gauge01=Korvane!Clock, 240, 40, 180          height follows the bitmap's shape
//   gauge02=Korvane!Timer, 440, 40                size of the background bitmap
//   gauge03=Korvane!Clock, 0, 0, 180, 180, 2      a parameter for the gauge: kept, unused
//
// Section and key names are case-blind. Lines starting with // or ; are
// comments, as is anything after // on a line; a UTF-8 byte-order mark in
// front is skipped. Sections other than [WindowNN] and [Window Titles] are
// skipped whole ([VcockpitNN] with a warning: the bench draws no virtual
// cockpit); inside a window, keys the bench has no use for (ident,
// window_size, ...) are accepted and ignored. A line that is neither a
// section, a key=value pair nor a comment, a bad number, a gauge line without
// "Module!Gauge, x, y", or a gauge number used twice in one window gives
// PanelConfigError with the line number; so does a file without windows.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace panels {

class PanelConfigError : public std::runtime_error {
public:
    PanelConfigError(const std::string& source, int line, const std::string& what);
    int line() const { return line_; }

private:
    int line_;
};

struct PanelGauge {
    std::string module;            // "Korvane": the module file is Korvane.gau
    std::string gauge;             // the name in the gauge's header
    double x = 0.0, y = 0.0;       // top-left in the window's design units
    std::optional<double> width;   // design units; absent: the background bitmap's width
    std::optional<double> height;  // absent: the width times the bitmap's height over its width
    std::string parameter;         // the line's sixth field, for the gauge's own use; empty if none
    long number = 0;               // the NN of gaugeNN: the drawing order
    std::string key;               // "gauge07" as written, which an editor keeps
    int line = 0;
};

struct PanelWindow {
    std::string section;  // "Window00"
    std::string title;    // from [Window Titles], or the section name
    int line = 0;
    double width = 0.0, height = 0.0;  // size_mm; 0 when not given
    bool visible = true;
    uint32_t background = 0x242622;                       // 0xRRGGBB
    std::string file;                                     // background bitmap as written; empty: none
    std::optional<int> position;                          // 0..8, rows of three from the top-left
    std::optional<std::pair<double, double>> window_pos;  // fractions of the screen, 0..1
    std::vector<PanelGauge> gauges;                       // in gauge-number order
};

// The panel's day/night switch ([Lighting] night_switch=<gauge>, x, y,
// width, height): a click in that part of the gauge (its bitmap's pixels)
// turns the flood lighting on or off, whatever else the gauge does with it.
struct NightSwitch {
    std::string gauge;
    double x = 0.0, y = 0.0, width = 0.0, height = 0.0;
    int line = 0;
};

struct PanelConfig {
    std::string source;                // file name for messages
    std::vector<PanelWindow> windows;  // in section order
    std::optional<NightSwitch> night_switch;
    std::vector<std::string> warnings;  // "file:line: ..." of what is read but not shown, for the caller to print

    static PanelConfig parse(std::string_view text, const std::string& source);
    // Throws PanelConfigError (line 0) for a file that cannot be read, is no
    // regular file or is larger than kMaxTextFileBytes.
    static PanelConfig read_file(const std::string& path);
};

}  // namespace panels
