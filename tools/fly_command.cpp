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

#include "flightmodel/coupling.h"
#include "flightmodel/jsbsim.h"
#include "flightmodel/session.h"
#include "host/host.h"
#include "host/instance.h"
#include "host/panel.h"
#include "host/panel_config.h"
#include "host/scenario.h"
#include "render/animation.h"
#include "render/renderer.h"
#include "tools/panel_commands.h"
#include "tools/progress.h"

namespace fly_command {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The panel updates at the simulator's gauge rate.
constexpr int kPanelRateHz = 18;

struct Options {
    flightmodel::FlightRun run;
    std::string panel = "panel/panel.cfg";
    std::string out_dir;
    std::string scenario;
    std::vector<double> at;
    std::string animation;
    double animation_every = 1.0;
    double animation_speed = 10.0;
    double animation_scale = 0.5;
    double scale = 1.0;
    bench::ModulePaths paths;
    bool main_window = false;
    gaugebench::Progress::Mode progress = gaugebench::Progress::Mode::kAuto;
};

// JSBSim as install-deps.sh puts it, relative to the working directory.
constexpr const char* kDefaultJsbsim = "build/jsbsim/bin/JSBSim";

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

gaugebench::ExitStatus fly(Options& options) {
    gaugebench::check_output_dir(options.out_dir, "--out");
    options.run.work_dir = options.out_dir;
    gaugebench::Progress progress(options.progress);
    std::optional<bench::Scenario> scenario;
    if (!options.scenario.empty()) scenario = bench::Scenario::read_file(options.scenario);

    bench::Host host;
    bench::set_main_window(
        host, scenario ? scenario->main_window_at_start().value_or(options.main_window) : options.main_window);
    bench::Panel panel(host, bench::PanelConfig::read_file(options.panel), options.paths, options.scale);
    panel_commands::check_picture_size(panel);
    for (const std::string& warning : panel.warnings()) std::fprintf(stderr, "warning: %s\n", warning.c_str());
    render::PanelRenderer renderer(panel);
    panel.setup();

    std::vector<double> at = options.at;
    std::sort(at.begin(), at.end());
    size_t next_picture = 0;
    uint64_t updates = 0;
    double first_time = 0.0;
    double last_time = 0.0;
    double model_seconds = 0.0;
    double pictures_seconds = 0.0;
    char line[200];

    std::unique_ptr<render::AnimationWriter> animation;
    std::optional<render::Image> small;
    double next_frame_time = 0.0;
    if (!options.animation.empty()) {
        std::error_code ignored;  // the writer names the file if its folder is still missing
        fs::create_directories(fs::absolute(options.animation).parent_path(), ignored);
        const int ms = static_cast<int>(std::lround(1000.0 * options.animation_every / options.animation_speed));
        animation = std::make_unique<render::AnimationWriter>(
            options.animation,
            std::max(1, static_cast<int>(std::lround(std::ceil(panel.picture_width()) * options.animation_scale))),
            std::max(1, static_cast<int>(std::lround(std::ceil(panel.picture_height()) * options.animation_scale))),
            render::FrameDelay::milliseconds(std::clamp(ms, 1, 65535)));
    }

    progress.status(options.run.script + ": starting " + options.run.jsbsim + "...", true);
    const Clock::time_point start = Clock::now();
    int ended_at_line = 0;
    {
        flightmodel::CoupledFlight flight(options.run, host);
        bench::ScenarioRunner runner(
            panel,
            [&renderer](const bench::Panel&, const bench::Panel::Gauge* gauge, const std::string& path) {
                (gauge != nullptr ? renderer.render(*gauge) : renderer.render()).write_png(path);
            },
            stdout, nullptr);
        runner.set_output_dir(options.out_dir);
        runner.set_driver([&]() {
            // The panel as the last update left it shows the model at last_time.
            const Clock::time_point drawing = Clock::now();
            while (updates > 0 && next_picture < at.size() && at[next_picture] <= last_time + 1e-6) {
                char name[64];
                std::snprintf(name, sizeof name, "flight_%06.1fs.png", at[next_picture]);
                const fs::path path = fs::path(options.out_dir) / name;
                renderer.render_frame().write_png(path.string());
                std::snprintf(line, sizeof line, "  %6.1f s: %s", last_time, path.c_str());
                progress.line(line);
                ++next_picture;
            }
            if (animation && updates > 0 && last_time - first_time >= next_frame_time - 1e-6) {
                animation->add(shrunk(renderer.render_frame(), options.animation_scale, small));
                next_frame_time += options.animation_every;
            }
            pictures_seconds += seconds_since(drawing);
            const Clock::time_point stepping = Clock::now();
            const bool flying = flight.update();
            model_seconds += seconds_since(stepping);
            if (!flying) return false;
            if (updates++ == 0) first_time = flight.time();
            last_time = flight.time();
            std::snprintf(line, sizeof line, "fly: %.0f s flown", last_time - first_time);
            progress.status(line);
            return true;
        });
        if (scenario) runner.run(*scenario);
        while (runner.update_once()) {}
        ended_at_line = runner.ended_at_line();
    }
    const double total = seconds_since(start) - pictures_seconds;
    progress.clear();
    if (animation) {
        animation->finish();
        std::fprintf(stderr, "%s: %d frames, one every %g s of flight, played %g times as fast\n",
                     options.animation.c_str(), animation->frames_added(), options.animation_every,
                     options.animation_speed);
    }
    if (scenario && ended_at_line != 0) {
        std::fprintf(stderr, "warning: %s:%d: the flight ended at %.1f s, before the scenario did\n",
                     options.scenario.c_str(), ended_at_line, last_time);
    }
    for (; next_picture < at.size(); ++next_picture) {
        std::fprintf(stderr, "gaugebench: no picture at %.1f s: the flight ends at %.1f s\n", at[next_picture],
                     last_time);
    }
    const double flown = last_time - first_time;
    const double panel_seconds = total - model_seconds;
    const double model_processor = children_processor_seconds();
    std::printf(
        "%s: %.0f s of flight, %llu panel updates at %d Hz, pictures excluded: %.2f s wall (model and its "
        "exchanges %.2f s, panel %.2f s), %.0f times real time; JSBSim's processor time %.2f s\n",
        options.run.script.c_str(), flown, static_cast<unsigned long long>(updates), kPanelRateHz, total, model_seconds,
        panel_seconds, total > 0.0 ? flown / total : 0.0, model_processor);
    return next_picture == at.size() ? gaugebench::ExitStatus::kSuccess : gaugebench::ExitStatus::kFailed;
}

}  // namespace

