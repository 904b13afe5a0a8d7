#include "tools/panel_commands.h"

#include <sys/types.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "panelhost/panel.h"
#include "panelhost/panel_config.h"
#include "platform/output_file.h"
#include "platform/process_heap.h"
#include "platform/text_input.h"
#include "render/renderer.h"
#include "runtime/host.h"
#include "runtime/instance.h"
#include "scenariorun/scenario.h"
#include "tools/data_files.h"
#include "tools/flight_state.h"
#include "tools/inspection_options.h"
#include "tools/progress.h"

namespace panel_commands {
namespace {

using gaugebench::CommandError;
using gaugebench::ExitStatus;
using gaugebench::Progress;

struct Options {
    std::string input;
    std::string output;
    std::string out_dir;
    panels::ModulePaths paths;
    double scale = 1.0;
    unsigned updates = panels::Panel::kSettleUpdates;
    bool titles = false;
    bool main_window = false;
    bool night = false;
    render::PngEffort png = render::PngEffort::kFast;
    Progress::Mode progress = Progress::Mode::kAuto;
    std::string json;
    gaugebench::InspectionOptions inspection;
};

// Options both commands take: where the modules are, the main window,
// progress, the JSON summary, the trace.
void add_module_paths(CLI::App& command, Options& options) {
    gaugebench::add_module_paths(command, options.paths);
    gaugebench::add_main_window_option(command, options.main_window);
    gaugebench::add_night_flag(command, options.night);
    gaugebench::add_progress_options(command, options.progress);
    add_json_summary_option(command, options.json);
    gaugebench::add_inspection_options(command, options.inspection);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string mebibytes(double bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.0f MiB", bytes / (1024.0 * 1024.0));
    return text;
}

// Each warning on stderr, past the progress line, and kept for the summary.
void print_warnings(const std::vector<std::string>& warnings, Progress& progress, std::vector<std::string>& kept) {
    for (const std::string& warning : warnings) {
        progress.line(gaugebench::warning_line(warning), stderr);
        kept.push_back(warning);
    }
}

// render's files, before anything is read: the picture's place (a file or
// standard output, never a terminal), the summary's, the trace's, the panel
// and the modules it may load.
void check_render_files(const Options& options) {
    // A picture's bytes would garble the terminal.
    if (options.output == "-" && isatty(STDOUT_FILENO) != 0)
        throw CommandError(ExitStatus::kUsage, "-o -: standard output is a terminal; pipe it or name a file");
    gaugebench::CommandFiles files;
    files.write(options.output, "-o");
    if (options.output != "-") check_png_name(options.output, "-o");
    files.write(options.json, "--json");
    gaugebench::add_inspection_files(options.inspection, files);
    gaugebench::check_input_file(options.input, true);
    files.read(options.input, "the panel being read");
    files.read_modules(options.paths);
    files.check();
}

ExitStatus render(const Options& options) {
    const auto start = std::chrono::steady_clock::now();
    const bool to_stdout = options.output == "-";
    check_render_files(options);
    platform::keep_large_buffers_in_heap();
    Progress progress(options.progress);
    std::vector<std::string> warnings;
    gaugebench::Inspection inspection(options.inspection);
    runtime::Host host;
    inspection.attach(host);
    host.set_main_window(options.main_window);
    host.set_night(options.night);
    inspection.start_debugger();
    panels::Panel panel(host, panels::PanelConfig::read_file(options.input), options.paths, options.scale);
    if (panel.gauges().empty())
        throw CommandError(ExitStatus::kBadInput, platform::input_name(options.input) + ": places no gauge");
    inspection.check_gauges(panel.gauge_names());
    check_picture_size(panel);
    note_sources(panel);
    print_warnings(panel.warnings(), progress, warnings);
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
    inspection.finish();
    progress.clear();
    print_warnings(renderer.take_warnings(), progress, warnings);
    print_warnings(panel.budget_warnings(), progress, warnings);
    if (options.json != "-" && !gaugebench::console().quiet()) {
        // Beside a picture on standard output, the summary goes to stderr.
        std::fprintf(to_stdout ? stderr : stdout, "%s: %s drawn in %s, %d x %d pixels, after %s at cruise\n",
                     to_stdout ? "<stdout>" : options.output.c_str(),
                     gaugebench::counted(renderer.gauges_drawn(), "gauge").c_str(),
                     gaugebench::counted(panel.windows().size(), "shown window").c_str(), picture.width(),
                     picture.height(), gaugebench::counted(options.updates, "update").c_str());
    }
    std::vector<std::string> written{options.output};
    written.insert(written.end(), inspection.files_written().begin(), inspection.files_written().end());
    write_json_summary(
        options.json,
        {{"command", "render"},
         {"panel", options.input},
         {"files_written", written},
         {"picture", {{"path", options.output}, {"width", picture.width()}, {"height", picture.height()}}},
         {"gauges_drawn", renderer.gauges_drawn()},
         {"windows_shown", panel.windows().size()},
         {"updates", options.updates},
         {"wall_seconds", seconds_since(start)},
         {"warnings", warnings}});
    return ExitStatus::kSuccess;
}

// The scenario, read, and every file the run reads or writes checked
// before it starts.
::scenario::Scenario read_scenario_checked(const Options& options) {
    if (!options.out_dir.empty()) gaugebench::check_output_dir(options.out_dir, "--out");
    gaugebench::CommandFiles files;
    files.write(options.json, "--json");
    gaugebench::add_inspection_files(options.inspection, files);
    gaugebench::check_input_file(options.input, true);
    files.read(options.input, "the scenario being read");
    ::scenario::Scenario script = ::scenario::Scenario::read_file(options.input);
    const std::string panel_path = script.panel_path();
    if (panel_path.empty()) {
        throw CommandError(ExitStatus::kBadInput,
                           platform::input_name(options.input) + " names no panel (add a 'panel <panel.cfg>' line)");
    }
    try {
        gaugebench::check_input_file(panel_path);
    } catch (const CommandError& error) {
        // Said where the scenario names it: the path is the scenario's, resolved.
        throw CommandError(error.status(), platform::input_name(options.input) + ":" +
                                               std::to_string(script.panel_line()) + ": panel " + error.what());
    }
    files.read(panel_path, "the panel the scenario names");
    files.read_modules(options.paths);
    add_snapshot_files(script, options.out_dir, files);
    files.check();
    return script;
}

// What the run did, said on the console and in the JSON summary.
void report_scenario(const Options& options, const ::scenario::ScenarioRunner& runner,
                     const gaugebench::Inspection& inspection, const std::string& panel_path,
                     std::vector<std::string> warnings, double wall_seconds) {
    if (options.json != "-") {
        gaugebench::print_note(platform::input_name(options.input) + ": " +
                               gaugebench::counted(runner.updates_run(), "update") + ", " +
                               gaugebench::counted(runner.snapshots().size(), "snapshot"));
        for (const std::string& snapshot : runner.snapshots()) gaugebench::print_note("  wrote " + snapshot);
    }
    std::vector<std::string> written = runner.snapshots();
    written.insert(written.end(), inspection.files_written().begin(), inspection.files_written().end());
    nlohmann::ordered_json summary = {{"command", "scenario"},
                                      {"scenario", options.input},
                                      {"panel", panel_path},
                                      {"files_written", written},
                                      {"updates", runner.updates_run()},
                                      {"simulated_seconds", static_cast<double>(runner.updates_run()) *
                                                                runtime::Host::kSecondsPerUpdate},
                                      {"wall_seconds", wall_seconds}};
    add_scenario_json(runner, summary);
    for (const std::string& warning : runner.warnings()) warnings.push_back(warning);
    summary["warnings"] = warnings;
    write_json_summary(options.json, summary);
}

// One piece: its steps share the panel, renderer, runner and progress line,
// which live only for the run.
ExitStatus scenario(const Options& options) {
    const auto start = std::chrono::steady_clock::now();
    const ::scenario::Scenario script = read_scenario_checked(options);
    const std::string panel_path = script.panel_path();
    gaugebench::Inspection inspection(options.inspection);
    runtime::Host host;
    inspection.attach(host);
    host.set_main_window(script.main_window_at_start().value_or(options.main_window));
    host.set_night(options.night);
    inspection.start_debugger();
    panels::Panel panel(host, panels::PanelConfig::read_file(panel_path), options.paths, script.scale());
    ::scenario::check_gauges(script, panel);
    inspection.check_gauges(panel.gauge_names());
    check_picture_size(panel);
    Progress progress(options.progress);
    std::vector<std::string> warnings;
    note_sources(panel);
    print_warnings(panel.warnings(), progress, warnings);
    render::PanelRenderer renderer(panel);
    ::scenario::ScenarioRunner runner(
        panel,
        [&](const panels::Panel&, const panels::Panel::Gauge* gauge, const std::string& path) {
            write_picture(gauge != nullptr ? renderer.render(*gauge) : renderer.render(), path, options.out_dir);
            print_warnings(renderer.take_warnings(), progress, warnings);
        },
        progress.lines_to(printed_lines_to(options.json)), runner_reports(progress));
    runner.set_output_dir(options.out_dir);
    runner.set_progress_every(1);
    try {
        runner.run(script);
    } catch (const ::scenario::ScenarioError& error) {
        // What ran up to a failure is what the trace and the coverage are for.
        inspection.finish();
        throw CommandError(ExitStatus::kFailed, error.what());
    } catch (const std::exception& error) {
        if (!runtime::is_stopped_call(error)) inspection.finish();
        throw;
    }
    inspection.finish();
    progress.clear();
    print_warnings(panel.budget_warnings(), progress, warnings);
    report_scenario(options, runner, inspection, panel_path, std::move(warnings), seconds_since(start));
    return ExitStatus::kSuccess;
}

}  // namespace

void note_sources(const panels::Panel& panel) {
    if (!gaugebench::console().verbose()) return;
    for (const std::string& file : panel.source_files()) std::fprintf(stderr, "read %s\n", file.c_str());
}

void check_picture_size(const panels::Panel& panel) {
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
    if (extension.empty() || platform::same_name(extension, ".png")) return;
    throw CommandError(ExitStatus::kUsage,
                       option + " " + path + ": pictures are written as PNG; name the file *.png, not *" + extension);
}

void add_json_summary_option(CLI::App& command, std::string& path) {
    gaugebench::add_json_option(command, path,
                                "also write a summary of what was done as JSON ('-': on stdout, instead of the "
                                "text summary; a scenario's print and echo lines then go to stderr)");
}

void write_json_summary(const std::string& path, const nlohmann::ordered_json& summary) {
    if (path.empty()) return;
    gaugebench::write_text(path, summary.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
}

std::FILE* printed_lines_to(const std::string& json_path) { return json_path == "-" ? stderr : stdout; }

std::FILE* runner_reports(Progress& progress) {
    return progress.lines_to([&progress](const std::string& line) {
        if (line.rfind("warning: ", 0) == 0) {
            progress.line(gaugebench::warning_line(line.substr(9)), stderr);
        } else {
            progress.status(line);
        }
    });
}

void add_scenario_json(const ::scenario::ScenarioRunner& runner, nlohmann::ordered_json& summary) {
    nlohmann::ordered_json printed = nlohmann::ordered_json::array();
    for (const ::scenario::PrintedLine& line : runner.printed()) {
        nlohmann::ordered_json entry = {{"line", line.line}, {"update", line.update}};
        if (line.values.empty()) {
            entry["echo"] = line.echo;
        } else {
            nlohmann::ordered_json values = nlohmann::ordered_json::array();
            for (const ::scenario::PrintedValue& value : line.values) {
                values.push_back({{"variable", value.variable}, {"value", value.value}, {"unit", value.unit}});
            }
            entry["values"] = std::move(values);
        }
        printed.push_back(std::move(entry));
    }
    summary["printed"] = std::move(printed);
    summary["snapshots"] = runner.snapshots();
}

void add_snapshot_files(const ::scenario::Scenario& script, const std::string& out_dir,
                        gaugebench::CommandFiles& files) {
    for (const ::scenario::ScenarioCommand& command : script.commands) {
        if (const auto* snapshot = std::get_if<::scenario::command::Snapshot>(&command.action)) {
            files.write_later(::scenario::snapshot_path(*snapshot, out_dir),
                              script.source + ":" + std::to_string(command.line) + ": snapshot");
        }
    }
}

void write_picture(const render::Image& picture, const std::string& path, const std::string& out_dir) {
    platform::check_output_path(path, out_dir.empty() ? "." : out_dir);
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
        ->type_name("<panel.cfg>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kPanel));
    render_command
        ->add_option("-o,--output", render_options->output, "the picture to write (PNG; '-': standard output)")
        ->required()
        ->type_name("<picture.png>");
    gaugebench::add_scale_option(*render_command, render_options->scale, runtime::GaugeInstance::kMaxScale);
    render_command
        ->add_option("--updates", render_options->updates,
                     "updates before the picture (default " + std::to_string(panels::Panel::kSettleUpdates) + ")")
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
    scenario_command
        ->add_option("file", scenario_options->input,
                     "the scenario ('-': standard input; a shipped one by its name alone: engine_start.txt)")
        ->required()
        ->type_name("<file>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kScenario));
    scenario_command
        ->add_option("--out", scenario_options->out_dir, "directory for the snapshots (default: the current one)")
        ->type_name("<dir>");
    add_module_paths(*scenario_command, *scenario_options);
    commands.push_back({scenario_command, [scenario_options] { return scenario(*scenario_options); }});
}

}  // namespace panel_commands
