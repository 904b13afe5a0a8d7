#include "flightmodel/coupling.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <stdexcept>

#include "frame/numbers.h"
#include "frame/vocabulary.h"

namespace flightmodel {
namespace {

namespace token = sim::token;

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;
constexpr double kLeverFull = sim::event::kLeverMaximum;
constexpr double kPsf = sim::unit::kSquareInchesPerSquareFoot;
constexpr double kRankineOverFahrenheit = 459.67;
// The flap dial's scale is linear from UP (0) to DOWN (60 degrees): a full
// lever's travel is the model's full 60.
constexpr double kFullFlapDegrees = 60.0;
// The gauges' own raw units (sim::unit, from their calibrations).
using sim::unit::kAccelerometerUnitsPerG;
using sim::unit::kFullTankLevel;
using sim::unit::kSlipScalePerUnit;
using sim::unit::kTurnRatesPerUnit;
using sim::unit::kVsiFeetPerMinutePerUnit;

using Convert = double (*)(const double* in, const Surroundings&, double setting_mb);

enum class Scope { kAircraft, kEngine, kTank };

// One row: the variable, the properties it is made of ('#' is the engine or
// tank index) and the conversion to the host's unit. A control of the panel
// (a switch or lever the pilot works) also converts back: a change the panel
// makes to the variable sets the row's first property.
struct Row {
    Scope scope;
    uint32_t (*token)(int index);
    const char* what;
    std::array<const char*, 3> properties;
    Convert convert;
    double (*to_model)(double variable) = nullptr;
};

constexpr double switch_position(double variable) { return variable >= 0.5 ? 1.0 : 0.0; }
constexpr double lever_position(double variable) { return std::clamp(variable / kLeverFull, 0.0, 1.0); }

// The starter turns an engine while its button is held: the panel sends the
// start event every update of the hold, and nothing tells the model of it but
// this property.
constexpr const char* kStarterProperty = "korvane/engine[#]/starter";

constexpr double same(const double* in, const Surroundings&, double) { return in[0]; }

double clock_seconds(const double* in, const Surroundings& s) {
    const double t = std::fmod(std::floor(s.start_of_day_seconds + in[0]), 86400.0);
    return t < 0.0 ? t + 86400.0 : t;
}

// clang-format off
constexpr Row kTable[] = {
    {Scope::kAircraft, [](int) { return token::kIndicatedAirspeed; }, "indicated airspeed, kt",
     {"velocities/vc-kts"}, same},
    {Scope::kAircraft, [](int) { return token::kIndicatedAltitude; }, "indicated altitude, ft at the panel's setting",
     {"atmosphere/pressure-altitude"},
     [](const double* in, const Surroundings&, double setting) {
         return in[0] + (setting - kStandardSettingMb) * kFeetPerMillibar; }},
    {Scope::kAircraft, [](int) { return token::kVerticalSpeed; }, "vertical speed, VSI units",
     {"velocities/h-dot-fps"},
     [](const double* in, const Surroundings&, double) { return in[0] * 60.0 / kVsiFeetPerMinutePerUnit; }},
    {Scope::kAircraft, [](int) { return token::kPitch; }, "pitch, degrees nose up",
     {"attitude/theta-deg"}, same},
    // The model's roll is positive starboard wing down, the variable's port
    // wing down.
    {Scope::kAircraft, [](int) { return token::kBank; }, "bank, degrees port wing down",
     {"attitude/phi-deg"}, [](const double* in, const Surroundings&, double) { return -in[0]; }},
    {Scope::kAircraft, [](int) { return token::kHeading; }, "heading, degrees (the model has no variation)",
     {"attitude/psi-deg"}, same},
    {Scope::kAircraft, [](int) { return token::kRateOfTurn; }, "rate of turn, turn-pointer units",
     {"velocities/psidot-rad_sec"},
     [](const double* in, const Surroundings&, double) {
         return in[0] * kDegreesPerRadian / kDegreesPerSecondPerRate / kTurnRatesPerUnit; }},
    {Scope::kAircraft, [](int) { return token::kSideslip; }, "slip ball, slip-needle units",
     {"accelerations/n-pilot-y-norm"},
     [](const double* in, const Surroundings&, double) { return -in[0] * kSlipScalePerG / kSlipScalePerUnit; }},
    {Scope::kAircraft, [](int) { return token::kNormalAcceleration; }, "normal acceleration, accelerometer units",
     {"accelerations/Nz"},
     [](const double* in, const Surroundings&, double) { return in[0] * kAccelerometerUnitsPerG; }},
    {Scope::kAircraft, [](int) { return token::kStationBearing; }, "relative bearing of the beacon, degrees",
     {"position/lat-geod-deg", "position/long-gc-deg", "attitude/psi-deg"},
     [](const double* in, const Surroundings& s, double) {
         return relative_bearing(in[0], in[1], in[2], s.beacon_latitude_deg, s.beacon_longitude_deg); }},
    {Scope::kAircraft, [](int) { return token::kClockHours; }, "clock hours",
     {"simulation/sim-time-sec"},
     [](const double* in, const Surroundings& s, double) { return std::floor(clock_seconds(in, s) / 3600.0); }},
    {Scope::kAircraft, [](int) { return token::kClockMinutes; }, "clock minutes",
     {"simulation/sim-time-sec"},
     [](const double* in, const Surroundings& s, double) {
         return std::fmod(std::floor(clock_seconds(in, s) / 60.0), 60.0); }},
    {Scope::kAircraft, [](int) { return token::kClockSeconds; }, "clock seconds",
     {"simulation/sim-time-sec"},
     [](const double* in, const Surroundings& s, double) { return std::fmod(clock_seconds(in, s), 60.0); }},
    {Scope::kAircraft, [](int) { return token::kFlapPosition; }, "flap position, lever units",
     {"fcs/flap-pos-deg"},
     [](const double* in, const Surroundings&, double) { return in[0] / kFullFlapDegrees * kLeverFull; }},
    // The model moves both legs together.
    {Scope::kAircraft, [](int) { return token::kGearLeftPosition; }, "port leg extension, lever units",
     {"gear/gear-pos-norm"},
     [](const double* in, const Surroundings&, double) { return in[0] * kLeverFull; }},
    {Scope::kAircraft, [](int) { return token::kGearRightPosition; }, "starboard leg extension, lever units",
     {"gear/gear-pos-norm"},
     [](const double* in, const Surroundings&, double) { return in[0] * kLeverFull; }},

    {Scope::kTank, [](int t) { return token::tank_level(t); }, "tank level, 2^23 is full",
     {"korvane/tank[#]/contents-gal", "korvane/tank[#]/capacity-gal"},
     [](const double* in, const Surroundings&, double) {
         return in[1] > 0.0 ? in[0] / in[1] * kFullTankLevel : 0.0; }},
    {Scope::kTank, [](int t) { return token::tank_capacity(t); }, "tank capacity, gallons",
     {"korvane/tank[#]/capacity-gal"}, same},

    {Scope::kEngine, [](int n) { return token::engine_speed(n); }, "engine speed, rpm",
     {"propulsion/engine[#]/engine-rpm"}, same},
    {Scope::kEngine, [](int n) { return token::manifold_pressure(n); }, "manifold pressure, psf",
     {"propulsion/engine[#]/map-inhg"},
     [](const double* in, const Surroundings&, double) { return in[0] * kPsfPerInHg; }},
    {Scope::kEngine, [](int n) { return token::oil_temperature(n); }, "oil temperature, Rankine",
     {"propulsion/engine[#]/oil-temperature-degF"},
     [](const double* in, const Surroundings&, double) { return in[0] + kRankineOverFahrenheit; }},
    {Scope::kEngine, [](int n) { return token::radiator_temperature(n); }, "coolant temperature, Rankine",
     {"korvane/engine[#]/coolant-temp-degC"},
     [](const double* in, const Surroundings&, double) { return in[0] * 1.8 + 32.0 + kRankineOverFahrenheit; }},
    {Scope::kEngine, [](int n) { return token::oil_pressure(n); }, "oil pressure, psf",
     {"propulsion/engine[#]/oil-pressure-psi"},
     [](const double* in, const Surroundings&, double) { return in[0] * kPsf; }},
    {Scope::kEngine, [](int n) { return token::fuel_pressure(n); }, "fuel pressure, psf",
     {"korvane/engine[#]/fuel-pressure-psi"},
     [](const double* in, const Surroundings&, double) { return in[0] * kPsf; }},
    {Scope::kEngine, [](int n) { return token::engine_running(n); }, "running, 0 or 1",
     {"propulsion/engine[#]/set-running"},
     [](const double* in, const Surroundings&, double) { return in[0] >= 0.5 ? 1.0 : 0.0; }},
    {Scope::kEngine, [](int n) { return token::first_magneto(n); }, "first magneto, 0 or 1",
     {"korvane/engine[#]/magneto-1"},
     [](const double* in, const Surroundings&, double) { return switch_position(in[0]); }, switch_position},
    {Scope::kEngine, [](int n) { return token::second_magneto(n); }, "second magneto, 0 or 1",
     {"korvane/engine[#]/magneto-2"},
     [](const double* in, const Surroundings&, double) { return switch_position(in[0]); }, switch_position},
    {Scope::kEngine, [](int n) { return sim::token::throttle_lever(n); }, "throttle lever, 0..16383",
     {"fcs/throttle-cmd-norm[#]"},
     [](const double* in, const Surroundings&, double) { return in[0] * kLeverFull; }, lever_position},
    {Scope::kEngine, [](int n) { return sim::token::propeller_lever(n); }, "propeller lever, 0..16383",
     {"fcs/advance-cmd-norm[#]"},
     [](const double* in, const Surroundings&, double) { return in[0] * kLeverFull; }, lever_position},
};
// clang-format on

// The pilot's controls in the order pilot_values gives them: one
// brake pedal works both wheels.
struct PilotRow {
    const char* property;
    double low;
};
constexpr PilotRow kPilotRows[] = {
    {"fcs/elevator-cmd-norm", -1.0},  {"fcs/aileron-cmd-norm", -1.0},    {"fcs/rudder-cmd-norm", -1.0},
    {"fcs/left-brake-cmd-norm", 0.0}, {"fcs/right-brake-cmd-norm", 0.0}, {"gear/gear-cmd-norm", 0.0},
    {"fcs/flap-cmd-norm", 0.0},       {"fcs/pitch-trim-cmd-norm", -1.0}, {"fcs/yaw-trim-cmd-norm", -1.0},
};

std::array<double, std::size(kPilotRows)> pilot_values(const PilotControls& pilot) {
    return {pilot.elevator, pilot.aileron, pilot.rudder,     pilot.brakes,     pilot.brakes,
            pilot.gear,     pilot.flaps,   pilot.pitch_trim, pilot.rudder_trim};
}

// What Coupling::state() reads, in the order of state_inputs_.
constexpr const char* kStateProperties[] = {"fcs/pitch-trim-cmd-norm", "fcs/yaw-trim-cmd-norm", "korvane/crash-cause",
                                            "korvane/contact/belly",   "velocities/vg-fps",     "gear/wow",
                                            "korvane/crash-sink-fps",  "korvane/belly-limit-fps"};
// What Systems/ground.xml's korvane/crash-cause numbers, from 1.
constexpr const char* kStruck[] = {"the nose", "the tail cone", "the port wing tip", "the starboard wing tip",
                                   "the belly"};
constexpr double kBellyTooFast = 5.0;
// Standing still: under a knot over the ground.
constexpr double kStoppedFps = 1.69;

std::string indexed(const char* pattern, int index) {
    std::string text = pattern;
    const size_t mark = text.find('#');
    if (mark != std::string::npos) text.replace(mark, 1, std::to_string(index));
    return text;
}

}  // namespace

double relative_bearing(double latitude_deg, double longitude_deg, double heading_deg, double beacon_latitude_deg,
                        double beacon_longitude_deg) {
    const double lat1 = latitude_deg / kDegreesPerRadian;
    const double lat2 = beacon_latitude_deg / kDegreesPerRadian;
    const double dlon = (beacon_longitude_deg - longitude_deg) / kDegreesPerRadian;
    const double y = std::sin(dlon) * std::cos(lat2);
    const double x = std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dlon);
    const double relative = std::remainder(std::atan2(y, x) * kDegreesPerRadian - heading_deg, 360.0);
    if (!std::isfinite(relative)) return 0.0;
    return relative <= -180.0 ? relative + 360.0 : relative;
}

