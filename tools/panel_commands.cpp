#include "tools/panel_commands.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include "host/host.h"
#include "host/panel.h"
#include "host/panel_config.h"
#include "host/scenario.h"
#include "render/renderer.h"
#include "tools/flight_state.h"

namespace panel_commands {
namespace {

// Updates run before the picture, so that needles limited to a few degrees
// per update have settled on the cruise's readings.
constexpr unsigned kSettleUpdates = 60;

struct Options {
    std::string input;
    std::string output;
    std::string out_dir;
    bench::ModulePaths paths;
    double scale = 1.0;
    unsigned updates = kSettleUpdates;
    unsigned progress = 100;
};

// Modules are looked for beside the program unless told otherwise.
std::string program_dir() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

bool number(const char* text, double low, double high, double& out) {
    char* end = nullptr;
    out = std::strtod(text, &end);
    return end != text && *end == '\0' && out >= low && out <= high;
}

// Reads the options shared by both commands; false (with a message) on a
// bad or unknown one.
bool parse(int argc, char** argv, bool render, Options& options) {
    options.paths.module_dir = program_dir();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        double value = 0.0;
        if ((arg == "-o" || arg == "--output") && render && has_value) {
            options.output = argv[++i];
        } else if (arg == "--out" && !render && has_value) {
            options.out_dir = argv[++i];
        } else if (arg == "--modules" && has_value) {
            options.paths.module_dir = argv[++i];
        } else if (arg == "--pe" && has_value) {
            options.paths.pe_dir = argv[++i];
        } else if (arg == "--scale" && render && has_value) {
            if (!number(argv[++i], 1e-3, bench::GaugeInstance::kMaxScale, options.scale)) {
                std::fprintf(stderr, "gaugebench: --scale takes a number above 0 and at most 16\n");
                return false;
            }
        } else if (arg == "--updates" && render && has_value) {
            if (!number(argv[++i], 1.0, 100000.0, value) || value != static_cast<unsigned>(value)) {
                std::fprintf(stderr, "gaugebench: --updates takes a whole number from 1\n");
                return false;
            }
            options.updates = static_cast<unsigned>(value);
        } else if (arg == "--progress" && !render && has_value) {
            if (!number(argv[++i], 0.0, 1e9, value) || value != static_cast<unsigned>(value)) {
                std::fprintf(stderr, "gaugebench: --progress takes a whole number of updates (0: quiet)\n");
                return false;
            }
            options.progress = static_cast<unsigned>(value);
        } else if (!arg.empty() && arg[0] != '-' && options.input.empty()) {
            options.input = arg;
        } else {
            std::fprintf(stderr, "gaugebench: unknown or incomplete argument '%s'\n", arg.c_str());
            return false;
        }
    }
    if (options.input.empty() || (render && options.output.empty())) {
        std::fprintf(stderr,
                     "usage: gaugebench render <panel.cfg> -o <picture.png> [--scale s] [--updates n] "
                     "[--modules dir] [--pe dir]\n"
                     "       gaugebench scenario <file> [--out dir] [--progress n] [--modules dir] "
                     "[--pe dir]\n");
        return false;
    }
    return true;
}

}  // namespace

int render(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, true, options)) return 2;
    bench::Host host;
    bench::Panel panel(host, bench::PanelConfig::read_file(options.input), options.paths, options.scale);
    for (const std::string& warning : panel.warnings())
        std::fprintf(stderr, "gaugebench: warning: %s\n", warning.c_str());
    flight_state::apply_cruise(host);
    panel.setup();
    for (unsigned i = 0; i < options.updates; ++i) {
        host.tick();
        panel.update();
    }
    render::PanelRenderer renderer(panel);
    const render::Image picture = renderer.render();
    picture.write_png(options.output);
    std::printf("%s: %zu gauges in %zu shown window%s, %d x %d pixels, after %u updates at cruise\n",
                options.output.c_str(), panel.gauges().size(), panel.windows().size(),
                panel.windows().size() == 1 ? "" : "s", picture.width(), picture.height(), options.updates);
    return 0;
}

int scenario(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, false, options)) return 2;
    const bench::Scenario script = bench::Scenario::read_file(options.input);
    const std::string panel_path = script.panel_path();
    if (panel_path.empty()) {
        std::fprintf(stderr, "gaugebench: %s names no panel (add a 'panel <panel.cfg>' line)\n", options.input.c_str());
        return 1;
    }
    bench::Host host;
    bench::Panel panel(host, bench::PanelConfig::read_file(panel_path), options.paths, script.scale());
    for (const std::string& warning : panel.warnings())
        std::fprintf(stderr, "gaugebench: warning: %s\n", warning.c_str());
    render::PanelRenderer renderer(panel);
    bench::ScenarioRunner runner(
        panel, [&renderer](const bench::Panel&, const bench::Panel::Gauge* gauge, const std::string& path) {
            (gauge != nullptr ? renderer.render(*gauge) : renderer.render()).write_png(path);
        });
    runner.set_output_dir(options.out_dir);
    runner.set_progress_every(options.progress);
    runner.run(script);
    std::fprintf(stderr, "%s: %llu updates, %zu snapshots\n", options.input.c_str(),
                 static_cast<unsigned long long>(runner.updates_run()), runner.snapshots().size());
    return 0;
}

}  // namespace panel_commands
