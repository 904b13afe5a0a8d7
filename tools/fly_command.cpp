#include "tools/fly_command.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "flightmodel/coupling.h"
#include "flightmodel/jsbsim.h"
#include "flightmodel/session.h"
#include "frame/vocabulary.h"
#include "panelhost/panel.h"
#include "panelhost/panel_config.h"
#include "platform/text_input.h"
#include "render/animation.h"
#include "render/renderer.h"
#include "runtime/host.h"
#include "runtime/instance.h"
#include "scenariorun/scenario.h"
#include "tools/data_files.h"
#include "tools/inspection_options.h"
#include "tools/panel_commands.h"
#include "tools/progress.h"

namespace fly_command {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    flightmodel::FlightRun run;
    std::string panel;  // default: the project's panel/panel.cfg
    std::string out_dir;
    std::string scenario;
    std::vector<double> at;
    std::string animation;
    double animation_every = 1.0;
    double animation_speed = 10.0;
    double animation_scale = 0.5;
    double scale = 1.0;
    panels::ModulePaths paths;
    bool main_window = false;
    bool night = false;
    gaugebench::Progress::Mode progress = gaugebench::Progress::Mode::kAuto;
    std::string json;
    gaugebench::InspectionOptions inspection;
};

bool times(const std::string& text, std::vector<double>& out) {
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        char* end = nullptr;
        const double value = std::strtod(item.c_str(), &end);
        if (item.empty() || *end != '\0' || !(value >= 0.0 && value <= 1e7)) return false;
        out.push_back(value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !out.empty();
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The picture at `scale` of its size, for an animation that a browser shows
// whole and that stays a download of a few megabytes.
const render::Image& shrunk(const render::Image& picture, double scale, std::optional<render::Image>& out) {
    if (scale == 1.0) return picture;
    const int width = std::max(1, static_cast<int>(std::lround(picture.width() * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(picture.height() * scale)));
    if (!out || out->width() != width || out->height() != height) out.emplace(width, height);
    cairo_t* cr = cairo_create(out->surface());
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_scale(cr, static_cast<double>(width) / picture.width(), static_cast<double>(height) / picture.height());
    cairo_set_source_surface(cr, picture.surface(), 0.0, 0.0);
    cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(out->surface());
    return *out;
}

// JSBSim's processor time, once it has ended.
double children_processor_seconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Properties read besides the coupling's, for the flight's summary.
const std::vector<std::string> kWatched = {"propulsion/total-fuel-lbs"};

// What the flight did, for the lines after it: noted after every update
// from the model's own properties.
class FlightSummary {
public:
    explicit FlightSummary(const flightmodel::Coupling& coupling) : coupling_(coupling) {
        for (int engine = 0; engine < sim::kEngineCount; ++engine) {
            const std::string n = std::to_string(engine);
            running_.push_back(coupling.property_index("propulsion/engine[" + n + "]/set-running"));
        }
        started_.assign(running_.size(), std::nan(""));
        speed_ = coupling.property_index("velocities/vc-kts");
        altitude_ = coupling.property_index("atmosphere/pressure-altitude");
    }

    void note(double time, const std::vector<double>& frame, const std::vector<double>& watched) {
        auto at = [&frame](int index) { return index >= 0 ? frame[static_cast<size_t>(index)] : std::nan(""); };
        for (size_t engine = 0; engine < running_.size(); ++engine) {
            const bool running = at(running_[engine]) > 0.5;
            if (running && std::isnan(started_[engine])) started_[engine] = updates_ == 0 ? -1.0 : time;
            if (!running && updates_ == 0) started_[engine] = std::nan("");
        }
        const flightmodel::FlightState state = coupling_.state(frame);
        const bool on_ground = state.on_ground;
        if (updates_ == 0) airborne_at_start_ = !on_ground;
        if (!on_ground && was_on_ground_ && std::isnan(lift_off_)) {
            lift_off_ = time;
            lift_off_speed_ = at(speed_);
        }
        was_on_ground_ = on_ground;
        top_speed_ = std::max(top_speed_, at(speed_));
        top_altitude_ = std::max(top_altitude_, at(altitude_));
        if (updates_++ == 0) first_fuel_ = watched[0];
        last_fuel_ = watched[0];
        if (state.crashed && !crash_.crashed) {
            crashed_at_ = time;
            crash_ = state;
        }
        if (state.on_belly && std::isnan(belly_at_)) belly_at_ = time;
        stopped_ = state.stopped;
    }

    bool crashed() const { return crash_.crashed; }

    // How the flight ended against the ground, for the error line of a
    // crash: "crashed at 312.4 s: the nose struck the ground".
    std::string crash_line() const {
        char text[32];
        std::snprintf(text, sizeof text, "crashed at %.1f s: ", crashed_at_);
        return text + flightmodel::crash_sentence(crash_);
    }

    // Engines by the crew's numbers, 1 to 4, as the panel and the vocabulary
    // number them.
    void print(std::FILE* out) const {
        if (updates_ == 0) return;
        std::string engines;
        for (size_t engine = 0; engine < started_.size(); ++engine) {
            char text[64];
            const size_t number = engine + 1;
            if (std::isnan(started_[engine])) {
                std::snprintf(text, sizeof text, "%s%zu never ran", engines.empty() ? "" : ", ", number);
            } else if (started_[engine] < 0.0) {
                std::snprintf(text, sizeof text, "%s%zu ran from the start", engines.empty() ? "" : ", ", number);
            } else {
                std::snprintf(text, sizeof text, "%s%zu started at %.1f s", engines.empty() ? "" : ", ", number,
                              started_[engine]);
            }
            engines += text;
        }
        std::fprintf(out, "  engines: %s\n", engines.c_str());
        if (std::isnan(lift_off_)) {
            std::fprintf(out, "  lift-off: none, %s\n",
                         airborne_at_start_ ? "airborne at the start" : "still on the ground");
        } else {
            std::fprintf(out, "  lift-off: at %.1f s, %.0f kt\n", lift_off_, lift_off_speed_);
        }
        std::fprintf(out, "  highest: %.0f kt, %.0f ft (pressure altitude)\n  fuel used: %.0f lb\n", top_speed_,
                     top_altitude_, first_fuel_ - last_fuel_);
        if (crashed()) {
            std::fprintf(out, "  %s\n", crash_line().c_str());
        } else if (!std::isnan(belly_at_)) {
            std::fprintf(out, "  landed on the belly, %s (down at %.1f s)\n", stopped_ ? "stopped" : "still moving",
                         belly_at_);
        }
    }

    // The same as JSON fields of `summary`; null where the text says none.
    void add_json(nlohmann::ordered_json& summary) const {
        using nlohmann::ordered_json;
        if (updates_ == 0) return;
        ordered_json engines = ordered_json::array();
        for (size_t engine = 0; engine < started_.size(); ++engine) {
            const double started = started_[engine];
            ordered_json entry = {{"engine", engine + 1}};
            entry["ran"] = std::isnan(started) ? "never" : started < 0.0 ? "from the start" : "started";
            entry["started_seconds"] = std::isnan(started) || started < 0.0 ? ordered_json() : ordered_json(started);
            engines.push_back(std::move(entry));
        }
        summary["engines"] = std::move(engines);
        summary["lift_off"] = std::isnan(lift_off_)
                                  ? ordered_json()
                                  : ordered_json{{"seconds", lift_off_}, {"speed_kt", lift_off_speed_}};
        summary["airborne_at_start"] = airborne_at_start_;
        summary["on_ground_at_end"] = was_on_ground_;
        summary["highest"] = {{"speed_kt", top_speed_}, {"pressure_altitude_ft", top_altitude_}};
        summary["fuel_used_lb"] = first_fuel_ - last_fuel_;
        summary["crash"] = crashed() ? ordered_json{{"at_seconds", crashed_at_},
                                                    {"struck", crash_.struck},
                                                    {"sentence", flightmodel::crash_sentence(crash_)}}
                                     : ordered_json();
        summary["belly_landing"] = !crashed() && !std::isnan(belly_at_)
                                       ? ordered_json{{"at_seconds", belly_at_}, {"stopped", stopped_}}
                                       : ordered_json();
    }

private:
    const flightmodel::Coupling& coupling_;
    std::vector<int> running_;
    std::vector<double> started_;  // -1: running from the start; NaN: never started
    int speed_ = -1, altitude_ = -1;
    double lift_off_ = std::nan(""), lift_off_speed_ = 0.0;
    bool was_on_ground_ = false, airborne_at_start_ = false;
    double top_speed_ = -1e9, top_altitude_ = -1e9;
    double first_fuel_ = 0.0, last_fuel_ = 0.0;
    uint64_t updates_ = 0;
    double crashed_at_ = 0.0, belly_at_ = std::nan("");
    flightmodel::FlightState crash_;  // as the crash was first seen; crashed false: none
    bool stopped_ = false;
};

// The script's run, with --end in place of its end; every --at checked
// against it before the model starts.
flightmodel::ScriptRun checked_run(const Options& options) {
    flightmodel::ScriptRun run = flightmodel::read_script_run(options.run.script);
    if (options.run.end_seconds > 0.0) run.end = options.run.end_seconds;
    if (run.end <= 0.0) return run;
    for (const double moment : options.at) {
        if (moment <= run.end + 1e-6) continue;
        char text[320];
        std::snprintf(text, sizeof text, "--at %g: the flight ends at %g s (%s)", moment, run.end,
                      options.run.end_seconds > 0.0 ? "--end" : (options.run.script + "'s <run end>").c_str());
        throw gaugebench::CommandError(gaugebench::ExitStatus::kUsage, text);
    }
    return run;
}

std::unique_ptr<render::AnimationWriter> start_animation(const Options& options, const panels::Panel& panel) {
    if (options.animation.empty()) return nullptr;
    const int ms = static_cast<int>(std::lround(1000.0 * options.animation_every / options.animation_speed));
    return std::make_unique<render::AnimationWriter>(
        options.animation,
        std::max(1, static_cast<int>(std::lround(std::ceil(panel.picture_width()) * options.animation_scale))),
        std::max(1, static_cast<int>(std::lround(std::ceil(panel.picture_height()) * options.animation_scale))),
        render::FrameDelay::milliseconds(std::clamp(ms, 1, 65535)));
}

// The picture of the flight at `seconds`, in the folder of its pictures.
std::string picture_path(const std::string& out_dir, double seconds) {
    char name[64];
    std::snprintf(name, sizeof name, "flight_%06.1fs.png", seconds);
    return (fs::path(out_dir) / name).string();
}

// The files, before any work: what is read (the script, panel, scenario,
// modules) and what is written (the summary, trace, pictures, snapshots, the
// model's files, animation), none of them one of the others. The pictures' folder and the
// animation's are made last, once nothing is refused.
void check_files(const Options& options, const std::optional<scenario::Scenario>& scenario) {
    gaugebench::check_output_dir(options.out_dir, "--out");
    gaugebench::CommandFiles files;
    files.write(options.json, "--json");
    gaugebench::add_inspection_files(options.inspection, files);
    files.read(options.run.script, "the script being flown");
    files.read(options.panel, "the panel being read");
    files.read(options.scenario, "the scenario being read");
    files.read_modules(options.paths);
    for (const double moment : options.at) {
        char option[64];
        std::snprintf(option, sizeof option, "--at %g", moment);
        files.write_later(picture_path(options.out_dir, moment), option);
    }
    if (scenario) panel_commands::add_snapshot_files(*scenario, options.out_dir, files);
    flightmodel::FlightRun run = options.run;
    run.work_dir = options.out_dir;
    const flightmodel::ModelFiles model = flightmodel::model_files(run);
    files.write_later(model.copy, "the script's copy JSBSim runs");
    files.write_later(model.log, "JSBSim's log");
    for (const std::string& output : model.outputs) files.write_later(output, "the script's <output>");
    if (!options.animation.empty()) {
        // Written as it is flown, frame by frame, and completed at the end: a file.
        if (options.animation == "-")
            throw gaugebench::CommandError(gaugebench::ExitStatus::kUsage,
                                           "--animation -: name a file, not standard output");
        panel_commands::check_png_name(options.animation, "--animation");
        files.write_later(options.animation, "--animation");
    }
    files.check();
    if (options.animation.empty()) return;
    std::error_code ignored;  // a folder still missing is named by the check below
    fs::create_directories(fs::absolute(options.animation).parent_path(), ignored);
    gaugebench::check_output_file(options.animation, "--animation");
}

// The pictures a flight takes: at the --at moments and the animation's
// frames, each from the panel as the last update left it.
class Pictures {
public:
    Pictures(const Options& options, const panels::Panel& panel, render::PanelRenderer& renderer)
        : options_(options), renderer_(renderer), at_(options.at), animation_(start_animation(options, panel)) {
        std::sort(at_.begin(), at_.end());
    }

    void take(double flown, double model_time, gaugebench::Progress& progress) {
        for (; next_ < at_.size() && at_[next_] <= model_time + 1e-6; ++next_) {
            const fs::path path = picture_path(options_.out_dir, at_[next_]);
            panel_commands::write_picture(renderer_.render_frame(), path.string(), options_.out_dir);
            written_.push_back(path.string());
            char line[300];
            std::snprintf(line, sizeof line, "  %6.1f s: %s", model_time, path.c_str());
            if (!gaugebench::console().quiet()) progress.line(line);
        }
        if (animation_ && flown >= next_frame_time_ - 1e-6) {
            animation_->add(shrunk(renderer_.render_frame(), options_.animation_scale, small_));
            next_frame_time_ += options_.animation_every;
        }
    }

    // Completes the animation and names the moments never reached; whether
    // every picture asked for was taken.
    bool finish(double model_time) {
        if (animation_) {
            animation_->finish();
            char line[400];
            std::snprintf(line, sizeof line, "%s: %d frames, one every %g s of flight, played %g times as fast",
                          options_.animation.c_str(), animation_->frames_added(), options_.animation_every,
                          options_.animation_speed);
            gaugebench::print_note(line);
        }
        for (size_t i = next_; i < at_.size(); ++i) {
            char line[120];
            std::snprintf(line, sizeof line, "no picture at %.1f s: the flight ends at %.1f s", at_[i], model_time);
            gaugebench::print_error("gaugebench fly", line);
        }
        return next_ == at_.size();
    }

    // The pictures written, the moments missed and the animation, as JSON
    // fields of `summary`; the files also in `files`.
    void add_json(nlohmann::ordered_json& summary, std::vector<std::string>& files) const {
        using nlohmann::ordered_json;
        files.insert(files.end(), written_.begin(), written_.end());
        summary["pictures"] = written_;
        summary["pictures_missed_seconds"] =
            std::vector<double>(at_.begin() + static_cast<std::ptrdiff_t>(next_), at_.end());
        if (!animation_) {
            summary["animation"] = nullptr;
            return;
        }
        files.push_back(options_.animation);
        summary["animation"] = {{"path", options_.animation},
                                {"frames", animation_->frames_added()},
                                {"every_seconds", options_.animation_every},
                                {"speed", options_.animation_speed}};
    }

private:
    const Options& options_;
    render::PanelRenderer& renderer_;
    std::vector<double> at_;
    size_t next_ = 0;
    std::vector<std::string> written_;
    std::unique_ptr<render::AnimationWriter> animation_;
    std::optional<render::Image> small_;
    double next_frame_time_ = 0.0;
};

// Wall time and model time of a flight, for its benchmark line.
struct Timing {
    Clock::time_point start = Clock::now();
    uint64_t updates = 0;
    double first_time = 0.0;
    double last_time = 0.0;
    double model_seconds = 0.0;
    double pictures_seconds = 0.0;
    double total = 0.0;  // wall time once the flight ended, pictures excluded

    void stop() { total = seconds_since(start) - pictures_seconds; }

    void print(const Options& options) const {
        const double flown = last_time - first_time;
        std::printf(
            "%s: %.0f s of flight, %llu panel updates at %d Hz, pictures excluded: %.2f s wall (model and its "
            "exchanges %.2f s, panel %.2f s), %.0f times real time; JSBSim's processor time %.2f s\n",
            options.run.script.c_str(), flown, static_cast<unsigned long long>(updates),
            runtime::Host::kUpdatesPerSecond, total, model_seconds, total - model_seconds,
            total > 0.0 ? flown / total : 0.0, children_processor_seconds());
    }

    void add_json(nlohmann::ordered_json& summary) const {
        const double flown = last_time - first_time;
        summary["flown_seconds"] = flown;
        summary["updates"] = updates;
        summary["rate_hz"] = runtime::Host::kUpdatesPerSecond;
        summary["timing"] = {{"wall_seconds", total},
                             {"model_seconds", model_seconds},
                             {"panel_seconds", total - model_seconds},
                             {"pictures_seconds", pictures_seconds},
                             {"times_real_time", total > 0.0 ? flown / total : 0.0},
                             {"jsbsim_processor_seconds", children_processor_seconds()}};
    }
};

// What the flight left behind once the model ended: the scenario's line it
// cut short (0: none), the scenario's account, the model's own files.
struct FlightEnd {
    int scenario_line = 0;
    nlohmann::ordered_json scenario = nlohmann::ordered_json::object();
    std::vector<std::string> model_outputs;
};

// The --json summary: what the text says, and the files written.
void write_json(const Options& options, const flightmodel::ScriptRun& script_run, const FlightSummary& summary,
                const Timing& timing, const Pictures& pictures, const FlightEnd& ended,
                const std::vector<std::string>& inspected) {
    using nlohmann::ordered_json;
    auto or_null = [](bool given, auto value) { return given ? ordered_json(value) : ordered_json(); };
    ordered_json json = {{"command", "fly"},
                         {"script", options.run.script},
                         {"scenario", or_null(!options.scenario.empty(), options.scenario)},
                         {"panel", options.panel}};
    // How it ended: where the model stopped, where it was to stop and why,
    // and the scenario's line it cut short.
    json["ended"] = {{"at_seconds", timing.last_time},
                     {"planned_end_seconds", or_null(script_run.end > 0.0, script_run.end)},
                     {"by", summary.crashed()               ? "a crash"
                            : options.run.end_seconds > 0.0 ? "--end"
                                                            : "the script"},
                     {"scenario_cut_at_line", or_null(ended.scenario_line != 0, ended.scenario_line)}};
    summary.add_json(json);
    timing.add_json(json);
    std::vector<std::string> files;
    pictures.add_json(json, files);
    json["model_outputs"] = ended.model_outputs;
    files.insert(files.end(), ended.model_outputs.begin(), ended.model_outputs.end());
    for (const auto& [key, value] : ended.scenario.items()) json[key] = value;
    if (ended.scenario.contains("snapshots")) {
        for (const auto& snapshot : ended.scenario["snapshots"]) files.push_back(snapshot.get<std::string>());
    }
    files.insert(files.end(), inspected.begin(), inspected.end());
    json["files_written"] = files;
    panel_commands::write_json_summary(options.json, json);
}

// The inputs checked, the script's run and the scenario read, before
// anything is made.
std::pair<flightmodel::ScriptRun, std::optional<scenario::Scenario>> checked_inputs(const Options& options) {
    if (options.panel == "-" && options.scenario == "-") {
        throw gaugebench::CommandError(gaugebench::ExitStatus::kUsage,
                                       "--panel - and --scenario - cannot both read standard input; name a file");
    }
    gaugebench::check_input_file(options.panel, true);
    if (!options.scenario.empty()) gaugebench::check_input_file(options.scenario, true);
    flightmodel::ScriptRun script_run = checked_run(options);
    std::optional<scenario::Scenario> scenario;
    if (!options.scenario.empty()) scenario = scenario::Scenario::read_file(options.scenario);
    // Last of the checks: it makes the animation's folder, which a refused
    // command would leave behind.
    check_files(options, scenario);
    return {std::move(script_run), std::move(scenario)};
}

void report_flight(const Options& options, const flightmodel::ScriptRun& script_run, const FlightSummary& summary,
                   const Timing& timing, const Pictures& pictures, const FlightEnd& ended,
                   const std::vector<std::string>& inspected) {
    if (ended.scenario_line != 0) {
        char line[400];
        std::snprintf(line, sizeof line, "%s:%d: the flight ended at %.1f s, before the scenario did",
                      platform::input_name(options.scenario).c_str(), ended.scenario_line, timing.last_time);
        gaugebench::print_warning(line);
    }
    if (options.json != "-" && !gaugebench::console().quiet()) {
        std::printf("%s: the flight\n", options.run.script.c_str());
        summary.print(stdout);
        timing.print(options);
    }
    if (!options.json.empty()) write_json(options, script_run, summary, timing, pictures, ended, inspected);
}

// The flight from start to report; its parts (pictures, timing, summary)
// are classes of their own, this is their order.
gaugebench::ExitStatus fly(Options& options) {
    // (Named, not a structured binding: the driver's lambda captures them.)
    const auto inputs = checked_inputs(options);
    const flightmodel::ScriptRun& script_run = inputs.first;
    const std::optional<scenario::Scenario>& scenario = inputs.second;
    options.run.work_dir = options.out_dir;
    options.run.watched = kWatched;
    gaugebench::Progress progress(options.progress);

    gaugebench::Inspection inspection(options.inspection);
    runtime::Host host;
    inspection.attach(host);
    host.set_main_window(scenario ? scenario->main_window_at_start().value_or(options.main_window) : options.main_window);
    host.set_night(options.night);
    inspection.start_debugger();
    panels::Panel panel(host, panels::PanelConfig::read_file(options.panel), options.paths, options.scale);
    if (scenario) scenario::check_gauges(*scenario, panel);
    inspection.check_gauges(panel.gauge_names());
    panel_commands::check_picture_size(panel);
    panel_commands::note_sources(panel);
    for (const std::string& warning : panel.warnings()) progress.line(gaugebench::warning_line(warning), stderr);
    render::PanelRenderer renderer(panel);
    panel.setup();
    Pictures pictures(options, panel, renderer);

    progress.status(options.run.script + ": starting " + options.run.jsbsim + "...", true);
    Timing timing;
    FlightEnd ended;
    std::optional<FlightSummary> summary;
    {
        flightmodel::CoupledFlight flight(options.run, host);
        summary.emplace(flight.coupling());
        scenario::ScenarioRunner runner(
            panel,
            [&](const panels::Panel&, const panels::Panel::Gauge* gauge, const std::string& path) {
                panel_commands::write_picture(gauge != nullptr ? renderer.render(*gauge) : renderer.render(), path,
                                              options.out_dir);
            },
            progress.lines_to(panel_commands::printed_lines_to(options.json)),
            panel_commands::runner_reports(progress));
        runner.set_output_dir(options.out_dir);
        runner.set_progress_every(0);  // the flight's own progress says more
        runner.set_driver([&]() {
            const Clock::time_point drawing = Clock::now();
            if (timing.updates > 0) pictures.take(timing.last_time - timing.first_time, timing.last_time, progress);
            timing.pictures_seconds += seconds_since(drawing);
            const Clock::time_point stepping = Clock::now();
            const bool flying = flight.update();
            timing.model_seconds += seconds_since(stepping);
            if (!flying) return false;
            if (timing.updates++ == 0) timing.first_time = flight.time();
            timing.last_time = flight.time();
            summary->note(timing.last_time, flight.frame(), flight.watched());
            progress.status(gaugebench::seconds_done("fly", timing.last_time - script_run.start,
                                                     script_run.end - script_run.start, seconds_since(timing.start)));
            // A crash ends the flight: the model would fly on a wreck.
            return !summary->crashed();
        });
        if (scenario) runner.run(*scenario);
        while (runner.update_once()) {}
        if (scenario) {
            ended.scenario_line = runner.ended_at_line();
            panel_commands::add_scenario_json(runner, ended.scenario);
            ended.scenario["warnings"] = runner.warnings();
        }
        ended.model_outputs = flight.model_outputs();
    }
    timing.stop();
    inspection.finish();
    progress.clear();
    for (const std::string& warning : panel.budget_warnings()) progress.line(gaugebench::warning_line(warning), stderr);
    const bool every_picture = pictures.finish(timing.last_time);
    report_flight(options, script_run, *summary, timing, pictures, ended, inspection.files_written());
    if (summary->crashed()) gaugebench::print_error("gaugebench fly", summary->crash_line());
    return every_picture && !summary->crashed() ? gaugebench::ExitStatus::kSuccess : gaugebench::ExitStatus::kFailed;
}

}  // namespace

// The options of fly, one statement each, as its help lists them.
void add(CLI::App& app, gaugebench::Commands& commands) {
    auto options = std::make_shared<Options>();
    // The project's own files, wherever the command is run from.
    options->run.jsbsim = gaugebench::data_file(gaugebench::DataFile::kJsbsim);
    options->run.root = gaugebench::data_file(gaugebench::DataFile::kFdmRoot);
    options->panel = gaugebench::data_file(gaugebench::DataFile::kPanel);
    options->run.rate_hz = runtime::Host::kUpdatesPerSecond;
    options->run.timeout_seconds = 10.0;
    CLI::App* command = app.add_subcommand(
        "fly",
        "Fly a JSBSim script headless, drive the panel from the model at 18 Hz and draw it at chosen "
        "moments");
    command
        ->add_option("script", options->run.script,
                     "the JSBSim script (a shipped one by its name alone: takeoff.xml)")
        ->required()
        ->type_name("<script.xml>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kScript));
    command->add_option("--out", options->out_dir, "directory for the pictures and the model's output")
        ->required()
        ->type_name("<dir>")
        ->check(gaugebench::output_name());
    command
        ->add_option("--scenario", options->scenario,
                     "what the crew does on the panel meanwhile (docs/scenarios.md): its updates are the flight's")
        ->type_name("<scenario.txt>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kScenario));
    command
        ->add_option("--aircraft-root", options->run.root,
                     "JSBSim's root, holding aircraft/ (default " + options->run.root + ")")
        ->type_name("<dir>");
    command->add_option("--panel", options->panel, "the panel configuration (default " + options->panel + ")")
        ->type_name("<panel.cfg>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kPanel));
    command
        ->add_option_function<std::string>(
            "--at",
            [options](const std::string& text) {
                options->at.clear();
                times(text, options->at);
            },
            "seconds of flight to draw the panel at, comma-separated (10,95.5,240)")
        ->type_name("<t1,t2,..>")
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                std::vector<double> ignored;
                return times(text, ignored) ? std::string() : "takes seconds of flight, comma-separated (10,95.5,240)";
            },
            ""));
    command
        ->add_option("--animation", options->animation,
                     "write an animated PNG of the flight, which a browser plays (pictures excluded from the timing)")
        ->type_name("<file.png>")
        ->check(gaugebench::output_name());
    command->add_option("--animation-every", options->animation_every, "seconds of flight between frames (default 1)")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.05, 3600.0, "seconds, from 0.05 to 3600"));
    command
        ->add_option("--animation-speed", options->animation_speed, "times as fast as the flight it plays (default 10)")
        ->type_name("<x>")
        ->check(gaugebench::number_within(0.1, 1000.0, "a number from 0.1 to 1000"));
    command
        ->add_option("--animation-scale", options->animation_scale,
                     "the animation's size over the panel's picture (default 0.5)")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.05, 1.0, "a number from 0.05 to 1"));
    gaugebench::add_scale_option(*command, options->scale, runtime::GaugeInstance::kMaxScale);
    command->add_option("--end", options->run.end_seconds, "stop the script at this many seconds of flight")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.01, 1e7, "seconds of flight, above 0"));
    command
        ->add_option("--timeout", options->run.timeout_seconds,
                     "give up on a model that does not answer within this many seconds (default 10)")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.1, 86400.0, "seconds, from 0.1 to 86400"));
    command->add_option("--jsbsim", options->run.jsbsim, "the JSBSim program (default " + options->run.jsbsim + ")")
        ->type_name("<program>");
    gaugebench::add_module_paths(*command, options->paths);
    gaugebench::add_main_window_option(*command, options->main_window);
    gaugebench::add_night_flag(*command, options->night);
    gaugebench::add_progress_options(*command, options->progress);
    panel_commands::add_json_summary_option(*command, options->json);
    gaugebench::add_inspection_options(*command, options->inspection);
    commands.push_back({command, [options] { return fly(*options); }});
}

}  // namespace fly_command
