#include "feed/fdm_packet.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <numbers>
#include <type_traits>

#include "feed/network_order.h"

namespace feed {
namespace {

// What no aircraft flying, taxiing or standing reports: a packet with one of
// these is corrupt or not the protocol, and is dropped whole. Wide enough for
// any aircraft FlightGear flies; each field the panel reads is bounded.
struct Bound {
    const char* field;
    size_t offset;  // of its first float
    int count;
    double low, high;
};
constexpr double kPi = std::numbers::pi;

// clang-format off
constexpr Bound kBounds[] = {
    {"phi", offsetof(FdmPacket, phi), 1, -2 * kPi, 2 * kPi},
    {"theta", offsetof(FdmPacket, theta), 1, -2 * kPi, 2 * kPi},
    {"psi", offsetof(FdmPacket, psi), 1, -4 * kPi, 4 * kPi},
    {"psidot", offsetof(FdmPacket, psidot), 1, -20.0, 20.0},
    {"vcas", offsetof(FdmPacket, vcas), 1, -100.0, 3000.0},
    {"climb_rate", offsetof(FdmPacket, climb_rate), 1, -3000.0, 3000.0},
    {"A_Y_pilot", offsetof(FdmPacket, a_y_pilot), 1, -3000.0, 3000.0},
    {"A_Z_pilot", offsetof(FdmPacket, a_z_pilot), 1, -3000.0, 3000.0},
    {"rpm", offsetof(FdmPacket, rpm), kFdmEngines, -1000.0, 200000.0},
    {"fuel_px", offsetof(FdmPacket, fuel_px), kFdmEngines, -100.0, 10000.0},
    {"cht", offsetof(FdmPacket, cht), kFdmEngines, -500.0, 5000.0},
    {"mp_osi", offsetof(FdmPacket, mp_osi), kFdmEngines, -10.0, 500.0},
    {"oil_temp", offsetof(FdmPacket, oil_temp), kFdmEngines, -500.0, 5000.0},
    {"oil_px", offsetof(FdmPacket, oil_px), kFdmEngines, -100.0, 10000.0},
    {"fuel_quantity", offsetof(FdmPacket, fuel_quantity), kFdmTanks, -100.0, 1e7},
    {"gear_pos", offsetof(FdmPacket, gear_pos), kFdmWheels, -0.5, 1.5},
    {"left_flap", offsetof(FdmPacket, left_flap), 1, -1.5, 1.5},
    {"elevator_trim_tab", offsetof(FdmPacket, elevator_trim_tab), 1, -1.5, 1.5},
};
// clang-format on

std::string number_text(double value) {
    char text[40];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string check(const FdmPacket& packet) {
    if (packet.version != kFdmVersion)
        return "version " + std::to_string(packet.version) + "; this reads version " + std::to_string(kFdmVersion);
    if (packet.num_engines > kFdmEngines) return "num_engines " + std::to_string(packet.num_engines) + " (at most 4)";
    if (packet.num_tanks > kFdmTanks) return "num_tanks " + std::to_string(packet.num_tanks) + " (at most 4)";
    if (packet.num_wheels > kFdmWheels) return "num_wheels " + std::to_string(packet.num_wheels) + " (at most 3)";
    for (uint32_t engine = 0; engine < packet.num_engines; ++engine) {
        if (packet.eng_state[engine] > 2)
            return "eng_state[" + std::to_string(engine) + "] " + std::to_string(packet.eng_state[engine]) +
                   " (0 off, 1 cranking, 2 running)";
    }
    std::string bad;
    each_fdm_field(packet, [&bad](const auto& field) {
        if constexpr (std::is_floating_point_v<std::remove_cvref_t<decltype(field)>>) {
            if (bad.empty() && !std::isfinite(field)) bad = "a field that is no number (" + number_text(field) + ")";
        }
    });
    if (!bad.empty()) return bad;
    if (!(std::abs(packet.latitude) <= kPi / 2 + 1e-6 && std::abs(packet.longitude) <= 2 * kPi))
        return "a position off the globe (latitude " + number_text(packet.latitude) + ", longitude " +
               number_text(packet.longitude) + " rad)";
    if (!(packet.altitude >= -2000.0 && packet.altitude <= 200000.0))
        return "altitude " + number_text(packet.altitude) + " m";
    const auto* bytes = reinterpret_cast<const unsigned char*>(&packet);
    for (const Bound& bound : kBounds) {
        for (int i = 0; i < bound.count; ++i) {
            float value;
            std::memcpy(&value, bytes + bound.offset + sizeof(float) * static_cast<size_t>(i), sizeof value);
            if (value >= bound.low && value <= bound.high) continue;
            return std::string(bound.field) + (bound.count > 1 ? "[" + std::to_string(i) + "]" : "") + " " +
                   number_text(value) + " lies outside " + number_text(bound.low) + " to " + number_text(bound.high);
        }
    }
    return {};
}

}  // namespace

FdmRead read_fdm_packet(std::span<const uint8_t> datagram) {
    FdmRead read;
    if (datagram.size() != kFdmPacketSize) {
        read.error = "a datagram of " + std::to_string(datagram.size()) + " bytes";
        if (datagram.size() >= sizeof(uint32_t)) {
            uint32_t version;
            std::memcpy(&version, datagram.data(), sizeof version);
            read.error += " (version " + std::to_string(network_order(version)) + ")";
        }
        read.error += "; FlightGear's FDM packet version 24 has " + std::to_string(kFdmPacketSize);
        return read;
    }
    FdmPacket packet;
    std::memcpy(&packet, datagram.data(), sizeof packet);
    each_fdm_field(packet, [](auto& field) { field = network_order(field); });
    read.error = check(packet);
    if (read.error.empty()) read.packet = packet;
    return read;
}

std::array<uint8_t, kFdmPacketSize> write_fdm_packet(const FdmPacket& packet) {
    FdmPacket wire = packet;
    wire.padding = 0;
    each_fdm_field(wire, [](auto& field) { field = network_order(field); });
    std::array<uint8_t, kFdmPacketSize> bytes;
    std::memcpy(bytes.data(), &wire, sizeof wire);
    return bytes;
}

}  // namespace feed
