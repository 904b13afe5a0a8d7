#include "tools/flight_state.h"

#include <array>
#include <iterator>

namespace flight_state {
namespace {

constexpr uint32_t kEngineStride = 39;
constexpr uint32_t kLeverStride = 35;
constexpr double kFullTank = 8388608.0;  // the level variables' scale: 2^23 is full

// Units as the host keeps them: pressures in pounds per square foot,
// temperatures in degrees Rankine.
constexpr double psf_from_boost(double boost_psi) { return 2073.0 + 144.0 * boost_psi; }
constexpr double rankine_from_celsius(double celsius) { return 492.0 + celsius / 0.555556; }

struct EngineValues {
    uint32_t token_of_engine_1;
    double value;
    const char* what;
};

constexpr std::array<EngineValues, 9> kEngine = {{
    {390, 2650.0, "engine speed, rpm"},
    {391, psf_from_boost(6.0), "manifold pressure (+6 lb boost)"},
    {416, rankine_from_celsius(72.0), "oil temperature (72 C)"},
    {417, rankine_from_celsius(100.0), "radiator temperature (100 C)"},
    {418, 75.0 * 144.0, "oil pressure (75 psi)"},
    {425, 2200.0, "fuel pressure"},
    {399, 1.0, "first magneto on"},
    {400, 1.0, "second magneto on"},
    {406, 1.0, "engine running"},
}};

constexpr Setting kAircraft[] = {
    {61, 185.0, "indicated airspeed, knots"},
    {74, 9400.0, "indicated altitude, feet"},
    {75, 1013.0, "altimeter setting, millibars"},
    {65, 300.0 / 0.797194, "vertical speed (+300 ft/min)"},
    {78, 3.0, "pitch, degrees"},
    {80, 12.0, "bank, degrees"},
    {69, 0.0, "sideslip"},
    {70, 1.0 / 0.003663, "rate of turn (+1)"},
    {351, 617.0, "normal acceleration (1 g)"},
    {81, 287.0, "heading, degrees"},
    {39, -20.0, "direction-finding bearing, degrees"},
    {3, 21.0, "clock hours"},
    {4, 47.0, "clock minutes"},
    {5, 30.0, "clock seconds"},
    {329, 0.0, "flaps up"},
    {333, 0.0, "port undercarriage up"},
    {334, 0.0, "starboard undercarriage up"},
    {291, 0.80 * kFullTank, "port tank 1 level"},
    {292, 580.0, "port tank 1 capacity"},
    {297, 0.78 * kFullTank, "starboard tank 1 level"},
    {298, 580.0, "starboard tank 1 capacity"},
    {293, 0.60 * kFullTank, "port tank 2 level"},
    {294, 363.0, "port tank 2 capacity"},
    {299, 0.62 * kFullTank, "starboard tank 2 level"},
    {300, 363.0, "starboard tank 2 capacity"},
    {295, 0.35 * kFullTank, "port tank 3 level"},
    {296, 114.0, "port tank 3 capacity"},
    {301, 0.30 * kFullTank, "starboard tank 3 level"},
    {302, 114.0, "starboard tank 3 capacity"},
};

// Per engine: throttle and propeller levers (35 tokens apart).
constexpr double kThrottle = 11000.0;
constexpr double kPropeller = 13500.0;

constexpr size_t kCount = std::size(kAircraft) + 4 * (2 + kEngine.size());

constexpr std::array<Setting, kCount> make_cruise() {
    std::array<Setting, kCount> all{};
    size_t n = 0;
    for (const Setting& setting : kAircraft) all[n++] = setting;
    for (uint32_t engine = 0; engine < 4; ++engine) {
        all[n++] = {128 + kLeverStride * engine, kThrottle, "throttle lever"};
        all[n++] = {129 + kLeverStride * engine, kPropeller, "propeller lever"};
        for (const EngineValues& value : kEngine) {
            all[n++] = {value.token_of_engine_1 + kEngineStride * engine, value.value, value.what};
        }
    }
    return all;
}

constexpr std::array<Setting, kCount> kCruise = make_cruise();

}  // namespace

std::span<const Setting> cruise() { return kCruise; }

void apply_cruise(bench::Host& host) {
    for (const Setting& setting : kCruise) host.vars().set(setting.token, setting.value);
}

}  // namespace flight_state
