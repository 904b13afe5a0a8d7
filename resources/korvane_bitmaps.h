// The bitmaps of Korvane.gau: every resource id with its size and what it
// shows. The art generator draws one file per entry and the resource tests
// hold the built module to the same sizes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace resources {

struct BitmapInfo {
    uint32_t id;
    uint32_t width;
    uint32_t height;
    std::string_view gauge;  // the gauge that shows it (the first, when a family shares it)
    std::string_view what;
};

inline constexpr std::array<BitmapInfo, 79> kKorvaneBitmaps{{
    // Airspeed, altimeter and vertical speed.
    {100, 278, 314, "Altimeter", "altimeter dial with the setting knob strip below it"},
    {105, 91, 25, "Altimeter", "altimeter 100,000-per-turn pointer"},
    {110, 133, 35, "Altimeter", "altimeter 10,000-per-turn pointer"},
    {115, 182, 17, "Altimeter", "altimeter 1,000-per-turn pointer (long hand)"},
    {120, 18, 297, "Altimeter", "pressure-setting drum strip: digits 0 to 9 and 0 in 27-pixel cells"},
    {121, 18, 27, "Altimeter", "pressure-setting drum window (mask)"},
    {125, 278, 278, "Airspeed", "airspeed dial: outer scale 60-200 knots, inner scale 220-340"},
    {130, 172, 17, "Airspeed", "airspeed needle"},
    {200, 278, 278, "VSI", "vertical speed dial: 0 at 9 o'clock, climb above, descent below"},
    {205, 172, 17, "VSI", "vertical speed needle"},
    // Attitude, turn and accelerometer.
    {135, 282, 282, "Turn", "turn and slip dial: slip scale above, turn scale below"},
    {140, 93, 19, "Turn", "side-slip needle"},
    {145, 101, 19, "Turn", "turn pointer"},
    {220, 256, 256, "Attitude", "artificial horizon case"},
    {225, 256, 256, "Attitude", "horizon bar texture"},
    {226, 256, 256, "Attitude", "horizon bezel with bank scale and aircraft symbol (mask)"},
    {230, 110, 15, "Attitude", "bank pointer"},
    {330, 278, 278, "Accelerometer", "accelerometer dial: -2 to 5 g"},
    {335, 175, 21, "Accelerometer", "accelerometer needle"},
    // Compasses and direction finder.
    {235, 110, 110, "Compass", "compass body with the card window"},
    {240, 720, 32, "Compass", "compass card strip"},
    {241, 72, 32, "Compass", "compass card window with lubber line (mask)"},
    {440, 260, 260, "DR_Compass", "distant-reading compass case"},
    {442, 256, 256, "DR_Compass", "compass rose texture, N at the top"},
    {443, 260, 260, "DR_Compass", "distant-reading compass bezel with lubber mark (mask)"},
    {445, 177, 25, "DR_Compass", "course pointer, two-ended"},
    {447, 56, 56, "DR_Compass", "course-setting knob"},
    {450, 185, 185, "Direction_Finder", "direction finder dial: L and R either side of the centre mark"},
    {452, 86, 21, "Direction_Finder", "direction finder needle"},
    // Clock and timer.
    {260, 306, 302, "Clock", "12-hour clock dial with the setting knob"},
    {265, 88, 23, "Clock", "clock hour hand"},
    {270, 116, 23, "Clock", "clock minute hand"},
    {275, 155, 15, "Clock", "clock second hand"},
    {340, 306, 302, "Timer", "stopwatch: 60-second dial, crown and start/stop pusher"},
    {345, 256, 256, "Timer", "minutes ring texture: 0 to 10, rising anticlockwise from the bottom"},
    {346, 51, 57, "Timer", "minutes window over the dial (mask)"},
    {350, 114, 25, "Timer", "stopwatch seconds hand"},
    // Engine dials.
    {150, 278, 278, "Tachometer1", "engine speed dial: 0 to 9"},
    {155, 112, 35, "Tachometer1", "engine speed short hand (thousands)"},
    {160, 177, 17, "Tachometer1", "engine speed long hand (hundreds)"},
    {165, 278, 278, "Boost1", "boost dial: -4 to 24 pounds per square inch"},
    {170, 172, 17, "Boost1", "boost needle"},
    {175, 138, 138, "Oil_Temperature1", "oil temperature dial: 0 to 120 degrees Celsius"},
    {180, 79, 11, "Oil_Temperature1", "oil temperature needle"},
    {185, 138, 138, "Radiator_Temperature1", "radiator temperature dial: 40 to 140 degrees Celsius"},
    {190, 79, 11, "Radiator_Temperature1", "radiator temperature needle"},
    {210, 138, 138, "Oil_Pressure1", "oil pressure dial: 0 to 120 pounds per square inch"},
    {215, 88, 56, "Oil_Pressure1", "oil pressure needle"},
    // Fuel, flaps and undercarriage.
    {355, 46, 46, "Fuel_Pressure_Warning1", "fuel pressure warning housing, lamp unlit"},
    {360, 19, 19, "Fuel_Pressure_Warning1", "fuel pressure warning lamp, lit"},
    {375, 140, 140, "Fuel_Quantity_Port_1", "number 1 tank contents dial: 0 to 500 gallons, capacity 580"},
    {380, 140, 140, "Fuel_Quantity_Port_2", "number 2 tank contents dial: 0 to 310 gallons, capacity 363"},
    {385, 140, 140, "Fuel_Quantity_Port_3", "number 3 tank contents dial: 0 to 90 gallons, capacity 114"},
    {390, 91, 9, "Fuel_Quantity_Port_1", "fuel contents needle"},
    {395, 140, 140, "Flap_Position", "flap dial: UP, 10 to 50 degrees, DOWN"},
    {400, 91, 9, "Flap_Position", "flap needle"},
    {280, 278, 278, "Gear_Indicator", "undercarriage lamp panel with the day/night knob"},
    {285, 33, 32, "Gear_Indicator", "red locked-up lamp, night"},
    {290, 33, 32, "Gear_Indicator", "red locked-up lamp, day"},
    {295, 47, 98, "Gear_Indicator", "port green locked-down lamp, night"},
    {300, 47, 98, "Gear_Indicator", "port green locked-down lamp, day"},
    {305, 47, 98, "Gear_Indicator", "starboard green locked-down lamp, night"},
    {306, 47, 98, "Gear_Indicator", "starboard green locked-down lamp, day"},
    // Engine controls.
    {310, 380, 138, "Magneto_Switch", "magneto switch panel, four pairs"},
    {315, 45, 138, "Magneto_Switch", "magneto switch, off"},
    {316, 45, 138, "Magneto_Switch", "magneto switch, on"},
    {365, 300, 115, "Starter_Switch", "starter panel: four engines, start buttons"},
    {370, 54, 111, "Starter_Switch", "arming switch, not armed"},
    {371, 54, 111, "Starter_Switch", "arming switch, armed"},
    {405, 266, 165, "Throttle", "throttle quadrant"},
    {410, 107, 108, "Throttle", "engine 1 throttle lever"},
    {415, 39, 53, "Throttle", "engine 2 throttle lever"},
    {420, 39, 53, "Throttle", "engine 3 throttle lever"},
    {425, 107, 108, "Throttle", "engine 4 throttle lever"},
    {430, 198, 178, "Prop_Control", "propeller speed control quadrant"},
    {432, 53, 55, "Prop_Control", "engine 1 propeller lever"},
    {434, 46, 55, "Prop_Control", "engine 2 propeller lever"},
    {436, 47, 55, "Prop_Control", "engine 3 propeller lever"},
    {438, 52, 55, "Prop_Control", "engine 4 propeller lever"},
}};

// The entry for an id, or null when the module has no such bitmap.
constexpr const BitmapInfo* find_bitmap(uint32_t id) {
    for (const BitmapInfo& info : kKorvaneBitmaps) {
        if (info.id == id) return &info;
    }
    return nullptr;
}

// Each id once, all within the module's range.
constexpr bool ids_are_unique_and_in_range() {
    for (size_t i = 0; i < kKorvaneBitmaps.size(); ++i) {
        if (kKorvaneBitmaps[i].id < 100 || kKorvaneBitmaps[i].id > 452) return false;
        for (size_t j = i + 1; j < kKorvaneBitmaps.size(); ++j) {
            if (kKorvaneBitmaps[i].id == kKorvaneBitmaps[j].id) return false;
        }
    }
    return true;
}
static_assert(ids_are_unique_and_in_range());

}  // namespace resources
