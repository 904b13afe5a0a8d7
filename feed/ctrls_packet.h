// FlightGear's native controls packet (FGNetCtrls), version 27: what
// FlightGear's --native-ctrls takes in, one UDP datagram of 744 bytes in
// network byte order. The struct is the packet's own layout (naturally
// aligned, as the C struct the protocol is written as); every field's offset
// is proved below. Values are in host order until written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace feed {

inline constexpr uint32_t kCtrlsVersion = 27;
inline constexpr int kCtrlsEngines = 4;
inline constexpr int kCtrlsTanks = 8;

struct CtrlsPacket {
    uint32_t version = kCtrlsVersion;
    uint32_t padding0 = 0;
    // -1..1, flaps 0..1.
    double aileron = 0.0, elevator = 0.0, rudder = 0.0;
    double aileron_trim = 0.0, elevator_trim = 0.0, rudder_trim = 0.0;
    double flaps = 0.0, spoilers = 0.0, speedbrake = 0.0;
    uint32_t flaps_power = 1, flap_motor_ok = 1;
    uint32_t num_engines = 0;
    uint32_t master_bat[kCtrlsEngines] = {1, 1, 1, 1};
    uint32_t master_alt[kCtrlsEngines] = {1, 1, 1, 1};
    uint32_t magnetos[kCtrlsEngines] = {};  // 0 off, 1 right, 2 left, 3 both
    uint32_t starter_power[kCtrlsEngines] = {};
    uint32_t padding1 = 0;
    double throttle[kCtrlsEngines] = {};   // 0..1
    double mixture[kCtrlsEngines] = {};    // 0..1
    double condition[kCtrlsEngines] = {};  // 0..1
    uint32_t fuel_pump_power[kCtrlsEngines] = {};
    double prop_advance[kCtrlsEngines] = {};  // 0..1
    uint32_t feed_tank_to[4] = {};
    uint32_t reverse[4] = {};
    uint32_t engine_ok[kCtrlsEngines] = {1, 1, 1, 1};
    uint32_t mag_left_ok[kCtrlsEngines] = {1, 1, 1, 1};
    uint32_t mag_right_ok[kCtrlsEngines] = {1, 1, 1, 1};
    uint32_t spark_plugs_ok[kCtrlsEngines] = {1, 1, 1, 1};
    uint32_t oil_press_status[kCtrlsEngines] = {};
    uint32_t fuel_pump_ok[kCtrlsEngines] = {1, 1, 1, 1};
    uint32_t num_tanks = 0;
    uint32_t fuel_selector[kCtrlsTanks] = {};
    uint32_t xfer_pump[5] = {};
    uint32_t cross_feed = 0;
    uint32_t padding2 = 0;
    double brake_left = 0.0, brake_right = 0.0, copilot_brake_left = 0.0, copilot_brake_right = 0.0;
    double brake_parking = 0.0;
    uint32_t gear_handle = 0;  // 1 down
    uint32_t master_avionics = 1;
    double comm_1 = 0.0, comm_2 = 0.0, nav_1 = 0.0, nav_2 = 0.0;
    double wind_speed_kt = 0.0, wind_dir_deg = 0.0, turbulence_norm = 0.0;
    double temp_c = 0.0, press_inhg = 0.0;
    double hground = 0.0, magvar = 0.0;
    uint32_t icing = 0;
    uint32_t speedup = 1;
    uint32_t freeze = 0;
    uint32_t reserved[25] = {};
};

template <typename Packet, typename Visit>
constexpr void each_ctrls_field(Packet& p, Visit&& visit) {
    const auto all = [&visit](auto& array) {
        for (auto& x : array) visit(x);
    };
    visit(p.version);
    visit(p.aileron), visit(p.elevator), visit(p.rudder);
    visit(p.aileron_trim), visit(p.elevator_trim), visit(p.rudder_trim);
    visit(p.flaps), visit(p.spoilers), visit(p.speedbrake);
    visit(p.flaps_power), visit(p.flap_motor_ok), visit(p.num_engines);
    all(p.master_bat), all(p.master_alt), all(p.magnetos), all(p.starter_power);
    all(p.throttle), all(p.mixture), all(p.condition), all(p.fuel_pump_power), all(p.prop_advance);
    all(p.feed_tank_to), all(p.reverse);
    all(p.engine_ok), all(p.mag_left_ok), all(p.mag_right_ok), all(p.spark_plugs_ok);
    all(p.oil_press_status), all(p.fuel_pump_ok);
    visit(p.num_tanks), all(p.fuel_selector), all(p.xfer_pump), visit(p.cross_feed);
    visit(p.brake_left), visit(p.brake_right), visit(p.copilot_brake_left), visit(p.copilot_brake_right);
    visit(p.brake_parking), visit(p.gear_handle), visit(p.master_avionics);
    visit(p.comm_1), visit(p.comm_2), visit(p.nav_1), visit(p.nav_2);
    visit(p.wind_speed_kt), visit(p.wind_dir_deg), visit(p.turbulence_norm), visit(p.temp_c), visit(p.press_inhg);
    visit(p.hground), visit(p.magvar), visit(p.icing), visit(p.speedup), visit(p.freeze);
    all(p.reserved);
}

