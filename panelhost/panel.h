// A panel as the host shows it: the modules a panel configuration names,
// loaded once each, and one gauge instance per gauge line, placed on the
// panel picture at a display scale.
//
// Each visible window is size_mm times the scale (without size_mm, its
// background bitmap's size, or as large as its gauges reach). The screen is
// as large as the largest visible window across and down (the main panel
// usually fills it): a window with window_pos has its top-left corner at
// those fractions of the screen; one with only position is anchored in the
// screen (0 top-left, 1 top middle, ... 8 bottom-right); windows with
// neither stand one below the other from the screen's top, kWindowGap
// pixels apart. Windows may overlap, as on the simulator's screen; the
// picture is the union of them. A window's `file=` bitmap is looked up
// beside the configuration, then in the PE directory, then in the module
// directory; one found nowhere is a warning (warnings()), and the window
// shows its paint. A gauge line's x, y, width and
// height are in its window's design units; without a width the gauge is as
// wide as its background bitmap (or its header's size_x_mm when the module
// carries no bitmap), without a height it keeps the bitmap's shape.
//
// Module and gauge names match whatever their letter case, as on Windows.
// What can be shown but is probably not meant (a gauge reaching outside its
// window, gauges without bitmaps, a virtual cockpit left out) becomes a
// warning for the caller to print.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "panelhost/panel_config.h"
#include "runtime/dib.h"
#include "runtime/host.h"
#include "runtime/instance.h"
#include "runtime/module.h"

namespace panels {

// A panel configuration that names what cannot be shown: a module that does
// not load, a gauge the module lacks, a size out of range. The message starts
// with the configuration's file name and line.
class PanelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
// The display scale asked for, not the panel, puts a gauge beyond the size
// it can be drawn at: the message names the largest scale that fits.
class PanelScaleError : public PanelError {
public:
    using PanelError::PanelError;
};

// Where modules are found: <module_dir>/<Name>.gau, and the PE build whose
// bitmaps they carry, <pe_dir>/<Name>.gau (empty: none; on Windows the
// module directory itself).
struct ModulePaths {
    std::string module_dir;
    std::string pe_dir;
};

// The gauge whose header names it, an exact name before one that differs in
// letter case only; null when there is none.
runtime::GaugePtr find_gauge(const runtime::Module& module, std::string_view name);

class Panel {
public:
    static constexpr double kWindowGap = 8.0;
    // The largest picture side, in pixels (what an image surface can hold).
    static constexpr int kMaxPicturePixels = 32767;
    // Updates a panel runs at a steady state before its first picture, so
    // that needles limited to a few degrees an update have settled on the
    // state's readings.
    static constexpr int kSettleUpdates = 60;

    struct Window {
        const PanelWindow* config = nullptr;
        double left = 0.0, top = 0.0, width = 0.0, height = 0.0;  // picture pixels
        std::shared_ptr<const runtime::Picture> background;       // the file= bitmap, if found
        std::string background_path;                              // where it was found
    };

    struct Gauge {
        const PanelWindow* window = nullptr;
        const PanelGauge* config = nullptr;
        runtime::Module* module = nullptr;
        std::unique_ptr<runtime::GaugeInstance> instance;
        bool shown = false;                                       // on a visible window
        double left = 0.0, top = 0.0, width = 0.0, height = 0.0;  // picture pixels
        uint32_t bitmap_width = 0, bitmap_height = 0;             // background bitmap; 0: the module lacks it
        // Picture pixels per background-bitmap pixel, across and down.
        double scale_x() const;
        double scale_y() const;
    };

    // Called on each module as soon as it is loaded, before any gauge of it
    // is placed (tests give modules bitmaps here).
    using ModuleHook = std::function<void(runtime::Module&)>;

    // Loads every module the configuration names and places every gauge.
    // Throws PanelError for a scale outside (0, GaugeInstance::kMaxScale], a
    // picture larger than kMaxPicturePixels either way, or nothing to show.
    Panel(runtime::Host& host, PanelConfig config, const ModulePaths& paths, double scale = 1.0,
          const ModuleHook& on_load = {});
    ~Panel();
    Panel(const Panel&) = delete;
    Panel& operator=(const Panel&) = delete;

    runtime::Host& host() const { return host_; }
    const PanelConfig& config() const { return config_; }
    // Whether picture pixel (x, y) lies on the panel's day/night switch.
    bool on_night_switch(double x, double y) const;
    double scale() const { return scale_; }
    double picture_width() const { return picture_width_; }
    double picture_height() const { return picture_height_; }

    const std::vector<Window>& windows() const { return windows_; }  // the visible ones
    const std::vector<Gauge>& gauges() const { return gauges_; }     // every gauge line, in window order

    // The first gauge with that header name, or "Module!Gauge", letter case
    // aside where no name matches exactly; null if none.
    const Gauge* find(std::string_view name) const;
    // The header names of the gauges, in panel order (for suggestions).
    std::vector<std::string> gauge_names() const;
    // The configuration's warnings, then the panel's (gauges outside their
    // window, missing bitmaps, background files not found): "file[:line]: ...".
    const std::vector<std::string>& warnings() const { return warnings_; }
    // Each budget of a module's that refused its code a call so far:
    // "Korvane.gau: 12 calls refused past its budget of 10,000 handles".
    std::vector<std::string> budget_warnings() const;
    // A loaded module by its configuration name ("Korvane"); null if none.
    runtime::Module* module(std::string_view name) const;
    // Every file the panel was made from: its configuration, the modules'
    // PE files and the windows' background bitmaps (what a watcher watches).
    std::vector<std::string> source_files() const;

    // Every gauge the loaded modules export, "Module!Gauge" (the module as
    // the configuration first names it), with its size in design units
    // when a line gives none: what a layout editor offers to add.
    struct Export {
        std::string name;
        double width = 0.0, height = 0.0;
    };
    std::vector<Export> exports() const;

    // Every gauge instance: set up, then one update each, in panel order.
    void setup();
    void update();

private:
    runtime::Module& load(const PanelGauge& line, const ModuleHook& on_load);
    runtime::GaugePtr named_gauge(runtime::Module& module, const PanelGauge& line) const;
    Gauge make_gauge(const PanelWindow& window, const PanelGauge& line, const ModuleHook& on_load, double& reach_x,
                     double& reach_y);
    Window show_window(const PanelWindow& window, double reach_x, double reach_y);
    void warn_of_missing_bitmaps();
    void load_background(Window& window);
    void place_windows();

    runtime::Host& host_;
    PanelConfig config_;
    ModulePaths paths_;
    double scale_;
    double picture_width_ = 0.0, picture_height_ = 0.0;
    std::vector<std::string> warnings_;
    std::map<std::string, std::unique_ptr<runtime::Module>> modules_;  // by lower-case name
    std::map<std::string, std::string> module_names_;                  // as the configuration first names them
    std::map<std::string, std::string> resources_;                     // the PE file each module's bitmaps come from
    std::vector<Window> windows_;
    std::vector<Gauge> gauges_;
};

}  // namespace panels
