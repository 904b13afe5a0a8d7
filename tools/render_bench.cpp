// render_bench: what a frame of the whole panel costs on the bench host.
//
//   render_bench [panel.cfg] [--frames n] [--scale s] [--modules dir] [--pe dir]
//   render_bench [panel.cfg] --updates-only n [--modules dir] [--pe dir]
//
// Each frame is one full update of every gauge (the host's model step, the
// gauge callbacks, every value callback) and one drawing of the panel at the
// given scale (default: native size), in two runs: steady frames, the cruise
// held (only what moves by itself moves: the clocks, the compass swinging),
// and frames in which every cruise variable wanders, so every gauge moves.
// Beside them stands the time to copy the same number of pixels with memcpy,
// so that the ratios can be followed from build to build; the page faults
// a frame costs; the heap allocations a model step and panel update make
// (everything allocated between the two calls' start and end); and, with
// --pe, each module's size beyond the bitmaps it carries. It is a benchmark
// to run by hand (scripts/bench.sh runs it among the others), not a test.
//
// --updates-only n does the same set-up, then only n model steps and panel
// updates at the held cruise, nothing drawn, and prints where the modules'
// code lies, so that scripts/module_instructions.sh can have the emulator
// count the instructions executed inside it, and the heap allocations of
// each half of the updates.
#include <link.h>
#include <sys/resource.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "frame/vocabulary.h"
#include "host/host.h"
#include "host/panel.h"
#include "host/validate/probe.h"
#include "render/renderer.h"
#include "tools/flight_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

long minor_faults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

std::string program_dir() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

struct Run {
    double update_seconds = 0.0;
    double render_seconds = 0.0;
    long faults = 0;
    size_t rects = 0;          // changed rectangles reported
    uint64_t allocations = 0;  // by the model steps and panel updates
};

// `frames` frames, `vary(frame)` setting the variables before each.
template <typename Vary, typename Draw>
Run run_frames(bench::Host& host, bench::Panel& panel, long frames, size_t& rects, Vary&& vary, Draw&& draw) {
    Run run;
    const size_t rects_before = rects;
    const long faults_before = minor_faults();
    for (long frame = 0; frame < frames; ++frame) {
        vary(frame);
        const Clock::time_point start = Clock::now();
        bench::validate::AllocationWatch::arm();
        host.tick();
        panel.update();
        run.allocations += bench::validate::AllocationWatch::disarm();
        const Clock::time_point drawn = Clock::now();
        run.update_seconds += std::chrono::duration<double>(drawn - start).count();
        draw();
        run.render_seconds += seconds_since(drawn);
    }
    run.faults = minor_faults() - faults_before;
    run.rects = rects - rects_before;
    return run;
}

void print_run(const char* name, const Run& run, long frames, double per_copy) {
    const double n = static_cast<double>(frames);
    const double per_frame = (run.update_seconds + run.render_seconds) / n;
    std::printf("%s\n", name);
    std::printf("  update            %9.3f ms/frame\n", 1e3 * run.update_seconds / n);
    std::printf("  render            %9.3f ms/frame\n", 1e3 * run.render_seconds / n);
    std::printf("  update + render   %9.3f ms/frame  (%.1f frames/s)\n", 1e3 * per_frame, 1.0 / per_frame);
    std::printf("  ratio             %9.1f x memcpy\n", per_copy > 0.0 ? per_frame / per_copy : 0.0);
    std::printf("  page faults       %9.1f /frame\n", static_cast<double>(run.faults) / n);
    std::printf("  redrawn           %9.1f rectangles/frame\n", static_cast<double>(run.rects) / n);
    std::printf("  heap allocations  %9llu in %ld updates\n", static_cast<unsigned long long>(run.allocations), frames);
}

// A module's file beside the bytes of the bitmaps it carries.
void print_size(const std::string& pe_file) {
    std::error_code error;
    const std::uintmax_t file_bytes = std::filesystem::file_size(pe_file, error);
    if (error) {
        std::printf("size of %s: not read (%s)\n", pe_file.c_str(), error.message().c_str());
        return;
    }
    uint64_t bitmap_bytes = 0;
    const std::shared_ptr<const bench::PeImage> resources = bench::Module::read_resources(pe_file);
    for (const auto& [id, bitmap] : resources->bitmaps()) bitmap_bytes += bitmap.dib().size();
    std::printf("size of %s: %ju bytes, %llu of them its bitmaps, %llu beyond them\n", pe_file.c_str(), file_bytes,
                static_cast<unsigned long long>(bitmap_bytes),
                static_cast<unsigned long long>(file_bytes - bitmap_bytes));
}

bool ends_with(const char* text, const char* tail) {
    const size_t text_size = std::strlen(text), tail_size = std::strlen(tail);
    return text_size >= tail_size && std::strcmp(text + text_size - tail_size, tail) == 0;
}

