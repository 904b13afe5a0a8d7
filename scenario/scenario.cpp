#include "scenario/scenario.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <type_traits>

#include "frame/numbers.h"
#include "frame/records.h"
#include "frame/vocabulary_names.h"
#include "platform/text_input.h"

namespace scenario {
namespace {

constexpr uint32_t kMaxUpdates = 10'000'000;
// Pointer moves a drag makes between its two points.
constexpr int kDragSteps = 8;

// The words of a line, up to its comment: blanks part them, and double
// quotes keep blanks and '#' inside a word (panel "my panel.cfg").
std::vector<std::string> words(std::string_view line, const std::string& source, int number) {
    std::vector<std::string> out;
    std::string word;
    bool in_word = false;
    std::optional<size_t> quote;  // where the open quote stands
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quote) {
            if (c == '"') {
                quote.reset();
            } else {
                word += c;
            }
        } else if (c == '"') {
            quote = i;
            in_word = true;
        } else if (c == '#') {
            break;
        } else if (std::isspace(static_cast<unsigned char>(c)) != 0) {
            if (in_word) out.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else {
            word += c;
            in_word = true;
        }
    }
    if (quote) {
        throw ScenarioError(
            source, number,
            "unterminated quote: the '\"' at column " + std::to_string(*quote + 1) + " has no closing one");
    }
    if (in_word) out.push_back(std::move(word));
    return out;
}

std::string_view first_word(std::string_view line) {
    const auto blank = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    const auto start = std::find_if_not(line.begin(), line.end(), blank);
    return {start, std::find_if(start, line.end(), blank)};
}

class LineParser {
public:
    LineParser(const std::string& source, int line, std::vector<std::string> words)
        : source_(source), line_(line), words_(std::move(words)) {}

    [[noreturn]] void fail(const std::string& what) const { throw ScenarioError(source_, line_, what); }

    const std::string& command() const { return words_[0]; }

    void expect_count(size_t count, const char* usage) const {
        if (words_.size() != count) fail(std::string("usage: ") + usage);
    }

    const std::string& word(size_t index) const { return words_.at(index); }
    size_t size() const { return words_.size(); }

    double number(size_t index, const char* what) const {
        const std::string& text = words_.at(index);
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || *end != '\0' || !std::isfinite(value))
            fail(std::string(what) + " '" + text + "' is not a number");
        return value;
    }

    uint32_t whole(size_t index, const char* what, double low, double high) const {
        const double value = number(index, what);
        if (value != std::floor(value) || value < low || value > high) {
            fail(std::string(what) + " '" + words_.at(index) + "' must be a whole number from " +
                 std::to_string(static_cast<long long>(low)) + " to " + std::to_string(static_cast<long long>(high)));
        }
        return static_cast<uint32_t>(static_cast<int64_t>(value));
    }

    VariableRef variable(size_t index) const {
        const std::string& text = words_.at(index);
        VariableRef ref;
        if (std::isdigit(static_cast<unsigned char>(text[0])) != 0) {
            ref.token = whole(index, "variable token", 1, 4294967295.0);
        } else if (text.find(':') != std::string::npos && text.size() > 2) {
            ref.name = text;
        } else {
            ref.token = vocabulary_variable(index).number;
        }
        return ref;
    }

    // A value for `set`, in the host's unit. Without a unit it is in the unit
    // people read the variable in when it is named, in the host's own for a
    // token number or a program's name; with one (180 kt, 180kt), any
    // spelling of the variable's unit, by name or number. A variable of the
    // vocabulary takes values within its range only.
    double set_value(const VariableRef& ref, size_t variable, size_t value) const {
        const auto [given, unit] = number_and_unit(value, "value");
        const std::string& name = words_.at(variable);
        const std::optional<sim::Variable> named = ref.token != 0 ? sim::variable_of(ref.token) : std::nullopt;
        if (!named) {
            if (!unit.empty()) {
                fail((ref.token != 0 ? "token " + name + " has no name in the vocabulary"
                                     : name + " is a program's variable") +
                     ", so it takes a plain number, without a unit, not '" + unit + "'");
            }
            return given;
        }
        const sim::unit::Reading& reading = named->entry->reading;
        const sim::Range& range = named->entry->range;
        const bool by_number = std::isdigit(static_cast<unsigned char>(name[0])) != 0;
        if (by_number && unit.empty()) {
            if (!sim::within(range, reading.from_host(given))) {
                const sim::Range host{reading.to_host(range.low), reading.to_host(range.high)};
                fail("token " + name + " (" + named->name + ") takes " + sim::range_text(host) +
                     " as the host keeps it (" + sim::range_text(range) + in_words(reading, ", ") + " by name), not " +
                     words_.at(value));
            }
            return given;
        }
        std::optional<double> read =
            unit.empty() ? std::optional<double>(given) : sim::in_reading_unit(given, unit, reading);
        if (!read) {
            const std::string spellings = sim::spellings_text(reading);
            fail(named->name +
                 (spellings.empty()
                      ? " has no unit: it takes a plain number"
                      : " takes a value in " + std::string(sim::unit_of(reading.unit)->name) + " (" + spellings + ")") +
                 ", not one in '" + unit + "'");
        }
        if (!sim::within(range, *read)) {
            fail(named->name + " takes " + sim::range_text(range) + in_words(reading, " (", ")") + ", not " +
                 given_text(value));
        }
        return reading.to_host(*read);
    }

