// The bitmaps of Korvane.gau: every resource id with its size and what it
// shows. The art generator draws one file per entry and the resource tests
// hold the built module to the same sizes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace korvane {

namespace bitmap {

// Every bitmap id of the module, named for what it shows (an icon's frames
// and a moving picture's mask each have their own).
enum : uint32_t {
    kAltimeterDial = 100,
    kAltimeterPointer100k = 105,
    kAltimeterPointer10k = 110,
    kAltimeterPointer1k = 115,
    kAltimeterDrumStrip = 120,
    kAltimeterDrumWindow = 121,
    kAirspeedDial = 125,
    kAirspeedNeedle = 130,
    kTurnDial = 135,
    kTurnSlipNeedle = 140,
    kTurnPointer = 145,
    kTachometerDial = 150,
    kTachometerThousandsHand = 155,
    kTachometerHundredsHand = 160,
    kBoostDial = 165,
    kBoostNeedle = 170,
    kOilTemperatureDial = 175,
    kOilTemperatureNeedle = 180,
    kRadiatorTemperatureDial = 185,
    kRadiatorTemperatureNeedle = 190,
    kVsiDial = 200,
    kVsiNeedle = 205,
    kOilPressureDial = 210,
    kOilPressureNeedle = 215,
    kAttitudeCase = 220,
    kAttitudeHorizonBar = 225,
    kAttitudeBezel = 226,
    kAttitudeBankPointer = 230,
    kCompassBody = 235,
    kCompassCardStrip = 240,
    kCompassCardWindow = 241,
    kClockDial = 260,
    kClockHourHand = 265,
    kClockMinuteHand = 270,
    kClockSecondHand = 275,
    kGearPanel = 280,
    kGearUpLampNight = 285,
    kGearUpLampDay = 290,
    kGearPortDownLampNight = 295,
    kGearPortDownLampDay = 300,
    kGearStarboardDownLampNight = 305,
    kGearStarboardDownLampDay = 306,
    kMagnetoPanel = 310,
    kMagnetoSwitchOff = 315,
    kMagnetoSwitchOn = 316,
    kAccelerometerDial = 330,
    kAccelerometerNeedle = 335,
    kTimerDial = 340,
    kTimerMinutesRing = 345,
    kTimerMinutesWindow = 346,
    kTimerSecondsHand = 350,
    kFuelPressureWarningHousing = 355,
    kFuelPressureWarningLamp = 360,
    kStarterPanel = 365,
    kArmingSwitchOff = 370,
    kArmingSwitchOn = 371,
    kFuelQuantityDial1 = 375,
    kFuelQuantityDial2 = 380,
    kFuelQuantityDial3 = 385,
    kFuelQuantityNeedle = 390,
    kFlapDial = 395,
    kFlapNeedle = 400,
    kThrottleQuadrant = 405,
    kThrottleLever1 = 410,
    kThrottleLever2 = 415,
    kThrottleLever3 = 420,
    kThrottleLever4 = 425,
    kPropellerQuadrant = 430,
    kPropellerLever1 = 432,
    kPropellerLever2 = 434,
    kPropellerLever3 = 436,
    kPropellerLever4 = 438,
    kDrCompassCase = 440,
    kDrCompassRose = 442,
    kDrCompassBezel = 443,
    kDrCompassCoursePointer = 445,
    kDrCompassKnob = 447,
    kDirectionFinderDial = 450,
    kDirectionFinderNeedle = 452,
};

}  // namespace bitmap

struct BitmapInfo {
    uint32_t id;
    uint32_t width;
    uint32_t height;
    std::string_view gauge;  // the gauge that shows it (the first, when a family shares it)
    std::string_view what;
};

