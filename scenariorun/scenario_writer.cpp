#include "scenariorun/scenario_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>

namespace scenario {
namespace {

// Decimals for about a ten-thousandth of the range: 4 for a fraction of
// full, 1 for knots, none for feet.
int decimals(const sim::Range& range) {
    const double span = range.high - range.low;
    if (!(span > 0.0)) return 4;
    return std::clamp(4 - static_cast<int>(std::ceil(std::log10(span))), 0, 6);
}

std::string trimmed(const char* number) {
    std::string text = number;
    if (text.find('.') != std::string::npos) {
        text.erase(text.find_last_not_of('0') + 1);
        if (text.back() == '.') text.pop_back();
    }
    return text == "-0" ? "0" : text;
}

// A word the scenario reader takes as one: quoted where blanks or a '#' would split it.
std::string word(const std::string& text) {
    if (text.find_first_of("\"\r\n") != std::string::npos)
        throw std::invalid_argument(text + ": a scenario cannot name a path with a double quote or a line break");
    if (!text.empty() && text.find_first_of(" \t#") == std::string::npos) return text;
    return "\"" + text + "\"";
}

}  // namespace

std::string set_value_text(const sim::Variable& variable, double host_value) {
    const sim::NamedVariable& entry = *variable.entry;
    const int places = decimals(entry.range);
    const double scale = std::pow(10.0, places);
    double shown = entry.reading.from_host(host_value);
    if (!std::isfinite(shown)) shown = 0.0;
    shown = std::clamp(shown, entry.range.low, entry.range.high);
    // Rounded to the nearest, unless that steps over an end the decimals cannot write.
    double rounded = std::round(shown * scale) / scale;
    if (rounded < entry.range.low) rounded = std::ceil(shown * scale) / scale;
    if (rounded > entry.range.high) rounded = std::floor(shown * scale) / scale;
    char number[48];
    std::snprintf(number, sizeof number, "%.*f", places, rounded);
    std::string text = trimmed(number);
    if (*entry.reading.unit != '\0') text += std::string(" ") + entry.reading.unit;
    return text;
}

ScenarioWriter::ScenarioWriter(std::function<void(std::string_view)> out) : out_(std::move(out)) {
    for (const std::string& name : sim::variable_names()) variables_.push_back(*sim::find_variable(name));
}

void ScenarioWriter::write(const std::string& text) {
    bytes_ += text.size();
    out_(text);
}

void ScenarioWriter::start(const std::string& panel, const std::vector<std::string>& comments,
                           const runtime::VariableStore& vars) {
    std::string text;
    for (const std::string& comment : comments) text += (comment.empty() ? "#" : "# " + comment) + "\n";
    text += "panel " + word(panel) + "\n";
    for (const sim::Variable& variable : variables_) {
        std::string value = set_value_text(variable, vars.get(variable.number));
        text += "set " + variable.name + " " + value + "\n";
        written_[variable.number] = std::move(value);
    }
    write(text);
}

void ScenarioWriter::update(const runtime::VariableStore& vars) {
    std::string text;
    for (const sim::Variable& variable : variables_) {
        std::string value = set_value_text(variable, vars.get(variable.number));
        std::string& last = written_[variable.number];
        if (value == last) continue;
        text += "set " + variable.name + " " + value + "\n";
        last = std::move(value);
    }
    if (!text.empty()) {
        flush_updates();
        write(text);
    }
    ++pending_;
    ++updates_;
}

void ScenarioWriter::flush_updates() {
    if (pending_ == 0) return;
    write(pending_ == 1 ? std::string("update\n") : "update " + std::to_string(pending_) + "\n");
    pending_ = 0;
}

void ScenarioWriter::finish() { flush_updates(); }

}  // namespace scenario
