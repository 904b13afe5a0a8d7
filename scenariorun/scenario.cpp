#include "scenariorun/scenario.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "frame/records.h"
#include "frame/vocabulary_names.h"
#include "platform/text_input.h"

namespace scenario {
namespace {

constexpr uint32_t kMaxUpdates = 10'000'000;

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

// The length of the decimal number `text` begins with (0: none): a sign,
// digits with a point, an exponent. strtod takes more (0x10, inf, nan, hex
// floats), none of which anyone writes in a scenario meaning the number.
size_t decimal_length(std::string_view text) {
    size_t at = 0;
    const auto sign = [&] {
        if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    };
    const auto digits = [&] {
        const size_t start = at;
        while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0) ++at;
        return at - start;
    };
    sign();
    size_t mantissa = digits();
    if (at < text.size() && text[at] == '.') {
        ++at;
        mantissa += digits();
    }
    if (mantissa == 0) return 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        const size_t mark = at++;
        sign();
        if (digits() == 0) at = mark;  // 3e is 3 and a unit 'e'
    }
    return at;
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
        const size_t length = decimal_length(text);
        if (length != text.size()) not_a_number(what, text);
        return finite(what, text, length);
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
        const size_t length = decimal_length(text);
        // 0x10 would read as 0 in a unit 'x10'.
        const std::string_view lead = std::string_view(text).substr(0, length);
        const bool hexadecimal = (lead == "0" || lead == "+0" || lead == "-0") && length < text.size() &&
                                 (text[length] == 'x' || text[length] == 'X');
        if (length == 0 || hexadecimal) not_a_number(what, text);
        const double value = finite(what, text, length);
        std::string unit = text.substr(length);
        unit.erase(0, unit.find_first_not_of(" \t"));  // a quoted "180 kt"
        for (size_t i = index + 1; i < words_.size(); ++i) unit += (unit.empty() ? "" : " ") + words_[i];
        return {value, unit};
    }

    [[noreturn]] void not_a_number(const char* what, const std::string& text) const {
        fail(std::string(what) + " '" + text + "' is not a number: expected a decimal one, such as 180, -2.5 or 1e3");
    }

    // The decimal number of `text`'s first `length` characters, refused
    // when too large for a double.
    double finite(const char* what, const std::string& text, size_t length) const {
        const double value = std::strtod(text.substr(0, length).c_str(), nullptr);
        if (!std::isfinite(value)) fail(std::string(what) + " '" + text + "' is too large a number");
        return value;
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

// One parser per scenario command, in the order docs/scenarios.md lists
// them; the table below names each once.
ScenarioAction parse_panel(const LineParser& p, const std::string&) {
    p.expect_count(2, "panel <panel.cfg> (quoted if its name has blanks)");
    if (p.word(1).empty()) p.fail("panel: the name of the panel configuration is empty");
    return command::Panel{p.word(1)};
}

ScenarioAction parse_scale(const LineParser& p, const std::string&) {
    p.expect_count(2, "scale <display scale>");
    const double scale = p.number(1, "scale");
    if (!(scale > 0.0 && scale <= runtime::GaugeInstance::kMaxScale))
        p.fail("scale must lie above 0 and at most 16, not " + p.word(1));
    return command::Scale{scale};
}

ScenarioAction parse_set(const LineParser& p, const std::string&) {
    if (p.size() < 3) p.fail("usage: set <token or name> <value> [unit]");
    VariableRef variable = p.variable(1);
    const double value = p.set_value(variable, 1, 2);
    return command::Set{std::move(variable), value};
}

ScenarioAction parse_update(const LineParser& p, const std::string&) {
    constexpr const char* kUsage = "update [count] or update <most> until <variable> >|>=|<|<= <value> [unit]";
    if (p.size() == 1) return command::Update{1, {}};
    if (p.size() == 2) return command::Update{p.whole(1, "update count", 1, kMaxUpdates), {}};
    if (p.size() < 6) p.fail(std::string("usage: ") + kUsage);
    p.keyword(2, "until", kUsage);
    command::Until until;
    until.variable = p.variable(3);
    const std::string& compare = p.word(4);
    if (compare == ">") {
        until.compare = command::Until::kAbove;
    } else if (compare == ">=") {
        until.compare = command::Until::kAtLeast;
    } else if (compare == "<") {
        until.compare = command::Until::kBelow;
    } else if (compare == "<=") {
        until.compare = command::Until::kAtMost;
    } else {
        p.fail("update ... until: compare with >, >=, < or <=, not '" + compare + "'");
    }
    until.value = p.set_value(until.variable, 3, 5);
    for (size_t i = 3; i < p.size(); ++i) until.text += (i == 3 ? "" : " ") + p.word(i);
    return command::Update{p.whole(1, "update count", 1, kMaxUpdates), std::move(until)};
}

ScenarioAction parse_click(const LineParser& p, const std::string&) {
    p.expect_count(4, "click <gauge> <x> <y>");
    return command::Click{p.point(1)};
}

ScenarioAction parse_drag(const LineParser& p, const std::string&) {
    constexpr const char* kUsage = "drag <gauge> <x> <y> to <x> <y>";
    p.expect_count(7, kUsage);
    p.keyword(4, "to", kUsage);
    return command::Drag{p.point(1), p.number(5, "x"), p.number(6, "y")};
}

ScenarioAction parse_hold(const LineParser& p, const std::string&) {
    constexpr const char* kUsage = "hold <gauge> <x> <y> for <updates>";
    p.expect_count(6, kUsage);
    p.keyword(4, "for", kUsage);
    return command::Hold{p.point(1), p.whole(5, "hold count", 1, kMaxUpdates)};
}

ScenarioAction parse_key(const LineParser& p, const std::string&) {
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

ScenarioAction parse_fail(const LineParser& p, const std::string&) {
    p.expect_count(2, "fail <failure key or name>");
    return command::Fail{p.failure(1)};
}

ScenarioAction parse_restore(const LineParser& p, const std::string&) {
    p.expect_count(2, "restore <failure key or name>");
    return command::Restore{p.failure(1)};
}

ScenarioAction parse_print(const LineParser& p, const std::string&) {
    if (p.size() < 2) p.fail("usage: print <token or name>...");
    command::Print print;
    for (size_t i = 1; i < p.size(); ++i) print.variables.push_back(p.variable(i));
    return print;
}

ScenarioAction parse_snapshot(const LineParser& p, const std::string&) {
    if (p.size() != 2 && p.size() != 3) p.fail("usage: snapshot <file.png> [gauge] (quoted if a name has blanks)");
    check_snapshot_path(p, p.word(1));
    return command::Snapshot{p.word(1), p.size() == 3 ? p.gauge_name(2) : std::string()};
}

ScenarioAction parse_echo(const LineParser&, const std::string& rest_of_line) { return command::Echo{rest_of_line}; }

// A command of one word out of two: `on` is true.
bool either(const LineParser& p, const char* usage, std::string_view on, std::string_view off) {
    p.expect_count(2, usage);
    if (p.word(1) != on && p.word(1) != off) p.fail(std::string("usage: ") + usage);
    return p.word(1) == on;
}

ScenarioAction parse_main_window(const LineParser& p, const std::string&) {
    return command::MainWindow{either(p, "main-window open|closed", "open", "closed")};
}

ScenarioAction parse_night(const LineParser& p, const std::string&) {
    return command::Night{either(p, "night on|off", "on", "off")};
}

struct CommandParser {
    std::string_view name;
    ScenarioAction (*parse)(const LineParser&, const std::string&);
};
constexpr CommandParser kCommands[] = {
    {"panel", parse_panel},     {"scale", parse_scale},     {"set", parse_set},
    {"update", parse_update},   {"click", parse_click},     {"drag", parse_drag},
    {"hold", parse_hold},       {"key", parse_key},         {"fail", parse_fail},
    {"restore", parse_restore}, {"print", parse_print},     {"snapshot", parse_snapshot},
    {"echo", parse_echo},       {"main-window", parse_main_window}, {"night", parse_night},
};

ScenarioAction parse_action(const LineParser& p, const std::string& rest_of_line) {
    const std::string& c = p.command();
    for (const CommandParser& command : kCommands) {
        if (command.name == c) return command.parse(p, rest_of_line);
    }
    std::vector<std::string> names;
    for (const CommandParser& command : kCommands) names.emplace_back(command.name);
    p.fail("unknown command '" + c + "'" + platform::did_you_mean(c, names));
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

std::string snapshot_path(const command::Snapshot& snapshot, const std::string& output_dir) {
    const std::filesystem::path path(snapshot.path);
    if (output_dir.empty() || path.is_absolute()) return path.string();
    return (std::filesystem::path(output_dir) / path).string();
}

std::string VariableRef::text() const {
    if (token == 0) return name;
    if (const std::optional<sim::Variable> named = sim::variable_of(token)) return named->name;
    return std::to_string(token);
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

}  // namespace scenario