Coupling::Coupling(Surroundings surroundings) : surroundings_(surroundings) {
    for (const Row& row : kTable) {
        const int count = row.scope == Scope::kAircraft ? 1
                          : row.scope == Scope::kEngine ? sim::kEngineCount
                                                        : sim::token::kTankCount;
        for (int index = 0; index < count; ++index) {
            Binding binding;
            binding.token = row.token(index);
            binding.what = row.what;
            if (row.scope != Scope::kAircraft) {
                binding.what += row.scope == Scope::kEngine ? ", engine " : ", tank ";
                binding.what += std::to_string(index);
            }
            for (const char* property : row.properties) {
                if (property == nullptr) break;
                binding.inputs[binding.input_count++] = add_property(indexed(property, index));
            }
            binding.convert = row.convert;
            if (row.to_model != nullptr) {
                binding.to_model = row.to_model;
                binding.control = static_cast<int>(control_properties_.size());
                control_properties_.push_back(indexed(row.properties[0], index));
            }
            bindings_.push_back(binding);
        }
    }
    first_starter_ = control_properties_.size();
    for (int engine = 0; engine < sim::kEngineCount; ++engine) {
        control_properties_.push_back(indexed(kStarterProperty, engine));
    }
    first_pilot_control_ = control_properties_.size();
    for (const PilotRow& row : kPilotRows) control_properties_.emplace_back(row.property);
    static_assert(std::size(kStateProperties) == std::tuple_size_v<decltype(state_inputs_)>);
    for (size_t i = 0; i < std::size(kStateProperties); ++i) state_inputs_[i] = add_property(kStateProperties[i]);
}

