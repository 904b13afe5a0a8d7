// render_bench: what a frame of the whole panel costs on the bench host.
//
//   render_bench [panel.cfg] [--frames n] [--scale s] [--modules dir] [--pe dir]
//
// Each frame is one full update of every gauge (the host's model step, the
// gauge callbacks, every value callback) and one drawing of the panel at the
// given scale (default: native size). Beside it stands the time to copy the
// same number of pixels with memcpy, so that the ratio between the two can
// be followed from build to build. It is a benchmark to run by hand, not a
// test.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "frame/vocabulary.h"
#include "host/host.h"
#include "host/panel.h"
#include "render/renderer.h"
#include "tools/flight_state.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

std::string program_dir() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string(".") : self.parent_path().string();
}

}  // namespace

int main(int argc, char** argv) {
    std::string panel_file = "panel/panel.cfg";
    bench::ModulePaths paths{program_dir(), {}};
    long frames = 200;
    double scale = 1.0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--frames" && i + 1 < argc) {
            frames = std::strtol(argv[++i], nullptr, 10);
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
                         "usage: render_bench [panel.cfg] [--frames n] [--scale s] [--modules dir] [--pe dir]\n");
            return 2;
        }
    }
    if (frames < 1) frames = 1;
    try {
        bench::Host host;
        bench::Panel panel(host, bench::PanelConfig::read_file(panel_file), paths, scale);
        flight_state::apply_cruise(host);
        panel.setup();
        render::PanelRenderer renderer(panel);
        // One frame first: bitmaps are decoded once, on first use.
        panel.update();
        const render::Image first = renderer.render();
        const size_t bytes = static_cast<size_t>(first.stride()) * static_cast<size_t>(first.height());

        double update_seconds = 0.0;
        double render_seconds = 0.0;
        for (long frame = 0; frame < frames; ++frame) {
            // Something moves every frame, as in flight.
            host.vars().set(sim::token::kHeading, 287.0 + 0.25 * static_cast<double>(frame));
            const Clock::time_point start = Clock::now();
            host.tick();
            panel.update();
            const Clock::time_point drawn = Clock::now();
            update_seconds += std::chrono::duration<double>(drawn - start).count();
            const render::Image picture = renderer.render();
            render_seconds += seconds_since(drawn);
        }

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

        const double per_frame = (update_seconds + render_seconds) / static_cast<double>(frames);
        const double per_copy = copy_seconds / static_cast<double>(frames);
        std::printf("panel %s: %zu gauges, %d x %d pixels at scale %g, %ld frames\n", panel_file.c_str(),
                    panel.gauges().size(), first.width(), first.height(), scale, frames);
        std::printf("  update            %9.3f ms/frame\n", 1e3 * update_seconds / static_cast<double>(frames));
        std::printf("  render            %9.3f ms/frame\n", 1e3 * render_seconds / static_cast<double>(frames));
        std::printf("  update + render   %9.3f ms/frame  (%.1f frames/s)\n", 1e3 * per_frame, 1.0 / per_frame);
        std::printf("  memcpy of pixels  %9.3f ms/frame  (%zu bytes)\n", 1e3 * per_copy, bytes);
        std::printf("  ratio             %9.1f x memcpy\n", per_copy > 0.0 ? per_frame / per_copy : 0.0);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "render_bench: %s\n", error.what());
        return 1;
    }
    return 0;
}