inline constexpr std::array<BitmapInfo, 79> kBitmaps{{
    // Airspeed, altimeter and vertical speed.
    {bitmap::kAltimeterDial, 278, 314, "Altimeter", "altimeter dial with the setting knob strip below it"},
    {bitmap::kAltimeterPointer100k, 91, 25, "Altimeter", "altimeter 100,000-per-turn pointer"},
    {bitmap::kAltimeterPointer10k, 133, 35, "Altimeter", "altimeter 10,000-per-turn pointer"},
    {bitmap::kAltimeterPointer1k, 182, 17, "Altimeter", "altimeter 1,000-per-turn pointer (long hand)"},
    {bitmap::kAltimeterDrumStrip, 18, 297, "Altimeter",
     "pressure-setting drum strip: digits 0 to 9 and 0 in 27-pixel cells"},
    {bitmap::kAltimeterDrumWindow, 18, 27, "Altimeter", "pressure-setting drum window (mask)"},
    {bitmap::kAirspeedDial, 278, 278, "Airspeed", "airspeed dial: outer scale 60-200 knots, inner scale 220-340"},
    {bitmap::kAirspeedNeedle, 172, 17, "Airspeed", "airspeed needle"},
    {bitmap::kVsiDial, 278, 278, "VSI", "vertical speed dial: 0 at 9 o'clock, climb above, descent below"},
    {bitmap::kVsiNeedle, 172, 17, "VSI", "vertical speed needle"},
    // Attitude, turn and accelerometer.
    {bitmap::kTurnDial, 282, 282, "Turn", "turn and slip dial: slip scale above, turn scale below"},
    {bitmap::kTurnSlipNeedle, 93, 19, "Turn", "side-slip needle"},
    {bitmap::kTurnPointer, 101, 19, "Turn", "turn pointer"},
    {bitmap::kAttitudeCase, 256, 256, "Attitude", "artificial horizon case"},
    {bitmap::kAttitudeHorizonBar, 256, 256, "Attitude", "horizon bar texture"},
    {bitmap::kAttitudeBezel, 256, 256, "Attitude", "horizon bezel with bank scale and aircraft symbol (mask)"},
    {bitmap::kAttitudeBankPointer, 110, 15, "Attitude", "bank pointer"},
    {bitmap::kAccelerometerDial, 278, 278, "Accelerometer", "accelerometer dial: -2 to 5 g"},
    {bitmap::kAccelerometerNeedle, 175, 21, "Accelerometer", "accelerometer needle"},
    // Compasses and direction finder.
    {bitmap::kCompassBody, 110, 110, "Compass", "compass body with the card window"},
    {bitmap::kCompassCardStrip, 720, 32, "Compass", "compass card strip"},
    {bitmap::kCompassCardWindow, 72, 32, "Compass", "compass card window with lubber line (mask)"},
    {bitmap::kDrCompassCase, 260, 260, "DR_Compass", "distant-reading compass case"},
    {bitmap::kDrCompassRose, 256, 256, "DR_Compass", "compass rose texture, N at the top"},
    {bitmap::kDrCompassBezel, 260, 260, "DR_Compass", "distant-reading compass bezel with lubber mark (mask)"},
    {bitmap::kDrCompassCoursePointer, 177, 25, "DR_Compass", "course pointer, two-ended"},
    {bitmap::kDrCompassKnob, 56, 56, "DR_Compass", "course-setting knob"},
    {bitmap::kDirectionFinderDial, 185, 185, "Direction_Finder",
     "direction finder dial: L and R either side of the centre mark"},
    {bitmap::kDirectionFinderNeedle, 86, 21, "Direction_Finder", "direction finder needle"},
    // Clock and timer.
    {bitmap::kClockDial, 306, 302, "Clock", "12-hour clock dial with the setting knob"},
    {bitmap::kClockHourHand, 88, 23, "Clock", "clock hour hand"},
    {bitmap::kClockMinuteHand, 116, 23, "Clock", "clock minute hand"},
    {bitmap::kClockSecondHand, 155, 15, "Clock", "clock second hand"},
    {bitmap::kTimerDial, 306, 302, "Timer", "stopwatch: 60-second dial, crown and start/stop pusher"},
    {bitmap::kTimerMinutesRing, 256, 256, "Timer",
     "minutes ring texture: 0 to 10, rising anticlockwise from the bottom"},
    {bitmap::kTimerMinutesWindow, 51, 57, "Timer", "minutes window over the dial (mask)"},
    {bitmap::kTimerSecondsHand, 114, 25, "Timer", "stopwatch seconds hand"},
    // Engine dials.
    {bitmap::kTachometerDial, 278, 278, "Tachometer1", "engine speed dial: 0 to 9"},
    {bitmap::kTachometerThousandsHand, 112, 35, "Tachometer1", "engine speed short hand (thousands)"},
    {bitmap::kTachometerHundredsHand, 177, 17, "Tachometer1", "engine speed long hand (hundreds)"},
    {bitmap::kBoostDial, 278, 278, "Boost1", "boost dial: -4 to 24 pounds per square inch"},
    {bitmap::kBoostNeedle, 172, 17, "Boost1", "boost needle"},
    {bitmap::kOilTemperatureDial, 138, 138, "Oil_Temperature1", "oil temperature dial: 0 to 120 degrees Celsius"},
    {bitmap::kOilTemperatureNeedle, 79, 11, "Oil_Temperature1", "oil temperature needle"},
    {bitmap::kRadiatorTemperatureDial, 138, 138, "Radiator_Temperature1",
     "radiator temperature dial: 40 to 140 degrees Celsius"},
    {bitmap::kRadiatorTemperatureNeedle, 79, 11, "Radiator_Temperature1", "radiator temperature needle"},
    {bitmap::kOilPressureDial, 138, 138, "Oil_Pressure1", "oil pressure dial: 0 to 120 pounds per square inch"},
    {bitmap::kOilPressureNeedle, 88, 56, "Oil_Pressure1", "oil pressure needle"},
    // Fuel, flaps and undercarriage.
    {bitmap::kFuelPressureWarningHousing, 46, 46, "Fuel_Pressure_Warning1",
     "fuel pressure warning housing, lamp unlit"},
    {bitmap::kFuelPressureWarningLamp, 19, 19, "Fuel_Pressure_Warning1", "fuel pressure warning lamp, lit"},
    {bitmap::kFuelQuantityDial1, 140, 140, "Fuel_Quantity_Port_1",
     "number 1 tank contents dial: 0 to 500 gallons, capacity 580"},
    {bitmap::kFuelQuantityDial2, 140, 140, "Fuel_Quantity_Port_2",
     "number 2 tank contents dial: 0 to 310 gallons, capacity 363"},
    {bitmap::kFuelQuantityDial3, 140, 140, "Fuel_Quantity_Port_3",
     "number 3 tank contents dial: 0 to 90 gallons, capacity 114"},
    {bitmap::kFuelQuantityNeedle, 91, 9, "Fuel_Quantity_Port_1", "fuel contents needle"},
    {bitmap::kFlapDial, 140, 140, "Flap_Position", "flap dial: UP, 10 to 50 degrees, DOWN"},
    {bitmap::kFlapNeedle, 91, 9, "Flap_Position", "flap needle"},
    {bitmap::kGearPanel, 278, 278, "Gear_Indicator", "undercarriage lamp panel with the day/night knob"},
    {bitmap::kGearUpLampNight, 33, 32, "Gear_Indicator", "red locked-up lamp, night"},
    {bitmap::kGearUpLampDay, 33, 32, "Gear_Indicator", "red locked-up lamp, day"},
    {bitmap::kGearPortDownLampNight, 47, 98, "Gear_Indicator", "port green locked-down lamp, night"},
    {bitmap::kGearPortDownLampDay, 47, 98, "Gear_Indicator", "port green locked-down lamp, day"},
    {bitmap::kGearStarboardDownLampNight, 47, 98, "Gear_Indicator", "starboard green locked-down lamp, night"},
    {bitmap::kGearStarboardDownLampDay, 47, 98, "Gear_Indicator", "starboard green locked-down lamp, day"},
    // Engine controls.
    {bitmap::kMagnetoPanel, 380, 138, "Magneto_Switch", "magneto switch panel, four pairs"},
    {bitmap::kMagnetoSwitchOff, 45, 138, "Magneto_Switch", "magneto switch, off"},
    {bitmap::kMagnetoSwitchOn, 45, 138, "Magneto_Switch", "magneto switch, on"},
    {bitmap::kStarterPanel, 300, 115, "Starter_Switch", "starter panel: four engines, start buttons"},
    {bitmap::kArmingSwitchOff, 54, 111, "Starter_Switch", "arming switch, not armed"},
    {bitmap::kArmingSwitchOn, 54, 111, "Starter_Switch", "arming switch, armed"},
    {bitmap::kThrottleQuadrant, 266, 165, "Throttle", "throttle quadrant"},
    {bitmap::kThrottleLever1, 107, 108, "Throttle", "engine 1 throttle lever"},
    {bitmap::kThrottleLever2, 39, 53, "Throttle", "engine 2 throttle lever"},
    {bitmap::kThrottleLever3, 39, 53, "Throttle", "engine 3 throttle lever"},
    {bitmap::kThrottleLever4, 107, 108, "Throttle", "engine 4 throttle lever"},
    {bitmap::kPropellerQuadrant, 198, 178, "Prop_Control", "propeller speed control quadrant"},
    {bitmap::kPropellerLever1, 53, 55, "Prop_Control", "engine 1 propeller lever"},
    {bitmap::kPropellerLever2, 46, 55, "Prop_Control", "engine 2 propeller lever"},
    {bitmap::kPropellerLever3, 47, 55, "Prop_Control", "engine 3 propeller lever"},
    {bitmap::kPropellerLever4, 52, 55, "Prop_Control", "engine 4 propeller lever"},
}};

// The entry for an id, or null when the module has no such bitmap.
constexpr const BitmapInfo* find_bitmap(uint32_t id) {
    for (const BitmapInfo& info : kBitmaps) {
        if (info.id == id) return &info;
    }
    return nullptr;
}

// Each id once, all within the module's range.
constexpr bool ids_are_unique_and_in_range() {
    for (size_t i = 0; i < kBitmaps.size(); ++i) {
        if (kBitmaps[i].id < 100 || kBitmaps[i].id > 452) return false;
        for (size_t j = i + 1; j < kBitmaps.size(); ++j) {
            if (kBitmaps[i].id == kBitmaps[j].id) return false;
        }
    }
    return true;
}
static_assert(ids_are_unique_and_in_range());

}  // namespace korvane
