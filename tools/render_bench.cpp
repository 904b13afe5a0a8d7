// render_bench: what a frame of the whole panel costs on the bench host.
//
//   render_bench [panel.cfg] [--frames n] [--scale s] [--modules dir] [--night]
//   render_bench [panel.cfg] --updates-only n [--modules dir]
//
// Each frame is one full update of every gauge (the host's model step, the
// gauge callbacks, every value callback) and one drawing of the panel at the
// given scale (default: native size), in two runs: steady frames, the cruise
// held (only what moves by itself moves: the clocks, the compass swinging),
// and frames in which every cruise variable wanders, so every gauge moves.
// Beside them stands the time to copy the same number of pixels with memcpy,
// so that the ratios can be followed from build to build; the page faults
// a frame costs; the heap allocations a model step and panel update make
// (everything the host allocated between the two calls' start and end, and
// what module code allocated through its imports); and each module's size
// beyond the bitmaps it carries. It is a benchmark to run by hand
// (scripts/bench.sh runs it among the others), not a test. --modules is the
// PE tree, as for gaugebench (--pe is taken and ignored).
//
// --updates-only n does the same set-up, then only n model steps and panel
// updates at the held cruise, nothing drawn, and prints the instructions
// each module's code ran in them, as the emulator counts them, the times
// the emulator was started for each, and the heap allocations of each half
// of the updates.
//
// --json prints the same figures as one JSON object (scripts/bench.sh reads
// it) instead of the text.
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <nlohmann/json.hpp>

#include "frame/vocabulary.h"
#include "panelhost/panel.h"
#include "render/renderer.h"
#include "runtime/host.h"
#include "tools/data_files.h"
#include "tools/flight_state.h"
#include "validate/probe.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long minor_faults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// The modules of the panel, each once, in panel order.
std::vector<const runtime::Module*> modules_of(const panels::Panel& panel) {
    std::vector<const runtime::Module*> modules;
    for (const panels::Panel::Gauge& gauge : panel.gauges()) {
        if (std::find(modules.begin(), modules.end(), gauge.module) == modules.end()) modules.push_back(gauge.module);
    }
    return modules;
}

uint64_t module_allocations(const panels::Panel& panel) {
    uint64_t count = 0;
    for (const runtime::Module* module : modules_of(panel)) count += module->allocations();
    return count;
}

struct Run {
    double update_seconds = 0.0;
    double render_seconds = 0.0;
    long faults = 0;
    size_t rects = 0;                 // changed rectangles reported
    uint64_t allocations = 0;         // by the host in the model steps and panel updates
    uint64_t module_allocations = 0;  // by module code meanwhile
};

// `frames` frames, `vary(frame)` setting the variables before each.
template <typename Vary, typename Draw>
Run run_frames(runtime::Host& host, panels::Panel& panel, long frames, size_t& rects, Vary&& vary, Draw&& draw) {
    Run run;
    const size_t rects_before = rects;
    const long faults_before = minor_faults();
    const uint64_t module_allocations_before = module_allocations(panel);
    for (long frame = 0; frame < frames; ++frame) {
        vary(frame);
        const Clock::time_point start = Clock::now();
        validate::AllocationWatch::arm();
        host.tick();
        panel.update();
        run.allocations += validate::AllocationWatch::disarm();
        const Clock::time_point drawn = Clock::now();
        run.update_seconds += std::chrono::duration<double>(drawn - start).count();
        draw();
        run.render_seconds += seconds_since(drawn);
    }
    run.faults = minor_faults() - faults_before;
    run.rects = rects - rects_before;
    run.module_allocations = module_allocations(panel) - module_allocations_before;
    return run;
}

nlohmann::json run_json(const Run& run, long frames, double per_copy) {
    const double n = static_cast<double>(frames);
    const double per_frame = (run.update_seconds + run.render_seconds) / n;
    return {{"frames", frames},
            {"update_ms", 1e3 * run.update_seconds / n},
            {"render_ms", 1e3 * run.render_seconds / n},
            {"frame_ms", 1e3 * per_frame},
            {"ratio_to_memcpy", per_copy > 0.0 ? per_frame / per_copy : 0.0},
            {"page_faults_per_frame", static_cast<double>(run.faults) / n},
            {"rectangles_per_frame", static_cast<double>(run.rects) / n},
            {"heap_allocations", run.allocations},
            {"module_allocations", run.module_allocations}};
}

void print_run(const char* name, const nlohmann::json& run) {
    const double frame_ms = run["frame_ms"];
    std::printf("%s\n", name);
    std::printf("  update            %9.3f ms/frame\n", run["update_ms"].get<double>());
    std::printf("  render            %9.3f ms/frame\n", run["render_ms"].get<double>());
    std::printf("  update + render   %9.3f ms/frame  (%.1f frames/s)\n", frame_ms, 1e3 / frame_ms);
    std::printf("  ratio             %9.1f x memcpy\n", run["ratio_to_memcpy"].get<double>());
    std::printf("  page faults       %9.1f /frame\n", run["page_faults_per_frame"].get<double>());
    std::printf("  redrawn           %9.1f rectangles/frame\n", run["rectangles_per_frame"].get<double>());
    std::printf("  heap allocations  %9llu in %ld updates (module code: %llu)\n",
                run["heap_allocations"].get<unsigned long long>(), run["frames"].get<long>(),
                run["module_allocations"].get<unsigned long long>());
}

