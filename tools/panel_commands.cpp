#include "tools/panel_commands.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "host/host.h"
#include "host/instance.h"
#include "host/output_file.h"
#include "host/panel.h"
#include "host/panel_config.h"
#include "host/scenario.h"
#include "host/text_input.h"
#include "render/renderer.h"
#include "tools/data_files.h"
#include "tools/flight_state.h"
#include "tools/progress.h"

namespace panel_commands {
namespace {

using gaugebench::CommandError;
using gaugebench::ExitStatus;
using gaugebench::Progress;

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
    bool titles = false;
    bool main_window = false;
    bool night = false;
    render::PngEffort png = render::PngEffort::kFast;
    Progress::Mode progress = Progress::Mode::kAuto;
};

// Options both commands take: where the modules are, the main window, progress.
void add_module_paths(CLI::App& command, Options& options) {
    gaugebench::add_module_paths(command, options.paths);
    gaugebench::add_main_window_option(command, options.main_window);
    gaugebench::add_night_flag(command, options.night);
    gaugebench::add_progress_options(command, options.progress);
}

std::string mebibytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MiB", bytes / (1024.0 * 1024.0));
    return text;
}

void print_warnings(const std::vector<std::string>& warnings) {
    for (const std::string& warning : warnings) gaugebench::print_warning(warning);
}

ExitStatus render(const Options& options) {
    const bool to_stdout = options.output == "-";
    if (to_stdout) {
        // A picture's bytes would garble the terminal.
        if (isatty(STDOUT_FILENO) != 0)
            throw CommandError(ExitStatus::kUsage, "-o -: standard output is a terminal; pipe it or name a file");
    } else {
        gaugebench::check_output_file(options.output, "-o");
        check_png_name(options.output, "-o");
    }
    gaugebench::check_input_file(options.input, true);
    Progress progress(options.progress);
    bench::Host host;
    bench::set_main_window(host, options.main_window);
    host.set_night(options.night);
    bench::Panel panel(host, bench::PanelConfig::read_file(options.input), options.paths, options.scale);
    if (panel.gauges().empty())
        throw CommandError(ExitStatus::kBadInput, bench::input_name(options.input) + ": places no gauge");
    check_picture_size(panel);
    note_sources(panel);
    print_warnings(panel.warnings());
    flight_state::apply_cruise(host);
    panel.setup();
    for (unsigned i = 0; i < options.updates; ++i) {
        progress.status("render: update " + std::to_string(i + 1) + " of " + std::to_string(options.updates));
        host.tick();
        panel.update();
    }
    render::PanelRenderer renderer(panel);
    renderer.show_titles(options.titles);
    const double width = std::ceil(panel.picture_width());
    const double height = std::ceil(panel.picture_height());
    progress.status("render: drawing " + std::to_string(static_cast<long>(width)) + " x " +
                        std::to_string(static_cast<long>(height)) + " pixels (" + mebibytes(width * height * 4.0) + ")",
                    true);
    const render::Image picture = renderer.render();
    progress.status("render: writing " + (to_stdout ? std::string("standard output") : options.output), true);
    picture.write_png(options.output, options.png);
    progress.clear();
    print_warnings(renderer.take_warnings());
    if (!gaugebench::console().quiet()) {
        // Beside a picture on standard output, the summary goes to stderr.
        std::fprintf(to_stdout ? stderr : stdout,
                     "%s: %zu gauges drawn in %zu shown window%s, %d x %d pixels, after %u updates at cruise\n",
                     to_stdout ? "<stdout>" : options.output.c_str(), renderer.gauges_drawn(), panel.windows().size(),
                     panel.windows().size() == 1 ? "" : "s", picture.width(), picture.height(), options.updates);
    }
    return ExitStatus::kSuccess;
}

