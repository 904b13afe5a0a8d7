// The panel as the live page shows it: a host, the panel, its renderer and
// the calculator, stepped at the simulator's gauge rate, driven either by a
// steady state or by JSBSim flying a script live, in step with the panel (the
// panel's switches and levers act on the model), and by the page's pointer
// and keys routed as the simulator routes them.
//
// A fault in a gauge's module code (or records leading outside its memory)
// takes that gauge out: it is no longer updated or worked by the pointer,
// the status names it with its fault, and the others run on; a reset loads
// the modules afresh and brings it back.
//
// Only the simulation thread touches a LivePanel; the server hands it the
// page's input as Input values.
#pragma once

#include <nlohmann/json_fwd.hpp>

#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "feed/session.h"
#include "flightmodel/coupling.h"
#include "flightmodel/jsbsim.h"
#include "flightmodel/session.h"
#include "frame/vocabulary.h"
#include "panelhost/faulted_gauges.h"
#include "panelhost/panel.h"
#include "panelhost/prelude.h"
#include "panelhost/panel_edit.h"
#include "render/image.h"
#include "render/renderer.h"
#include "runtime/host.h"
#include "runtime/host_calculator.h"
#include "runtime/trace.h"

namespace web {

struct LiveOptions {
    std::string panel_path;
    panels::ModulePaths paths;
    double scale = 1.0;
    // Sets the variables of the state shown when no flight plays (the cruise).
    std::function<void(runtime::Host&)> steady_state;
    // What plays through once on every (re)start, as fast as it runs, before
    // the panel goes live from where it ends (the command's scenario; null:
    // the panel settles at the steady state).
    std::shared_ptr<panels::Prelude> prelude;
    // A JSBSim script to fly live (none: the steady state). The model starts
    // with the panel, again on Input::kFly and on a reset; it runs only as
    // the panel steps, so a paused panel pauses it.
    std::optional<flightmodel::FlightRun> flight;
    // Whether FindWindowA finds the simulator's main window for the modules.
    bool main_window = false;
    // Made again, keeping the variables, whenever a file the panel was made
    // from changes (its configuration, a module, a background bitmap). A
    // change that makes no panel (a configuration that does not load, a
    // module that does not, a background bitmap lost, a file that is no
    // longer a regular one) leaves the running panel and its state as they
    // were, the reason in the status, until a change that does.
    bool watch = false;
    // Told one line on each reload of changed files: what was made, or why
    // nothing was (none: not told).
    std::function<void(const std::string&)> report;
    // The panel at night from the start (and again after a reset).
    bool night = false;
    // Where every host the panel is made with traces module code (null:
    // nowhere); its recent calls of a gauge are part of the pointer's answer.
    runtime::Trace* trace = nullptr;
    // A simulator beside the panel (none: null): its newest packet drives
    // the variables it carries before every update, the pilot's controls go
    // back after it; the link outlives a reset.
    std::shared_ptr<feed::FeedSession> feed;
    // The page may lay the panel out (Input::kEdit) and save it over
    // panel_path (Input::kSave); the panel is made from the file as read
    // once, with the page's layout written into it.
    bool edit = false;
    // How long a page that has gone still counts for the picture's scale
    // (its pixel ratio): a page reloaded is back before the panel is made
    // again twice.
    double closed_page_seconds = 5.0;
};

// One thing the page asks for. Pointer positions are panel-picture pixels.
struct Input {
    // kPointer asks what lies under (x, y) (pointer_message, web/page_messages.h), for
    // the page `page` alone; kNight turns the panel's night on or off.
    // kControls sets the pilot's stick, rudder and brakes and the rate the
    // throttles move at; kGear moves the undercarriage lever to the other
    // end, kFlaps the flap lever a step (`step`) down (1) or up (-1), kTrim
    // an elevator (`axis` 0) or rudder (1) trim a step (`step`, 1 nose down
    // or to starboard, -1). kRatio says the device pixels per CSS pixel
    // (`ratio`) page `page` shows the panel at, kPageClosed that the page
    // has gone.
    enum Kind {
        kPress,
        kMove,
        kRelease,
        kKey,
        kPause,
        kReset,
        kFly,
        kPointer,
        kNight,
        kControls,
        kGear,
        kFlaps,
        kTrim,
        kEdit,
        kSave,
        kRatio,
        kPageClosed
    } kind = kRelease;
    int32_t x = 0, y = 0;
    uint32_t event = 0;  // kKey: the key event id
    uint64_t page = 0;   // kPointer, kRatio, kPageClosed: the page asking
    double ratio = 1.0;  // kRatio
    // kControls: elevator, aileron, rudder -1..1, brakes 0..1, and the
    // throttles' rate, -1 (closing at full rate) .. 1 (opening).
    double elevator = 0.0, aileron = 0.0, rudder = 0.0, brakes = 0.0, throttle = 0.0;
    int step = 0;  // kFlaps, kTrim
    int axis = 0;  // kTrim
    // kEdit: the panel laid out as the page has it (web/panel_editing.h),
    // made at once, the variables kept; kSave writes it to the panel file,
    // over one changed on disk since it was read only when `overwrite`.
    std::shared_ptr<const panels::PanelLayout> layout = nullptr;
    bool overwrite = false;
};

class LivePanel {
public:
    static constexpr int kRateHz = runtime::Host::kUpdatesPerSecond;

