// The stub over a scripted byte stream and a fake machine: each stop, the
// packets a debugger sends and the bytes the stub answers with, how module
// code is told to go on, and a second debugger refused while one is attached.
#include "emulator/gdb/gdb_stub.h"

#include <gtest/gtest.h>

#include <deque>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/gdb/gdb_packets.h"

namespace {

using emulator::DebugStop;
using emulator::DebugTarget;
using Resume = emulator::Debugger::Resume;
using Reason = DebugStop::Reason;

constexpr uint32_t kCode = 0x1000, kData = 0x2000, kSize = 16;

// Code at kCode (bytes 1, 2, 3...), data at kData; nothing else is there.
class FakeTarget : public DebugTarget {
public:
    FakeTarget() {
        for (uint32_t i = 0; i < kSize; ++i) {
            memory[kCode + i] = static_cast<uint8_t>(i + 1);
            memory[kData + i] = 0;
        }
        regs.eax = 0x11223344;
        regs.eip = kCode;
    }
    Registers registers() const override { return regs; }
    void set_registers(const Registers& r) override { regs = r; }
    FloatRegisters float_registers() const override { return {}; }
    uint32_t thread_block() const override { return 0x7000; }
    void attach_debugger(emulator::Debugger*) override {}
    void request_debug_stop() override { ++stops_requested; }
    bool ending() const override { return false; }
    bool set_breakpoint(uint32_t address, bool set) override {
        return set ? breakpoints.insert(address).second : breakpoints.erase(address) > 0;
    }
    bool set_watchpoint(uint32_t address, uint32_t, emulator::WatchKind, bool set) override {
        return set ? watches.insert(address).second : watches.erase(address) > 0;
    }
    void clear_debug_points() override {
        breakpoints.clear();
        watches.clear();
    }
    bool debugger_reaches(uint32_t address, uint64_t length, DebuggerReach reach) const override {
        const auto within = [&](uint32_t base) { return address >= base && address + length <= base + kSize; };
        return length > 0 && (within(kCode) || (reach != DebuggerReach::kCode && within(kData)));
    }
    void debugger_read(uint32_t address, std::span<uint8_t> bytes) const override {
        if (!debugger_reaches(address, bytes.size(), DebuggerReach::kRead)) throw std::invalid_argument("beyond");
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = memory.at(address + static_cast<uint32_t>(i));
    }
    void debugger_write(uint32_t address, std::span<const uint8_t> bytes) override {
        if (!debugger_reaches(address, bytes.size(), DebuggerReach::kModule)) throw std::invalid_argument("beyond");
        for (size_t i = 0; i < bytes.size(); ++i) memory[address + static_cast<uint32_t>(i)] = bytes[i];
    }
    std::string describe(uint32_t) const override { return "fake"; }