// One line per executable segment of a loaded module: "module-text <path>
// <start> <size> <vaddr>", the start and size in this process, the vaddr in
// the file (for addr2line).
int print_module_text(dl_phdr_info* info, size_t, void*) {
    if (info->dlpi_name == nullptr ||
        !(ends_with(info->dlpi_name, "/Korvane.gau") || ends_with(info->dlpi_name, "/Dropwatch.gau"))) {
        return 0;
    }
    for (int i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
        std::printf("module-text %s 0x%lx 0x%lx 0x%lx\n", info->dlpi_name,
                    static_cast<unsigned long>(info->dlpi_addr + segment.p_vaddr),
                    static_cast<unsigned long>(segment.p_memsz), static_cast<unsigned long>(segment.p_vaddr));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string panel_file = "panel/panel.cfg";
    bench::ModulePaths paths{program_dir(), {}};
    long frames = 200;
    double scale = 1.0;
    long updates_only = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc) {
            frames = std::strtol(argv[++i], nullptr, 10);
        } else if (arg == "--updates-only" && i + 1 < argc) {
            updates_only = std::strtol(argv[++i], nullptr, 10);
            if (updates_only < 1) updates_only = 1;
        } else if (arg == "--scale" && i + 1 < argc) {
            scale = std::strtod(argv[++i], nullptr);
        } else if (arg == "--modules" && i + 1 < argc) {
            paths.module_dir = argv[++i];
        } else if (arg == "--pe" && i + 1 < argc) {
            paths.pe_dir = argv[++i];
        } else if (!arg.empty() && arg[0] != '-') {
            panel_file = arg;
        } else {
            std::fprintf(stderr,
                         "usage: render_bench [panel.cfg] [--frames n] [--scale s] [--modules dir] [--pe dir]\n"
                         "       render_bench [panel.cfg] --updates-only n [--modules dir] [--pe dir]\n");
            return 2;
        }
    }
    if (frames < 1) frames = 1;
    try {
        bench::Host host;
        bench::Panel panel(host, bench::PanelConfig::read_file(panel_file), paths, scale);
        flight_state::apply_cruise(host);
        panel.setup();
        if (updates_only > 0) {
            panel.update();
            // The host's logs fill to their fixed lengths in the first half;
            // the second is the steady state.
            uint64_t allocations[2] = {};
            const long half = updates_only / 2;
            for (long update = 0; update < updates_only; ++update) {
                bench::validate::AllocationWatch::arm();
                host.tick();
                panel.update();
                allocations[update < half ? 0 : 1] += bench::validate::AllocationWatch::disarm();
            }
            dl_iterate_phdr(print_module_text, nullptr);
            std::printf("updates %ld\n", updates_only);
            std::printf("heap allocations %llu in the first %ld updates, %llu in the %ld after\n",
                        static_cast<unsigned long long>(allocations[0]), half,
                        static_cast<unsigned long long>(allocations[1]), updates_only - half);
            return 0;
        }
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
            host, panel, frames, rects,
            [&](long frame) { host.vars().set(sim::token::kHeading, 287.0 + 0.25 * static_cast<double>(frame)); },
            draw);
        // Every cruise variable off its value by a few per cent, a different
        // amount each frame, so every needle has somewhere to go.
        const Run moving = run_frames(
            host, panel, frames, rects,
            [&](long frame) {
                const double swing = std::sin(0.7 * static_cast<double>(frame));
                for (const flight_state::Setting& setting : flight_state::cruise()) {
                    host.vars().set(setting.token, setting.value + swing * (0.05 * std::fabs(setting.value) + 0.5));
                }
            },
            draw);

        std::vector<unsigned char> from(bytes, 0x5A), to(bytes, 0);
        const Clock::time_point copy_start = Clock::now();
        for (long frame = 0; frame < frames; ++frame) {
            from[static_cast<size_t>(frame) % bytes] = static_cast<unsigned char>(frame);
            std::memcpy(to.data(), from.data(), bytes);
        }
        const double copy_seconds = seconds_since(copy_start);
        // Keep the copies observable.
        volatile unsigned char sink = to[static_cast<size_t>(frames - 1) % bytes];
        (void)sink;

        const double per_copy = copy_seconds / static_cast<double>(frames);
        std::printf("panel %s: %zu gauges, %d x %d pixels at scale %g, %ld frames a run\n", panel_file.c_str(),
                    panel.gauges().size(), first.width(), first.height(), scale, frames);
        std::printf("memcpy of pixels    %9.3f ms/frame  (%zu bytes)\n", 1e3 * per_copy, bytes);
        print_run("steady frames (cruise held)", steady, frames, per_copy);
        print_run("frames where every gauge moves", moving, frames, per_copy);
        if (!paths.pe_dir.empty()) {
            std::set<std::string> files;
            for (const bench::Panel::Gauge& gauge : panel.gauges()) {
                files.insert(paths.pe_dir + "/" + std::filesystem::path(gauge.module->path()).filename().string());
            }
            for (const std::string& file : files) print_size(file);
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "render_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
