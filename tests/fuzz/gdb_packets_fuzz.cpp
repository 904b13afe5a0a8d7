// A debugger's bytes as the GDB stub reads them (emulator/gdb_packets): the
// same events however the bytes are split into reads, every packet within
// the limit, each parsed to a command without an exception and with its
// lengths within theirs; and a packet the writer frames, whatever its bytes,
// reads back as it was in reads of any size.
//
// The input's tail chooses the reads (FuzzedDataProvider takes numbers from
// the end); the rest is the stream.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/gdb/gdb_packets.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using emulator::gdb::Command;
using emulator::gdb::PacketReader;
using emulator::gdb::ReadEvent;

std::vector<ReadEvent> read_split(std::string_view stream, const std::vector<size_t>& reads) {
    PacketReader reader;
    std::vector<ReadEvent> events;
    size_t at = 0;
    for (size_t i = 0; i <= reads.size(); ++i) {
        const size_t length = i < reads.size() ? std::min(reads[i], stream.size() - at) : stream.size() - at;
        reader.feed(stream.substr(at, length), events);
        at += length;
    }
    return events;
}

bool same(const std::vector<ReadEvent>& a, const std::vector<ReadEvent>& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i].kind != b[i].kind || a[i].data != b[i].data) return false;
    return true;
}

void check_command(std::string_view packet) {
    const Command command = emulator::gdb::parse_command(packet);
    if (command.kind == Command::kReadMemory)
        FUZZ_CHECK(command.length <= emulator::gdb::kMaxMemoryRead, "a memory read within the limit");
    if (command.kind == Command::kWriteMemory)
        FUZZ_CHECK(command.bytes.size() == command.length, "a write carries the bytes it names");
    FUZZ_CHECK(command.bytes.size() <= packet.size(), "no more bytes than the packet held");
    for (const std::string& feature : command.features)
        FUZZ_CHECK(feature.size() <= packet.size(), "features from the packet");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    std::vector<size_t> reads(provider.ConsumeIntegralInRange<size_t>(0, 8));
    for (size_t& read : reads) read = provider.ConsumeIntegralInRange<size_t>(0, 64);
    const std::string stream = provider.ConsumeRemainingBytesAsString();

    const std::vector<ReadEvent> whole = read_split(stream, {});
    FUZZ_CHECK(same(read_split(stream, reads), whole), "the same events however split");
    for (const ReadEvent& event : whole) {
        FUZZ_CHECK(event.data.size() <= emulator::gdb::kMaxPacket, "a packet within the limit");
        FUZZ_CHECK(event.kind == ReadEvent::kPacket || event.data.empty(), "only a packet carries data");
        if (event.kind == ReadEvent::kPacket) check_command(event.data);
    }
    // The stream as a packet's data, had it come framed: parsed, and framed
    // by the writer, it reads back as it was.
    check_command(stream);
    if (stream.size() <= emulator::gdb::kMaxPacket) {
        const std::string framed = emulator::gdb::frame(stream);
        const std::vector<ReadEvent> back = read_split(framed, reads);
        FUZZ_CHECK(back.size() == 1 && back[0].kind == ReadEvent::kPacket && back[0].data == stream,
                   "a framed packet reads back as written");
    }
    return 0;
}
