#include "feed/controls_out.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "frame/vocabulary.h"

namespace feed {
namespace {

const flightmodel::Coupling& coupling() {
    static const flightmodel::Coupling instance;
    return instance;
}

// Every control's value in the model's unit, by its index in the coupling's
// control_properties(). The coupling sends only what changed since it last
// did: a memory that never matches makes it give them all.
std::vector<double> all_controls(const runtime::VariableStore& vars, const runtime::KeyModel& keys,
                                 const flightmodel::PilotControls& pilot) {
    const flightmodel::Coupling& with = coupling();
    flightmodel::ControlState never(with);
    const size_t count = with.control_properties().size();
    for (size_t i = 0; i < count; ++i) never.at(static_cast<int>(i)).model = -1e300;
    std::vector<flightmodel::Control> controls;
    with.controls(vars, keys, never, controls, &pilot);
    std::vector<double> values(count, 0.0);
    for (const flightmodel::Control& control : controls) values[static_cast<size_t>(control.property)] = control.value;
    return values;
}

double lever(const runtime::VariableStore& vars, uint32_t token) {
    return std::clamp(vars.get(token) / sim::event::kLeverMaximum, 0.0, 1.0);
}

double or_zero(double value, double low) { return std::isfinite(value) ? std::clamp(value, low, 1.0) : 0.0; }

}  // namespace

flightmodel::PilotControls with_untouched_levers(flightmodel::PilotControls pilot, const FdmPacket& first) {
    if (!std::isfinite(pilot.gear)) pilot.gear = first.num_wheels > 0 && first.gear_pos[0] >= 0.5F ? 1.0 : 0.0;
    if (!std::isfinite(pilot.flaps)) pilot.flaps = std::clamp(static_cast<double>(first.left_flap), 0.0, 1.0);
    if (!std::isfinite(pilot.pitch_trim))
        pilot.pitch_trim = std::clamp(static_cast<double>(first.elevator_trim_tab), -1.0, 1.0);
    if (!std::isfinite(pilot.rudder_trim)) pilot.rudder_trim = 0.0;
    return pilot;
}

const std::vector<std::string>& jsbsim_properties() { return coupling().control_properties(); }

std::string jsbsim_input_directive(uint16_t port) {
    std::string text = "<input type=\"QTJSBSIM\" port=\"" + std::to_string(port) + "\" rate=\"18\">\n";
    for (const std::string& property : jsbsim_properties()) text += "  <property>" + property + "</property>\n";
    return text + "</input>\n";
}

std::string jsbsim_line(double seconds, const runtime::VariableStore& vars, const runtime::KeyModel& keys,
                        const flightmodel::PilotControls& pilot) {
    char number[32];
    std::snprintf(number, sizeof number, "%.4f", seconds);
    std::string line = number;
    for (const double value : all_controls(vars, keys, pilot)) {
        std::snprintf(number, sizeof number, ",%.6g", value);
        line += number;
    }
    return line + "\n";
}

CtrlsPacket ctrls_packet(const runtime::VariableStore& vars, const runtime::KeyModel& keys,
                         const flightmodel::PilotControls& pilot, uint32_t engines) {
    CtrlsPacket packet;
    packet.num_engines = std::min<uint32_t>(engines, kCtrlsEngines);
    for (int engine = 0; engine < kCtrlsEngines; ++engine) {
        packet.throttle[engine] = lever(vars, sim::token::throttle_lever(engine));
        packet.prop_advance[engine] = lever(vars, sim::token::propeller_lever(engine));
        packet.mixture[engine] = 1.0;
        packet.condition[engine] = 1.0;
        packet.fuel_pump_power[engine] = 1;
        // FlightGear's magnetos: 1 the right, 2 the left, 3 both; the first is the left.
        packet.magnetos[engine] = (vars.get(sim::token::first_magneto(engine)) >= 0.5 ? 2U : 0U) |
                                  (vars.get(sim::token::second_magneto(engine)) >= 0.5 ? 1U : 0U);
        packet.starter_power[engine] = keys.starter_pressed(engine) ? 1 : 0;
    }
    packet.num_tanks = kCtrlsTanks;
    for (uint32_t& selected : packet.fuel_selector) selected = 1;
    packet.elevator = or_zero(pilot.elevator, -1.0);
    packet.aileron = or_zero(pilot.aileron, -1.0);
    packet.rudder = or_zero(pilot.rudder, -1.0);
    packet.brake_left = packet.brake_right = or_zero(pilot.brakes, 0.0);
    packet.flaps = or_zero(pilot.flaps, 0.0);
    packet.gear_handle = std::isfinite(pilot.gear) && pilot.gear >= 0.5 ? 1 : 0;
    packet.elevator_trim = or_zero(pilot.pitch_trim, -1.0);
    packet.rudder_trim = or_zero(pilot.rudder_trim, -1.0);
    // A standard day, should the far end take the environment from the packet.
    packet.temp_c = 15.0;
    packet.press_inhg = 29.92;
    return packet;
}

}  // namespace feed
