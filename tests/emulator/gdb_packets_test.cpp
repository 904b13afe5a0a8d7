// The debugger's protocol: packets out of bytes however they arrive, what
// the stub writes reading back, and each command's arguments, the malformed
// ones refused rather than half taken.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/gdb/gdb_packets.h"

namespace {

using emulator::gdb::Command;
using emulator::gdb::frame;
using emulator::gdb::kMaxPacket;
using emulator::gdb::PacketReader;
using emulator::gdb::parse_command;
using emulator::gdb::ReadEvent;

// The events as "kind:data" ('P' packet, '+', '-', '!' interrupt, 'B' bad
// checksum, 'L' too long), `bytes` fed `step` at a time.
std::vector<std::string> events(const std::string& bytes, size_t step) {
    PacketReader reader;
    std::vector<ReadEvent> out;
    for (size_t at = 0; at < bytes.size(); at += step) reader.feed(std::string_view(bytes).substr(at, step), out);
    std::vector<std::string> texts;
    for (const ReadEvent& event : out) texts.push_back(std::string(1, "P+-!BL"[event.kind]) + ":" + event.data);
    return texts;
}

TEST(GdbPacketReader, YieldsTheSameEventsHoweverSplit) {
    const struct {
        std::string bytes;
        std::vector<std::string> expected;
    } cases[] = {
        {"$g#67", {"P:g"}},        {"+$?#3f-\x03", {"+:", "P:?", "-:", "!:"}}, {"noise$m0,4#fd", {"P:m0,4"}},
        {"$g#68", {"B:"}},          // checksum off by one
        {"$g#6z", {"B:"}},          // not a hex digit
        {"$}]}\x03#5a", {"P:}#"}},  // escapes: } ^ 0x20 and # ^ 0x20
        {"$0* #7a", {"P:0000"}},    // a run: ' ' is 32, three more
        {"$* #4a", {"B:"}},         // a run of nothing
        {"$ab$g#67", {"P:g"}},      // a resend starts afresh
        {"$g#67$g}#", {"P:g"}},     // cut off: no event yet
    };
    for (const auto& c : cases)
        for (size_t step : {size_t{1}, size_t{2}, size_t{3}, c.bytes.size()})
            EXPECT_EQ(events(c.bytes, step), c.expected) << c.bytes << " in reads of " << step;
}

TEST(GdbPacketReader, RefusesPacketsPastTheLimitAndReadsOn) {
    const std::string at_limit(kMaxPacket, 'a');
    std::vector<std::string> got = events(frame(at_limit) + frame(at_limit + "a") + "$g#67", 4096);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0], "P:" + at_limit);
    EXPECT_EQ(got[1], "L:");
    EXPECT_EQ(got[2], "P:g");
    // A run that would expand past it, too ('~' is 97 more).
    const std::string run = std::string(kMaxPacket - 1, 'a') + "a*~";
    unsigned sum = 0;
    for (const char c : run) sum += static_cast<unsigned char>(c);
    const char digits[] = "0123456789abcdef";
    EXPECT_EQ(events("$" + run + "#" + digits[(sum >> 4) & 15] + digits[sum & 15], 1000),
              std::vector<std::string>{"L:"});
}

TEST(GdbPacketWriter, FramesWhatReadsBack) {
    EXPECT_EQ(frame("OK"), "$OK#9a");
    EXPECT_EQ(frame(""), "$#00");
    EXPECT_EQ(frame("$#}*"), "$}\x04}\x03}]}\x0a#62");
    const std::string binary = std::string("\0\x03$#}*\xff+-", 9);
    EXPECT_EQ(events(frame(binary), 1), std::vector<std::string>{"P:" + binary});
}