// A stdio stream whose complete lines go to a function: the scenario runner
// writes to stdio streams, and its lines must pass the progress line.
class LineStream {
public:
    explicit LineStream(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {
        cookie_io_functions_t functions{};
        functions.write = &LineStream::write;
        file_ = fopencookie(this, "w", functions);
        if (file_ == nullptr) throw std::runtime_error("cannot make an output stream");
        setvbuf(file_, nullptr, _IOLBF, 0);
    }
    ~LineStream() {
        std::fclose(file_);
        if (!pending_.empty()) sink_(pending_);
    }
    LineStream(const LineStream&) = delete;
    LineStream& operator=(const LineStream&) = delete;

    std::FILE* file() const { return file_; }

private:
    static ssize_t write(void* cookie, const char* data, size_t size) {
        auto* self = static_cast<LineStream*>(cookie);
        self->pending_.append(data, size);
        size_t start = 0;
        for (size_t end; (end = self->pending_.find('\n', start)) != std::string::npos; start = end + 1) {
            self->sink_(self->pending_.substr(start, end - start));
        }
        self->pending_.erase(0, start);
        return static_cast<ssize_t>(size);
    }

    std::function<void(const std::string&)> sink_;
    std::string pending_;
    std::FILE* file_ = nullptr;
};

ExitStatus scenario(const Options& options) {
    if (!options.out_dir.empty()) gaugebench::check_output_dir(options.out_dir, "--out");
    gaugebench::check_input_file(options.input, true);
    const bench::Scenario script = bench::Scenario::read_file(options.input);
    const std::string panel_path = script.panel_path();
    if (panel_path.empty()) {
        throw CommandError(ExitStatus::kBadInput,
                           bench::input_name(options.input) + " names no panel (add a 'panel <panel.cfg>' line)");
    }
    bench::Host host;
    bench::set_main_window(host, script.main_window_at_start().value_or(options.main_window));
    host.set_night(options.night);
    bench::Panel panel(host, bench::PanelConfig::read_file(panel_path), options.paths, script.scale());
    bench::check_gauges(script, panel);
    check_picture_size(panel);
    note_sources(panel);
    print_warnings(panel.warnings());
    render::PanelRenderer renderer(panel);
    Progress progress(options.progress);
    // The runner reports after every update; the progress line shows the
    // latest report when it is due, and printed lines clear it first.
    LineStream printed([&progress](const std::string& line) {
        progress.clear();
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    });
    // Warnings stay on the screen; other reports only update the progress line.
    LineStream reports([&progress](const std::string& line) {
        if (line.rfind("warning: ", 0) == 0) {
            progress.clear();
            gaugebench::print_warning(line.substr(9));
        } else {
            progress.status(line);
        }
    });
    bench::ScenarioRunner runner(
        panel,
        [&renderer, &options](const bench::Panel&, const bench::Panel::Gauge* gauge, const std::string& path) {
            write_picture(gauge != nullptr ? renderer.render(*gauge) : renderer.render(), path, options.out_dir);
            print_warnings(renderer.take_warnings());
        },
        printed.file(), reports.file());
    runner.set_output_dir(options.out_dir);
    runner.set_progress_every(1);
    try {
        runner.run(script);
    } catch (const bench::ScenarioError& error) {
        throw CommandError(ExitStatus::kFailed, error.what());
    }
    std::fflush(printed.file());
    std::fflush(reports.file());
    progress.clear();
    gaugebench::print_note(bench::input_name(options.input) + ": " + std::to_string(runner.updates_run()) +
                           " updates, " + std::to_string(runner.snapshots().size()) + " snapshots");
    for (const std::string& snapshot : runner.snapshots()) gaugebench::print_note("  wrote " + snapshot);
    return ExitStatus::kSuccess;
}

}  // namespace

void note_sources(const bench::Panel& panel) {
    if (!gaugebench::console().verbose()) return;
    for (const std::string& file : panel.source_files()) std::fprintf(stderr, "read %s\n", file.c_str());
}

void check_picture_size(const bench::Panel& panel) {
    const double width = std::ceil(panel.picture_width());
    const double height = std::ceil(panel.picture_height());
    const double bytes = width * height * 4.0;  // 32-bit pixels
    if (bytes <= kMaxPictureBytes && width <= kMaxPictureSide && height <= kMaxPictureSide) return;
    const double fits =
        std::min({std::sqrt(kMaxPictureBytes / bytes), kMaxPictureSide / width, kMaxPictureSide / height});
    char text[256];
    std::snprintf(text, sizeof text,
                  "at scale %g the panel would be %.0f x %.0f pixels (%s); a picture may take 1024 MiB and "
                  "32767 pixels a side: use a scale of %.2f or less",
                  panel.scale(), width, height, mebibytes(bytes).c_str(),
                  std::floor(panel.scale() * fits * 100.0) / 100.0);
    throw CommandError(ExitStatus::kUsage, text);
}

void check_png_name(const std::string& path, const std::string& option) {
    const std::string extension = std::filesystem::path(path).extension().string();
    if (extension.empty() || bench::same_name(extension, ".png")) return;
    throw CommandError(ExitStatus::kUsage,
                       option + " " + path + ": pictures are written as PNG; name the file *.png, not *" + extension);
}

void write_picture(const render::Image& picture, const std::string& path, const std::string& out_dir) {
    bench::check_output_path(path, out_dir.empty() ? "." : out_dir);
    picture.write_png(path);
}

void add(CLI::App& app, gaugebench::Commands& commands) {
    auto render_options = std::make_shared<Options>();
    CLI::App* render_command =
        app.add_subcommand("render", "Draw a panel configuration's gauges after a few updates at a steady cruise");
    render_options->input = gaugebench::data_file(gaugebench::DataFile::kPanel);
    render_command
        ->add_option("panel", render_options->input,
                     "the panel configuration ('-': standard input; default " + render_options->input + ")")
        ->type_name("<panel.cfg>");
    render_command->add_option("-o,--output", render_options->output, "the picture to write (PNG; '-': standard output)")
        ->required()
        ->type_name("<picture.png>");
    gaugebench::add_scale_option(*render_command, render_options->scale, bench::GaugeInstance::kMaxScale);
    render_command->add_option("--updates", render_options->updates, "updates before the picture (default 60)")
        ->type_name("<n>")
        ->check(gaugebench::whole_number_within(1, 100000, "a whole number from 1 to 100000"));
    render_command->add_flag("--titles", render_options->titles,
                             "label each window with its title ([Window Titles]) at its top-left corner");
    render_command->add_flag_function(
        "--smallest", [render_options](int64_t) { render_options->png = render::PngEffort::kSmallest; },
        "write the smallest PNG (slower; for pictures that are published)");
    add_module_paths(*render_command, *render_options);
    commands.push_back({render_command, [render_options] { return render(*render_options); }});

    auto scenario_options = std::make_shared<Options>();
    CLI::App* scenario_command =
        app.add_subcommand("scenario", "Run a scripted session (docs/scenarios.md) on the panel it names");
    scenario_command->add_option("file", scenario_options->input, "the scenario ('-': standard input)")->required()->type_name("<file>");
    scenario_command
        ->add_option("--out", scenario_options->out_dir, "directory for the snapshots (default: the current one)")
        ->type_name("<dir>");
    add_module_paths(*scenario_command, *scenario_options);
    commands.push_back({scenario_command, [scenario_options] { return scenario(*scenario_options); }});
}

}  // namespace panel_commands
