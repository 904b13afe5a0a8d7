// The page's messages (web/server.h lists them): JSON from the network,
// parsed without exceptions; anything malformed or out of range is no input.
#include <nlohmann/json.hpp>

#include <cmath>
#include <optional>
#include <string_view>

#include "frame/numbers.h"
#include "web/panel_editing.h"
#include "web/server.h"

namespace web {
namespace {

// A number of the message within [low, high]; a missing one is `absent`,
// anything else (a string, NaN, out of range) nullopt.
std::optional<double> number_in(const nlohmann::json& message, const char* name, double low, double high,
                                std::optional<double> absent = std::nullopt) {
    const auto found = message.find(name);
    if (found == message.end()) return absent;
    if (!found->is_number()) return std::nullopt;
    const double value = found->get<double>();
    if (!(value >= low && value <= high)) return std::nullopt;
    return value;
}

// A lever's or trim's step: 1 or -1, nothing else.
std::optional<int> step_in(const nlohmann::json& message) {
    const auto step = message.find("step");
    if (step == message.end() || !step->is_number_integer() || (*step != 1 && *step != -1)) return std::nullopt;
    return step->get<int>();
}

// The pilot's controls: every position in its range, or none is taken.
std::optional<Input> parse_controls(const nlohmann::json& message) {
    const std::optional<double> elevator = number_in(message, "elevator", -1.0, 1.0),
                                aileron = number_in(message, "aileron", -1.0, 1.0),
                                rudder = number_in(message, "rudder", -1.0, 1.0),
                                brakes = number_in(message, "brakes", 0.0, 1.0),
                                throttle = number_in(message, "throttle", -1.0, 1.0, 0.0);
    if (!elevator || !aileron || !rudder || !brakes || !throttle) return std::nullopt;
    Input input;
    input.kind = Input::kControls;
    input.elevator = *elevator;
    input.aileron = *aileron;
    input.rudder = *rudder;
    input.brakes = *brakes;
    input.throttle = *throttle;
    return input;
}

std::optional<Input> of_kind(Input::Kind kind) {
    Input input;
    input.kind = kind;
    return input;
}

// A press, move or pointer question at a point of the panel's picture.
std::optional<Input> parse_point(const nlohmann::json& message, Input::Kind kind) {
    const auto x = message.find("x"), y = message.find("y");
    if (x == message.end() || y == message.end() || !x->is_number() || !y->is_number()) return std::nullopt;
    Input input;
    input.kind = kind;
    input.x = frame::trunc_to_int32(std::floor(x->get<double>()));
    input.y = frame::trunc_to_int32(std::floor(y->get<double>()));
    return input;
}

std::optional<Input> parse_key(const nlohmann::json& message) {
    const auto event = message.find("event");
    if (event == message.end() || !event->is_number_unsigned() || event->get<uint64_t>() > UINT32_MAX)
        return std::nullopt;
    Input input;
    input.kind = Input::kKey;
    input.event = static_cast<uint32_t>(event->get<uint64_t>());
    return input;
}

std::optional<Input> parse_flaps(const nlohmann::json& message) {
    const std::optional<int> step = step_in(message);
    if (!step) return std::nullopt;
    Input input;
    input.kind = Input::kFlaps;
    input.step = *step;
    return input;
}

std::optional<Input> parse_trim(const nlohmann::json& message) {
    const auto axis = message.find("axis");
    const std::optional<int> step = step_in(message);
    if (axis == message.end() || (*axis != "elevator" && *axis != "rudder") || !step) return std::nullopt;
    Input input;
    input.kind = Input::kTrim;
    input.axis = *axis == "elevator" ? 0 : 1;
    input.step = *step;
    return input;
}

std::optional<Input> parse_edit(const nlohmann::json& message) {
    const auto layout = message.find("layout");
    if (layout == message.end()) return std::nullopt;
    std::optional<panels::PanelLayout> parsed = layout_from_json(*layout);
    if (!parsed) return std::nullopt;
    Input input;
    input.kind = Input::kEdit;
    input.layout = std::make_shared<const panels::PanelLayout>(std::move(*parsed));
    return input;
}

std::optional<Input> parse_ratio(const nlohmann::json& message) {
    const std::optional<double> ratio = number_in(message, "ratio", 0.1, 16.0);
    if (!ratio) return std::nullopt;
    Input input;
    input.kind = Input::kRatio;
    input.ratio = *ratio;
    return input;
}

std::optional<Input> parse_save(const nlohmann::json& message) {
    const auto overwrite = message.find("overwrite");
    Input input;
    input.kind = Input::kSave;
    input.overwrite = overwrite != message.end() && overwrite->is_boolean() && overwrite->get<bool>();
    return input;
}

// Each message by its "t", once.
struct MessageParser {
    std::string_view name;
    std::optional<Input> (*parse)(const nlohmann::json& message);
};
constexpr MessageParser kMessages[] = {
    {"press", [](const nlohmann::json& m) { return parse_point(m, Input::kPress); }},
    {"move", [](const nlohmann::json& m) { return parse_point(m, Input::kMove); }},
    {"pointer", [](const nlohmann::json& m) { return parse_point(m, Input::kPointer); }},
    {"key", parse_key},
    {"release", [](const nlohmann::json&) { return of_kind(Input::kRelease); }},
    {"pause", [](const nlohmann::json&) { return of_kind(Input::kPause); }},
    {"reset", [](const nlohmann::json&) { return of_kind(Input::kReset); }},
    {"fly", [](const nlohmann::json&) { return of_kind(Input::kFly); }},
    {"night", [](const nlohmann::json&) { return of_kind(Input::kNight); }},
    {"gear", [](const nlohmann::json&) { return of_kind(Input::kGear); }},
    {"controls", parse_controls},
    {"flaps", parse_flaps},
    {"trim", parse_trim},
    {"edit", parse_edit},
    {"ratio", parse_ratio},
    {"save", parse_save},
};

}  // namespace

std::optional<Input> parse_input(std::string_view text) {
    const nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object()) return std::nullopt;
    const auto kind = message.find("t");
    if (kind == message.end() || !kind->is_string()) return std::nullopt;
    const std::string& name = kind->get_ref<const std::string&>();
    for (const MessageParser& parser : kMessages) {
        if (parser.name == name) return parser.parse(message);
    }
    return std::nullopt;
}

}  // namespace web
