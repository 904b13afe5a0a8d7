#include "web/control_words.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string_view>
#include <vector>

#include "frame/records.h"
#include "frame/vocabulary_names.h"

namespace web {
namespace {

// A switch's name and its two positions in the crew's words, by the
// vocabulary's family; any other variable goes by the vocabulary's own words.
struct SwitchWords {
    const char* family;
    const char* name;
    const char* off;
    const char* on;
};
constexpr SwitchWords kSwitchWords[] = {
    {"magneto_1", "Magneto 1", "OFF", "ON"},
    {"magneto_2", "Magneto 2", "OFF", "ON"},
    {"running", "Engine", "stopped", "running"},
};

// The variable each key event works, by the vocabulary's families: the
// member of the same engine.
struct EventWorks {
    const char* event;
    const char* variable;
};
constexpr EventWorks kEventWorks[] = {
    {"magneto_1_toggle", "magneto_1"},         {"magneto_2_toggle", "magneto_2"},
    {"throttle_set", "throttle"},              {"propeller_set", "propeller"},
    {"engine_start", "running"},               {"engine_start_alternate", "running"},
    {"altimeter_setting", "pressure_setting"}, {"clock_minute_back", "clock_minutes"},
    {"clock_minute_on", "clock_minutes"},
};

// Controls whose records name neither a key event nor a variable, by the
// gauge's name: its mouse boxes from record `first` on, two to an engine in
// the engines' order. Each box's state is the frame of the icon it works,
// or else whether its engine runs.
struct UnnamedBox {
    const char* name;
    const char* off;
    const char* on;
    bool icon;
};
struct UnnamedControls {
    const char* gauge;
    size_t first;
    UnnamedBox boxes[2];
};
constexpr UnnamedControls kUnnamedControls[] = {
    // The starter panel: each engine's arming switch, then the button held to crank it.
    {"Starter_Switch",
     2,
     {{"Starter arming switch", "OFF", "ARMED", true}, {"Starter button", "engine stopped", "engine running", false}}},
};

const sim::NamedVariable* family_of(std::string_view name) {
    for (const sim::NamedVariable& entry : sim::kVariables) {
        if (name == entry.name) return &entry;
    }
    return nullptr;
}

// Which engine or tank of its family a token is (0 for a single variable).
int member_of(const sim::NamedVariable& entry, uint32_t token) {
    for (int index = 0; index < sim::names_detail::members(entry.family); ++index) {
        if (entry.token(index) == token) return index;
    }
    return 0;
}

const SwitchWords* switch_words(const sim::NamedVariable& entry) {
    for (const SwitchWords& words : kSwitchWords) {
        if (std::string_view(entry.name) == words.family) return &words;
    }
    return nullptr;
}

// The vocabulary's words up to their first comma or colon, capitalised:
// "indicated airspeed" is "Indicated airspeed", "boost: manifold pressure
// above the datum" "Boost".
std::string short_name(const sim::NamedVariable& entry) {
    if (const SwitchWords* words = switch_words(entry)) return words->name;
    const std::string_view what = entry.what;
    std::string name(what.substr(0, what.find_first_of(",:")));
    if (!name.empty()) name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

// ", engine 2", ", port 1", or nothing for a single variable.
std::string member_words(const sim::NamedVariable& entry, int index) {
    if (entry.family == sim::Family::kEngine) return ", engine " + std::to_string(index + 1);
    if (entry.family != sim::Family::kTank) return "";
    std::string tank = sim::kTankNames[index];
    for (char& c : tank) c = c == '_' ? ' ' : c;
    return ", " + tank;
}

// A value as a pilot reads it off the dial: whole units, tenths of a g or a
// pound of boost, a tank's fill in percent, a switch's position in words.
std::string value_words(const sim::NamedVariable& entry, double host_value) {
    if (const SwitchWords* words = switch_words(entry)) return host_value >= 0.5 ? words->on : words->off;
    double value = entry.reading.from_host(host_value);
    std::string_view unit = entry.reading.unit;
    if (unit == "full") {
        value *= 100.0;
        unit = "%";
    }
    const int digits = unit == "g" || unit == "lb/in\u00B2" || unit == "rate-one turns" ? 1 : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    std::string out = text;
    if (out.find_first_not_of("-0.") == std::string::npos && out[0] == '-') out.erase(0, 1);  // no "-0"
    if (!unit.empty()) out += (unit == "%" || unit == "\u00B0" ? "" : " ") + std::string(unit);
    return out;
}

ControlWords variable_words(const sim::NamedVariable& entry, uint32_t token, const runtime::VariableStore& vars) {
    return {short_name(entry) + member_words(entry, member_of(entry, token)), value_words(entry, vars.get(token))};
}

// The first variable with a vocabulary name an element shows.
std::optional<sim::Variable> shown_variable(const runtime::ElementState& element) {
    for (uint32_t token : element.sources) {
        if (token == 0) continue;
        if (std::optional<sim::Variable> named = sim::variable_of(token)) return named;
    }
    return std::nullopt;
}

// An instrument: its tooltip, else the first variable it shows, else its
// gauge's name; its state every variable it shows, in drawing order, each
// named where two share a unit ("pitch 3°, bank 0°", "14 h, 32 min").
ControlWords instrument_words(const runtime::GaugeInstance& instance, const std::string& help,
                              const runtime::VariableStore& vars) {
    std::vector<sim::Variable> shown;
    for (const runtime::ElementState& element : instance.elements()) {
        for (uint32_t token : element.sources) {
            std::optional<sim::Variable> named = token != 0 ? sim::variable_of(token) : std::nullopt;
            if (!named) continue;
            bool seen = false;
            for (const sim::Variable& other : shown) seen = seen || other.number == token;
            if (!seen) shown.push_back(std::move(*named));
        }
    }
    ControlWords words;
    if (!help.empty()) {
        words.name = help;
    } else if (!shown.empty()) {
        words.name = short_name(*shown[0].entry);
    } else {
        words.name = instance.name();
        for (char& c : words.name) c = c == '_' ? ' ' : c;
    }
    // One engine's or tank's instrument says whose.
    bool one_member = !shown.empty();
    for (const sim::Variable& variable : shown) {
        one_member = one_member && variable.entry->family == shown[0].entry->family &&
                     member_of(*variable.entry, variable.number) == member_of(*shown[0].entry, shown[0].number);
    }
    if (one_member) words.name += member_words(*shown[0].entry, member_of(*shown[0].entry, shown[0].number));
    for (const sim::Variable& variable : shown) {
        bool shared_unit = false;
        for (const sim::Variable& other : shown) {
            shared_unit = shared_unit || (other.number != variable.number &&
                                          std::string_view(other.entry->reading.unit) == variable.entry->reading.unit);
        }
        std::string label = shared_unit ? std::string(variable.entry->name) + " " : "";
        for (char& c : label) c = c == '_' ? ' ' : c;
        words.state += (words.state.empty() ? "" : ", ") + label + value_words(*variable.entry, vars.get(variable.number));
    }
    return words;
}

}  // namespace

int element_of_box(const runtime::GaugeInstance& instance, render::BitmapCache& bitmaps, const runtime::MouseBox& box) {
    constexpr int kSamples = 6;  // a side
    std::map<int, int> hits;
    for (int i = 0; i < kSamples; ++i) {
        for (int j = 0; j < kSamples; ++j) {
            const double x = static_cast<double>(box.x) + (i + 0.5) * static_cast<double>(box.width) / kSamples;
            const double y = static_cast<double>(box.y) + (j + 0.5) * static_cast<double>(box.height) / kSamples;
            const int index = render::element_at(instance, bitmaps, x, y);
            if (index >= 0 && instance.elements()[static_cast<size_t>(index)].type != kStaticImage) ++hits[index];
        }
    }
    int most = -1;
    for (const auto& [index, count] : hits) {
        if (most < 0 || count > hits[most]) most = index;
    }
    return most;
}

ControlWords control_words(const runtime::GaugeInstance& instance, const runtime::MouseBox* box,
                           const std::string& help, int element, int box_element, const runtime::VariableStore& vars) {
    const std::vector<runtime::ElementState>& elements = instance.elements();
    const auto at = [&](int index) -> const runtime::ElementState* {
        return index >= 0 && static_cast<size_t>(index) < elements.size() ? &elements[static_cast<size_t>(index)]
                                                                           : nullptr;
    };
    const bool control = box != nullptr && box->is_child();
    // A box that sends a key event: the variable the event works.
    if (control && box->event_id != 0) {
        if (const std::optional<sim::Event> event = sim::event_of(box->event_id)) {
            int index = 0;
            while (index < sim::names_detail::members(event->entry->family) && event->entry->event(index) != event->number)
                ++index;
            for (const EventWorks& works : kEventWorks) {
                const sim::NamedVariable* variable = family_of(works.variable);
                if (std::string_view(event->entry->name) != works.event || variable == nullptr) continue;
                return variable_words(*variable, variable->token(index), vars);
            }
        }
    }
    // A control whose records do not say what it works.
    for (const UnnamedControls& unnamed : kUnnamedControls) {
        if (!control || instance.name() != unnamed.gauge || box->record < unnamed.first) continue;
        const size_t place = box->record - unnamed.first;
        const int engine = static_cast<int>(place / 2);
        if (engine >= sim::kEngineCount) continue;
        const UnnamedBox& words = unnamed.boxes[place % 2];
        const runtime::ElementState* icon = at(box_element);
        const bool on = words.icon ? icon != nullptr && icon->type == kIcon && icon->frame != 0
                                   : vars.get(sim::token::engine_running(engine)) != 0.0;
        return {std::string(words.name) + ", engine " + std::to_string(engine + 1), on ? words.on : words.off};
    }
    // A control's element that shows a variable: under the pointer, else the one the box works.
    if (control) {
        for (const runtime::ElementState* shown : {at(element), at(box_element)}) {
            if (shown == nullptr) continue;
            if (const std::optional<sim::Variable> variable = shown_variable(*shown))
                return variable_words(*variable->entry, variable->number, vars);
        }
    }
    return instrument_words(instance, help, vars);
}

}  // namespace web
