#include "tools/fly_command.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
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

namespace fly_command {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// The panel updates at the simulator's gauge rate.
constexpr int kPanelRateHz = 18;
// Progress lines on stderr, one per this much simulated time.
constexpr double kProgressEverySeconds = 30.0;

struct Options {
    flightmodel::FlightRun run;
    std::string panel = "panel/panel.cfg";
    std::string out_dir;
    std::vector<double> at;
    double scale = 1.0;
    bench::ModulePaths paths;
};

std::string program_dir() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

// JSBSim as install-deps.sh puts it, relative to the working directory.
constexpr const char* kDefaultJsbsim = "build/jsbsim/bin/JSBSim";

bool number(const char* text, double low, double high, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && out >= low && out <= high;
}

bool times(const std::string& text, std::vector<double>& out) {
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = text.find(',', start);
        const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        double value = 0.0;
        if (!number(item.c_str(), 0.0, 1e7, value)) return false;
        out.push_back(value);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return !out.empty();
}

bool parse(int argc, char** argv, Options& options) {
    options.paths.module_dir = program_dir();
    options.run.jsbsim = kDefaultJsbsim;
    options.run.rate_hz = kPanelRateHz;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--aircraft-root" && has_value) {
            options.run.root = argv[++i];
        } else if (arg == "--panel" && has_value) {
            options.panel = argv[++i];
        } else if (arg == "--out" && has_value) {
            options.out_dir = argv[++i];
        } else if (arg == "--at" && has_value) {
            if (!times(argv[++i], options.at)) {
                std::fprintf(stderr, "gaugebench: --at takes seconds of flight, comma-separated (10,95.5,240)\n");
                return false;
            }
        } else if (arg == "--scale" && has_value) {
            if (!number(argv[++i], 1e-3, bench::GaugeInstance::kMaxScale, options.scale)) {
                std::fprintf(stderr, "gaugebench: --scale takes a number above 0 and at most 16\n");
                return false;
            }
        } else if (arg == "--jsbsim" && has_value) {
            options.run.jsbsim = argv[++i];
        } else if (arg == "--timeout" && has_value) {
            if (!number(argv[++i], 0.1, 86400.0, options.run.timeout_seconds)) {
                std::fprintf(stderr, "gaugebench: --timeout takes seconds, above 0\n");
                return false;
            }
        } else if (arg == "--end" && has_value) {
            if (!number(argv[++i], 0.01, 1e7, options.run.end_seconds)) {
                std::fprintf(stderr, "gaugebench: --end takes seconds of flight, above 0\n");
                return false;
            }
        } else if (arg == "--modules" && has_value) {
            options.paths.module_dir = argv[++i];
        } else if (arg == "--pe" && has_value) {
            options.paths.pe_dir = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && options.run.script.empty()) {
            options.run.script = arg;
        } else {
            std::fprintf(stderr, "gaugebench: unknown or incomplete argument '%s'\n", arg.c_str());
            return false;
        }
    }
    if (options.run.script.empty() || options.out_dir.empty()) {
        std::fprintf(stderr,
                     "usage: gaugebench fly <script.xml> --out <dir> [--aircraft-root fdm] [--panel panel/panel.cfg]\n"
                     "                      [--at t1,t2,..] [--scale s] [--end s] [--timeout s] [--jsbsim <program>]\n"
                     "                      [--modules dir] [--pe dir]\n");
        return false;
    }
    return true;
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

}  // namespace

int fly(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) return 2;
    options.run.work_dir = options.out_dir;

    const flightmodel::Coupling coupling;
    std::fprintf(stderr, "%s: flying with %s...\n", options.run.script.c_str(), options.run.jsbsim.c_str());
    const flightmodel::Flight flight = flightmodel::fly(options.run, coupling);
    const double flown = flight.times.back() - flight.times.front();
    std::fprintf(stderr, "%s: %.0f s of flight, %zu frames, model %.2f s\n", options.run.script.c_str(), flown,
                 flight.frames.size(), flight.model_seconds);

    bench::Host host;
    bench::Panel panel(host, bench::PanelConfig::read_file(options.panel), options.paths, options.scale);
    for (const std::string& warning : panel.warnings())
        std::fprintf(stderr, "gaugebench: warning: %s\n", warning.c_str());
    render::PanelRenderer renderer(panel);
    panel.setup();

    size_t next_picture = 0;
    std::vector<double> at = options.at;
    std::sort(at.begin(), at.end());
    double panel_seconds = 0.0;
    double panel_processor_seconds = 0.0;
    double next_progress = kProgressEverySeconds;
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
            std::fprintf(stderr, "  %6.1f s: %s\n", t, path.c_str());
            ++next_picture;
        }
        if (t >= next_progress) {
            std::fprintf(stderr, "  %6.1f s flown\n", t);
            next_progress += kProgressEverySeconds;
        }
    }
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
    return next_picture == at.size() ? 0 : 1;
}

}  // namespace fly_command