// A module's file beside the bytes of the bitmaps it carries.
nlohmann::json size_json(const runtime::Module& module) {
    std::error_code error;
    const std::uintmax_t file_bytes = std::filesystem::file_size(module.path(), error);
    if (error) return {{"module", module.path()}, {"error", error.message()}};
    const uint64_t bitmap_bytes = module.own_bitmap_bytes();
    return {{"module", module.path()},
            {"file_bytes", file_bytes},
            {"bitmap_bytes", bitmap_bytes},
            {"beyond_bitmaps", file_bytes - bitmap_bytes}};
}

void print_size(const nlohmann::json& size) {
    if (size.contains("error")) {
        std::printf("size of %s: not read (%s)\n", size["module"].get<std::string>().c_str(),
                    size["error"].get<std::string>().c_str());
        return;
    }
    std::printf("size of %s: %llu bytes, %llu of them its bitmaps, %llu beyond them\n",
                size["module"].get<std::string>().c_str(), size["file_bytes"].get<unsigned long long>(),
                size["bitmap_bytes"].get<unsigned long long>(), size["beyond_bitmaps"].get<unsigned long long>());
}

struct Arguments {
    std::string panel_file = "panel/panel.cfg";
    panels::ModulePaths paths{gaugebench::data_file(gaugebench::DataFile::kModules), {}};
    long frames = 200;
    double scale = 1.0;
    long updates_only = 0;
    bool json = false;
    bool night = false;  // the frames under the flood lamps
};

// Nullopt after printing the usage.
std::optional<Arguments> parse(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc) {
            a.frames = std::max(1L, std::strtol(argv[++i], nullptr, 10));
        } else if (arg == "--updates-only" && i + 1 < argc) {
            a.updates_only = std::max(1L, std::strtol(argv[++i], nullptr, 10));
        } else if (arg == "--scale" && i + 1 < argc) {
            a.scale = std::strtod(argv[++i], nullptr);
        } else if (arg == "--modules" && i + 1 < argc) {
            a.paths.module_dir = argv[++i];
        } else if (arg == "--pe" && i + 1 < argc) {
            ++i;  // the modules are the PE files, carrying their bitmaps
        } else if (arg == "--json") {
            a.json = true;
        } else if (arg == "--night") {
            a.night = true;
        } else if (!arg.empty() && arg[0] != '-') {
            a.panel_file = arg;
        } else {
            std::fprintf(stderr,
                         "usage: render_bench [panel.cfg] [--frames n] [--scale s] [--modules dir] [--night] [--json]\n"
                         "       render_bench [panel.cfg] --updates-only n [--modules dir] [--json]\n");
            return std::nullopt;
        }
    }
    return a;
}

// Model steps and panel updates alone, nothing drawn.
nlohmann::json updates_only(runtime::Host& host, panels::Panel& panel, long updates) {
    panel.update();
    // The host's logs fill to their fixed lengths in the first half; the
    // second is the steady state.
    uint64_t allocations[2] = {};
    const long half = updates / 2;
    const std::vector<const runtime::Module*> modules = modules_of(panel);
    std::vector<uint64_t> before, entries_before;
    for (const runtime::Module* module : modules) {
        before.push_back(module->instructions());
        entries_before.push_back(module->emulator_entries());
    }
    const auto start = Clock::now();
    for (long update = 0; update < updates; ++update) {
        validate::AllocationWatch::arm();
        host.tick();
        panel.update();
        allocations[update < half ? 0 : 1] += validate::AllocationWatch::disarm();
    }
    const double spent = seconds_since(start);
    nlohmann::json out{{"updates", updates},
                       {"update_ms", 1e3 * spent / static_cast<double>(updates)},
                       {"heap_allocations",
                        {{"first", allocations[0]},
                         {"first_updates", half},
                         {"after", allocations[1]},
                         {"after_updates", updates - half}}},
                       {"modules", nlohmann::json::array()}};
    for (size_t i = 0; i < modules.size(); ++i) {
        const uint64_t ran = modules[i]->instructions() - before[i];
        const uint64_t entries = modules[i]->emulator_entries() - entries_before[i];
        out["modules"].push_back({{"module", modules[i]->path()},
                                  {"instructions", ran},
                                  {"per_update", static_cast<double>(ran) / static_cast<double>(updates)},
                                  {"emulator_entries", entries},
                                  {"entries_per_update", static_cast<double>(entries) / static_cast<double>(updates)}});
    }
    return out;
}

