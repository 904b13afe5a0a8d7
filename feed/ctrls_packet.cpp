#include "feed/ctrls_packet.h"

#include <cstring>

#include "feed/network_order.h"

namespace feed {

std::array<uint8_t, kCtrlsPacketSize> write_ctrls_packet(const CtrlsPacket& packet) {
    CtrlsPacket wire = packet;
    wire.padding0 = wire.padding1 = wire.padding2 = 0;
    each_ctrls_field(wire, [](auto& field) { field = network_order(field); });
    std::array<uint8_t, kCtrlsPacketSize> bytes;
    std::memcpy(bytes.data(), &wire, sizeof wire);
    return bytes;
}

std::optional<CtrlsPacket> read_ctrls_packet(std::span<const uint8_t> datagram) {
    if (datagram.size() != kCtrlsPacketSize) return std::nullopt;
    CtrlsPacket packet;
    std::memcpy(&packet, datagram.data(), sizeof packet);
    each_ctrls_field(packet, [](auto& field) { field = network_order(field); });
    if (packet.version != kCtrlsVersion) return std::nullopt;
    return packet;
}

}  // namespace feed
