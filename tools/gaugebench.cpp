// gaugebench: the bench host on the command line.
//
//   gaugebench list <module> [--pe <PE file>] [--scale <s>]
//       loads the module, lists every gauge with its element tree and mouse
//       areas, sets each gauge up, runs one update and prints what each
//       element shows.
//   gaugebench bombrun <module>
//       loads a bomb counter module and plays a short bomb run of key events
//       through the host's calculator, printing the counter's variables.
//   gaugebench validate <module> [--pe <PE file>] [--json <report.json>] [--seed <n>]
//       checks the module as plug-in validators do: its records, its gauges'
//       lifecycle, hostile inputs to every callback, allocations and the
//       floating-point state in every module call. Prints a table of checks;
//       exit status 1 when any check fails.
//   gaugebench render <panel.cfg> -o <picture.png> [--scale s] [--updates n]
//                     [--modules dir] [--pe dir]
//       places the panel configuration's gauges, flies them at a steady
//       cruise for a few updates and draws the panel (Linux build).
//   gaugebench scenario <file> [--out dir] [--progress n] [--modules dir] [--pe dir]
//       runs a scripted session (docs/scenarios.md) on the panel it names,
//       writing its snapshots under --out (Linux build).
//   gaugebench fly <script.xml> --out <dir> [--aircraft-root fdm] [--panel panel/panel.cfg]
//                  [--at t1,t2,..] [--scale s] [--end s] [--timeout s] [--jsbsim program] [--modules dir] [--pe dir]
//       flies a JSBSim script headless, drives the panel from the model at
//       18 Hz and draws it at the moments --at names (Linux build).
//   Modules named by a panel are <modules dir>/<Name>.gau (default: beside
//   this program), their bitmaps from the PE build in --pe.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "frame/vocabulary.h"
#include "host/host.h"
#include "host/host_calculator.h"
#include "host/instance.h"
#include "host/module.h"
#include "host/validate/validator.h"
#include "tools/listing.h"
#include "tools/panel_commands.h"
#ifndef _WIN32
#include "tools/fly_command.h"
#endif

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: gaugebench list <module> [--pe <PE file>] [--scale <s>]\n"
                 "       gaugebench bombrun <module>\n"
                 "       gaugebench validate <module> [--pe <PE file>] [--json <report.json>] [--seed <n>]\n"
                 "       gaugebench render <panel.cfg> -o <picture.png> [--scale s] [--updates n] [--modules dir] "
                 "[--pe dir]\n"
                 "       gaugebench scenario <file> [--out dir] [--progress n] [--modules dir] [--pe dir]\n"
                 "       gaugebench fly <script.xml> --out <dir> [--aircraft-root fdm] [--panel panel/panel.cfg] "
                 "[--at t1,t2,..] [--modules dir] [--pe dir]\n"
                 "  <module>      a gauge module (.gau) built for this platform\n"
                 "  --pe <file>   the PE build of the module, whose bitmaps it carries\n"
                 "  --scale <s>   displayed size over the bitmaps' size (default 1)\n"
                 "  --json <file> also write the validation report as JSON\n"
                 "  --seed <n>    seed of the validation's random inputs (the report names it)\n");
    return 2;
}

struct Options {
    std::string command;
    std::string module;
    std::string pe;
    double scale = 1.0;
    std::string json;
    uint64_t seed = bench::validate::kDefaultSeed;
};

bool parse(int argc, char** argv, Options& options) {
    if (argc < 3) return false;
    options.command = argv[1];
    options.module = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pe" && i + 1 < argc) {
            options.pe = argv[++i];
        } else if (arg == "--scale" && i + 1 < argc) {
            char* end = nullptr;
            options.scale = std::strtod(argv[++i], &end);
            if (end == nullptr || *end != '\0' || !(options.scale > 0.0) || options.scale > 16.0) {
                std::fprintf(stderr, "gaugebench: --scale takes a number above 0 and at most 16\n");
                return false;
            }
        } else if (arg == "--json" && i + 1 < argc) {
            options.json = argv[++i];
        } else if (arg == "--seed" && i + 1 < argc) {
            const char* text = argv[++i];
            char* end = nullptr;
            errno = 0;
            options.seed = std::strtoull(text, &end, 0);
            if (end == text || *end != '\0' || errno != 0 || *text == '-') {
                std::fprintf(stderr, "gaugebench: --seed takes a whole number\n");
                return false;
            }
        } else {
            std::fprintf(stderr, "gaugebench: unknown argument '%s'\n", arg.c_str());
            return false;
        }
    }
    return options.command == "list" || options.command == "bombrun" || options.command == "validate";
}

