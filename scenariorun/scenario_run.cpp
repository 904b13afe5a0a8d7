#include "scenariorun/scenario.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <variant>

#include "frame/numbers.h"
#include "frame/vocabulary_names.h"
#include "platform/text_input.h"

namespace scenario {
namespace {

// Pointer moves a drag makes between its two points.
constexpr int kDragSteps = 8;

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

}  // namespace

ScenarioRunner::ScenarioRunner(panels::Panel& panel, SnapshotWriter writer, std::FILE* out, std::FILE* progress)
    : panel_(panel), writer_(std::move(writer)), out_(out), progress_(progress), calculator_(panel.host()) {}

ScenarioRunner::~ScenarioRunner() {
    if (held_ != nullptr) held_->instance->release();
}

const panels::Panel::Gauge& ScenarioRunner::gauge(const std::string& name) const {
    const panels::Panel::Gauge* found = panel_.find(name);
    // run() has checked every name before the first command.
    if (found == nullptr) throw std::logic_error("gauge '" + name + "' not on the panel");
    return *found;
}

bool ScenarioRunner::update_once() {
    step();
    return !ended_;
}

void ScenarioRunner::step() {
    if (ended_) return;
    if (driver_ && !driver_()) {
        ended_ = true;
        ended_at_line_ = line_;
        return;
    }
    // The update's calls into module code, the held box's handler among
    // them, in one entry into the emulator.
    runtime::module_calls_together([this] {
        panel_.host().tick();
        if (faulted_ != nullptr) {
            faulted_->update(panel_);
        } else {
            panel_.update();
        }
        on_held([this] { held_->instance->repeat(); });
    });
    calculator_.set_absolute_time_seconds(calculator_.absolute_time_seconds() + kSecondsPerUpdate);
    ++updates_;
}

// A pointer action on the gauge held; with faulted gauges taken out, one
// that faults lets go and is left alone from then on.
template <typename Action>
void ScenarioRunner::on_held(Action&& action) {
    if (held_ == nullptr) return;
    if (faulted_ == nullptr) {
        action();
    } else if (!faulted_->run(*held_, action)) {
        held_ = nullptr;
    }
}

void ScenarioRunner::press(const GaugePoint& at) {
    held_ = &gauge(at.gauge);
    const double scale = held_->instance->scale();
    on_held([&] {
        held_->instance->press(frame::trunc_to_int32(std::round(at.x * scale)),
                               frame::trunc_to_int32(std::round(at.y * scale)));
    });
}

void ScenarioRunner::release() {
    on_held([this] { held_->instance->release(); });
    held_ = nullptr;
}

namespace {

// The gauge a command presses on or draws (empty: none), and the point pressed.
std::pair<std::string, const GaugePoint*> gauge_used(const ScenarioCommand& command) {
    const GaugePoint* point = nullptr;
    if (const auto* click = std::get_if<command::Click>(&command.action)) point = &click->at;
    if (const auto* drag = std::get_if<command::Drag>(&command.action)) point = &drag->from;
    if (const auto* hold = std::get_if<command::Hold>(&command.action)) point = &hold->at;
    if (point != nullptr) return {point->gauge, point};
    if (const auto* snapshot = std::get_if<command::Snapshot>(&command.action)) return {snapshot->gauge, nullptr};
    return {};
}

}  // namespace

void check_gauges(const Scenario& scenario, const panels::Panel& panel) {
    for (const ScenarioCommand& command : scenario.commands) {
        const std::string name = gauge_used(command).first;
        if (!name.empty() && panel.find(name) == nullptr) {
            throw ScenarioError(
                scenario.source, command.line,
                "no gauge '" + name + "' on the panel" + platform::did_you_mean(name, panel.gauge_names()));
        }
    }
}

void ScenarioRunner::run(const Scenario& scenario) {
    check_gauges(scenario, panel_);
    for (const ScenarioCommand& command : scenario.commands) {
        const auto [name, point] = gauge_used(command);
        if (name.empty()) continue;
        const panels::Panel::Gauge* found = panel_.find(name);
        // Points are background-bitmap pixels: the gauge's extent in them.
        const double width = found->width / found->scale_x(), height = found->height / found->scale_y();
        if (point != nullptr && !(point->x >= 0.0 && point->x < width && point->y >= 0.0 && point->y < height)) {
            warn(scenario.source, command.line,
                 "the point " + number_text(point->x) + ", " + number_text(point->y) + " lies outside gauge '" + name +
                     "' (" + number_text(width) + " x " + number_text(height) + " pixels)");
        }
    }
    for (const ScenarioCommand& command : scenario.commands) {
        if (ended_) break;
        line_ = command.line;
        // A fault of module code names the scenario's line that ran it, as
        // the same fault, so that it is judged as before.
        const auto at = [&](const std::exception& fault) {
            return scenario.source + ":" + std::to_string(command.line) + ": " + fault.what();
        };
        try {
            execute(command, scenario);
        } catch (const runtime::GaugeFault& fault) {
            throw runtime::GaugeFault(at(fault), fault);
        } catch (const runtime::ModuleFault& fault) {
            throw runtime::ModuleFault(fault.kind(), fault.address(), fault.pc(), at(fault));
        }
    }
    line_ = 0;
    // Known only once the run is over: a program may set a name after it was printed.
    for (const auto& [name, line] : printed_) {
        if (!panel_.host().vars().used(name)) {
            warn(scenario.source, line, name + " is printed, but nothing set or read it in the whole run");
        }
    }
}

void ScenarioRunner::warn(const std::string& source, int line, const std::string& what) {
    std::string warning = source + ":" + std::to_string(line) + ": " + what;
    if (progress_ != nullptr) std::fprintf(progress_, "warning: %s\n", warning.c_str());
    warnings_.push_back(std::move(warning));
}

// One function per action, a few lines each, in the order of the scenario
// format's table; panel and scale were settled before the panel was made.
void ScenarioRunner::execute(const ScenarioCommand& command, const Scenario& scenario) {
    std::visit([&](const auto& action) { act(action, command, scenario); }, command.action);
}

void ScenarioRunner::act(const command::Panel&, const ScenarioCommand&, const Scenario&) {}

void ScenarioRunner::act(const command::Scale&, const ScenarioCommand&, const Scenario&) {}

void ScenarioRunner::act(const command::Set& action, const ScenarioCommand&, const Scenario&) {
    runtime::Host& host = panel_.host();
    if (action.variable.token != 0) {
        host.vars().set(action.variable.token, action.value);
    } else {
        host.vars().set(action.variable.name, action.value);
    }
}

bool ScenarioRunner::holds(const command::Until& until) const {
    const runtime::VariableStore& vars = panel_.host().vars();
    double value = 0.0, limit = until.value;
    if (until.variable.token != 0) {
        value = vars.get(until.variable.token);
        // Compared in the unit people read it in, as the condition is written.
        if (const auto named = sim::variable_of(until.variable.token)) {
            value = named->entry->reading.from_host(value);
            limit = named->entry->reading.from_host(limit);
        }
    } else {
        const auto it = vars.names().find(until.variable.name);
        value = it != vars.names().end() ? it->second : 0.0;
    }
    switch (until.compare) {
        case command::Until::kAbove: return value > limit;
        case command::Until::kAtLeast: return value >= limit;
        case command::Until::kBelow: return value < limit;
        case command::Until::kAtMost: return value <= limit;
    }
    return false;
}

void ScenarioRunner::act(const command::Update& action, const ScenarioCommand& command, const Scenario& scenario) {
    for (uint32_t i = 1; i <= action.count && !ended_; ++i) {
        if (action.until && holds(*action.until)) return;
        step();
        if (progress_ != nullptr && progress_every_ != 0 && updates_ % progress_every_ == 0) {
            std::fprintf(progress_, "%s:%d: %llu update%s run\n", scenario.source.c_str(), command.line,
                         static_cast<unsigned long long>(updates_), updates_ == 1 ? "" : "s");
        }
    }
    if (action.until && !ended_ && !holds(*action.until)) {
        warn(scenario.source, command.line,
             "'" + action.until->text + "' did not come true in " + std::to_string(action.count) + " updates");
    }
}

void ScenarioRunner::act(const command::Click& action, const ScenarioCommand&, const Scenario&) {
    press(action.at);
    release();
}

void ScenarioRunner::act(const command::Drag& action, const ScenarioCommand&, const Scenario&) {
    press(action.from);
    const double scale = gauge(action.from.gauge).instance->scale();
    for (int i = 1; i <= kDragSteps; ++i) {
        const double t = static_cast<double>(i) / kDragSteps;
        const double x = action.from.x + (action.to_x - action.from.x) * t;
        const double y = action.from.y + (action.to_y - action.from.y) * t;
        on_held([&] {
            held_->instance->move(frame::trunc_to_int32(std::round(x * scale)),
                                  frame::trunc_to_int32(std::round(y * scale)));
        });
    }
    release();
}

void ScenarioRunner::act(const command::Hold& action, const ScenarioCommand&, const Scenario&) {
    press(action.at);
    for (uint32_t i = 0; i < action.updates && !ended_; ++i) step();
    release();
}

void ScenarioRunner::act(const command::Key& action, const ScenarioCommand&, const Scenario&) {
    panel_.host().send_key_event(action.event, action.value);
}

void ScenarioRunner::act(const command::Fail& action, const ScenarioCommand&, const Scenario&) {
    panel_.host().fail(action.key);
}

void ScenarioRunner::act(const command::Restore& action, const ScenarioCommand&, const Scenario&) {
    panel_.host().restore(action.key);
}

void ScenarioRunner::act(const command::Print& action, const ScenarioCommand& command, const Scenario&) {
    runtime::Host& host = panel_.host();
    std::fprintf(out_, "[update %llu]", static_cast<unsigned long long>(updates_));
    PrintedLine& printed = printed_lines_.emplace_back(PrintedLine{command.line, updates_, {}, {}});
    for (const VariableRef& variable : action.variables) {
        if (variable.token != 0) {
            const double value = host.vars().get(variable.token);
            std::fprintf(out_, "  %s", sim::describe_token(variable.token, value).c_str());
            if (const auto named = sim::variable_of(variable.token)) {
                const sim::unit::Reading& reading = named->entry->reading;
                printed.values.push_back({named->name, reading.from_host(value), reading.unit});
            } else {
                printed.values.push_back({variable.text(), value, ""});
            }
            continue;
        }
        // Read past the store's record of readers: a print is no gauge's use.
        const auto& names = host.vars().names();
        const auto it = names.find(variable.name);
        printed_.emplace(variable.name, command.line);
        const double value = it != names.end() ? it->second : 0.0;
        std::fprintf(out_, "  %s = %g", variable.name.c_str(), value);
        printed.values.push_back({variable.name, value, ""});
    }
    std::fprintf(out_, "\n");
    std::fflush(out_);
}

void ScenarioRunner::act(const command::Snapshot& action, const ScenarioCommand& command, const Scenario& scenario) {
    if (!writer_) throw ScenarioError(scenario.source, command.line, "this build cannot draw snapshots");
    const std::filesystem::path path(snapshot_path(action, output_dir_));
    if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
    writer_(panel_, action.gauge.empty() ? nullptr : &gauge(action.gauge), path.string());
    snapshots_.push_back(path.string());
    if (progress_ != nullptr) {
        std::fprintf(progress_, "%s:%d: wrote %s\n", scenario.source.c_str(), command.line, path.string().c_str());
    }
}

void ScenarioRunner::act(const command::Echo& action, const ScenarioCommand& command, const Scenario&) {
    printed_lines_.push_back({command.line, updates_, {}, action.text});
    std::fprintf(out_, "%s\n", action.text.c_str());
    std::fflush(out_);
}

void ScenarioRunner::act(const command::MainWindow& action, const ScenarioCommand&, const Scenario&) {
    panel_.host().set_main_window(action.open);
}

void ScenarioRunner::act(const command::Night& action, const ScenarioCommand&, const Scenario&) {
    panel_.host().set_night(action.on);
}

}  // namespace scenario
