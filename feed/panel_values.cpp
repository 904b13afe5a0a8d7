#include "feed/panel_values.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <set>

#include "flightmodel/coupling.h"
#include "frame/vocabulary.h"

namespace feed {
namespace {

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;
constexpr double kFeetPerMetre = 1.0 / 0.3048;
constexpr double kStandardGravityFps2 = 32.174;
constexpr double kRankineOverFahrenheit = 459.67;
constexpr double kSecondsPerDay = 86400.0;

// Every named variable, looked up once.
const sim::Variable& variable(const std::string& name) {
    static const std::map<std::string, sim::Variable> all = [] {
        std::map<std::string, sim::Variable> table;
        for (const std::string& each : sim::variable_names()) table.emplace(each, *sim::find_variable(each));
        return table;
    }();
    return all.at(name);
}

std::string engine_name(const char* stem, int engine) { return std::string(stem) + "." + std::to_string(engine + 1); }

double wrapped(double degrees, double low) {
    double value = std::fmod(degrees - low, 360.0);
    if (value < 0.0) value += 360.0;
    return value + low;
}

class Out {
public:
    explicit Out(std::vector<Driven>& out) : out_(out) {}
    void shown(const std::string& name, double value) {
        const sim::Variable& v = variable(name);
        out_.push_back({&v, std::clamp(value, v.entry->range.low, v.entry->range.high)});
    }
    // A value in the host's unit for the variable.
    void host(const std::string& name, double value) { shown(name, variable(name).entry->reading.from_host(value)); }

private:
    std::vector<Driven>& out_;
};

}  // namespace

std::vector<Driven> driven_by(const FdmPacket& p, const runtime::VariableStore& vars, const FeedSettings& settings) {
    std::vector<Driven> driven;
    Out out(driven);
    double setting = vars.get(sim::token::kPressureSetting);
    if (!(setting >= sim::event::kLowestPressureSetting && setting <= sim::event::kHighestPressureSetting))
        setting = flightmodel::kStandardSettingMb;
    out.shown("airspeed", p.vcas);
    out.shown("altitude",
              p.altitude * kFeetPerMetre + (setting - flightmodel::kStandardSettingMb) * flightmodel::kFeetPerMillibar);
    out.shown("vertical_speed", p.climb_rate * 60.0);
    out.shown("pitch", p.theta * kDegreesPerRadian);
    out.shown("bank", -wrapped(p.phi * kDegreesPerRadian, -180.0));
    out.shown("heading", wrapped(p.psi * kDegreesPerRadian, 0.0));
    out.shown("turn_rate", p.psidot * kDegreesPerRadian / flightmodel::kDegreesPerSecondPerRate);
    out.shown("sideslip", -p.a_y_pilot / kStandardGravityFps2 * flightmodel::kSlipScalePerG);
    out.shown("normal_acceleration", -p.a_z_pilot / kStandardGravityFps2);
    out.shown("flaps", p.left_flap * 100.0);
    const char* legs[] = {"undercarriage.port", "undercarriage.stbd"};
    for (uint32_t wheel = 0; wheel < std::min<uint32_t>(p.num_wheels, 2); ++wheel)
        out.shown(legs[wheel], p.gear_pos[wheel] * 100.0);
    double seconds = std::fmod(static_cast<double>(p.cur_time) + static_cast<double>(p.warp), kSecondsPerDay);
    if (seconds < 0.0) seconds += kSecondsPerDay;
    out.shown("clock_hours", std::floor(seconds / 3600.0));
    out.shown("clock_minutes", std::fmod(std::floor(seconds / 60.0), 60.0));
    out.shown("clock_seconds", std::fmod(seconds, 60.0));
    for (int engine = 0; engine < static_cast<int>(p.num_engines); ++engine) {
        out.shown(engine_name("engine_speed", engine), p.rpm[engine]);
        out.host(engine_name("boost", engine), p.mp_osi[engine] * flightmodel::kPsfPerInHg);
        out.host(engine_name("oil_temperature", engine), p.oil_temp[engine] + kRankineOverFahrenheit);
        out.host(engine_name("radiator_temperature", engine), p.cht[engine] + kRankineOverFahrenheit);
        out.shown(engine_name("oil_pressure", engine), p.oil_px[engine]);
        out.shown(engine_name("fuel_pressure", engine), p.fuel_px[engine]);
        out.shown(engine_name("running", engine), p.eng_state[engine] == 2 ? 1.0 : 0.0);
    }
    for (int tank = 0; tank < static_cast<int>(p.num_tanks); ++tank) {
        const double capacity = vars.get(sim::token::tank_capacity(tank));
        if (!(capacity > 0.0)) continue;
        const double gallons = settings.pounds_per_gallon > 0.0 ? p.fuel_quantity[tank] / settings.pounds_per_gallon
                                                                 : p.fuel_quantity[tank];
        out.shown(std::string("fuel_level.") + sim::kTankNames[tank], gallons / capacity);
    }
    return driven;
}

void apply(std::span<const Driven> driven, runtime::VariableStore& vars) {
    for (const Driven& each : driven) vars.set(each.variable->number, each.variable->entry->reading.to_host(each.value));
}

std::vector<std::string> never_driven() {
    FdmPacket full;
    full.num_engines = kFdmEngines;
    full.num_tanks = kFdmTanks;
    full.num_wheels = kFdmWheels;
    runtime::VariableStore vars;
    for (int tank = 0; tank < sim::token::kTankCount; ++tank) vars.set(sim::token::tank_capacity(tank), 1.0);
    std::set<std::string> driven;
    for (const Driven& each : driven_by(full, vars)) driven.insert(each.variable->name);
    std::vector<std::string> names;
    for (const std::string& name : sim::variable_names()) {
        if (!driven.contains(name)) names.push_back(name);
    }
    return names;
}

}  // namespace feed