    Registers regs;
    std::map<uint32_t, uint8_t> memory;
    std::set<uint32_t> breakpoints, watches;
    int stops_requested = 0;
};

// Hands the stub one chunk a read; once the script runs out, the debugger
// has gone. Everything written is kept.
class ScriptedStream : public platform::ByteStream {
public:
    ScriptedStream(std::deque<std::string>& script, std::string& written, bool& closed)
        : script_(script), written_(written), closed_(closed) {}
    bool read(std::string& into, int) override {
        if (script_.empty()) return false;
        into += script_.front();
        script_.pop_front();
        return true;
    }
    bool write(std::string_view bytes) override {
        written_ += bytes;
        return true;
    }
    void close() override { closed_ = true; }
    std::string peer() const override { return "script"; }

private:
    std::deque<std::string>& script_;
    std::string& written_;
    bool& closed_;
};

// What the stub writes for a packet it takes: the acknowledgement and its reply.
std::string answer(const std::string& reply) { return "+" + emulator::gdb::frame(reply); }

struct Stop {
    Reason reason;
    std::string sent;      // the debugger's bytes meanwhile
    std::string answered;  // the stub's bytes, its unprompted stop reply first
    Resume resume;
};

struct Session {
    const char* name;
    std::vector<Stop> stops;
    std::set<uint32_t> breakpoints;  // set when the session ends
    uint32_t eip;
};

std::string packet(const std::string& data) { return emulator::gdb::frame(data); }

// The registers `g` answers with: eax 0x11223344, eip kCode, the rest zero
// (the general ones, then st0-7 of ten bytes, then eight more of four).
std::string register_file(uint32_t eip) {
    char text[9];
    std::snprintf(text, sizeof text, "%02x%02x%02x%02x", eip & 0xFF, (eip >> 8) & 0xFF, (eip >> 16) & 0xFF, eip >> 24);
    return "44332211" + std::string(7 * 8, '0') + text + std::string(7 * 8 + 8 * 20 + 8 * 8, '0');
}

TEST(GdbStub, AnswersEachStopsPackets) {
    const Session sessions[] = {
        {"halt reason, registers and memory",
         {{Reason::kInterrupt, packet("?") + packet("g") + packet("m1000,4") + packet("m100e,4") + packet("c"),
           answer("T05thread:1;") + answer(register_file(kCode)) + answer("01020304") + answer("E14") + "+",
           Resume::kContinue}},
         {},
         kCode},
        {"a breakpoint set, hit, removed; one beyond the code refused",
         {{Reason::kInterrupt, packet("Z0,1004,1") + packet("Z0,2000,1") + packet("c"),
           answer("OK") + answer("E01") + "+", Resume::kContinue},
          {Reason::kBreakpoint, packet("z0,1004,1") + packet("Z0,1008,1") + packet("c"),
           packet("T05thread:1;swbreak:;") + answer("OK") + answer("OK") + "+", Resume::kContinue}},
         {0x1008},
         kCode},
        {"a step, then continuing elsewhere, then an interrupt says where",
         {{Reason::kInterrupt, packet("s"), "+", Resume::kStep},
          {Reason::kStep, packet("c100a"), packet("T05thread:1;") + "+", Resume::kContinue},
          {Reason::kInterrupt, packet("D"),
           packet("O" + emulator::gdb::to_hex("stopped in 100a\n")) + packet("T02thread:1;") + answer("OK"),
           Resume::kContinue}},
         {},
         0x100a},
        {"a bad checksum is asked again, a malformed packet refused, an unknown one unanswered",
         {{Reason::kInterrupt, "$g#00" + packet("mzz") + packet("vMustReplyEmpty") + packet("c"),
           "-" + answer("E01") + answer("") + "+", Resume::kContinue}},
         {},
         kCode},
        {"a debugger that goes away mid-stop lets module code go on, its points cleared",
         {{Reason::kInterrupt, packet("Z0,1004,1"), answer("OK"), Resume::kContinue}},
         {},
         kCode},
    };
    for (const Session& session : sessions) {
        SCOPED_TRACE(session.name);
        FakeTarget target;
        emulator::gdb::Stub stub;
        std::deque<std::string> script;
        std::string written;
        bool closed = false;
        stub.connect(std::make_unique<ScriptedStream>(script, written, closed));
        stub.adopt(target, {});
        EXPECT_EQ(target.stops_requested, 1);  // it stops at once for a debugger already attached
        for (const Stop& stop : session.stops) {
            script.push_back(stop.sent);
            written.clear();
            DebugStop reported;
            reported.reason = stop.reason;
            reported.signal = stop.reason == Reason::kInterrupt && &stop != &session.stops.front()
                                  ? emulator::StopSignal::kInt
                                  : emulator::StopSignal::kTrap;
            reported.pc = target.regs.eip;
            EXPECT_EQ(stub.stopped(target, reported), stop.resume);
            EXPECT_EQ(written, stop.answered);
        }
        EXPECT_EQ(target.breakpoints, session.breakpoints);
        EXPECT_EQ(target.regs.eip, session.eip);
    }
}

TEST(GdbStub, RefusesASecondDebuggerAndTakesTheNextOnceTheFirstHasGone) {
    FakeTarget target;
    emulator::gdb::Stub stub;
    std::vector<std::string> said;
    stub.say = [&](const std::string& line) { said.push_back(line); };
    std::deque<std::string> first_script{packet("c")}, second_script, third_script{packet("?")};
    std::string first_written, second_written, third_written;
    bool first_closed = false, second_closed = false, third_closed = false;
    std::deque<std::unique_ptr<platform::ByteStream>> arriving;
    stub.next_connection = [&]() -> std::unique_ptr<platform::ByteStream> {
        if (arriving.empty()) return nullptr;
        auto next = std::move(arriving.front());
        arriving.pop_front();
        return next;
    };
    stub.connect(std::make_unique<ScriptedStream>(first_script, first_written, first_closed));
    stub.adopt(target, {});
    arriving.push_back(std::make_unique<ScriptedStream>(second_script, second_written, second_closed));
    EXPECT_EQ(stub.stopped(target, DebugStop{}), Resume::kContinue);
    EXPECT_TRUE(second_closed);
    EXPECT_FALSE(first_closed);
    EXPECT_TRUE(second_written.empty());
    // Module code runs; the first debugger has nothing more to say: gone.
    EXPECT_FALSE(stub.interrupted());
    EXPECT_TRUE(first_closed);
    EXPECT_FALSE(stub.attached());
    arriving.push_back(std::make_unique<ScriptedStream>(third_script, third_written, third_closed));
    EXPECT_FALSE(stub.interrupted());
    EXPECT_TRUE(stub.attached());
    const std::vector<std::string> expected = {
        "a debugger attached from script", "a second debugger was refused: one is attached",
        "the debugger went away: the session goes on", "a debugger attached from script"};
    EXPECT_EQ(said, expected);
}

}  // namespace
