// FlightGear's native flight-dynamics packet (FGNetFDM), version 24: what
// FlightGear's --native-fdm and JSBSim's FLIGHTGEAR output send, one UDP
// datagram of 408 bytes in network byte order. The struct below is the
// packet's own layout (the C struct the protocol is written as, naturally
// aligned); every field's offset is proved below, so the struct is the one
// place the layout is written. Values read from the wire are in host order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace feed {

inline constexpr uint32_t kFdmVersion = 24;
inline constexpr int kFdmEngines = 4;
inline constexpr int kFdmWheels = 3;
inline constexpr int kFdmTanks = 4;

struct FdmPacket {
    uint32_t version = kFdmVersion;
    uint32_t padding = 0;
    // Position: geodetic radians, metres above sea level and the ground.
    double longitude = 0.0, latitude = 0.0, altitude = 0.0;
    float agl = 0.0F;
    // Attitude, radians: roll (positive starboard wing down), pitch, true
    // heading; angle of attack and sideslip.
    float phi = 0.0F, theta = 0.0F, psi = 0.0F, alpha = 0.0F, beta = 0.0F;
    // Euler rates, radians a second; calibrated airspeed, knots; climb rate,
    // feet a second; velocities, feet a second.
    float phidot = 0.0F, thetadot = 0.0F, psidot = 0.0F;
    float vcas = 0.0F, climb_rate = 0.0F;
    float v_north = 0.0F, v_east = 0.0F, v_down = 0.0F;
    float v_body_u = 0.0F, v_body_v = 0.0F, v_body_w = 0.0F;
    // At the pilot's seat in body axes, feet a second squared.
    float a_x_pilot = 0.0F, a_y_pilot = 0.0F, a_z_pilot = 0.0F;
    float stall_warning = 0.0F;  // 0..1
    float slip_deg = 0.0F;       // the ball's deflection
    uint32_t num_engines = 0;
    uint32_t eng_state[kFdmEngines] = {};  // 0 off, 1 cranking, 2 running
    float rpm[kFdmEngines] = {};
    float fuel_flow[kFdmEngines] = {};  // gallons an hour
    float fuel_px[kFdmEngines] = {};    // psi
    float egt[kFdmEngines] = {};        // deg F
    float cht[kFdmEngines] = {};        // deg F
    float mp_osi[kFdmEngines] = {};     // manifold pressure, inches of mercury
    float tit[kFdmEngines] = {};
    float oil_temp[kFdmEngines] = {};  // deg F
    float oil_px[kFdmEngines] = {};    // psi
    uint32_t num_tanks = 0;
    float fuel_quantity[kFdmTanks] = {};  // FlightGear: US gallons; JSBSim: pounds
    uint32_t num_wheels = 0;
    uint32_t wow[kFdmWheels] = {};
    float gear_pos[kFdmWheels] = {};  // 0 up .. 1 down
    float gear_steer[kFdmWheels] = {};
    float gear_compression[kFdmWheels] = {};
    uint32_t cur_time = 0;  // seconds (Unix time from FlightGear)
    int32_t warp = 0;       // seconds added to cur_time
    float visibility = 0.0F;
    // Control surfaces, normalised.
    float elevator = 0.0F, elevator_trim_tab = 0.0F, left_flap = 0.0F, right_flap = 0.0F;
    float left_aileron = 0.0F, right_aileron = 0.0F, rudder = 0.0F, nose_wheel = 0.0F;
    float speedbrake = 0.0F, spoilers = 0.0F;
};

// Calls visit(field) for every field but the padding, in order: the byte
// order is turned field by field.
template <typename Packet, typename Visit>
constexpr void each_fdm_field(Packet& p, Visit&& visit) {
    visit(p.version);
    visit(p.longitude), visit(p.latitude), visit(p.altitude), visit(p.agl);
    visit(p.phi), visit(p.theta), visit(p.psi), visit(p.alpha), visit(p.beta);
    visit(p.phidot), visit(p.thetadot), visit(p.psidot), visit(p.vcas), visit(p.climb_rate);
    visit(p.v_north), visit(p.v_east), visit(p.v_down), visit(p.v_body_u), visit(p.v_body_v), visit(p.v_body_w);
    visit(p.a_x_pilot), visit(p.a_y_pilot), visit(p.a_z_pilot), visit(p.stall_warning), visit(p.slip_deg);
    visit(p.num_engines);
    for (auto& x : p.eng_state) visit(x);
    for (auto& x : p.rpm) visit(x);
    for (auto& x : p.fuel_flow) visit(x);
    for (auto& x : p.fuel_px) visit(x);
    for (auto& x : p.egt) visit(x);
    for (auto& x : p.cht) visit(x);
    for (auto& x : p.mp_osi) visit(x);
    for (auto& x : p.tit) visit(x);
    for (auto& x : p.oil_temp) visit(x);
    for (auto& x : p.oil_px) visit(x);
    visit(p.num_tanks);
    for (auto& x : p.fuel_quantity) visit(x);
    visit(p.num_wheels);
    for (auto& x : p.wow) visit(x);
    for (auto& x : p.gear_pos) visit(x);
    for (auto& x : p.gear_steer) visit(x);
    for (auto& x : p.gear_compression) visit(x);
    visit(p.cur_time), visit(p.warp), visit(p.visibility);
    visit(p.elevator), visit(p.elevator_trim_tab), visit(p.left_flap), visit(p.right_flap);
    visit(p.left_aileron), visit(p.right_aileron), visit(p.rudder), visit(p.nose_wheel);
    visit(p.speedbrake), visit(p.spoilers);
}

