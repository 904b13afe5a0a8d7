#include "tools/serve_command.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>

#include "panelhost/panel_config.h"
#include "platform/child_processes.h"
#include "platform/output_file.h"
#include "runtime/module.h"
#include "scenariorun/scenario.h"
#include "scenariorun/scenario_prelude.h"
#include "tools/data_files.h"
#include "tools/feed_options.h"
#include "tools/flight_state.h"
#include "tools/panel_commands.h"
#include "web/live_panel.h"
#include "web/server.h"

namespace {

// SIGINT and SIGTERM are blocked in every thread and taken by this watcher
// with sigtimedwait: a signal handled asynchronously in one of the server's
// threads leaves later joins failing under the i386 user-mode emulator.
class StopWatcher {
public:
    StopWatcher() {
        sigemptyset(&signals_);
        sigaddset(&signals_, SIGINT);
        sigaddset(&signals_, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &signals_, nullptr);
        thread_ = std::thread([this] {
            const timespec poll{0, 200'000'000};
            while (!done_) {
                if (sigtimedwait(&signals_, nullptr, &poll) > 0) {
                    stop = true;
                    // A gauge's callback looping until its budget is spent
                    // would hold the end for seconds.
                    runtime::stop_all_module_calls();
                }
            }
        });
    }
    ~StopWatcher() {
        done_ = true;
        thread_.join();
    }
    std::atomic<bool> stop{false};

private:
    sigset_t signals_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

}  // namespace

namespace {

namespace fs = std::filesystem;

// What the options name, refused before the server starts: the page would
// otherwise be the only place to say so. Throws CommandError, or the
// scenario's error; returns the scenario read.
std::optional<scenario::Scenario> check_before_start(const ServeOptions& options) {
    if (!options.out_dir.empty()) gaugebench::check_output_dir(options.out_dir, "--out");
    if (options.panel == "-" && options.scenario == "-") {
        throw gaugebench::CommandError(gaugebench::ExitStatus::kUsage,
                                       "the panel - and --scenario - cannot both read standard input; name a file");
    }
    gaugebench::check_input_file(options.panel, true);
    if (!options.scenario.empty()) gaugebench::check_input_file(options.scenario, true);
    if (options.watch && (options.panel == "-" || options.scenario == "-")) {
        throw gaugebench::CommandError(gaugebench::ExitStatus::kUsage,
                                       "--watch: standard input ('-') cannot be watched for changes; name a file");
    }
    if (options.edit && options.panel == "-") {
        throw gaugebench::CommandError(gaugebench::ExitStatus::kUsage,
                                       "--edit: a layout read from standard input ('-') cannot be saved; name a file");
    }
    std::optional<scenario::Scenario> scenario;
    if (!options.scenario.empty()) scenario = scenario::Scenario::read_file(options.scenario);
    gaugebench::CommandFiles files;
    gaugebench::add_inspection_files(options.inspection, files);
    files.read(options.panel, "the panel being read");
    files.read(options.scenario, "the scenario being read");
    files.read(options.fdm_script, "the script being flown (--fdm)");
    files.read_modules(options.paths);
    if (scenario) {
        files.read(scenario->panel_path(), "the panel the scenario names");
        panel_commands::add_snapshot_files(*scenario, options.out_dir, files);
    }
    files.check();
    if (options.fdm_script.empty()) return scenario;
    std::error_code error;
    const auto refuse = [](const std::string& what) {
        throw gaugebench::CommandError(gaugebench::ExitStatus::kBadInput, "--fdm: " + what);
    };
    try {
        gaugebench::check_input_file(options.fdm_script);
    } catch (const gaugebench::CommandError& missing) {
        refuse(missing.what());
    }
    if (!fs::is_directory(fs::path(options.aircraft_root) / "aircraft", error))
        refuse(options.aircraft_root + ": not a JSBSim root (no aircraft folder in it)");
    if (access(options.jsbsim.c_str(), X_OK) != 0)
        refuse("no JSBSim at " + options.jsbsim + " (scripts/install-deps.sh installs it)");
    return scenario;
}

web::LiveOptions live_options(const ServeOptions& options) {
    web::LiveOptions live;
    live.panel_path = options.panel;
    live.paths = options.paths;
    live.scale = options.scale;
    live.steady_state = flight_state::apply_cruise;
    if (!options.scenario.empty()) live.prelude = scenario::scenario_prelude(options.scenario, options.out_dir);
    live.main_window = options.main_window;
    live.watch = options.watch;
    // Each reload is a line in the terminal, as it is the page's to show.
    live.report = [](const std::string& line) { std::fprintf(stderr, "gaugebench serve: %s\n", line.c_str()); };
    live.night = options.night;
    live.edit = options.edit;
    return live;
}

// The flight behind the panel, its files in `work_dir`.
flightmodel::FlightRun flight_run(const ServeOptions& options, const fs::path& work_dir) {
    flightmodel::FlightRun run;
    run.jsbsim = options.jsbsim;
    run.root = options.aircraft_root;
    run.script = options.fdm_script;
    run.work_dir = work_dir.string();
    run.timeout_seconds = options.fdm_timeout_seconds;
    run.rate_hz = web::LivePanel::kRateHz;
    return run;
}

// The calls of a gauge the page is shown when the pointer rests on it.
constexpr size_t kRecentCalls = 5;

web::ServerOptions server_options(const ServeOptions& options) {
    web::ServerOptions server;
    server.host = options.host;
    server.port = options.port;
    server.socket_timeout_ms = static_cast<int>(options.client_timeout_seconds * 1000.0);
    server.quiet = gaugebench::console().quiet();
    server.verbose = gaugebench::console().verbose();
    server.allow_no_origin = options.allow_no_origin;
    server.edit = options.edit;
    server.web_root =
        options.web_root.empty() ? gaugebench::data_file(gaugebench::DataFile::kWebRoot) : options.web_root;
    return server;
}

// The server listens before the modules' first calls, which a stop may
// have to cut short; a configuration that does not parse is still refused
// before it listens.
std::vector<std::string> gauges_placed(const std::string& panel_path) {
    const panels::PanelConfig config = panels::PanelConfig::read_file(panel_path);
    std::vector<std::string> gauges;
    for (const panels::PanelWindow& window : config.windows) {
        for (const panels::PanelGauge& gauge : window.gauges) gauges.push_back(gauge.gauge);
    }
    return gauges;
}

}  // namespace

int serve(const ServeOptions& options) {
    std::optional<scenario::Scenario> script;
    std::shared_ptr<feed::FeedSession> feed;
    try {
        script = check_before_start(options);
        feed = gaugebench::open_feed(options.feed, "serve");
    } catch (const std::exception& refused) {
        gaugebench::print_error("gaugebench serve", gaugebench::message_of(refused));
        return static_cast<int>(gaugebench::exit_status_of(refused));
    }
    web::LiveOptions live = live_options(options);
    live.feed = feed;
    std::error_code error;
    fs::path flight_dir;
    if (!options.fdm_script.empty()) {
        flight_dir = fs::temp_directory_path(error) / ("gaugebench-serve-" + std::to_string(::getpid()));
        fs::create_directories(flight_dir, error);
        if (error) {
            gaugebench::print_error("gaugebench serve", "cannot make " + flight_dir.string() + ": " + error.message());
            return static_cast<int>(gaugebench::ExitStatus::kBadInput);
        }
        live.flight = flight_run(options, flight_dir);
    }
    const web::ServerOptions server = server_options(options);
    if (!fs::is_regular_file(fs::path(server.web_root) / "index.html", error)) {
        gaugebench::print_error("gaugebench serve",
                                server.web_root + " holds no index.html (--web-root names the page's directory)");
        return static_cast<int>(gaugebench::ExitStatus::kBadInput);
    }
    int status = 0;
    signal(SIGPIPE, SIG_IGN);
    StopWatcher watcher;
    try {
        if (script && !script->panel_path().empty()) live.panel_path = script->panel_path();
        // The page shows each gauge's latest calls, with --trace or without:
        // at the gauges' rate their cost is nothing the page would notice.
        gaugebench::Inspection inspection(options.inspection, kRecentCalls);
        inspection.check_gauges(gauges_placed(live.panel_path));
        live.trace = inspection.trace();
        web::serve(
            [&live, &inspection] {
                // Before any module code, so the debugger sees it from its first instruction.
                inspection.start_debugger();
                return std::make_unique<web::LivePanel>(live);
            },
            server, watcher.stop, stderr);
        inspection.finish();
    } catch (const std::exception& failure) {
        // Told to end while the panel was being made: an end like any other.
        if (!runtime::is_stopped_call(failure)) {
            gaugebench::print_error("gaugebench serve", gaugebench::message_of(failure));
            status = static_cast<int>(gaugebench::exit_status_of(failure));
        }
    }
    // The model's process group, should the panel's own stop have missed it.
    platform::kill_child_groups();
    if (!flight_dir.empty()) fs::remove_all(flight_dir, error);
    return status;
}

namespace serve_command {

void add(CLI::App& app, gaugebench::Commands& commands) {
    auto options = std::make_shared<ServeOptions>();
    options->panel = gaugebench::data_file(gaugebench::DataFile::kPanel);
    options->aircraft_root = gaugebench::data_file(gaugebench::DataFile::kFdmRoot);
    options->jsbsim = gaugebench::data_file(gaugebench::DataFile::kJsbsim);
    CLI::App* command = app.add_subcommand(
        "serve", "Serve the panel live to a web browser at 18 updates a second, every control usable");
    command
        ->add_option("panel", options->panel,
                     "the panel configuration ('-': standard input; default " + options->panel + ")")
        ->type_name("<panel.cfg>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kPanel));
    command->add_option("--port", options->port, "the port to listen on (default 8080; 0: a free one, printed)")
        ->type_name("<n>")
        ->check(gaugebench::whole_number_within(0, 65535, "a port from 0 (a free one) to 65535"));
    command
        ->add_option("--listen,--host", options->host,
                     "the address to listen on (default 127.0.0.1; 0.0.0.0 for every one)")
        ->type_name("<address>");
    command
        ->add_option("--client-timeout", options->client_timeout_seconds,
                     "seconds before a page that takes no frames is closed (default 10)")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.1, 600.0, "a number of seconds from 0.1 to 600"));
    gaugebench::add_scale_option(*command, options->scale, 4.0);
    command->add_option("--scenario", options->scenario, "a scenario played through before the panel goes live")
        ->type_name("<file>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kScenario));
    command->add_option("--out", options->out_dir, "directory for the scenario's snapshots (default: the current one)")
        ->type_name("<dir>");
    command
        ->add_option("--fdm", options->fdm_script,
                     "a JSBSim script flown live behind the panel; its switches and levers act on the model")
        ->type_name("<script.xml>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kScript));
    command
        ->add_option("--aircraft-root", options->aircraft_root,
                     "JSBSim's root, holding aircraft/ (default " + options->aircraft_root + ")")
        ->type_name("<dir>");
    command->add_option("--jsbsim", options->jsbsim, "the JSBSim program (default " + options->jsbsim + ")")
        ->type_name("<program>");
    command
        ->add_option("--web-root", options->web_root,
                     "the page's files (default " + gaugebench::data_file(gaugebench::DataFile::kWebRoot) + ")")
        ->type_name("<dir>");
    gaugebench::add_module_paths(*command, options->paths);
    gaugebench::add_main_window_option(*command, options->main_window);
    gaugebench::add_night_flag(*command, options->night);
    command->add_flag("--allow-no-origin", options->allow_no_origin,
                      "let clients that name no page (scripts, curl: no browser sends none) operate the panel; "
                      "browsers' pages of other sites stay refused");
    command->add_flag("--watch", options->watch,
                      "make the panel again, keeping its variables, whenever its configuration, a module or a "
                      "background bitmap changes; an edit that does not load leaves it running as it was");
    gaugebench::add_feed_options(*command, options->feed);
    command->add_flag("--edit", options->edit,
                      "let the page lay the panel out (drag, resize, add and remove gauges, window settings) and "
                      "save it over the panel file, keeping <panel>.bak; only from a browser on this machine");
    // A server runs for hours: its trace would grow some gigabytes an hour.
    options->inspection.trace_limit = uint64_t{64} << 20;
    gaugebench::add_inspection_options(*command, options->inspection);
    commands.push_back({command, [options] { return static_cast<gaugebench::ExitStatus>(serve(*options)); }});
}

}  // namespace serve_command