    uint32_t event(size_t index) const {
        const std::string& text = words_.at(index);
        if (std::isdigit(static_cast<unsigned char>(text[0])) != 0) return whole(index, "event id", 1, 4294967295.0);
        if (const std::optional<sim::Event> named = sim::find_event(text)) return named->number;
        fail("unknown event '" + text + "'" +
             or_hint(text, sim::event_names(), "an event id or a name such as bomb_released"));
    }

    // A failure key by number, or by the name `list` shows it under
    // (airspeed, electrics), letter case aside.
    uint32_t failure(size_t index) const {
        const std::string& text = words_.at(index);
        if (std::isdigit(static_cast<unsigned char>(text[0])) != 0 || text[0] == '-' || text[0] == '+')
            return whole(index, "failure key", 1, 4294967295.0);
        std::vector<std::string> names;
        for (const NumberedName& named : kFailureKeyNames) {
            if (platform::same_name(text, named.name)) return named.number;
            names.push_back(named.name);
        }
        std::string listed;
        for (size_t i = 0; i < names.size(); ++i) {
            listed += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
        }
        const std::string near = platform::did_you_mean(text, names);
        fail("unknown failure '" + text + "'" + (near.empty() ? ": expected a failure key or " + listed : near));
    }

    GaugePoint point(size_t index) const { return {gauge_name(index), number(index + 1, "x"), number(index + 2, "y")}; }

    const std::string& gauge_name(size_t index) const {
        if (words_.at(index).empty()) fail("the gauge's name is empty");
        return words_[index];
    }

    void keyword(size_t index, const char* expected, const char* usage) const {
        if (words_.at(index) != expected) fail(std::string("usage: ") + usage);
    }

private:
    // A number and the unit after it, in its word (180kt) or the words after
    // it (7 lb/in²), or empty.
    std::pair<double, std::string> number_and_unit(size_t index, const char* what) const {
        const std::string& text = words_.at(index);
        char* end = nullptr;
        const double value = std::strtod(text.c_str(), &end);
        if (end == text.c_str() || !std::isfinite(value)) fail(std::string(what) + " '" + text + "' is not a number");
        std::string unit = end;
        unit.erase(0, unit.find_first_not_of(" \t"));  // a quoted "180 kt"
        for (size_t i = index + 1; i < words_.size(); ++i) unit += (unit.empty() ? "" : " ") + words_[i];
        return {value, unit};
    }

    // The value as written: its word and any after it.
    std::string given_text(size_t index) const {
        std::string text = words_.at(index);
        for (size_t i = index + 1; i < words_.size(); ++i) text += " " + words_[i];
        return text;
    }

    // "(fraction of full)": the reading's unit by name, between the two texts; nothing for a plain number.
    static std::string in_words(const sim::unit::Reading& reading, const char* before, const char* after = "") {
        const sim::unit::Unit* unit = sim::unit_of(reading.unit);
        return unit != nullptr ? before + std::string(unit->name) + after : std::string();
    }

    sim::Variable vocabulary_variable(size_t index) const {
        const std::string& text = words_.at(index);
        if (std::optional<sim::Variable> named = sim::find_variable(text)) return *named;
        fail("unknown variable '" + text + "'" +
             or_hint(text, sim::variable_names(),
                     "a token number, a name such as airspeed or engine_speed.1, or a program's such as "
                     "L:Bombs_dropped"));
    }

    // The nearest name when one is a likely slip, else what was expected.
    static std::string or_hint(const std::string& text, const std::vector<std::string>& names, const char* expected) {
        const std::string near = platform::did_you_mean(text, names);
        return near.empty() ? std::string(": expected ") + expected + " (docs/scenarios.md lists the names)" : near;
    }