    // Loads the panel and sets it up in the steady state. Throws what the
    // panel, its configuration or the modules throw.
    explicit LivePanel(LiveOptions options);
    ~LivePanel();
    LivePanel(const LivePanel&) = delete;
    LivePanel& operator=(const LivePanel&) = delete;

    // Applies one input. Never throws for any input values; a reset whose
    // panel cannot be made again leaves the page a blank picture and the
    // reason in the status, until a reset succeeds.
    void apply(const Input& input);
    // One update (1/18 s) unless paused: the model or the flight steps, every
    // gauge updates, a held button repeats.
    void step();
    // The picture, redrawn only where the panel changed since the last call;
    // the renderer keeps it, so it is valid until the next call or a reset.
    const render::Image& render();
    // Where the last render() changed the picture (all of it after a reset).
    const std::vector<render::PixelRect>& changed() const;

    int width() const;
    int height() const;

    // --- What the page is told (web/page_messages.h words it) ----------------

    const LiveOptions& options() const { return options_; }
    // The host and panel running now; no panel while one could not be made.
    const runtime::Host& host() const { return *host_; }
    const panels::Panel* panel() const { return panel_.get(); }
    // The bitmaps as drawn for a module of the panel (there is a panel).
    render::BitmapCache& bitmaps(const runtime::Module& module) { return renderer_->bitmaps(module); }
    const panels::FaultedGauges& faulted() const { return faulted_; }
    // The gauge shown at picture point (x, y), with the point in its own
    // displayed pixels; none outside every gauge.
    struct GaugePoint {
        const panels::Panel::Gauge* gauge = nullptr;
        int32_t x = 0, y = 0;
    };
    std::optional<GaugePoint> gauge_point(int32_t x, int32_t y) const;
    bool paused() const { return paused_; }
    uint64_t updates() const { return updates_; }
    // Key events the page's input caused, and the latest one (0: none yet).
    uint64_t key_events() const { return key_events_; }
    uint32_t last_key_event() const { return last_key_event_; }
    // The flight, while one is made (null otherwise), whether it flies on,
    // why it stopped if it failed, and whether the pilot has worked a
    // control since it started.
    const flightmodel::CoupledFlight* flight() const { return flight_.get(); }
    bool flying() const { return flying_; }
    const std::string& flight_error() const { return flight_error_; }
    bool hands() const { return hands_; }
    // The height above the ground, which the model alone knows; none until
    // it says.
    std::optional<double> height_above_ground() const;
    // How hard the airframe buffets ahead of the stall, 0..1; none until the model says.
    std::optional<double> buffet() const;
    const flightmodel::PilotControls& pilot() const { return pilot_; }
    // What the page's error line says beside the faulted gauges: a key
    // routine's fault, a reset or reload that made no panel, a layout not
    // taken, the panel's budget warnings; each one line.
    std::vector<std::string> problems() const;
    // The editor's state for the layout message (LiveOptions::edit).
    nlohmann::json edit_json() const;


    // Saves the layout the page last sent (Input::kSave) and answers the
    // page: {"type":"saved", "ok", "file", "why" (when not), "changed_on_disk"
    // (when that is why), "revision"}.
    std::string save(bool overwrite);

    // Whether a flight model flies the panel: its clock waits for a page.
    bool flies() const { return options_.flight.has_value(); }