FlightState Coupling::state(std::span<const double> frame) const {
    FlightState state;
    if (frame.size() != properties_.size()) return state;
    auto at = [&](size_t i) { return frame::finite_or_zero(frame[static_cast<size_t>(state_inputs_[i])]); };
    state.pitch_trim = std::clamp(at(0), -1.0, 1.0);
    state.rudder_trim = std::clamp(at(1), -1.0, 1.0);
    const double cause = std::round(at(2));
    state.crashed = cause >= 1.0;
    if (state.crashed) {
        state.struck =
            cause <= static_cast<double>(std::size(kStruck)) ? kStruck[static_cast<size_t>(cause) - 1] : "the airframe";
        state.belly_too_fast = cause == kBellyTooFast;
        state.struck_sink_fps = at(6);
    }
    state.belly_limit_fps = at(7);
    state.on_belly = at(3) >= 0.5;
    state.on_ground = state.on_belly || at(5) >= 0.5;
    state.stopped = std::abs(at(4)) < kStoppedFps;
    return state;
}

std::string crash_sentence(const FlightState& state) {
    if (!state.crashed) return {};
    std::string sentence = std::string(state.struck != nullptr ? state.struck : "the airframe") + " struck the ground";
    if (state.belly_too_fast) {
        // To the tenth where whole feet would read as no more than the limit.
        const double sink = state.struck_sink_fps;
        char figures[80];
        std::snprintf(figures, sizeof figures, " at %.*f ft/s (more than %g ft/s)",
                      std::round(sink) <= state.belly_limit_fps ? 1 : 0, sink, state.belly_limit_fps);
        sentence += figures;
    }
    return sentence;
}