inline constexpr size_t kFdmPacketSize = 408;
static_assert(sizeof(FdmPacket) == kFdmPacketSize);
// The visit covers every byte but the padding's 4.
constexpr size_t fdm_visited_bytes() {
    FdmPacket packet;
    size_t bytes = 0;
    each_fdm_field(packet, [&bytes](const auto& field) { bytes += sizeof field; });
    return bytes;
}
static_assert(fdm_visited_bytes() == kFdmPacketSize - 4);
static_assert(offsetof(FdmPacket, version) == 0 && offsetof(FdmPacket, padding) == 4);
static_assert(offsetof(FdmPacket, longitude) == 8 && offsetof(FdmPacket, latitude) == 16);
static_assert(offsetof(FdmPacket, altitude) == 24 && offsetof(FdmPacket, agl) == 32);
static_assert(offsetof(FdmPacket, phi) == 36 && offsetof(FdmPacket, theta) == 40 && offsetof(FdmPacket, psi) == 44);
static_assert(offsetof(FdmPacket, alpha) == 48 && offsetof(FdmPacket, beta) == 52);
static_assert(offsetof(FdmPacket, phidot) == 56 && offsetof(FdmPacket, thetadot) == 60);
static_assert(offsetof(FdmPacket, psidot) == 64 && offsetof(FdmPacket, vcas) == 68);
static_assert(offsetof(FdmPacket, climb_rate) == 72 && offsetof(FdmPacket, v_north) == 76);
static_assert(offsetof(FdmPacket, v_east) == 80 && offsetof(FdmPacket, v_down) == 84);
static_assert(offsetof(FdmPacket, v_body_u) == 88 && offsetof(FdmPacket, v_body_v) == 92);
static_assert(offsetof(FdmPacket, v_body_w) == 96 && offsetof(FdmPacket, a_x_pilot) == 100);
static_assert(offsetof(FdmPacket, a_y_pilot) == 104 && offsetof(FdmPacket, a_z_pilot) == 108);
static_assert(offsetof(FdmPacket, stall_warning) == 112 && offsetof(FdmPacket, slip_deg) == 116);
static_assert(offsetof(FdmPacket, num_engines) == 120 && offsetof(FdmPacket, eng_state) == 124);
static_assert(offsetof(FdmPacket, rpm) == 140 && offsetof(FdmPacket, fuel_flow) == 156);
static_assert(offsetof(FdmPacket, fuel_px) == 172 && offsetof(FdmPacket, egt) == 188);
static_assert(offsetof(FdmPacket, cht) == 204 && offsetof(FdmPacket, mp_osi) == 220);
static_assert(offsetof(FdmPacket, tit) == 236 && offsetof(FdmPacket, oil_temp) == 252);
static_assert(offsetof(FdmPacket, oil_px) == 268 && offsetof(FdmPacket, num_tanks) == 284);
static_assert(offsetof(FdmPacket, fuel_quantity) == 288 && offsetof(FdmPacket, num_wheels) == 304);
static_assert(offsetof(FdmPacket, wow) == 308 && offsetof(FdmPacket, gear_pos) == 320);
static_assert(offsetof(FdmPacket, gear_steer) == 332 && offsetof(FdmPacket, gear_compression) == 344);
static_assert(offsetof(FdmPacket, cur_time) == 356 && offsetof(FdmPacket, warp) == 360);
static_assert(offsetof(FdmPacket, visibility) == 364 && offsetof(FdmPacket, elevator) == 368);
static_assert(offsetof(FdmPacket, elevator_trim_tab) == 372 && offsetof(FdmPacket, left_flap) == 376);
static_assert(offsetof(FdmPacket, right_flap) == 380 && offsetof(FdmPacket, left_aileron) == 384);
static_assert(offsetof(FdmPacket, right_aileron) == 388 && offsetof(FdmPacket, rudder) == 392);
static_assert(offsetof(FdmPacket, nose_wheel) == 396 && offsetof(FdmPacket, speedbrake) == 400);
static_assert(offsetof(FdmPacket, spoilers) == 404);

// A datagram read: the packet, or why it is not one to apply (a wrong size
// or version, a value that is no number or none a flying aircraft gives).
struct FdmRead {
    std::optional<FdmPacket> packet;
    std::string error;
};
FdmRead read_fdm_packet(std::span<const uint8_t> datagram);

// The packet as a simulator sends it.
std::array<uint8_t, kFdmPacketSize> write_fdm_packet(const FdmPacket& packet);

}  // namespace feed
