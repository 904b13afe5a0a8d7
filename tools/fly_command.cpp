#include "tools/fly_command.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "flightmodel/coupling.h"
#include "flightmodel/jsbsim.h"
#include "host/host.h"
#include "host/instance.h"
#include "host/panel.h"
#include "host/panel_config.h"
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
    std::vector<double> at;
    double scale = 1.0;
    bench::ModulePaths paths;
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

// Processor time: on a shared machine the wall clock says more about the
// neighbours than about the flight.
double own_processor_seconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

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

    const flightmodel::Coupling coupling;
    progress.status(options.run.script + ": flying with " + options.run.jsbsim + "...", true);
    const flightmodel::Flight flight = flightmodel::fly(options.run, coupling);
    const double flown = flight.times.back() - flight.times.front();
    char line[160];
    std::snprintf(line, sizeof line, "%s: %.0f s of flight, %zu frames, model %.2f s", options.run.script.c_str(),
                  flown, flight.frames.size(), flight.model_seconds);
    progress.line(line);

    bench::Host host;
    bench::Panel panel(host, bench::PanelConfig::read_file(options.panel), options.paths, options.scale);
    panel_commands::check_picture_size(panel);
    for (const std::string& warning : panel.warnings()) std::fprintf(stderr, "warning: %s\n", warning.c_str());
    render::PanelRenderer renderer(panel);
    panel.setup();

    size_t next_picture = 0;
    std::vector<double> at = options.at;
    std::sort(at.begin(), at.end());
    double panel_seconds = 0.0;
    double panel_processor_seconds = 0.0;
    for (size_t frame = 0; frame < flight.frames.size(); ++frame) {
        const double t = flight.times[frame];
        const Clock::time_point start = Clock::now();
        const double processor_start = own_processor_seconds();
        coupling.apply(flight.frames[frame], host.vars());
        host.tick();
        panel.update();
        panel_seconds += seconds_since(start);
        panel_processor_seconds += own_processor_seconds() - processor_start;
        // A moment between two frames is drawn at the later one.
        while (next_picture < at.size() && at[next_picture] <= t + 1e-6) {
            char name[64];
            std::snprintf(name, sizeof name, "flight_%06.1fs.png", at[next_picture]);
            const fs::path path = fs::path(options.out_dir) / name;
            renderer.render().write_png(path.string());
            std::snprintf(line, sizeof line, "  %6.1f s: %s", t, path.c_str());
            progress.line(line);
            ++next_picture;
        }
        std::snprintf(line, sizeof line, "fly: %.0f of %.0f s flown (%.0f%%)", t - flight.times.front(), flown,
                      flown > 0.0 ? 100.0 * (t - flight.times.front()) / flown : 100.0);
        progress.status(line);
    }
    progress.clear();
    for (; next_picture < at.size(); ++next_picture) {
        std::fprintf(stderr, "gaugebench: no picture at %.1f s: the flight ends at %.1f s\n", at[next_picture],
                     flight.times.back());
    }
    const double total = flight.model_seconds + panel_seconds;
    const double model_processor = children_processor_seconds();
    const double processor = model_processor + panel_processor_seconds;
    std::printf(
        "%s: %.0f s of flight with the panel at %d Hz, pictures excluded: %.2f s wall (model %.2f s, "
        "%zu panel updates %.2f s), %.0f times real time; processor time %.2f s (model %.2f s, panel "
        "%.2f s), %.0f times real time\n",
        options.run.script.c_str(), flown, kPanelRateHz, total, flight.model_seconds, flight.frames.size(),
        panel_seconds, total > 0.0 ? flown / total : 0.0, processor, model_processor, panel_processor_seconds,
        processor > 0.0 ? flown / processor : 0.0);
    return next_picture == at.size() ? gaugebench::ExitStatus::kSuccess : gaugebench::ExitStatus::kFailed;
}

}  // namespace

void add(CLI::App& app, gaugebench::Commands& commands) {
    auto options = std::make_shared<Options>();
    options->run.jsbsim = kDefaultJsbsim;
    options->run.rate_hz = kPanelRateHz;
    CLI::App* command = app.add_subcommand(
        "fly",
        "Fly a JSBSim script headless, drive the panel from the model at 18 Hz and draw it at chosen "
        "moments (Linux build)");
    command->add_option("script", options->run.script, "the JSBSim script")->required()->type_name("<script.xml>");
    command->add_option("--out", options->out_dir, "directory for the pictures and the model's output")
        ->required()
        ->type_name("<dir>");
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
    command->add_option("--scale", options->scale, "displayed size over the bitmaps' size (default 1)")
        ->type_name("<s>")
        ->check(gaugebench::number_within(1e-3, bench::GaugeInstance::kMaxScale, "a number from 0.001 to 16"));
    command->add_option("--end", options->run.end_seconds, "stop the script at this many seconds of flight")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.01, 1e7, "seconds of flight, above 0"));
    command
        ->add_option("--timeout", options->run.timeout_seconds,
                     "give up on the model after this many seconds (default 120)")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.1, 86400.0, "seconds, from 0.1 to 86400"));
    command
        ->add_option("--jsbsim", options->run.jsbsim,
                     std::string("the JSBSim program (default ") + kDefaultJsbsim + ")")
        ->type_name("<program>");
    gaugebench::add_module_paths(*command, options->paths);
    gaugebench::add_progress_options(*command, options->progress);
    commands.push_back({command, [options] { return fly(*options); }});
}

}  // namespace fly_command
