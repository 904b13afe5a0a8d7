// The simulator's vocabulary, in the host's numbering: the variable tokens the
// gauges read, the key events they send or watch, and the units those carry.
// Gauges, the bench host's key model, the art and the tests all name these;
// each number is written here and nowhere else.
#pragma once

#include <cstdint>

namespace sim {

// The host numbers four engines' variables and events in blocks: engine n's
// number is engine 0's plus n times the block's stride.
inline constexpr int kEngineCount = 4;
inline constexpr uint32_t kEngineTokenStride = 39;
inline constexpr uint32_t kLeverTokenStride = 35;
inline constexpr uint32_t kEngineEventStride = 6;

namespace token {

// The time of day: hours, minutes and seconds.
inline constexpr uint32_t kClockHours = 3;
inline constexpr uint32_t kClockMinutes = 4;
inline constexpr uint32_t kClockSeconds = 5;

// Relative bearing of the tuned station, degrees clockwise from the nose.
inline constexpr uint32_t kStationBearing = 39;
// Indicated airspeed, knots.
inline constexpr uint32_t kIndicatedAirspeed = 61;
// Vertical speed, feet per minute.
inline constexpr uint32_t kVerticalSpeed = 65;
// Sideslip: the turn-and-slip ball's displacement.
inline constexpr uint32_t kSideslip = 69;
// Rate of turn.
inline constexpr uint32_t kRateOfTurn = 70;
// Indicated altitude, feet.
inline constexpr uint32_t kIndicatedAltitude = 74;
// The altimeter's pressure setting, millibars.
inline constexpr uint32_t kPressureSetting = 75;
// Pitch, degrees nose up; bank, degrees port wing down (a left bank is
// positive, whatever sign a flight model gives its roll).
inline constexpr uint32_t kPitch = 78;
inline constexpr uint32_t kBank = 80;
// Magnetic heading, degrees.
inline constexpr uint32_t kHeading = 81;
// Flap position.
inline constexpr uint32_t kFlapPosition = 329;
// Undercarriage legs' extension, port and starboard.
inline constexpr uint32_t kGearLeftPosition = 333;
inline constexpr uint32_t kGearRightPosition = 334;
// Normal acceleration, g.
inline constexpr uint32_t kNormalAcceleration = 351;

// The six tanks' level and capacity are consecutive pairs from token 291:
// tank t's level is 291 + 2t, its capacity the token after.
inline constexpr uint32_t kFirstTankLevel = 291;
inline constexpr int kTankCount = 6;
constexpr uint32_t tank_level(int tank) { return kFirstTankLevel + 2 * static_cast<uint32_t>(tank); }
constexpr uint32_t tank_capacity(int tank) { return tank_level(tank) + 1; }

// Levers, 0..16383, by engine 0..3.
constexpr uint32_t throttle_lever(int engine) { return 128 + kLeverTokenStride * static_cast<uint32_t>(engine); }
constexpr uint32_t propeller_lever(int engine) { return 129 + kLeverTokenStride * static_cast<uint32_t>(engine); }

// The engine blocks, by engine 0..3.
constexpr uint32_t engine_block(uint32_t first, int engine) {
    return first + kEngineTokenStride * static_cast<uint32_t>(engine);
}
// Engine speed, rpm.
constexpr uint32_t engine_speed(int engine) { return engine_block(390, engine); }
// Manifold pressure, pounds per square foot.
constexpr uint32_t manifold_pressure(int engine) { return engine_block(391, engine); }
// Magneto switches, 0 off or 1 on.
constexpr uint32_t first_magneto(int engine) { return engine_block(399, engine); }
constexpr uint32_t second_magneto(int engine) { return engine_block(400, engine); }
// 1.0 while the engine runs, 0.0 when it is stopped.
constexpr uint32_t engine_running(int engine) { return engine_block(406, engine); }
// Oil and radiator temperatures, degrees Rankine.
constexpr uint32_t oil_temperature(int engine) { return engine_block(416, engine); }
constexpr uint32_t radiator_temperature(int engine) { return engine_block(417, engine); }
// Oil pressure, pounds per square foot.
constexpr uint32_t oil_pressure(int engine) { return engine_block(418, engine); }
// Fuel pressure, pounds per square foot.
constexpr uint32_t fuel_pressure(int engine) { return engine_block(425, engine); }

// No variable: a source with this token is one the host never fills, for an
// axis the element does not move on or a value its callback finds elsewhere.
inline constexpr uint32_t kNone = 0;

}  // namespace token

namespace event {

// The altimeter's pressure setting; the value is in sixteenths of a millibar.
inline constexpr uint32_t kAltimeterSetting = 66040;
inline constexpr uint32_t kAltimeterSettingSteps = 16;  // per millibar
// Settings an altimeter could be asked for, millibars: beyond the lowest and
// highest sea-level pressures ever met, wider than any knob's stops.
inline constexpr double kLowestPressureSetting = 850.0;
inline constexpr double kHighestPressureSetting = 1100.0;

// The clock's time of day, one minute back or on.
inline constexpr uint32_t kClockMinuteBack = 65657;
inline constexpr uint32_t kClockMinuteOn = 65658;

// Bomb release: the start of a release sequence and each bomb released.
inline constexpr uint32_t kReleaseSequenceStart = 66587;
inline constexpr uint32_t kBombReleased = 66658;

// Levers, by engine 0..3; the value is the lever position 0..16383.
inline constexpr uint32_t kLeverMaximum = 16383;
constexpr uint32_t throttle_set(int engine) { return 65820 + static_cast<uint32_t>(engine); }
constexpr uint32_t propeller_set(int engine) { return 65923 + static_cast<uint32_t>(engine); }

// Magneto toggles and engine starts, by engine 0..3: the magneto and start
// family lies in blocks 6 apart; the second start family is consecutive.
constexpr uint32_t engine_event(uint32_t first, int engine) {
    return first + kEngineEventStride * static_cast<uint32_t>(engine);
}
constexpr uint32_t first_magneto_toggle(int engine) { return engine_event(65929, engine); }
constexpr uint32_t second_magneto_toggle(int engine) { return engine_event(65928, engine); }
constexpr uint32_t engine_start(int engine) { return engine_event(65932, engine); }
constexpr uint32_t engine_start_alternate(int engine) { return 66300 + static_cast<uint32_t>(engine); }

}  // namespace event

namespace unit {

// Pressures arrive in pounds per square foot; dials read pounds per square inch.
inline constexpr double kSquareInchesPerSquareFoot = 144.0;
// Boost is the manifold pressure above this datum, in pounds per square inch.
inline constexpr double kBoostDatumPsf = 2073.0;
// Temperatures arrive in degrees Rankine; the dials' maker reads Celsius from
// this zero with this rounded factor.
inline constexpr double kRankineAtFreezing = 492.0;
inline constexpr double kCelsiusPerRankine = 0.555556;
// A tank's level is its fill as a fraction of full, scaled by 2^23.
inline constexpr double kFullTankLevel = 8388608.0;
// The instruments' own raw units, from their calibrations: the VSI reads
// 0.797194 ft/min per unit, the turn pointer 0.003663 rate-one turns (3
// degrees a second) per unit, the slip needle 0.1575 of its scale per unit,
// the accelerometer 617 units per g.
inline constexpr double kVsiFeetPerMinutePerUnit = 0.797194;
inline constexpr double kTurnRatesPerUnit = 0.003663;
inline constexpr double kSlipScalePerUnit = 0.1575;
inline constexpr double kAccelerometerUnitsPerG = 617.0;

// How people read a variable: (host value - zero) x per_host_unit, in `unit`
// (empty for a count or a switch). A name in a scenario or a listing reads and
// writes in this unit; a token number keeps the host's own.
struct Reading {
    const char* unit = "";
    double per_host_unit = 1.0;
    double zero = 0.0;

