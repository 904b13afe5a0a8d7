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

}  // namespace unit

}  // namespace sim