TEST(GdbCommands, ParsesEachWithItsArguments) {
    const auto R = Command::kReadMemory;
    const struct {
        std::string packet;
        Command::Kind kind;
        uint32_t address, length, number;
        std::string bytes;
    } cases[] = {
        {"?", Command::kHaltReason, 0, 0, 0, ""},
        {"g", Command::kReadRegisters, 0, 0, 0, ""},
        {"G0102", Command::kWriteRegisters, 0, 0, 0, "\x01\x02"},
        {"p8", Command::kReadRegister, 0, 0, 8, ""},
        {"P8=78563412", Command::kWriteRegister, 0, 0, 8, "\x78\x56\x34\x12"},
        {"m401000,40", R, 0x401000, 0x40, 0, ""},
        {"m00000000ffffffff,1", R, 0xffffffff, 1, 0, ""},
        {"m0,ffffffff", R, 0, emulator::gdb::kMaxMemoryRead, 0, ""},
        {"M10,2:abCD", Command::kWriteMemory, 0x10, 2, 0, "\xab\xcd"},
        {"X10,3:a:b", Command::kWriteMemory, 0x10, 3, 0, "a:b"},
        {"X10,0:", Command::kWriteMemory, 0x10, 0, 0, ""},
        {"c", Command::kContinue, 0, 0, 0, ""},
        {"c401000", Command::kContinue, 0x401000, 0, 0, ""},
        {"s", Command::kStep, 0, 0, 0, ""},
        {"vCont?", Command::kVContQuery, 0, 0, 0, ""},
        {"vCont;c", Command::kContinue, 0, 0, 0, ""},
        {"vCont;s:1;c", Command::kStep, 0, 0, 0, ""},
        // With a signal for the thread (going on after a fault): taken as c and s.
        {"vCont;C0b:1;c", Command::kContinue, 0, 0, 0, ""},
        {"vCont;S05", Command::kStep, 0, 0, 0, ""},
        {"C0b", Command::kContinue, 0, 0, 0, ""},
        {"S05;401000", Command::kStep, 0x401000, 0, 0, ""},
        {"Z0,401000,1", Command::kInsertBreakpoint, 0x401000, 1, 0, ""},
        {"z1,401000,1", Command::kRemoveBreakpoint, 0x401000, 1, 0, ""},
        {"Z2,2000,4;X1,0", Command::kInsertBreakpoint, 0x2000, 4, 0, ""},
        {"qXfer:features:read:target.xml:0,ffb", Command::kReadFeatures, 0, 0xffb, 0, ""},
        {"qXfer:libraries:read::10,20", Command::kReadLibraries, 0, 0x20, 0, ""},
        {"qAttached", Command::kAttached, 0, 0, 0, ""},
        {"qAttached:1", Command::kAttached, 0, 0, 0, ""},
        {"qC", Command::kCurrentThread, 0, 0, 0, ""},
        {"qfThreadInfo", Command::kFirstThreads, 0, 0, 0, ""},
        {"qsThreadInfo", Command::kNextThreads, 0, 0, 0, ""},
        {"Hg0", Command::kSetThread, 0, 0, 0, ""},
        {"k", Command::kKill, 0, 0, 0, ""},
        {"D", Command::kDetach, 0, 0, 0, ""},
        {"D;1", Command::kDetach, 0, 0, 0, ""},
        // Malformed: bad hex, too long a number, missing or extra parts,
        // a count that disagrees with the data.
        {"G012", Command::kMalformed, 0, 0, 0, ""},
        {"G", Command::kMalformed, 0, 0, 0, ""},
        {"p", Command::kMalformed, 0, 0, 0, ""},
        {"p-1", Command::kMalformed, 0, 0, 0, ""},
        {"P8", Command::kMalformed, 0, 0, 0, ""},
        {"P8=xy", Command::kMalformed, 0, 0, 0, ""},
        {"m100000000,1", Command::kMalformed, 0, 0, 0, ""},
        {"mffffffffffffffffff,1", Command::kMalformed, 0, 0, 0, ""},
        {"m10", Command::kMalformed, 0, 0, 0, ""},
        {"m10,", Command::kMalformed, 0, 0, 0, ""},
        {"m,4", Command::kMalformed, 0, 0, 0, ""},
        {"M10,2:ab", Command::kMalformed, 0, 0, 0, ""},
        {"M10,1:abc", Command::kMalformed, 0, 0, 0, ""},
        {"M10,1", Command::kMalformed, 0, 0, 0, ""},
        {"X10,4:abc", Command::kMalformed, 0, 0, 0, ""},
        {"cxyz", Command::kMalformed, 0, 0, 0, ""},
        {"vCont;C5", Command::kMalformed, 0, 0, 0, ""},
        {"vCont;Cxy", Command::kMalformed, 0, 0, 0, ""},
        {"C", Command::kMalformed, 0, 0, 0, ""},
        {"C0b;zz", Command::kMalformed, 0, 0, 0, ""},
        {"vCont;c:zz", Command::kMalformed, 0, 0, 0, ""},
        {"Z5,0,1", Command::kMalformed, 0, 0, 0, ""},
        {"Z0,401000", Command::kMalformed, 0, 0, 0, ""},
        {"Z00,1,1", Command::kMalformed, 0, 0, 0, ""},
        {"qXfer:features:read:target.xml:0", Command::kMalformed, 0, 0, 0, ""},
        {"Hx0", Command::kMalformed, 0, 0, 0, ""},
        {"H", Command::kMalformed, 0, 0, 0, ""},
        // Unknown: answered with the empty packet.
        {"", Command::kUnknown, 0, 0, 0, ""},
        {"vMustReplyEmpty", Command::kUnknown, 0, 0, 0, ""},
        {"qTStatus", Command::kUnknown, 0, 0, 0, ""},
        {"qXfer:features:write:target.xml:0,1", Command::kUnknown, 0, 0, 0, ""},
        {"qXfer:libraries:read:x:0,1", Command::kUnknown, 0, 0, 0, ""},
        {"gx", Command::kUnknown, 0, 0, 0, ""},
    };
    for (const auto& c : cases) {
        const Command command = parse_command(c.packet);
        EXPECT_EQ(command.kind, c.kind) << c.packet;
        if (command.kind == Command::kMalformed || command.kind == Command::kUnknown) continue;
        EXPECT_EQ(command.address, c.address) << c.packet;
        EXPECT_EQ(command.length, c.length) << c.packet;
        EXPECT_EQ(command.number, c.number) << c.packet;
        EXPECT_EQ(command.bytes, c.bytes) << c.packet;
    }
}

TEST(GdbCommands, KeepsTheDetailsEachKindCarries) {
    EXPECT_TRUE(parse_command("c401000").has_address);
    EXPECT_FALSE(parse_command("c").has_address);
    EXPECT_EQ(parse_command("Z4,10,4").breakpoint, Command::kAccessWatch);
    const Command xfer = parse_command("qXfer:features:read:i386.xml:7f,10");
    EXPECT_EQ(xfer.annex, "i386.xml");
    EXPECT_EQ(xfer.offset, 0x7fu);
    const Command all = parse_command("Hc-1");
    EXPECT_EQ(all.operation, 'c');
    EXPECT_EQ(all.thread, -1);
    EXPECT_EQ(parse_command("Hg1f").thread, 0x1f);
    EXPECT_EQ(parse_command("qSupported:multiprocess+;xmlRegisters=i386;swbreak+").features,
              (std::vector<std::string>{"multiprocess+", "xmlRegisters=i386", "swbreak+"}));
    EXPECT_TRUE(parse_command("qSupported").features.empty());
}

}  // namespace