    constexpr double from_host(double host) const { return (host - zero) * per_host_unit; }
    constexpr double to_host(double shown) const { return shown / per_host_unit + zero; }
};

// Every unit a Reading names: its name, and the other spellings a user may
// type for it (each meaning this unit and no other). A scenario's value may
// carry any of them.
struct Unit {
    const char* symbol;
    const char* name;
    const char* also[4];
};

inline constexpr Unit kUnits[] = {
    {"h", "hours", {"hr"}},
    {"min", "minutes", {}},
    {"s", "seconds", {"sec"}},
    {"\u00B0", "degrees", {"deg"}},
    {"kt", "knots", {"kts", "knots", "kn"}},
    {"ft/min", "feet per minute", {"fpm"}},
    {"slip-scale units", "the slip needle's scale", {}},
    {"rate-one turns", "rate-one turns, 3 degrees a second", {}},
    {"ft", "feet", {}},
    {"mb", "millibars", {"mbar", "hPa"}},
    {"%", "percent", {}},
    {"full", "fraction of full", {}},
    {"g", "g", {}},
    {"gal", "gallons", {}},
    {"rpm", "revolutions per minute", {"RPM", "r/min"}},
    {"lb/in\u00B2", "pounds per square inch", {"psi", "lb/in2", "lb/in^2"}},
    {"\u00B0C", "degrees Celsius", {"C", "degC", "deg C", "\u2103"}},
};

// A value in `from` is `factor` times as much in `to`: the only conversions
// between the units above that need no physics.
struct Conversion {
    const char* from;
    const char* to;
    double factor;
};

inline constexpr Conversion kConversions[] = {
    {"%", "full", 0.01},
};

inline constexpr Reading kSame{};
inline constexpr Reading kPercentOfLever{"%", 100.0 / event::kLeverMaximum};
inline constexpr Reading kPoundsPerSquareInch{"lb/in\u00B2", 1.0 / kSquareInchesPerSquareFoot};
inline constexpr Reading kCelsius{"\u00B0C", kCelsiusPerRankine, kRankineAtFreezing};
inline constexpr Reading kBoost{"lb/in\u00B2", 1.0 / kSquareInchesPerSquareFoot, kBoostDatumPsf};
inline constexpr Reading kFractionOfFull{"full", 1.0 / kFullTankLevel};
inline constexpr Reading kDegrees{"\u00B0"};

}  // namespace unit

// --- Names ------------------------------------------------------------------
// Every variable and event above by the name scenarios, listings and the live
// page use. A family that repeats per engine is named with the crew's engine
// number after a dot (engine_speed.1 is engine 0's, the port outer), one that
// repeats per tank with the tank's gauge (fuel_level.port_1).

enum class Family : uint8_t { kSingle, kEngine, kTank };

// The values that make sense, both ends included: what the instrument could
// face, wider than its dial's marks. A variable's range is in the unit people
// read it in; an event's in its value's own.
struct Range {
    double low = 0.0;
    double high = 0.0;
};

// The value a key event carries. An event whose routines look at the id alone
// carries none (unit null).
struct EventValue {
    const char* unit = nullptr;
    Range range;
};

inline constexpr EventValue kNoValue{};
inline constexpr EventValue kLeverValue{"lever position, 16383 full", {0.0, event::kLeverMaximum}};

// The host numbers the port tanks 0..2 and the starboard tanks 3..5.
inline constexpr const char* kTankNames[token::kTankCount] = {"port_1", "port_2", "port_3",
                                                              "stbd_1", "stbd_2", "stbd_3"};

struct NamedVariable {
    const char* name;
    Family family;
    uint32_t (*token)(int index);  // by engine or tank 0.., 0 for a single one
    unit::Reading reading;
    Range range;
    const char* what;
};

struct NamedEvent {
    const char* name;
    Family family;  // kSingle or kEngine
    uint32_t (*event)(int engine);
    EventValue value;
    const char* what;
};

// clang-format off
inline constexpr NamedVariable kVariables[] = {
    {"clock_hours", Family::kSingle, [](int) { return token::kClockHours; }, {"h"}, {0, 24}, "clock, hours"},
    {"clock_minutes", Family::kSingle, [](int) { return token::kClockMinutes; }, {"min"}, {0, 60}, "clock, minutes"},
    {"clock_seconds", Family::kSingle, [](int) { return token::kClockSeconds; }, {"s"}, {0, 60}, "clock, seconds"},
    {"station_bearing", Family::kSingle, [](int) { return token::kStationBearing; }, unit::kDegrees, {-360, 360},
     "relative bearing of the tuned station, clockwise from the nose"},
    {"airspeed", Family::kSingle, [](int) { return token::kIndicatedAirspeed; }, {"kt"}, {0, 500},
     "indicated airspeed"},
    {"vertical_speed", Family::kSingle, [](int) { return token::kVerticalSpeed; },
     {"ft/min", unit::kVsiFeetPerMinutePerUnit}, {-10000, 10000}, "vertical speed, positive climbing"},
    {"sideslip", Family::kSingle, [](int) { return token::kSideslip; },
     {"slip-scale units", unit::kSlipScalePerUnit}, {-20, 20}, "slip needle, positive to starboard (scale \u00B120)"},
    {"turn_rate", Family::kSingle, [](int) { return token::kRateOfTurn; },
     {"rate-one turns", unit::kTurnRatesPerUnit}, {-10, 10}, "rate of turn, positive turning right"},
    {"altitude", Family::kSingle, [](int) { return token::kIndicatedAltitude; }, {"ft"}, {-2000, 50000},
     "indicated altitude"},
    {"pressure_setting", Family::kSingle, [](int) { return token::kPressureSetting; }, {"mb"},
     {event::kLowestPressureSetting, event::kHighestPressureSetting}, "the altimeter's pressure setting"},
    {"pitch", Family::kSingle, [](int) { return token::kPitch; }, unit::kDegrees, {-90, 90}, "pitch, positive nose up"},
    {"bank", Family::kSingle, [](int) { return token::kBank; }, unit::kDegrees, {-180, 180},
     "bank, positive port wing down (a left bank)"},
    {"heading", Family::kSingle, [](int) { return token::kHeading; }, unit::kDegrees, {0, 360}, "magnetic heading"},
    {"flaps", Family::kSingle, [](int) { return token::kFlapPosition; }, unit::kPercentOfLever, {0, 100},
     "flap position, 0 up, 100 down"},
    {"undercarriage.port", Family::kSingle, [](int) { return token::kGearLeftPosition; }, unit::kPercentOfLever,
     {0, 100}, "port leg, 0 up, 100 down (locked above 99.94)"},
    {"undercarriage.stbd", Family::kSingle, [](int) { return token::kGearRightPosition; }, unit::kPercentOfLever,
     {0, 100}, "starboard leg, 0 up, 100 down (locked above 99.94)"},
    {"normal_acceleration", Family::kSingle, [](int) { return token::kNormalAcceleration; },
     {"g", 1.0 / unit::kAccelerometerUnitsPerG}, {-5, 10}, "normal acceleration, positive pressing into the seat"},
    {"fuel_level", Family::kTank, token::tank_level, unit::kFractionOfFull, {0, 1}, "tank level, a fraction of full"},
    {"fuel_capacity", Family::kTank, token::tank_capacity, {"gal"}, {0, 2000}, "tank capacity"},
    {"throttle", Family::kEngine, token::throttle_lever, unit::kPercentOfLever, {0, 100}, "throttle lever"},
    {"propeller", Family::kEngine, token::propeller_lever, unit::kPercentOfLever, {0, 100}, "propeller lever"},
    {"engine_speed", Family::kEngine, token::engine_speed, {"rpm"}, {0, 5000}, "engine speed"},
    // From a vacuum in the manifold up.
    {"boost", Family::kEngine, token::manifold_pressure, unit::kBoost,
     {-unit::kBoostDatumPsf / unit::kSquareInchesPerSquareFoot, 30}, "boost: manifold pressure above the datum"},
    {"magneto_1", Family::kEngine, token::first_magneto, unit::kSame, {0, 1}, "first magneto, 0 off, 1 on"},
    {"magneto_2", Family::kEngine, token::second_magneto, unit::kSame, {0, 1}, "second magneto, 0 off, 1 on"},
    {"running", Family::kEngine, token::engine_running, unit::kSame, {0, 1}, "1 while the engine runs"},
    {"oil_temperature", Family::kEngine, token::oil_temperature, unit::kCelsius, {-60, 160}, "oil temperature"},
    {"radiator_temperature", Family::kEngine, token::radiator_temperature, unit::kCelsius, {-60, 160},
     "coolant temperature at the radiator"},
    {"oil_pressure", Family::kEngine, token::oil_pressure, unit::kPoundsPerSquareInch, {0, 200}, "oil pressure"},
    {"fuel_pressure", Family::kEngine, token::fuel_pressure, unit::kPoundsPerSquareInch, {0, 100}, "fuel pressure"},
};

inline constexpr NamedEvent kEvents[] = {
    {"altimeter_setting", Family::kSingle, [](int) { return event::kAltimeterSetting; },
     {"sixteenths of a millibar", {event::kLowestPressureSetting * event::kAltimeterSettingSteps,
                                   event::kHighestPressureSetting * event::kAltimeterSettingSteps}},
     "sets the altimeter"},
    {"clock_minute_back", Family::kSingle, [](int) { return event::kClockMinuteBack; }, kNoValue,
     "clock one minute back"},
    {"clock_minute_on", Family::kSingle, [](int) { return event::kClockMinuteOn; }, kNoValue, "clock one minute on"},
    {"release_sequence_start", Family::kSingle, [](int) { return event::kReleaseSequenceStart; }, kNoValue,
     "the start of a bomb release sequence"},
    {"bomb_released", Family::kSingle, [](int) { return event::kBombReleased; }, kNoValue, "a bomb released"},
    {"throttle_set", Family::kEngine, event::throttle_set, kLeverValue, "sets the throttle lever"},
    {"propeller_set", Family::kEngine, event::propeller_set, kLeverValue, "sets the propeller lever"},
    {"magneto_1_toggle", Family::kEngine, event::first_magneto_toggle, kNoValue, "toggles the first magneto"},
    {"magneto_2_toggle", Family::kEngine, event::second_magneto_toggle, kNoValue, "toggles the second magneto"},
    {"engine_start", Family::kEngine, event::engine_start, kNoValue, "starts the engine"},
    {"engine_start_alternate", Family::kEngine, event::engine_start_alternate, kNoValue,
     "starts the engine (the other shell's event)"},
};
// clang-format on

namespace vocabulary_checks {

constexpr bool same_text(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) ++a, ++b;
    return *a == *b;
}

// Every unit a variable is read in has its name and spellings in unit::kUnits,
// and every range runs upwards.
constexpr bool complete() {
    for (const NamedVariable& variable : kVariables) {
        if (!(variable.range.low < variable.range.high)) return false;
        if (variable.reading.unit[0] == '\0') continue;
        bool named = false;
        for (const unit::Unit& entry : unit::kUnits) named = named || same_text(entry.symbol, variable.reading.unit);
        if (!named) return false;
    }
    for (const NamedEvent& named : kEvents) {
        if (named.value.unit != nullptr && !(named.value.range.low < named.value.range.high)) return false;
    }
    return true;
}
static_assert(complete(), "a variable's unit is missing from unit::kUnits, or a range runs downwards");

}  // namespace vocabulary_checks

