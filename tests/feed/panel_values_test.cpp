// A packet's figures as the panel's dials read them, by vocabulary name, and
// what no packet drives.
#include "feed/panel_values.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

namespace {

std::map<std::string, double> readings(const feed::FdmPacket& packet, const runtime::VariableStore& vars,
                                       const feed::FeedSettings& settings = {}) {
    std::map<std::string, double> out;
    for (const feed::Driven& each : feed::driven_by(packet, vars, settings)) out[each.variable->name] = each.value;
    return out;
}

TEST(PanelValues, ThePacketReadsAsTheDialsDo) {
    feed::FdmPacket p;
    p.vcas = 150.0F;
    p.altitude = 1524.0;         // 5000 ft
    p.climb_rate = -5.0F;        // ft/s
    p.phi = 0.2617994F;          // 15 degrees starboard wing down
    p.psi = -0.1745329F;         // -10 degrees true
    p.psidot = 0.05235988F;      // 3 degrees a second
    p.a_y_pilot = 1.6087F;       // a twentieth of a g to starboard
    p.a_z_pilot = -64.348F;      // 2 g
    p.num_engines = 2;
    p.eng_state[0] = 2;
    p.eng_state[1] = 1;          // cranking: not running
    p.rpm[1] = 600.0F;
    p.mp_osi[0] = 40.0F;         // inHg
    p.oil_temp[0] = 212.0F;      // deg F
    p.cht[0] = 167.0F;
    p.oil_px[0] = 80.0F;
    p.num_tanks = 2;
    p.fuel_quantity[0] = 2088.0F;  // pounds: half of 580 gallons at 7.2 lb
    p.fuel_quantity[1] = 5000.0F;  // more than the tank holds
    p.num_wheels = 1;
    p.gear_pos[0] = 1.0F;
    p.left_flap = 0.25F;
    p.cur_time = 1234567890;  // 23:31:30 UTC
    p.warp = 3600;
    runtime::VariableStore vars;
    vars.set(sim::token::kPressureSetting, 1023.25);
    vars.set(sim::token::tank_capacity(0), 580.0);
    vars.set(sim::token::tank_capacity(1), 363.0);
    const auto shown = readings(p, vars, {7.2});
    const struct {
        const char* name;
        double value;
        double within;
    } cases[] = {
        {"airspeed", 150.0, 1e-9},
        {"altitude", 5000.0 + 10.0 * 27.31, 1e-6},  // read at a setting 10 mb above standard
        {"vertical_speed", -300.0, 1e-9},
        {"bank", -15.0, 1e-4},                      // starboard wing down is a negative bank
        {"heading", 350.0, 1e-4},
        {"turn_rate", 1.0, 1e-5},
        {"sideslip", -10.0, 1e-3},                  // the ball goes against the force
        {"normal_acceleration", 2.0, 1e-4},
        {"engine_speed.2", 600.0, 1e-9},
        {"running.1", 1.0, 0.0},
        {"running.2", 0.0, 0.0},
        {"boost.1", (40.0 * 70.7262 - 2073.0) / 144.0, 1e-9},
        // As the dials' maker reads Celsius (from 492 degrees Rankine), not
        // 100 and 75.
        {"oil_temperature.1", 99.817, 0.001},
        {"radiator_temperature.1", 74.817, 0.001},
        {"oil_pressure.1", 80.0, 1e-9},
        {"fuel_level.port_1", 0.5, 1e-6},
        {"fuel_level.port_2", 1.0, 0.0},  // held within its range
        {"undercarriage.port", 100.0, 1e-9},
        {"flaps", 25.0, 1e-9},
        {"clock_hours", 0.0, 0.0},  // warped an hour past midnight's eve
        {"clock_minutes", 31.0, 0.0},
        {"clock_seconds", 30.0, 0.0},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(shown.contains(c.name)) << c.name;
        EXPECT_NEAR(shown.at(c.name), c.value, c.within) << c.name;
    }
    // What the packet does not carry is not touched: the engines and tanks
    // it does not count, the starboard leg of a packet with one wheel.
    for (const char* kept : {"engine_speed.3", "boost.4", "fuel_level.port_3", "undercarriage.stbd", "throttle.1"})
        EXPECT_FALSE(shown.contains(kept)) << kept;
    // Applied, by the host's own units.
    feed::apply(feed::driven_by(p, vars, {7.2}), vars);
    EXPECT_NEAR(vars.get(sim::token::manifold_pressure(0)), 40.0 * 70.7262, 1e-6);
    EXPECT_NEAR(vars.get(sim::token::tank_level(0)), 0.5 * sim::unit::kFullTankLevel, 1.0);
}

TEST(PanelValues, WhatNoPacketDrivesIsNamed) {
    const std::vector<std::string> kept = feed::never_driven();
    const auto has = [&kept](const char* name) { return std::find(kept.begin(), kept.end(), name) != kept.end(); };
    for (const char* name : {"throttle.1", "propeller.4", "magneto_1.2", "pressure_setting", "station_bearing",
                             "fuel_capacity.port_1", "fuel_level.stbd_2", "fuel_level.stbd_3"})
        EXPECT_TRUE(has(name)) << name;
    for (const char* name : {"airspeed", "engine_speed.4", "fuel_level.stbd_1", "clock_hours", "undercarriage.stbd"})
        EXPECT_FALSE(has(name)) << name;
}

}  // namespace
