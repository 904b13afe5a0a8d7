#include "tools/record_command.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <thread>

#include "panelhost/panel_config.h"
#include "platform/output_file.h"
#include "platform/text_input.h"
#include "runtime/host.h"
#include "scenariorun/scenario_writer.h"
#include "tools/data_files.h"
#include "tools/feed_options.h"
#include "tools/flight_state.h"
#include "tools/progress.h"

namespace record_command {
namespace {

namespace fs = std::filesystem;
using gaugebench::CommandError;
using gaugebench::ExitStatus;
using Clock = std::chrono::steady_clock;

struct Options {
    feed::FeedOptions feed;
    double seconds = 0.0;
    std::string output;
    std::string panel;
    double wait_seconds = 30.0;
    gaugebench::Progress::Mode progress = gaugebench::Progress::Mode::kAuto;
};

// The panel as the scenario names it: relative to the scenario's folder, as
// the reader resolves it (to the working folder for standard output), so
// the two can move together; from the root where they share no folder.
std::string panel_as_named(const std::string& panel, const std::string& output) {
    const fs::path to = fs::weakly_canonical(fs::absolute(panel));
    const fs::path from = fs::weakly_canonical(output == "-" ? fs::current_path() : fs::absolute(output).parent_path());
    const auto first_folder = [](const fs::path& path) {
        auto part = path.relative_path().begin();
        return part == path.relative_path().end() ? fs::path() : *part;
    };
    const fs::path relative = to.lexically_relative(from);
    if (relative.empty() || first_folder(to) != first_folder(from)) return to.generic_string();
    return relative.generic_string();
}

std::string local_time_text() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The bytes a scenario may hold, less room for the last updates' lines.
constexpr uint64_t kLargestRecording = platform::kMaxTextFileBytes - 4096;

// Until the first packet comes, the wait shown; past `wait_seconds` an error
// that says what did come, if anything.
void wait_for_first_packet(feed::FeedSession& session, runtime::VariableStore& vars, double wait_seconds,
                           gaugebench::Progress& progress) {
    const auto waiting_since = Clock::now();
    while (!session.update(vars)) {
        const double waited = seconds_since(waiting_since);
        if (waited >= wait_seconds) {
            const feed::LinkStatus status = session.status();
            char wait[32];
            std::snprintf(wait, sizeof wait, "%g", wait_seconds);
            std::string why = "no FlightGear FDM packet came to " + status.listening + " in " + wait +
                              " s (--wait): is the simulator sending there (README, Beside your simulator)?";
            if (status.malformed > 0)
                why += " " + gaugebench::counted(status.malformed, "malformed packet") + " came, the last " +
                       status.last_error;
            if (status.refused > 0)
                why += " " + gaugebench::counted(status.refused, "packet") + " came from " + status.peer +
                       ", another machine (--feed-anywhere takes them)";
            throw CommandError(ExitStatus::kFailed, why);
        }
        progress.status("record: waiting for packets on " + session.status().listening + " (" +
                        std::to_string(static_cast<int>(waited)) + " s)");
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// The recording's opening comment: when, what and how to replay it.
std::vector<std::string> heading(const Options& options, const feed::LinkStatus& first) {
    char length[32];
    std::snprintf(length, sizeof length, "%g", options.seconds);
    return {"Recorded by gaugebench record on " + local_time_text() + ": " + length +
                " s of the FlightGear FDM packets " + first.peer + " sent to " + first.listening + ",",
            "at the panel's " + std::to_string(runtime::Host::kUpdatesPerSecond) +
                " updates a second. The values no packet carries are the bench's cruise, as",
            "serve shows them beside a feed. Replay: gaugebench scenario " +
                (options.output == "-" ? std::string("<file>") : fs::path(options.output).filename().string())};
}

// The updates at the panel's rate, each with the feed's latest values;
// whether the recording stopped for being as large as a scenario may be.
template <typename Say>
bool record_updates(feed::FeedSession& session, runtime::VariableStore& vars, scenario::ScenarioWriter& writer,
                    const bool& written, const Options& options, gaugebench::Progress& progress, const Say& say) {
    const auto updates = static_cast<uint64_t>(std::llround(options.seconds * runtime::Host::kUpdatesPerSecond));
    const auto start = Clock::now();
    const auto period = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(1.0 / runtime::Host::kUpdatesPerSecond));
    for (uint64_t update = 0; update < updates; ++update) {
        if (update > 0) {
            std::this_thread::sleep_until(start + period * static_cast<int64_t>(update));
            session.update(vars);
        }
        writer.update(vars);
        if (!written) return false;
        if (const std::string line = session.change_line(); !line.empty()) say(line);
        if (writer.bytes() >= kLargestRecording) return true;
        progress.status(gaugebench::seconds_done("record",
                                                 static_cast<double>(update + 1) / runtime::Host::kUpdatesPerSecond,
                                                 options.seconds, seconds_since(start)) +
                        "; feed " + feed::status_text(session.status()));
    }
    return false;
}

void tell_recorded(const Options& options, const std::string& name, double recorded, bool full,
                   const feed::LinkStatus& last) {
    if (full) {
        gaugebench::print_warning(name + ": the recording stopped at " + std::to_string(std::lround(recorded)) +
                                  " s, as large a scenario as the bench reads (" +
                                  std::to_string(platform::kMaxTextFileBytes >> 20) + " MiB)");
    }
    if (!gaugebench::console().quiet()) {
        std::fprintf(stderr, "%s: %.1f s recorded, %s from %s (%s malformed)%s\n", name.c_str(), recorded,
                     gaugebench::counted(last.packets, "packet").c_str(), last.peer.c_str(),
                     std::to_string(last.malformed).c_str(),
                     options.output == "-" ? "" : ("; replay: gaugebench scenario " + options.output).c_str());
    }
}

ExitStatus record(const Options& options) {
    gaugebench::CommandFiles files;
    files.write(options.output, "-o");
    gaugebench::check_input_file(options.panel);
    files.read(options.panel, "the panel the scenario names (--panel)");
    files.check();
    // A panel that does not read is said now, not when the recording is replayed.
    (void)panels::PanelConfig::read_file(options.panel);
    const std::string panel = panel_as_named(options.panel, options.output);

    const std::shared_ptr<feed::FeedSession> session = gaugebench::open_feed(options.feed, "record");
    gaugebench::Progress progress(options.progress);
    const auto say = [&progress](const std::string& line) {
        if (!gaugebench::console().quiet()) progress.line("gaugebench record: " + line, stderr);
    };
    // What no packet carries keeps the values serve shows beside a feed.
    runtime::VariableStore vars;
    for (const flight_state::Setting& setting : flight_state::cruise()) vars.set(setting.token, setting.value);

    wait_for_first_packet(*session, vars, options.wait_seconds, progress);
    if (const std::string line = session->change_line(); !line.empty()) say(line);

    std::unique_ptr<platform::OutputFile> file;
    std::FILE* out = stdout;
    if (options.output != "-") {
        try {
            file = std::make_unique<platform::OutputFile>(options.output);
        } catch (const std::exception& refused) {
            throw CommandError(ExitStatus::kBadInput, refused.what());
        }
        out = file->file();
    }
    bool written = true;
    scenario::ScenarioWriter writer([out, &written](std::string_view text) {
        written = written && std::fwrite(text.data(), 1, text.size(), out) == text.size();
    });
    writer.start(panel, heading(options, session->status()), vars);
    const bool full = record_updates(*session, vars, writer, written, options, progress, say);
    writer.finish();
    progress.clear();
    const std::string name = options.output == "-" ? std::string("standard output") : options.output;
    if (!written || std::fflush(out) != 0) throw CommandError(ExitStatus::kBadInput, name + ": could not be written");
    if (file) {
        try {
            file->commit();
        } catch (const std::exception& failed) {
            throw CommandError(ExitStatus::kBadInput, failed.what());
        }
    }
    tell_recorded(options, name, static_cast<double>(writer.updates()) / runtime::Host::kUpdatesPerSecond, full,
                  session->status());
    return ExitStatus::kSuccess;
}

}  // namespace

void add(CLI::App& app, gaugebench::Commands& commands) {
    auto options = std::make_shared<Options>();
    options->panel = gaugebench::data_file(gaugebench::DataFile::kPanel);
    CLI::App* command = app.add_subcommand(
        "record",
        "Record what a simulator sends (FlightGear FDM packets) as a scenario that scenario and serve replay");
    gaugebench::add_feed_options(*command, options->feed, false);
    command->get_option("--feed")->required()->description(
        "the FlightGear FDM packets (version 24, UDP) to record, on this port (FlightGear "
        "--native-fdm, JSBSim's FLIGHTGEAR output); HOST is loopback unless named");
    command->add_option("--seconds", options->seconds, "how long to record, from the first packet")
        ->required()
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.1, 86400.0, "seconds, from 0.1 to 86400"));
    command->add_option("-o,--output", options->output, "the scenario to write ('-': standard output)")
        ->required()
        ->type_name("<file>")
        ->check(gaugebench::output_name());
    command->add_option("--panel", options->panel, "the panel the scenario names (default " + options->panel + ")")
        ->type_name("<panel.cfg>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kPanel));
    command->add_option("--wait", options->wait_seconds, "seconds to wait for the first packet (default 30)")
        ->type_name("<s>")
        ->check(gaugebench::number_within(0.1, 86400.0, "seconds, from 0.1 to 86400"));
    gaugebench::add_progress_options(*command, options->progress);
    commands.push_back({command, [options] { return record(*options); }});
}

}  // namespace record_command