    const std::string& source_;
    int line_;
    std::vector<std::string> words_;
};

std::string number_text(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

// Snapshots are PNG files under the output directory: a name that promises
// another format, or a path that climbs out of the directory, is refused.
void check_snapshot_path(const LineParser& p, const std::string& file) {
    if (file.empty()) p.fail("snapshot: the picture's file name is empty");
    const size_t dot = file.find_last_of('.');
    const size_t separator = file.find_last_of("/\\");
    if (dot == std::string::npos || (separator != std::string::npos && dot < separator) ||
        !platform::same_name(std::string_view(file).substr(dot), ".png")) {
        p.fail("snapshot '" + file + "': pictures are written as PNG; expected a file name ending in .png");
    }
    const bool drive = file.size() >= 2 && file[1] == ':';
    if (file.front() == '/' || file.front() == '\\' || drive) {
        p.fail("snapshot '" + file + "': expected a path relative to the output directory, not an absolute one");
    }
    size_t start = 0;
    for (;;) {
        const size_t end = file.find_first_of("/\\", start);
        if (file.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0) {
            p.fail("snapshot '" + file + "': expected a path inside the output directory, without '..'");
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
}

// One branch per scenario command, a few lines each, in the order
// docs/scenarios.md lists them.
ScenarioAction parse_action(const LineParser& p, const std::string& rest_of_line) {
    const std::string& c = p.command();
    if (c == "panel") {
        p.expect_count(2, "panel <panel.cfg> (quoted if its name has blanks)");
        if (p.word(1).empty()) p.fail("panel: the name of the panel configuration is empty");
        return command::Panel{p.word(1)};
    }
    if (c == "scale") {
        p.expect_count(2, "scale <display scale>");
        const double scale = p.number(1, "scale");
        if (!(scale > 0.0 && scale <= runtime::GaugeInstance::kMaxScale))
            p.fail("scale must lie above 0 and at most 16, not " + p.word(1));
        return command::Scale{scale};
    }
    if (c == "set") {
        if (p.size() < 3) p.fail("usage: set <token or name> <value> [unit]");
        VariableRef variable = p.variable(1);
        const double value = p.set_value(variable, 1, 2);
        return command::Set{std::move(variable), value};
    }
    if (c == "update") {
        if (p.size() == 1) return command::Update{1};
        p.expect_count(2, "update [count]");
        return command::Update{p.whole(1, "update count", 1, kMaxUpdates)};
    }
    if (c == "click") {
        p.expect_count(4, "click <gauge> <x> <y>");
        return command::Click{p.point(1)};
    }
    if (c == "drag") {
        constexpr const char* kUsage = "drag <gauge> <x> <y> to <x> <y>";
        p.expect_count(7, kUsage);
        p.keyword(4, "to", kUsage);
        return command::Drag{p.point(1), p.number(5, "x"), p.number(6, "y")};
    }
    if (c == "hold") {
        constexpr const char* kUsage = "hold <gauge> <x> <y> for <updates>";
        p.expect_count(6, kUsage);
        p.keyword(4, "for", kUsage);
        return command::Hold{p.point(1), p.whole(5, "hold count", 1, kMaxUpdates)};
    }
    if (c == "key") {
        if (p.size() != 2 && p.size() != 3) p.fail("usage: key <event id or name> [value]");
        const uint32_t event = p.event(1);
        if (const std::optional<sim::Event> named = sim::event_of(event); named && p.size() == 3) {
            const sim::EventValue& carried = named->entry->value;
            if (carried.unit == nullptr) p.fail(named->name + " carries no value, not '" + p.word(2) + "'");
            const double value = p.number(2, "event value");
            if (value != std::floor(value) || !sim::within(carried.range, value)) {
                p.fail(named->name + " takes a whole number from " + sim::range_text(carried.range) + " (" +
                       carried.unit + "), not " + p.word(2));
            }
        }
        // Values are 32-bit words: negative ones travel as their pattern.
        const uint32_t value = p.size() == 3 ? p.whole(2, "event value", -2147483648.0, 4294967295.0) : 0;
        return command::Key{event, value};
    }
    if (c == "fail" || c == "restore") {
        p.expect_count(2, c == "fail" ? "fail <failure key or name>" : "restore <failure key or name>");
        const uint32_t key = p.failure(1);
        if (c == "fail") return command::Fail{key};
        return command::Restore{key};
    }
    if (c == "print") {
        if (p.size() < 2) p.fail("usage: print <token or name>...");
        command::Print print;
        for (size_t i = 1; i < p.size(); ++i) print.variables.push_back(p.variable(i));
        return print;
    }
    if (c == "snapshot") {
        if (p.size() != 2 && p.size() != 3) p.fail("usage: snapshot <file.png> [gauge] (quoted if a name has blanks)");
        check_snapshot_path(p, p.word(1));
        return command::Snapshot{p.word(1), p.size() == 3 ? p.gauge_name(2) : std::string()};
    }
    if (c == "echo") return command::Echo{rest_of_line};
    if (c == "main-window") {
        constexpr const char* kUsage = "main-window open|closed";
        p.expect_count(2, kUsage);
        if (p.word(1) != "open" && p.word(1) != "closed") p.fail(std::string("usage: ") + kUsage);
        return command::MainWindow{p.word(1) == "open"};
    }
    if (c == "night") {
        constexpr const char* kUsage = "night on|off";
        p.expect_count(2, kUsage);
        if (p.word(1) != "on" && p.word(1) != "off") p.fail(std::string("usage: ") + kUsage);
        return command::Night{p.word(1) == "on"};
    }
    p.fail("unknown command '" + c + "'" +
           platform::did_you_mean(c, {"panel", "scale", "set", "update", "click", "drag", "hold", "key", "fail",
                                      "restore", "print", "snapshot", "echo", "main-window", "night"}));
}

std::string after_first_word(std::string_view line) {
    size_t start = 0;
    while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start])) != 0) ++start;
    while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start])) == 0) ++start;
    while (start < line.size() && std::isspace(static_cast<unsigned char>(line[start])) != 0) ++start;
    std::string rest(line.substr(start));
    while (!rest.empty() && std::isspace(static_cast<unsigned char>(rest.back())) != 0) rest.pop_back();
    return rest;
}

}  // namespace