size_t Coupling::starter_control(int engine) const { return first_starter_ + static_cast<size_t>(engine); }

int Coupling::add_property(const std::string& property) {
    const int found = property_index(property);
    if (found >= 0) return found;
    properties_.push_back(property);
    return static_cast<int>(properties_.size()) - 1;
}

int Coupling::property_index(const std::string& property) const {
    for (size_t i = 0; i < properties_.size(); ++i) {
        if (properties_[i] == property) return static_cast<int>(i);
    }
    return -1;
}

void Coupling::apply(std::span<const double> frame, runtime::VariableStore& vars, ControlState* state) const {
    if (frame.size() != properties_.size()) {
        throw std::invalid_argument("a model frame of " + std::to_string(frame.size()) +
                                    " values; the coupling reads " + std::to_string(properties_.size()));
    }
    double setting = vars.get(sim::token::kPressureSetting);
    if (!(setting >= 800.0 && setting <= 1100.0)) setting = kStandardSettingMb;
    for (const Binding& binding : bindings_) {
        double in[3] = {};
        for (int i = 0; i < binding.input_count; ++i) in[i] = frame[static_cast<size_t>(binding.inputs[i])];
        const double value = binding.convert(in, surroundings_, setting);
        vars.set(binding.token, value);
        if (state != nullptr && binding.control >= 0) state->at(binding.control).model = value;
    }
}

void Coupling::controls(const runtime::VariableStore& vars, const runtime::KeyModel& keys, ControlState& state,
                        std::vector<Control>& out, const PilotControls* pilot) const {
    out.clear();
    for (const Binding& binding : bindings_) {
        if (binding.control < 0) continue;
        ControlState::Entry& entry = state.at(binding.control);
        const double panel = vars.get(binding.token);
        // Until the model has set a control, the panel has nothing to change.
        if (!std::isfinite(entry.model) || panel == entry.model) continue;
        entry.model = panel;
        out.push_back({binding.control, binding.to_model(panel)});
    }
    for (int engine = 0; engine < sim::kEngineCount; ++engine) {
        const int control = static_cast<int>(starter_control(engine));
        ControlState::Entry& entry = state.at(control);
        const double held = keys.starter_pressed(engine) ? 1.0 : 0.0;
        if (held == entry.model) continue;
        entry.model = held;
        out.push_back({control, held});
    }
    if (pilot == nullptr) return;
    const auto values = pilot_values(*pilot);
    for (size_t i = 0; i < values.size(); ++i) {
        // A lever not yet moved leaves the script's; the model never sees a
        // value outside its range, whoever gave it.
        if (!std::isfinite(values[i])) continue;
        const double value = std::clamp(values[i], kPilotRows[i].low, 1.0);
        const int control = static_cast<int>(first_pilot_control_ + i);
        ControlState::Entry& entry = state.at(control);
        if (value == entry.model) continue;
        entry.model = value;
        out.push_back({control, value});
    }
}

ControlState::ControlState(const Coupling& coupling) : entries_(coupling.control_properties().size()) {
    // The starters are the panel's alone: released until a button is held.
    for (int engine = 0; engine < sim::kEngineCount; ++engine) entries_[coupling.starter_control(engine)].model = 0.0;
}

}  // namespace flightmodel
