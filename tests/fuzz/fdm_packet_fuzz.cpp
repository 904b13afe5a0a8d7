// A datagram on the feed's port, whatever its bytes (feed/fdm_packet): read
// or refused with a reason, never half-read; a packet read writes back to
// the same bytes (the padding aside); and what it drives on the panel is a
// number within each variable's range, whatever the packet held.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "feed/fdm_packet.h"
#include "feed/panel_values.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::span<const uint8_t> datagram(data, size);
    const feed::FdmRead read = feed::read_fdm_packet(datagram);
    FUZZ_CHECK(read.packet.has_value() == read.error.empty(), "a packet, or a reason for none");
    if (!read.packet) return 0;
    const auto written = feed::write_fdm_packet(*read.packet);
    FUZZ_CHECK(std::memcmp(written.data(), data, 4) == 0 && std::memcmp(written.data() + 8, data + 8, size - 8) == 0,
               "a packet read writes back as it came");
    runtime::VariableStore vars;
    // A capacity from the packet's own bytes, so that tiny and huge ones are met too.
    float capacity;
    std::memcpy(&capacity, data + 4, sizeof capacity);
    for (int tank = 0; tank < sim::token::kTankCount; ++tank) vars.set(sim::token::tank_capacity(tank), capacity);
    for (const feed::Driven& driven : feed::driven_by(*read.packet, vars, {6.0})) {
        const sim::Range& range = driven.variable->entry->range;
        FUZZ_CHECK(std::isfinite(driven.value), "a number");
        FUZZ_CHECK(driven.value >= range.low && driven.value <= range.high, "within the variable's range");
    }
    return 0;
}