std::string VariableRef::text() const {
    if (token == 0) return name;
    if (const std::optional<sim::Variable> named = sim::variable_of(token)) return named->name;
    return std::to_string(token);
}

void set_main_window(runtime::Host& host, bool open) { host.set_window(kMainWindowClass, kMainWindowTitle, open); }

bool FaultedGauges::contains(const panels::Panel::Gauge& gauge) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) { return entry.gauge == &gauge; });
}

void FaultedGauges::setup(const panels::Panel& panel) {
    for (const panels::Panel::Gauge& gauge : panel.gauges()) run(gauge, [&] { gauge.instance->setup(); });
}

void FaultedGauges::update(const panels::Panel& panel) {
    for (const panels::Panel::Gauge& gauge : panel.gauges()) run(gauge, [&] { gauge.instance->update(); });
}

ScenarioError::ScenarioError(const std::string& source, int line, const std::string& what)
    : std::runtime_error(line > 0 ? source + ":" + std::to_string(line) + ": " + what : source + ": " + what),
      line_(line) {}

Scenario Scenario::parse(std::string_view text, const std::string& source) {
    Scenario scenario;
    scenario.source = source;
    // Windows editors save UTF-8 with a byte-order mark in front.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    std::istringstream lines{std::string(text)};
    std::string raw;
    int number = 0;
    bool acted = false;
    bool has_panel = false, has_scale = false;
    while (std::getline(lines, raw)) {
        ++number;
        std::string_view line = raw;
        // echo's text is taken as it stands, quotes and all, up to a comment.
        std::string_view uncommented = line.substr(0, line.find('#'));
        std::vector<std::string> parts =
            first_word(line) == "echo" ? std::vector<std::string>{"echo"} : words(line, source, number);
        if (parts.empty()) continue;
        LineParser parser(source, number, std::move(parts));
        ScenarioAction action = parse_action(parser, after_first_word(uncommented));
        const bool setting =
            std::holds_alternative<command::Panel>(action) || std::holds_alternative<command::Scale>(action);
        if (setting) {
            if (acted) parser.fail("'" + parser.command() + "' must come before the first action");
            bool& seen = std::holds_alternative<command::Panel>(action) ? has_panel : has_scale;
            if (seen) parser.fail("'" + parser.command() + "' given twice");
            seen = true;
        } else if (!std::holds_alternative<command::MainWindow>(action)) {
            acted = true;  // the main window may be opened before the panel is named
        }
        scenario.commands.push_back({number, std::move(action)});
    }
    return scenario;
}

Scenario Scenario::read_file(const std::string& path) {
    return parse(platform::read_text_file_as<ScenarioError>(path, "a scenario"), platform::input_name(path));
}

std::string Scenario::panel_path() const {
    for (const ScenarioCommand& command : commands) {
        if (const auto* panel = std::get_if<command::Panel>(&command.action)) {
            const std::filesystem::path named(panel->path);
            if (named.is_absolute()) return named.generic_string();
            return (std::filesystem::path(source).parent_path() / named).lexically_normal().generic_string();
        }
    }
    return {};
}