void print_updates_only(const nlohmann::json& out) {
    std::printf("updates %ld\n", out["updates"].get<long>());
    // Model step and full-panel update, the modules' code in the emulator.
    std::printf("update time %.3f ms\n", out["update_ms"].get<double>());
    for (const nlohmann::json& module : out["modules"]) {
        std::printf("module-instructions %s %llu %.1f\n", module["module"].get<std::string>().c_str(),
                    module["instructions"].get<unsigned long long>(), module["per_update"].get<double>());
        std::printf("emulator-entries %s %llu %.2f\n", module["module"].get<std::string>().c_str(),
                    module["emulator_entries"].get<unsigned long long>(), module["entries_per_update"].get<double>());
    }
    const nlohmann::json& a = out["heap_allocations"];
    std::printf("heap allocations %llu in the first %ld updates, %llu in the %ld after\n",
                a["first"].get<unsigned long long>(), a["first_updates"].get<long>(),
                a["after"].get<unsigned long long>(), a["after_updates"].get<long>());
}

// Steady and moving frames, and memcpy of as many pixels beside them.
nlohmann::json frames_run(runtime::Host& host, panels::Panel& panel, const Arguments& a) {
    render::PanelRenderer renderer(panel);
    // One frame first: bitmaps are decoded once, on first use.
    panel.update();
    const render::Image first = renderer.render();
    const size_t bytes = static_cast<size_t>(first.stride()) * static_cast<size_t>(first.height());
    renderer.render_frame();
    size_t rects = 0;
    const auto draw = [&] {
        renderer.render_frame();
        rects += renderer.changed().size();
    };
    const Run steady = run_frames(
        host, panel, a.frames, rects,
        [&](long frame) { host.vars().set(sim::token::kHeading, 287.0 + 0.25 * static_cast<double>(frame)); }, draw);
    // Every cruise variable off its value by a few per cent, a different
    // amount each frame, so every needle has somewhere to go.
    const Run moving = run_frames(
        host, panel, a.frames, rects,
        [&](long frame) {
            const double swing = std::sin(0.7 * static_cast<double>(frame));
            for (const flight_state::Setting& setting : flight_state::cruise()) {
                host.vars().set(setting.token, setting.value + swing * (0.05 * std::fabs(setting.value) + 0.5));
            }
        },
        draw);
    std::vector<unsigned char> from(bytes, 0x5A), to(bytes, 0);
    const Clock::time_point copy_start = Clock::now();
    for (long frame = 0; frame < a.frames; ++frame) {
        from[static_cast<size_t>(frame) % bytes] = static_cast<unsigned char>(frame);
        std::memcpy(to.data(), from.data(), bytes);
    }
    const double per_copy = seconds_since(copy_start) / static_cast<double>(a.frames);
    // Keep the copies observable.
    volatile unsigned char sink = to[static_cast<size_t>(a.frames - 1) % bytes];
    (void)sink;
    nlohmann::json out{{"panel", a.panel_file},
                       {"gauges", panel.gauges().size()},
                       {"width", first.width()},
                       {"height", first.height()},
                       {"scale", a.scale},
                       {"memcpy_ms", 1e3 * per_copy},
                       {"bytes", bytes},
                       {"steady", run_json(steady, a.frames, per_copy)},
                       {"moving", run_json(moving, a.frames, per_copy)},
                       {"sizes", nlohmann::json::array()}};
    for (const runtime::Module* module : modules_of(panel)) out["sizes"].push_back(size_json(*module));
    return out;
}

void print_frames(const nlohmann::json& out) {
    std::printf("panel %s: %zu gauges, %d x %d pixels at scale %g, %ld frames a run\n",
                out["panel"].get<std::string>().c_str(), out["gauges"].get<size_t>(), out["width"].get<int>(),
                out["height"].get<int>(), out["scale"].get<double>(), out["steady"]["frames"].get<long>());
    std::printf("memcpy of pixels    %9.3f ms/frame  (%zu bytes)\n", out["memcpy_ms"].get<double>(),
                out["bytes"].get<size_t>());
    print_run("steady frames (cruise held)", out["steady"]);
    print_run("frames where every gauge moves", out["moving"]);
    for (const nlohmann::json& size : out["sizes"]) print_size(size);
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Arguments> arguments = parse(argc, argv);
    if (!arguments) return 2;
    const Arguments& a = *arguments;
    try {
        runtime::Host host;
        host.set_night(a.night);
        panels::Panel panel(host, panels::PanelConfig::read_file(a.panel_file), a.paths, a.scale);
        flight_state::apply_cruise(host);
        panel.setup();
        const nlohmann::json out =
            a.updates_only > 0 ? updates_only(host, panel, a.updates_only) : frames_run(host, panel, a);
        if (a.json) {
            std::printf("%s\n", out.dump(2).c_str());
        } else if (a.updates_only > 0) {
            print_updates_only(out);
        } else {
            print_frames(out);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "render_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