// The simulator's tooltip strings, by the help id a gauge's mouse box carries:
// the text the simulator shows under the pointer.
namespace help {

// No tooltip.
inline constexpr uint32_t kNone = 0;

// Each id once, with its text: the constant a gauge's box names and the
// line the tooltip shows.
#define SIM_HELP_IDS(X)                                                      \
    X(kAltimeter, 0xA001, "Altimeter")                                       \
    X(kAirspeed, 0xA003, "Airspeed indicator")                               \
    X(kAttitude, 0xA004, "Attitude indicator")                               \
    X(kCompass, 0xA005, "Compass")                                           \
    X(kFlapPosition, 0xA015, "Flaps position indicator")                     \
    X(kClock, 0xA017, "Clock")                                               \
    X(kTurnAndSlip, 0xA01A, "Turn and slip indicator")                       \
    X(kVerticalSpeed, 0xA01F, "Vertical speed indicator")                    \
    X(kEngineSpeed, 0xA020, "Engine speed (rpm)")                            \
    X(kBoost, 0xA021, "Boost pressure")                                      \
    X(kOilTemperature, 0xA022, "Oil temperature")                            \
    X(kOilPressure, 0xA023, "Oil pressure")                                  \
    X(kPressureSetting, 0xA034, "Altimeter pressure setting (millibars)")    \
    X(kRadiatorTemperature, 0xA86A, "Radiator coolant temperature")

#define SIM_HELP_ID_CONSTANT(name, id, text) inline constexpr uint32_t name = id;
SIM_HELP_IDS(SIM_HELP_ID_CONSTANT)
#undef SIM_HELP_ID_CONSTANT

struct Text {
    uint32_t id;
    const char* text;
};

inline constexpr Text kTexts[] = {
#define SIM_HELP_ID_TEXT(name, id, text) {name, text},
    SIM_HELP_IDS(SIM_HELP_ID_TEXT)
#undef SIM_HELP_ID_TEXT
};

// The text for a help id, or null for an id with none (0: no tooltip).
constexpr const char* text_of(uint32_t id) {
    for (const Text& entry : kTexts) {
        if (entry.id == id) return entry.text;
    }
    return nullptr;
}

}  // namespace help

}  // namespace sim