void add(CLI::App& app, gaugebench::Commands& commands) {
    auto options = std::make_shared<Options>();
    options->run.jsbsim = kDefaultJsbsim;
    options->run.rate_hz = kPanelRateHz;
    options->run.timeout_seconds = 10.0;
    CLI::App* command = app.add_subcommand(
        "fly",
        "Fly a JSBSim script headless, drive the panel from the model at 18 Hz and draw it at chosen "
        "moments");
    command->add_option("script", options->run.script, "the JSBSim script")->required()->type_name("<script.xml>");
    command->add_option("--out", options->out_dir, "directory for the pictures and the model's output")
        ->required()
        ->type_name("<dir>");
    command
        ->add_option("--scenario", options->scenario,
                     "what the crew does on the panel meanwhile (docs/scenarios.md): its updates are the flight's")
        ->type_name("<scenario.txt>");
    command->add_option("--aircraft-root", options->run.root, "JSBSim's root, holding aircraft/ (default fdm)")
        ->type_name("<dir>");
    command->add_option("--panel", options->panel, "the panel configuration (default panel/panel.cfg)")
        ->type_name("<panel.cfg>");
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
        ->type_name("<file.png>");
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
    gaugebench::add_scale_option(*command, options->scale, bench::GaugeInstance::kMaxScale);
    command->add_option("--end", options->run.end_seconds, "stop the script at this many seconds of flight")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.01, 1e7, "seconds of flight, above 0"));
    command
        ->add_option("--timeout", options->run.timeout_seconds,
                     "give up on a model that does not answer within this many seconds (default 10)")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.1, 86400.0, "seconds, from 0.1 to 86400"));
    command
        ->add_option("--jsbsim", options->run.jsbsim,
                     std::string("the JSBSim program (default ") + kDefaultJsbsim + ")")
        ->type_name("<program>");
    gaugebench::add_module_paths(*command, options->paths);
    gaugebench::add_main_window_option(*command, options->main_window);
    gaugebench::add_progress_options(*command, options->progress);
    commands.push_back({command, [options] { return fly(*options); }});
}

}  // namespace fly_command