int Scenario::panel_line() const {
    for (const ScenarioCommand& command : commands) {
        if (std::holds_alternative<command::Panel>(command.action)) return command.line;
    }
    return 0;
}

std::optional<bool> Scenario::main_window_at_start() const {
    std::optional<bool> open;
    for (const ScenarioCommand& command : commands) {
        const ScenarioAction& action = command.action;
        if (const auto* window = std::get_if<command::MainWindow>(&action)) {
            open = window->open;
        } else if (!std::holds_alternative<command::Panel>(action) && !std::holds_alternative<command::Scale>(action)) {
            break;
        }
    }
    return open;
}

double Scenario::scale() const {
    for (const ScenarioCommand& command : commands) {
        if (const auto* scale = std::get_if<command::Scale>(&command.action)) return scale->scale;
    }
    return 1.0;
}

// --- Running ------------------------------------------------------------------

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
    panel_.host().tick();
    if (faulted_ != nullptr) {
        faulted_->update(panel_);
    } else {
        panel_.update();
    }
    on_held([this] { held_->instance->repeat(); });
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
        execute(command, scenario);
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

// One visit over the scenario's actions, a few lines each: the action list
// reads as the scenario format's table does.
void ScenarioRunner::execute(const ScenarioCommand& command, const Scenario& scenario) {
    runtime::Host& host = panel_.host();
    std::visit(
        [&](const auto& action) {
            using T = std::decay_t<decltype(action)>;
            if constexpr (std::is_same_v<T, command::Set>) {
                if (action.variable.token != 0) {
                    host.vars().set(action.variable.token, action.value);
                } else {
                    host.vars().set(action.variable.name, action.value);
                }
            } else if constexpr (std::is_same_v<T, command::Update>) {
                for (uint32_t i = 1; i <= action.count && !ended_; ++i) {
                    step();
                    if (progress_ != nullptr && progress_every_ != 0 && updates_ % progress_every_ == 0) {
                        std::fprintf(progress_, "%s:%d: %llu update%s run\n", scenario.source.c_str(), command.line,
                                     static_cast<unsigned long long>(updates_), updates_ == 1 ? "" : "s");
                    }
                }
            } else if constexpr (std::is_same_v<T, command::Click>) {
                press(action.at);
                on_held([this] { held_->instance->release(); });
                held_ = nullptr;
            } else if constexpr (std::is_same_v<T, command::Drag>) {
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
                on_held([this] { held_->instance->release(); });
                held_ = nullptr;
            } else if constexpr (std::is_same_v<T, command::Hold>) {
                press(action.at);
                for (uint32_t i = 0; i < action.updates && !ended_; ++i) step();
                on_held([this] { held_->instance->release(); });
                held_ = nullptr;
            } else if constexpr (std::is_same_v<T, command::Key>) {
                host.send_key_event(action.event, action.value);
            } else if constexpr (std::is_same_v<T, command::Fail>) {
                host.fail(action.key);
            } else if constexpr (std::is_same_v<T, command::Restore>) {
                host.restore(action.key);
            } else if constexpr (std::is_same_v<T, command::Print>) {
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
            } else if constexpr (std::is_same_v<T, command::Snapshot>) {
                if (!writer_) throw ScenarioError(scenario.source, command.line, "this build cannot draw snapshots");
                std::filesystem::path path(action.path);
                if (!output_dir_.empty() && path.is_relative()) path = std::filesystem::path(output_dir_) / path;
                if (path.has_parent_path()) std::filesystem::create_directories(path.parent_path());
                writer_(panel_, action.gauge.empty() ? nullptr : &gauge(action.gauge), path.string());
                snapshots_.push_back(path.string());
                if (progress_ != nullptr) {
                    std::fprintf(progress_, "%s:%d: wrote %s\n", scenario.source.c_str(), command.line,
                                 path.string().c_str());
                }
            } else if constexpr (std::is_same_v<T, command::Echo>) {
                printed_lines_.push_back({command.line, updates_, {}, action.text});
                std::fprintf(out_, "%s\n", action.text.c_str());
                std::fflush(out_);
            } else if constexpr (std::is_same_v<T, command::MainWindow>) {
                set_main_window(host, action.open);
            } else if constexpr (std::is_same_v<T, command::Night>) {
                host.set_night(action.on);
            }
            // panel and scale were settled before the panel was made.
        },
        command.action);
}

}  // namespace scenario
