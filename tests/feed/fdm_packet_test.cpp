// FlightGear's packets as they travel: big-endian fields at the protocol's
// offsets, both ways; and every datagram that is not a packet to apply
// refused with its reason, never half-read.
#include "feed/fdm_packet.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "feed/ctrls_packet.h"

namespace {

feed::FdmPacket cruising() {
    feed::FdmPacket p;
    p.latitude = 0.91;
    p.longitude = -0.01;
    p.altitude = 1524.0;
    p.vcas = 150.0F;
    p.num_engines = 4;
    p.num_tanks = 4;
    p.num_wheels = 3;
    for (int i = 0; i < 4; ++i) {
        p.eng_state[i] = 2;
        p.rpm[i] = 2800.0F + static_cast<float>(i);
        p.mp_osi[i] = 40.0F;
    }
    p.cur_time = 1234567890;
    p.spoilers = 0.25F;
    return p;
}

std::vector<uint8_t> bytes_at(const std::array<uint8_t, feed::kFdmPacketSize>& wire, size_t offset, size_t n) {
    return {wire.begin() + static_cast<long>(offset), wire.begin() + static_cast<long>(offset + n)};
}

TEST(FdmPacket, FieldsTravelBigEndianAtTheirOffsets) {
    const auto wire = feed::write_fdm_packet(cruising());
    const struct {
        size_t offset;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0, {0, 0, 0, 24}},                                     // version
        {24, {0x40, 0x97, 0xD0, 0x00, 0x00, 0x00, 0x00, 0x00}},  // altitude 1524.0, a double
        {68, {0x43, 0x16, 0x00, 0x00}},                         // vcas 150.0
        {148, {0x45, 0x2F, 0x20, 0x00}},                        // rpm[2] 2802.0
        {356, {0x49, 0x96, 0x02, 0xD2}},                        // cur_time 1234567890
        {404, {0x3E, 0x80, 0x00, 0x00}},                        // spoilers 0.25, the last field
    };
    for (const auto& c : cases) EXPECT_EQ(bytes_at(wire, c.offset, c.bytes.size()), c.bytes) << c.offset;
    const feed::FdmRead read = feed::read_fdm_packet(wire);
    ASSERT_TRUE(read.packet) << read.error;
    EXPECT_EQ(feed::write_fdm_packet(*read.packet), wire);
}

TEST(FdmPacket, WhatIsNoPacketIsRefusedWithItsReason) {
    const struct {
        const char* what;
        void (*spoil)(feed::FdmPacket&);
        const char* reason;
    } cases[] = {
        {"another version", [](feed::FdmPacket& p) { p.version = 25; }, "version 25; this reads version 24"},
        {"too many engines", [](feed::FdmPacket& p) { p.num_engines = 5; }, "num_engines 5"},
        {"too many wheels", [](feed::FdmPacket& p) { p.num_wheels = 300; }, "num_wheels 300"},
        {"an engine state unknown", [](feed::FdmPacket& p) { p.eng_state[3] = 7; }, "eng_state[3] 7"},
        {"an airspeed that is no number", [](feed::FdmPacket& p) { p.vcas = std::numeric_limits<float>::quiet_NaN(); }, "no number"},
        {"an unused field that is no number", [](feed::FdmPacket& p) { p.tit[0] = INFINITY; }, "no number"},
        {"a position off the globe", [](feed::FdmPacket& p) { p.latitude = 4.0; }, "off the globe"},
        {"an absurd airspeed", [](feed::FdmPacket& p) { p.vcas = 1e30F; }, "vcas 1e+30 lies outside"},
        {"an absurd rpm", [](feed::FdmPacket& p) { p.rpm[1] = -5000.0F; }, "rpm[1] -5000 lies outside"},
        {"gear beyond its travel", [](feed::FdmPacket& p) { p.gear_pos[2] = 3.0F; }, "gear_pos[2] 3"},
    };
    for (const auto& c : cases) {
        feed::FdmPacket packet = cruising();
        c.spoil(packet);
        const feed::FdmRead read = feed::read_fdm_packet(feed::write_fdm_packet(packet));
        EXPECT_FALSE(read.packet) << c.what;
        EXPECT_NE(read.error.find(c.reason), std::string::npos) << c.what << ": " << read.error;
    }
    const auto wire = feed::write_fdm_packet(cruising());
    for (const size_t size : {size_t{0}, size_t{3}, size_t{407}, size_t{409}, size_t{552}}) {
        std::vector<uint8_t> datagram(wire.begin(), wire.begin() + static_cast<long>(std::min(size, wire.size())));
        datagram.resize(size);
        const feed::FdmRead read = feed::read_fdm_packet(datagram);
        EXPECT_FALSE(read.packet) << size;
        EXPECT_NE(read.error.find(std::to_string(size) + " bytes"), std::string::npos) << read.error;
        EXPECT_EQ(read.error.find("(version 24)") != std::string::npos, size >= 4) << read.error;
    }
}

TEST(CtrlsPacket, FieldsTravelBigEndianAtTheirOffsets) {
    feed::CtrlsPacket packet;
    packet.throttle[0] = 0.5;
    packet.magnetos[3] = 3;
    packet.gear_handle = 1;
    const auto wire = feed::write_ctrls_packet(packet);
    const struct {
        size_t offset;
        std::vector<uint8_t> bytes;
    } cases[] = {
        {0, {0, 0, 0, 27}},                                // version
        {136, {0, 0, 0, 3}},                               // magnetos[3]
        {160, {0x3F, 0xE0, 0, 0, 0, 0, 0, 0}},             // throttle[0] 0.5
        {536, {0, 0, 0, 1}},                               // gear_handle
        {636, {0, 0, 0, 1}},                               // speedup 1
    };
    for (const auto& c : cases) {
        EXPECT_EQ(std::vector<uint8_t>(wire.begin() + static_cast<long>(c.offset),
                                       wire.begin() + static_cast<long>(c.offset + c.bytes.size())),
                  c.bytes)
            << c.offset;
    }
    const std::optional<feed::CtrlsPacket> back = feed::read_ctrls_packet(wire);
    ASSERT_TRUE(back);
    EXPECT_EQ(feed::write_ctrls_packet(*back), wire);
}

}  // namespace