void print_counter(const bench::Host& host, const char* after) {
    const bench::VariableStore& vars = host.vars();
    std::printf("  %-28s L:Bombs_dropped %-4g L:Repeat %-4g L:Elapsed %g\n", after, vars.get("L:Bombs_dropped"),
                vars.get("L:Repeat"), vars.get("L:Elapsed"));
}

int bomb_run(const Options& options) {
    bench::Host host;
    bench::HostCalculator calculator(host, 3600.0);
    bench::Module module(host, options.module, options.pe);
    host.vars().set("L:Vq17_Nbr_Sum", 4.0);
    host.vars().set("L:Vq17_Interv_Sum", 1.5);
    std::printf("%s: %zu key-event routine(s) registered; stick of 4 bombs, 1.5 s apart\n", module.path().c_str(),
                host.key_event_handlers().size());
    print_counter(host, "before the run");
    // The key events of a bomb run as the aircraft's other gauges send them.
    char label[48];
    host.send_key_event(sim::event::kReleaseSequenceStart, 0);
    std::snprintf(label, sizeof label, "sequence start (%u)", sim::event::kReleaseSequenceStart);
    print_counter(host, label);
    for (int bomb = 1; bomb <= 4; ++bomb) {
        calculator.set_absolute_time_seconds(3600.0 + 1.5 * bomb);
        host.send_key_event(sim::event::kBombReleased, 0);
        std::snprintf(label, sizeof label, "bomb %d released (%u)", bomb, sim::event::kBombReleased);
        print_counter(host, label);
    }
    const uint32_t other = sim::event::throttle_set(0);
    host.send_key_event(other, 0);  // an unrelated event runs nothing
    std::snprintf(label, sizeof label, "other event (%u)", other);
    print_counter(host, label);
    for (const bench::CalculatorError& error : calculator.errors()) std::printf("  refused: %s\n", error.what());
    return calculator.errors().empty() ? 0 : 1;
}

int validate(const Options& options) {
    bench::validate::Options validation;
    validation.pe = options.pe;
#ifdef _WIN32
    // The module is the PE: its bitmaps are its own.
    if (validation.pe.empty()) validation.pe = options.module;
#endif
    validation.seed = options.seed;
    const bench::validate::Report report = bench::validate::validate_module(options.module, validation);
    report.print(stdout);
    if (!options.json.empty()) {
        std::FILE* file = std::fopen(options.json.c_str(), "wb");
        const std::string text = report.json();
        if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size()) {
            std::fprintf(stderr, "gaugebench: cannot write %s\n", options.json.c_str());
            if (file != nullptr) std::fclose(file);
            return 1;
        }
        std::fclose(file);
    }
    return report.failed() ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc >= 2 ? argv[1] : "";
    if (command == "render" || command == "scenario") {
        try {
            return command == "render" ? panel_commands::render(argc - 1, argv + 1)
                                       : panel_commands::scenario(argc - 1, argv + 1);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "gaugebench: %s\n", error.what());
            return 1;
        }
    }
    if (command == "fly") {
#ifdef _WIN32
        std::fprintf(stderr, "gaugebench: fly runs JSBSim beside the Linux build only\n");
        return 2;
#else
        try {
            return fly_command::fly(argc - 1, argv + 1);
        } catch (const std::exception& error) {
            std::fprintf(stderr, "gaugebench: %s\n", error.what());
            return 1;
        }
#endif
    }
    Options options;
    if (!parse(argc, argv, options)) return usage();
    try {
        if (options.command == "bombrun") return bomb_run(options);
        if (options.command == "validate") return validate(options);
        bench::Host host;
        bench::Module module(host, options.module, options.pe);
        listing::print_module(stdout, host, module, options.scale);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "gaugebench: %s\n", error.what());
        return 1;
    }
    return 0;
}