inline constexpr size_t kCtrlsPacketSize = 744;
static_assert(sizeof(CtrlsPacket) == kCtrlsPacketSize);
constexpr size_t ctrls_visited_bytes(const CtrlsPacket&) {
    CtrlsPacket packet;
    size_t bytes = 0;
    each_ctrls_field(packet, [&bytes](const auto& field) { bytes += sizeof field; });
    return bytes;
}
// Every byte but the three paddings' 12.
static_assert(ctrls_visited_bytes(CtrlsPacket{}) == kCtrlsPacketSize - 12);
static_assert(offsetof(CtrlsPacket, version) == 0 && offsetof(CtrlsPacket, aileron) == 8);
static_assert(offsetof(CtrlsPacket, elevator) == 16 && offsetof(CtrlsPacket, rudder) == 24);
static_assert(offsetof(CtrlsPacket, aileron_trim) == 32 && offsetof(CtrlsPacket, elevator_trim) == 40);
static_assert(offsetof(CtrlsPacket, rudder_trim) == 48 && offsetof(CtrlsPacket, flaps) == 56);
static_assert(offsetof(CtrlsPacket, spoilers) == 64 && offsetof(CtrlsPacket, speedbrake) == 72);
static_assert(offsetof(CtrlsPacket, flaps_power) == 80 && offsetof(CtrlsPacket, flap_motor_ok) == 84);
static_assert(offsetof(CtrlsPacket, num_engines) == 88 && offsetof(CtrlsPacket, master_bat) == 92);
static_assert(offsetof(CtrlsPacket, master_alt) == 108 && offsetof(CtrlsPacket, magnetos) == 124);
static_assert(offsetof(CtrlsPacket, starter_power) == 140 && offsetof(CtrlsPacket, throttle) == 160);
static_assert(offsetof(CtrlsPacket, mixture) == 192 && offsetof(CtrlsPacket, condition) == 224);
static_assert(offsetof(CtrlsPacket, fuel_pump_power) == 256 && offsetof(CtrlsPacket, prop_advance) == 272);
static_assert(offsetof(CtrlsPacket, feed_tank_to) == 304 && offsetof(CtrlsPacket, reverse) == 320);
static_assert(offsetof(CtrlsPacket, engine_ok) == 336 && offsetof(CtrlsPacket, mag_left_ok) == 352);
static_assert(offsetof(CtrlsPacket, mag_right_ok) == 368 && offsetof(CtrlsPacket, spark_plugs_ok) == 384);
static_assert(offsetof(CtrlsPacket, oil_press_status) == 400 && offsetof(CtrlsPacket, fuel_pump_ok) == 416);
static_assert(offsetof(CtrlsPacket, num_tanks) == 432 && offsetof(CtrlsPacket, fuel_selector) == 436);
static_assert(offsetof(CtrlsPacket, xfer_pump) == 468 && offsetof(CtrlsPacket, cross_feed) == 488);
static_assert(offsetof(CtrlsPacket, brake_left) == 496 && offsetof(CtrlsPacket, brake_right) == 504);
static_assert(offsetof(CtrlsPacket, copilot_brake_left) == 512 && offsetof(CtrlsPacket, copilot_brake_right) == 520);
static_assert(offsetof(CtrlsPacket, brake_parking) == 528 && offsetof(CtrlsPacket, gear_handle) == 536);
static_assert(offsetof(CtrlsPacket, master_avionics) == 540 && offsetof(CtrlsPacket, comm_1) == 544);
static_assert(offsetof(CtrlsPacket, comm_2) == 552 && offsetof(CtrlsPacket, nav_1) == 560);
static_assert(offsetof(CtrlsPacket, nav_2) == 568 && offsetof(CtrlsPacket, wind_speed_kt) == 576);
static_assert(offsetof(CtrlsPacket, wind_dir_deg) == 584 && offsetof(CtrlsPacket, turbulence_norm) == 592);
static_assert(offsetof(CtrlsPacket, temp_c) == 600 && offsetof(CtrlsPacket, press_inhg) == 608);
static_assert(offsetof(CtrlsPacket, hground) == 616 && offsetof(CtrlsPacket, magvar) == 624);
static_assert(offsetof(CtrlsPacket, icing) == 632 && offsetof(CtrlsPacket, speedup) == 636);
static_assert(offsetof(CtrlsPacket, freeze) == 640 && offsetof(CtrlsPacket, reserved) == 644);

std::array<uint8_t, kCtrlsPacketSize> write_ctrls_packet(const CtrlsPacket& packet);
// For a peer's side (the tests): nullopt for a datagram of another size or version.
std::optional<CtrlsPacket> read_ctrls_packet(std::span<const uint8_t> datagram);

}  // namespace feed
