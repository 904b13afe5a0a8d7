#include "tools/flight_state.h"

#include <array>
#include <iterator>

#include "frame/vocabulary.h"

namespace flight_state {
namespace {

namespace token = sim::token;

constexpr double kFullTank = sim::unit::kFullTankLevel;

// Units as the host keeps them (pressures in pounds per square foot,
// temperatures in degrees Rankine) from the units people read.
constexpr double psf_from_psi(double psi) { return sim::unit::kPoundsPerSquareInch.to_host(psi); }
constexpr double psf_from_boost(double boost_psi) { return sim::unit::kBoost.to_host(boost_psi); }
constexpr double rankine_from_celsius(double celsius) { return sim::unit::kCelsius.to_host(celsius); }

struct EngineValues {
    uint32_t (*token_of)(int engine);
    double value;
    const char* what;
};

constexpr std::array<EngineValues, 9> kEngine = {{
    {token::engine_speed, 2650.0, "engine speed, rpm"},
    {token::manifold_pressure, psf_from_boost(6.0), "manifold pressure (+6 lb boost)"},
    {token::oil_temperature, rankine_from_celsius(72.0), "oil temperature (72 C)"},
    {token::radiator_temperature, rankine_from_celsius(100.0), "radiator temperature (100 C)"},
    {token::oil_pressure, psf_from_psi(75.0), "oil pressure (75 psi)"},
    {token::fuel_pressure, 2200.0, "fuel pressure"},
    {token::first_magneto, 1.0, "first magneto on"},
    {token::second_magneto, 1.0, "second magneto on"},
    {token::engine_running, 1.0, "engine running"},
}};

// The tanks: port 1 to 3 are tanks 0 to 2, starboard 1 to 3 tanks 3 to 5.
constexpr Setting kAircraft[] = {
    {token::kIndicatedAirspeed, 185.0, "indicated airspeed, knots"},
    {token::kIndicatedAltitude, 9400.0, "indicated altitude, feet"},
    {token::kPressureSetting, 1013.0, "altimeter setting, millibars"},
    {token::kVerticalSpeed, 300.0 / sim::unit::kVsiFeetPerMinutePerUnit, "vertical speed (+300 ft/min)"},
    {token::kPitch, 3.0, "pitch, degrees"},
    {token::kBank, -12.0, "bank, degrees (-12: starboard wing down, turning right)"},
    {token::kSideslip, 0.0, "sideslip"},
    {token::kRateOfTurn, 1.0 / sim::unit::kTurnRatesPerUnit, "rate of turn (+1)"},
    {token::kNormalAcceleration, sim::unit::kAccelerometerUnitsPerG, "normal acceleration (1 g)"},
    {token::kHeading, 287.0, "heading, degrees"},
    {token::kStationBearing, -20.0, "direction-finding bearing, degrees"},
    {token::kClockHours, 21.0, "clock hours"},
    {token::kClockMinutes, 47.0, "clock minutes"},
    {token::kClockSeconds, 30.0, "clock seconds"},
    {token::kFlapPosition, 0.0, "flaps up"},
    {token::kGearLeftPosition, 0.0, "port undercarriage up"},
    {token::kGearRightPosition, 0.0, "starboard undercarriage up"},
    {token::tank_level(0), 0.80 * kFullTank, "port tank 1 level"},
    {token::tank_capacity(0), 580.0, "port tank 1 capacity"},
    {token::tank_level(3), 0.78 * kFullTank, "starboard tank 1 level"},
    {token::tank_capacity(3), 580.0, "starboard tank 1 capacity"},
    {token::tank_level(1), 0.60 * kFullTank, "port tank 2 level"},
    {token::tank_capacity(1), 363.0, "port tank 2 capacity"},
    {token::tank_level(4), 0.62 * kFullTank, "starboard tank 2 level"},
    {token::tank_capacity(4), 363.0, "starboard tank 2 capacity"},
    {token::tank_level(2), 0.35 * kFullTank, "port tank 3 level"},
    {token::tank_capacity(2), 114.0, "port tank 3 capacity"},
    {token::tank_level(5), 0.30 * kFullTank, "starboard tank 3 level"},
    {token::tank_capacity(5), 114.0, "starboard tank 3 capacity"},
};

// Per engine: throttle and propeller levers.
constexpr double kThrottle = 11000.0;
constexpr double kPropeller = 13500.0;

constexpr size_t kCount = std::size(kAircraft) + sim::kEngineCount * (2 + kEngine.size());

constexpr std::array<Setting, kCount> make_cruise() {
    std::array<Setting, kCount> all{};
    size_t n = 0;
    for (const Setting& setting : kAircraft) all[n++] = setting;
    for (int engine = 0; engine < sim::kEngineCount; ++engine) {
        all[n++] = {token::throttle_lever(engine), kThrottle, "throttle lever"};
        all[n++] = {token::propeller_lever(engine), kPropeller, "propeller lever"};
        for (const EngineValues& value : kEngine) all[n++] = {value.token_of(engine), value.value, value.what};
    }
    return all;
}

constexpr std::array<Setting, kCount> kCruise = make_cruise();

}  // namespace

std::span<const Setting> cruise() { return kCruise; }

void apply_cruise(runtime::Host& host) {
    for (const Setting& setting : kCruise) host.vars().set(setting.token, setting.value);
}

}  // namespace flight_state
