// The coupling between the flight model and the panel: which JSBSim property
// fills which simulator variable, converted to the unit the host keeps.
#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "runtime/key_model.h"
#include "runtime/variables.h"

namespace flightmodel {

// A radio beacon the direction finder is tuned to, and the time of day at the
// model's time zero: the model knows neither.
struct Surroundings {
    double beacon_latitude_deg = 52.10;
    double beacon_longitude_deg = -0.60;
    double start_of_day_seconds = 14.0 * 3600.0;
};

// The pressure setting the altimeter's reading assumes when the panel has set
// none (a store value outside a plausible range).
inline constexpr double kStandardSettingMb = 1013.25;
// Pounds per square foot in an inch of mercury.
inline constexpr double kPsfPerInHg = 70.7262;
// Feet of indicated altitude per millibar of setting, near the ground.
inline constexpr double kFeetPerMillibar = 27.31;
// A rate-one turn is 3 degrees a second.
inline constexpr double kDegreesPerSecondPerRate = 3.0;
// The ball sits at the end of its scale (20) at a tenth of a g to the side; it
// moves against the sideways force, so a skid to starboard sends it to port.
inline constexpr double kSlipScalePerG = 20.0 / 0.1;

class ControlState;

// The pilot's own controls, from the live page's keys and gamepad: the
// stick and rudder (-1..1; positive elevator pushes the nose down, positive
// aileron rolls and positive rudder yaws to starboard) and the brakes (0..1)
// are 0 when let go; the undercarriage and flap levers (0 up .. 1 down) and
// the elevator and rudder trim (-1..1 of the tabs' travel, positive nose
// down and nose right, as the stick) are NaN until the pilot moves them, so
// that until then the script's stay.
struct PilotControls {
    double elevator = 0.0, aileron = 0.0, rudder = 0.0, brakes = 0.0;
    double gear = std::numeric_limits<double>::quiet_NaN();
    double flaps = std::numeric_limits<double>::quiet_NaN();
    double pitch_trim = std::numeric_limits<double>::quiet_NaN();
    double rudder_trim = std::numeric_limits<double>::quiet_NaN();
};

// What the model says of the aircraft beyond the panel's variables: the trim
// as it stands (whoever set it) and how the airframe meets the ground.
struct FlightState {
    double pitch_trim = 0.0, rudder_trim = 0.0;  // -1..1, as PilotControls
    // Latched for the rest of the flight once a wing tip, the nose or the
    // tail cone touched, or the belly came down too fast; `struck` names
    // which ("the port wing tip"), null when none has. `struck_sink_fps` is
    // how fast the aircraft was coming down at that moment, and
    // `belly_limit_fps` the most the belly takes.
    bool crashed = false;
    const char* struck = nullptr;
    bool belly_too_fast = false;
    double struck_sink_fps = 0.0, belly_limit_fps = 0.0;
    // The airframe itself (not a wheel) on the ground; a wheel or the
    // airframe on it; the aircraft standing still (under a knot).
    bool on_belly = false;
    bool on_ground = false;
    bool stopped = false;
};

// A crash as a sentence: "the port wing tip struck the ground", "the belly
// struck the ground at 23 ft/s (more than 15 ft/s)"; empty without one.
std::string crash_sentence(const FlightState& state);

// One property the panel sets in the model: an index into
// Coupling::control_properties() and the value in the model's unit.
struct Control {
    int property = 0;
    double value = 0.0;
};

class Coupling {
public:
    struct Binding {
        uint32_t token = 0;
        std::string what;
        std::array<int, 3> inputs{};  // indices into properties()
        int input_count = 0;
        double (*convert)(const double* in, const Surroundings&, double setting_mb) = nullptr;
        // A control of the panel: its index in control_properties() and the
        // conversion back to the model's unit; -1 and null otherwise.
        int control = -1;
        double (*to_model)(double variable) = nullptr;
    };

    explicit Coupling(Surroundings surroundings = {});

    // The JSBSim properties read, each once.
    const std::vector<std::string>& properties() const { return properties_; }
    const std::vector<Binding>& bindings() const { return bindings_; }
    const Surroundings& surroundings() const { return surroundings_; }

    // Index of a property in properties(); -1 when the coupling reads none.
    int property_index(const std::string& property) const;

    // The properties the panel's controls set: each switch and lever the
    // model also moves (magnetos, throttles, propeller levers), the four
    // starters, which only the panel works, then the pilot's controls.
    const std::vector<std::string>& control_properties() const { return control_properties_; }
    size_t starter_control(int engine) const;

    // The trim and the airframe's contact in one model frame (values in the
    // order of properties(); a frame of the wrong size reads as nothing
    // touched, trim neutral).
    FlightState state(std::span<const double> frame) const;

    // Sets every bound variable from one model frame (values in the order of
    // properties()), and notes in `state` what the model set the controls to.
    // The pressure setting is the panel's: it is read, never written. Throws
    // std::invalid_argument for a frame of the wrong size.
    void apply(std::span<const double> frame, runtime::VariableStore& vars, ControlState* state = nullptr) const;

    // What the panel did since the model last set its controls: each control
    // variable the panel changed (a switch clicked, a lever dragged) and each
    // starter whose button was pressed or let go, as properties to set before
    // the model's next frames. The model keeps moving the controls itself (a
    // script may); the panel's change wins only when it is one. So do the
    // pilot's controls, when given: each one that moved since it was last
    // sent.
    void controls(const runtime::VariableStore& vars, const runtime::KeyModel& keys, ControlState& state,
                  std::vector<Control>& out, const PilotControls* pilot = nullptr) const;

private:
    int add_property(const std::string& property);

    Surroundings surroundings_;
    std::vector<std::string> properties_;
    std::vector<Binding> bindings_;
    std::vector<std::string> control_properties_;
    size_t first_starter_ = 0, first_pilot_control_ = 0;
    // Indices into properties() of what state() reads, in its own order.
    std::array<int, 8> state_inputs_{};
};

// The coupling's memory of the controls between updates: the value the model
// last gave each control (or, for a starter, last sent), so that only the
// panel's own changes go back to the model.
class ControlState {
public:
    struct Entry {
        double model = std::numeric_limits<double>::quiet_NaN();
    };
    explicit ControlState(const Coupling& coupling);
    Entry& at(int control) { return entries_.at(static_cast<size_t>(control)); }

private:
    std::vector<Entry> entries_;
};

// Relative bearing of the beacon, degrees clockwise from the nose in
// (-180, 180], from the aircraft's position and true heading.
double relative_bearing(double latitude_deg, double longitude_deg, double heading_deg, double beacon_latitude_deg,
                        double beacon_longitude_deg);

}  // namespace flightmodel
