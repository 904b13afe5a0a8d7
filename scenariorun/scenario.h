// Scripted bench sessions: a small text format of commands that set
// variables, advance updates, work the mouse on gauges, send key events,
// fail and restore failures, open and close the simulator's main window,
// print variables and take snapshots (docs/scenarios.md describes the
// format).
//
// Parsing checks every line before anything runs; a bad line gives
// ScenarioError with its line number (a snapshot must be a .png inside the
// output directory). Gauge names are checked against the panel when the run
// starts, also with their line numbers. Files are read as read_text_file reads.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "panelhost/faulted_gauges.h"
#include "panelhost/panel.h"
#include "runtime/host.h"
#include "runtime/host_calculator.h"

namespace scenario {

class ScenarioError : public std::runtime_error {
public:
    ScenarioError(const std::string& source, int line, const std::string& what);
    int line() const { return line_; }

private:
    int line_;
};

// A simulator variable by token ("61" or its vocabulary name, "airspeed") or
// by a program's name ("L:Bombs_dropped").
struct VariableRef {
    uint32_t token = 0;  // 0: named
    std::string name;
    // The vocabulary's name for the token where it has one, else its number;
    // or the program's name.
    std::string text() const;
};

// A point on a gauge, in its background bitmap's pixels.
struct GaugePoint {
    std::string gauge;
    double x = 0.0, y = 0.0;
};

namespace command {
struct Panel {
    std::string path;
};  // panel <file>: relative to the scenario
struct Scale {
    double scale = 1.0;
};  // scale <s>: display scale of the panel
struct Set {
    VariableRef variable;
    double value = 0.0;
};
// A condition on a variable that an update waits for: the value is in the
// host's unit, as a set's.
struct Until {
    VariableRef variable;
    enum Compare { kAbove, kAtLeast, kBelow, kAtMost } compare = kAbove;
    double value = 0.0;
    std::string text;  // the condition as written: "throttle.1 > 56"
};
struct Update {
    uint32_t count = 1;               // the most run, with `until`
    std::optional<Until> until;       // update <n> until <variable> <op> <value>: stops once it holds
};
struct Click {
    GaugePoint at;
};
struct Drag {
    GaugePoint from;
    double to_x = 0.0, to_y = 0.0;
};
struct Hold {
    GaugePoint at;
    uint32_t updates = 0;
};
struct Key {
    uint32_t event = 0;
    uint32_t value = 0;
};
struct Fail {
    uint32_t key = 0;
};
struct Restore {
    uint32_t key = 0;
};
struct Print {
    std::vector<VariableRef> variables;
};
struct Snapshot {
    std::string path;
    std::string gauge;
};  // gauge empty: the whole panel
struct Echo {
    std::string text;
};
struct MainWindow {
    bool open = false;
};  // main-window open|closed
struct Night {
    bool on = false;
};  // night on|off
}  // namespace command

using ScenarioAction =
    std::variant<command::Panel, command::Scale, command::Set, command::Update, command::Click, command::Drag,
                 command::Hold, command::Key, command::Fail, command::Restore, command::Print, command::Snapshot,
                 command::Echo, command::MainWindow, command::Night>;

struct ScenarioCommand {
    int line = 0;
    ScenarioAction action;
};

struct Scenario {
    std::string source;
    std::vector<ScenarioCommand> commands;

    static Scenario parse(std::string_view text, const std::string& source);
    static Scenario read_file(const std::string& path);  // ScenarioError (line 0) if unreadable

    // The panel the scenario names (its first `panel` command, resolved
    // against the scenario file's directory), or empty.
    std::string panel_path() const;
    int panel_line() const;  // the line of that `panel` command, or 0
    double scale() const;    // its `scale` command, or 1
    // The main window's state as its `main-window` lines before the first
    // action leave it, or nullopt: the state to set up the panel in, since
    // gauges ask for the window at set-up.
    std::optional<bool> main_window_at_start() const;
};

// Where a snapshot line writes its picture: `output_dir`/<file> (as given
// when `output_dir` is empty).
std::string snapshot_path(const command::Snapshot& snapshot, const std::string& output_dir);

// Refuses a scenario that names a gauge the panel lacks (ScenarioError with
// the line), before anything runs: commands check before their other work.
void check_gauges(const Scenario& scenario, const panels::Panel& panel);

// A line a scenario printed (`print` or `echo`), as programs read it: the
// scenario's line, the updates run before it, and either the values printed
// (a named token's in the unit people read it in) or the echoed text.
struct PrintedValue {
    std::string variable;  // as printed: the vocabulary's name, a token's number, a program's name
    double value = 0.0;
    std::string unit;  // empty: as the host keeps it
};
struct PrintedLine {
    int line = 0;
    uint64_t update = 0;
    std::vector<PrintedValue> values;  // print
    std::string echo;                  // echo
};

// Runs a scenario against a panel. One update is: the host's model steps
// (Host::tick), every gauge of the panel updates, the held button repeats.
// The calculator's absolute time advances kSecondsPerUpdate per update.
class ScenarioRunner {
public:
    static constexpr double kSecondsPerUpdate = runtime::Host::kSecondsPerUpdate;