    // Counts the panels made (a reset, a reload of changed files): the page
    // needs the layout and the size again when it changes.
    uint64_t layout_generation() const { return generation_; }

private:
    // What a reload of changed files carries over into the new panel.
    struct Kept {
        runtime::VariableStore vars;
        runtime::KeyModel model;
        double time = 0.0;
        uint64_t updates = 0;
        bool paused = false;
        bool night = false;
        bool keep_flight = false;  // the flight goes on in the new panel (else it starts again)
    };
    void build(const Kept* kept = nullptr);
    void replace_parts(std::unique_ptr<runtime::Host> host, std::unique_ptr<panels::Panel> panel,
                       std::unique_ptr<render::PanelRenderer> renderer);
    double bring_to_start(panels::Prelude* prelude, const Kept* kept);
    panels::PanelConfig read_config();
    void relayout(const panels::PanelLayout& layout);
    void rebuild_failed(const std::exception& error);
    void reload_if_changed();
    void reload();
    void tell(const std::string& line) const;
    std::string made_line() const;
    const panels::Panel::Gauge* gauge_at(int32_t x, int32_t y) const;
    std::optional<double> model_figure(size_t which) const;
    void start_flight();
    void step_flight();
    void count_key_events(bool from_page);
    void apply_one(const Input& input);
    void rebuild(const Kept* kept = nullptr);
    void act_on_held(const std::function<void()>& action);
    void send_key_event(uint32_t event, uint32_t value = 0);
    void move_throttles();
    void move_gear_lever();
    void move_flap_lever(int step);
    void step_feed();
    void rescale();
    void forget_closed_pages();

    LiveOptions options_;
    // Declared in the order they must be made; torn down in reverse.
    std::unique_ptr<runtime::Host> host_;
    std::unique_ptr<runtime::HostCalculator> calculator_;
    std::unique_ptr<panels::Panel> panel_;
    std::unique_ptr<render::PanelRenderer> renderer_;
    panels::FaultedGauges faulted_;
    // A key event whose routine faulted: the module's fault, shown until a reset.
    std::string key_fault_;
    // Why the panel could not be made again on the last reset; no panel meanwhile.
    std::string broken_;
    // Why the last reload of changed files made no panel; the running one
    // runs on meanwhile.
    std::string reload_error_;
    std::unique_ptr<render::Image> blank_;
    std::vector<render::PixelRect> blank_changes_;
    bool blank_shown_ = false;
    int width_ = 1, height_ = 1;
    const panels::Panel::Gauge* held_ = nullptr;
    bool paused_ = false;
    uint64_t updates_ = 0;
    // Key events the page's input caused (keys, boxes, handlers, a held
    // button's repeats), apart from those gauges send by themselves on every
    // update: the page shows the count and the latest. The host's own log is
    // emptied as it is read, to stay bounded.
    uint64_t key_events_ = 0;
    uint32_t last_key_event_ = 0;

    // The files the panel was made from, with their times when it was made.
    std::vector<std::pair<std::string, std::filesystem::file_time_type>> sources_;
    uint64_t generation_ = 0;
    int watch_countdown_ = 0;

    // The picture's scale: the panel's own (LiveOptions::scale) times the
    // finest pixel ratio of the pages showing it (each page's, by its id),
    // so that none stretches it; and one the panel could not be made at
    // (0: none), not tried again.
    double scale_ = 1.0;
    struct PageRatio {
        double ratio = 1.0;
        std::optional<std::chrono::steady_clock::time_point> closed;  // since when the page has gone
    };
    std::map<uint64_t, PageRatio> ratios_;
    double refused_scale_ = 0.0;

    // Editing: the panel file as read or last saved, which the page's
    // layout is written into; the layout while it differs (none since the
    // last save); the count of changes to the file made elsewhere (read
    // anew), which the page takes as its new starting point; and why the page's last layout made
    // no panel.
    std::string loaded_text_;
    std::optional<panels::PanelLayout> edited_;
    uint64_t edit_revision_ = 0;
    std::string edit_error_;

    std::unique_ptr<flightmodel::CoupledFlight> flight_;
    std::string flight_error_;
    bool flying_ = false;
    // The pilot's controls from the page, kept across flights but for the
    // levers, which a new flight leaves to its script; and the throttles'
    // rate while a key holds them.
    flightmodel::PilotControls pilot_;
    double throttle_rate_ = 0.0;
    // Whether the pilot has worked a control since the flight started.
    bool hands_ = false;
    // Where the strip's figures begin among the flight's watched properties.
    size_t model_figures_at_ = 0;
};

}  // namespace web