    // Renders a snapshot: the panel (gauge null) or one gauge, to `path`.
    using SnapshotWriter =
        std::function<void(const panels::Panel& panel, const panels::Panel::Gauge* gauge, const std::string& path)>;

    ScenarioRunner(panels::Panel& panel, SnapshotWriter writer, std::FILE* out = stdout, std::FILE* progress = stderr);
    ~ScenarioRunner();

    // Snapshot paths are taken relative to this directory (empty: as given).
    void set_output_dir(const std::string& dir) { output_dir_ = dir; }
    // A progress line to `progress` every this many updates (0: none).
    void set_progress_every(uint32_t updates) { progress_every_ = updates; }
    // Without this a GaugeFault ends the run; with it the gauge is taken out
    // of the panel (into `faulted`) and the run goes on without it.
    void set_faulted(panels::FaultedGauges* faulted) { faulted_ = faulted; }

    // Something outside the panel that moves with it, such as a flight
    // model: called at the start of every update, before the host's model
    // steps. Once it returns false (the flight is over) no update runs any
    // more and the run ends at the command it reached.
    using Driver = std::function<bool()>;
    void set_driver(Driver driver) { driver_ = std::move(driver); }
    // The line of the command the driver ended the run at (0: it did not).
    int ended_at_line() const { return ended_at_line_; }
    // One update outside any command, as after the scenario's end; false
    // once the driver has ended.
    bool update_once();

    // Checks every gauge name first (ScenarioError with the line), then runs
    // the commands in order. A fault of module code ends the run as the
    // GaugeFault or ModuleFault it was, its message starting with the file
    // and line of the command that ran the code ("fault.txt:6: ...").
    void run(const Scenario& scenario);

    // "file:line: ..." of what ran but was probably not meant (a press outside
    // its gauge; at the end, a print of a variable nothing set or read), in
    // order; each is also written to the progress stream as it arises.
    const std::vector<std::string>& warnings() const { return warnings_; }

    uint64_t updates_run() const { return updates_; }
    const runtime::HostCalculator& calculator() const { return calculator_; }
    // Snapshot files written, in order.
    const std::vector<std::string>& snapshots() const { return snapshots_; }
    // The lines print and echo wrote, in order.
    const std::vector<PrintedLine>& printed() const { return printed_lines_; }

private:
    void step();
    const panels::Panel::Gauge& gauge(const std::string& name) const;
    void execute(const ScenarioCommand& command, const Scenario& scenario);
    // One per action, each with the command and scenario it came from.
    void act(const command::Panel& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Scale& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Set& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Update& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Click& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Drag& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Hold& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Key& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Fail& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Restore& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Print& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Snapshot& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Echo& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::MainWindow& action, const ScenarioCommand& command, const Scenario& scenario);
    void act(const command::Night& action, const ScenarioCommand& command, const Scenario& scenario);
    bool holds(const command::Until& until) const;
    void press(const GaugePoint& at);
    // Lets go of the gauge pressed, if it is still held.
    void release();
    template <typename Action>
    void on_held(Action&& action);
    void warn(const std::string& source, int line, const std::string& what);

    panels::Panel& panel_;
    SnapshotWriter writer_;
    std::FILE* out_;
    std::FILE* progress_;
    runtime::HostCalculator calculator_;
    std::string output_dir_;
    uint32_t progress_every_ = 100;
    uint64_t updates_ = 0;
    const panels::Panel::Gauge* held_ = nullptr;
    panels::FaultedGauges* faulted_ = nullptr;
    Driver driver_;
    bool ended_ = false;
    int ended_at_line_ = 0;
    int line_ = 0;
    std::vector<std::string> snapshots_;
    std::vector<PrintedLine> printed_lines_;
    std::vector<std::string> warnings_;
    std::map<std::string, int> printed_;  // named variables printed, with the first line printing each
};

}  // namespace scenario
