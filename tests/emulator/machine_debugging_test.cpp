// A debugger's stops on code written straight into the machine: where each
// one lands, what module code holds there, and that the call then goes on
// (or ends, after a fault) as if nobody had looked.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "fault_of.h"

namespace {

using emulator::DebugStop;
using emulator::EmulatedMachine;
using Reason = emulator::DebugStop::Reason;
using Resume = emulator::Debugger::Resume;

constexpr uint32_t kCode = 0x30000000, kData = 0x31000000;

// Each stop as seen, answered from a script (continue when it runs out);
// a register may be changed at the first stop.
class Scripted : public emulator::Debugger {
public:
    struct Seen {
        Reason reason;
        emulator::StopSignal signal;
        uint32_t offset;  // from the code's start
        uint32_t eax;
        uint32_t eip;  // what the debugger reads: the stop's own address
    };
    std::vector<Resume> script;
    std::optional<uint32_t> set_eax;
    bool interrupt = false;  // at the first look for one
    std::function<void(emulator::DebugTarget&)> at_stop;
    std::vector<Seen> seen;

    Resume stopped(emulator::DebugTarget& machine, const DebugStop& stop) noexcept override {
        EmulatedMachine::Registers registers = machine.registers();
        seen.push_back({stop.reason, stop.signal, stop.pc - kCode, registers.eax, registers.eip - kCode});
        if (at_stop) at_stop(machine);
        if (set_eax && seen.size() == 1) {
            registers.eax = *set_eax;
            machine.set_registers(registers);
        }
        return seen.size() <= script.size() ? script[seen.size() - 1] : Resume::kContinue;
    }
    bool interrupted() noexcept override { return std::exchange(interrupt, false); }
    void forget(emulator::DebugTarget&) noexcept override {}
};

// eax = arg + 1; [kData] = eax; eax += 2; a loop of three rounds; return.
const std::vector<uint8_t> kProgram = {
    0x8B, 0x44, 0x24, 0x04,        // 0:  mov eax, [esp+4]
    0x83, 0xC0, 0x01,              // 4:  add eax, 1
    0xA3, 0x00, 0x00, 0x00, 0x31,  // 7:  mov [kData], eax
    0x83, 0xC0, 0x02,              // 12: add eax, 2
    0xB9, 0x03, 0x00, 0x00, 0x00,  // 15: mov ecx, 3
    0x49,                          // 20: dec ecx
    0x75, 0xFD,                    // 21: jnz 20
    0xC2, 0x04, 0x00,              // 23: ret 4
};
// A loop of 5,000 rounds calling a routine (long enough for the debugger's
// interrupt, and its blocks chained, so the engine's EIP lags), eax = 7.
const std::vector<uint8_t> kLongLoop = {
    0xB9, 0x88, 0x13, 0x00, 0x00,  // 0: mov ecx, 5000
    0xE8, 0x0B, 0x00, 0x00, 0x00,  // 5: call 21
    0x49,                          // 10: dec ecx
    0x75, 0xF8,                    // 11: jnz 5
    0xB8, 0x07, 0x00, 0x00, 0x00,  // 13: mov eax, 7
    0xC2, 0x04, 0x00,              // 18: ret 4
    0xC3,                          // 21: ret
};
// Writes through a null pointer at 2.
const std::vector<uint8_t> kNullWrite = {0x31, 0xC0, 0x89, 0x00, 0xC3};  // xor eax,eax; mov [eax],eax; ret

// `program` at kCode, and a page of data at kData.
void load(EmulatedMachine& machine, const std::vector<uint8_t>& program) {
    machine.map(machine.reserve(0x1000, kCode), 0x1000, EmulatedMachine::kRead | EmulatedMachine::kExecute, "code");
    machine.map(machine.reserve(0x1000, kData), 0x1000, EmulatedMachine::kRead | EmulatedMachine::kWrite, "data");
    machine.load(kCode, program);
}

struct Case {
    const char* name;
    std::vector<uint8_t> program;
    std::vector<uint32_t> breakpoints;              // offsets
    std::optional<emulator::WatchKind> watch_data;  // on kData's four bytes
    bool stop_first = false;
    bool interrupt = false;
    std::vector<Resume> script;
    std::optional<uint32_t> set_eax;
    std::vector<std::tuple<Reason, uint32_t, uint32_t>> expected;  // reason, offset, eax
    std::optional<uint32_t> result;                                // nullopt: the call faults
};

class MachineDebugging : public testing::TestWithParam<Case> {};

TEST_P(MachineDebugging, StopsWhereAskedAndGoesOn) {
    const Case& c = GetParam();
    Scripted debugger;  // outlives the machine, which tells it when it goes
    EmulatedMachine machine;
    load(machine, c.program);
    debugger.script = c.script;
    debugger.set_eax = c.set_eax;
    debugger.interrupt = c.interrupt;
    machine.attach_debugger(&debugger);
    for (uint32_t offset : c.breakpoints) EXPECT_TRUE(machine.set_breakpoint(kCode + offset, true));
    if (c.watch_data) {
        EXPECT_TRUE(machine.set_watchpoint(kData, 4, *c.watch_data, true));
    }
    if (c.stop_first) machine.request_debug_stop();

    const uint32_t args[] = {10};
    const auto call = [&] { return machine.call(kCode, args, emulator::Convention::kStdcall); };
    if (c.result) {
        EXPECT_EQ(call(), *c.result);
    } else {
        EXPECT_EQ(fault_of(call).kind(), emulator::GuestFault::Kind::kWrite);
    }
    std::vector<std::tuple<Reason, uint32_t, uint32_t>> seen;
    for (const Scripted::Seen& s : debugger.seen) {
        seen.emplace_back(s.reason, s.offset, s.eax);
        if (s.reason != Reason::kFault) {
            EXPECT_EQ(s.eip, s.offset) << "the debugger reads EIP where it stopped";
        }
    }
    EXPECT_EQ(seen, c.expected);

    // Without the debugger's points the same call runs through untouched.
    for (uint32_t offset : c.breakpoints) EXPECT_TRUE(machine.set_breakpoint(kCode + offset, false));
    if (c.watch_data) {
        EXPECT_TRUE(machine.set_watchpoint(kData, 4, *c.watch_data, false));
    }
    debugger.seen.clear();
    if (c.result && !c.set_eax) {
        EXPECT_EQ(call(), *c.result);
    }
    if (c.result) {
        EXPECT_TRUE(debugger.seen.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Stops, MachineDebugging,
    testing::Values(
        Case{"breakpoint", kProgram, {4}, {}, false, false, {}, {}, {{Reason::kBreakpoint, 4, 10}}, 13},
        Case{"steps_from_a_breakpoint",
             kProgram,
             {4},
             {},
             false,
             false,
             {Resume::kStep, Resume::kStep},
             {},
             {{Reason::kBreakpoint, 4, 10}, {Reason::kStep, 7, 11}, {Reason::kStep, 12, 11}},
             13},
        Case{"each_round_of_a_loop",
             kProgram,
             {20},
             {},
             false,
             false,
             {},
             {},
             {{Reason::kBreakpoint, 20, 13}, {Reason::kBreakpoint, 20, 13}, {Reason::kBreakpoint, 20, 13}},
             13},
        Case{"write_watch_after_the_store",
             kProgram,
             {},
             emulator::WatchKind::kWrite,
             false,
             false,
             {},
             {},
             {{Reason::kWatch, 12, 11}},
             13},
        Case{"read_watch_ignores_writes", kProgram, {}, emulator::WatchKind::kRead, false, false, {}, {}, {}, 13},
        Case{"first_instruction", kProgram, {}, {}, true, false, {}, {}, {{Reason::kInterrupt, 0, 0}}, 13},
        Case{"register_changed_at_a_stop",
             kProgram,
             {4},
             {},
             false,
             false,
             {},
             100,
             {{Reason::kBreakpoint, 4, 10}},
             103},
        Case{"interrupt_where_it_runs", kLongLoop, {}, {}, false, true, {}, {}, {{Reason::kInterrupt, 5, 0}}, 7},
        Case{"fault_at_its_instruction",
             kNullWrite,
             {},
             {},
             false,
             false,
             {},
             {},
             {{Reason::kFault, 2, 0}},
             std::nullopt}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Each fault stops at its instruction with the signal a debugger knows it by.
struct FaultCase {
    const char* name;
    std::vector<uint8_t> program;
    emulator::StopSignal signal;
    uint32_t offset;
};

class FaultStops : public testing::TestWithParam<FaultCase> {};

TEST_P(FaultStops, StopWithTheirSignal) {
    const FaultCase& c = GetParam();
    Scripted debugger;
    EmulatedMachine::Options options;
    options.instruction_budget = 10'000;
    EmulatedMachine machine(options);
    machine.map(machine.reserve(0x1000, kCode), 0x1000, EmulatedMachine::kRead | EmulatedMachine::kExecute, "code");
    machine.load(kCode, c.program);
    machine.attach_debugger(&debugger);
    fault_of([&] { machine.call(kCode, {}, emulator::Convention::kStdcall); });
    ASSERT_EQ(debugger.seen.size(), 1u);
    EXPECT_EQ(debugger.seen[0].reason, Reason::kFault);
    EXPECT_EQ(debugger.seen[0].signal, c.signal);
    EXPECT_EQ(debugger.seen[0].offset, c.offset);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, FaultStops,
    testing::Values(FaultCase{"null_write", kNullWrite, emulator::StopSignal::kSegv, 2},
                    // xor ecx, ecx; xor edx, edx; div ecx
                    FaultCase{"divide", {0x31, 0xC9, 0x31, 0xD2, 0xF7, 0xF1}, emulator::StopSignal::kFpe, 4},
                    FaultCase{"ud2", {0x0F, 0x0B}, emulator::StopSignal::kIll, 0},
                    FaultCase{"int3", {0x90, 0xCC}, emulator::StopSignal::kTrap, 1},
                    FaultCase{"budget", {0xEB, 0xFE}, emulator::StopSignal::kXcpu, 0}),
    [](const testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// A C runtime's start-up calls its initialisers through a host routine that
// calls module code back; once a debugger has stopped the call, the routines
// after that one must still be served, and the call still return.
TEST(MachineDebugging, RoutinesCallingModuleCodeBackAfterAStop) {
    Scripted debugger;
    EmulatedMachine::Options options;
    options.instruction_budget = 1'000'000;  // where the call never returns
    EmulatedMachine machine(options);
    machine.map(machine.reserve(0x1000, kCode), 0x1000, EmulatedMachine::kRead | EmulatedMachine::kExecute, "code");
    const auto word = [](uint32_t value) {
        return std::vector<uint8_t>{static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    };
    machine.load(kCode + 0x100, std::vector<uint8_t>{0x31, 0xC0, 0xC3});  // an initialiser: xor eax, eax; ret
    const uint32_t initialise = machine.host_routine("initialise", 0, emulator::Convention::kStdcall, [&](auto) {
        return machine.call(kCode + 0x100, {}, emulator::Convention::kCdecl);
    });
    const uint32_t answer = machine.host_routine("answer", 1, emulator::Convention::kStdcall, [](auto) { return 42u; });
    // call initialise; push 0; call answer; ret
    std::vector<uint8_t> program{0xB8};
    for (const auto& part : {word(initialise), std::vector<uint8_t>{0xFF, 0xD0, 0x6A, 0x00, 0xB8}, word(answer),
                             std::vector<uint8_t>{0xFF, 0xD0, 0xC3}})
        program.insert(program.end(), part.begin(), part.end());
    machine.load(kCode, program);
    machine.attach_debugger(&debugger);
    EXPECT_TRUE(machine.set_breakpoint(kCode + 0x800, true));  // one the call never reaches
    for (const bool stop_first : {false, true}) {
        SCOPED_TRACE(stop_first ? "stopped at its first instruction" : "never stopped");
        if (stop_first) machine.request_debug_stop();
        EXPECT_EQ(machine.call(kCode, {}, emulator::Convention::kCdecl), 42u);
    }
}

// Where a debugger may reach: what module code may read, for reading; the
// module's own memory, for writing and watching; of that, what runs, for
// breakpoints. Of the host's pages it reads at most what module code reads.
TEST(DebuggerReach, StaysInTheModulesMemory) {
    using Reach = EmulatedMachine::DebuggerReach;
    EmulatedMachine machine;
    machine.map(machine.reserve(0x1000, kCode), 0x1000, EmulatedMachine::kRead | EmulatedMachine::kExecute, "code");
    machine.map(machine.reserve(0x2000, kData), 0x1000, EmulatedMachine::kRead | EmulatedMachine::kWrite, "data");
    machine.map(kData + 0x1000, 0x1000, 0, "no access");
    const uint32_t tib = machine.thread_block(), routines = 0x7FFC0010, descriptors = 0x7FFD0000;
    const struct {
        uint32_t address;
        uint64_t length;
        Reach reach;
        bool reached;
    } cases[] = {
        {kCode, 1, Reach::kCode, true},
        {kCode + 0xFFF, 1, Reach::kCode, true},
        {kCode + 0xFFF, 2, Reach::kCode, false},  // runs off the code
        {kCode, 4, Reach::kModule, true},         // code is written (and watched) too
        {kData, 4, Reach::kCode, false},
        {kData, 0x1000, Reach::kModule, true},
        {kData, 0x1001, Reach::kModule, false},  // into a page module code may not touch
        {kData + 0x1000, 1, Reach::kRead, false},
        {kData, 0, Reach::kRead, false},
        {0x10000000, 1, Reach::kRead, false},  // unmapped
        {0xFFFFFFFF, 1, Reach::kRead, false},
        {0xFFC00000, 4, Reach::kRead, false},   // the page tables
        {descriptors, 8, Reach::kRead, false},  // the processor's alone
        {descriptors, 1, Reach::kCode, false},
        {tib, 0x34, Reach::kRead, true},  // a debugger walks the thread from it
        {tib, 4, Reach::kModule, false},
        {machine.process_block(), 4, Reach::kModule, false},
        {routines, 2, Reach::kRead, true},
        {routines, 2, Reach::kModule, false},
        {routines, 1, Reach::kCode, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.address << " + " << c.length << " for " << int(c.reach));
        EXPECT_EQ(machine.debugger_reaches(c.address, c.length, c.reach), c.reached);
        std::vector<uint8_t> bytes(c.length);
        if (c.reach == Reach::kRead && c.length != 0) {
            if (c.reached)
                EXPECT_NO_THROW(machine.debugger_read(c.address, bytes));
            else
                EXPECT_THROW(machine.debugger_read(c.address, bytes), std::invalid_argument);
        }
        if (c.reach == Reach::kModule && !c.reached) {
            EXPECT_THROW(machine.debugger_write(c.address, bytes), std::invalid_argument);
        }
    }
}

// Breakpoints where no module code is, set while module code is stopped:
// nothing stops there, and the call goes on as if they were not.
TEST(MachineDebugging, PointsBeyondTheModuleAreHarmless) {
    Scripted debugger;
    EmulatedMachine machine;
    load(machine, kProgram);
    machine.attach_debugger(&debugger);
    machine.request_debug_stop();
    const uint32_t nowhere[] = {0x10000000, 0xFFFFFFFF, 0xFFFFF000, 0x7FFD0000, 0x7FFDE000, kData};
    debugger.at_stop = [&](emulator::DebugTarget& stopped) {
        for (uint32_t address : nowhere) EXPECT_TRUE(stopped.set_breakpoint(address, true));
    };
    const uint32_t args[] = {10};
    EXPECT_EQ(machine.call(kCode, args, emulator::Convention::kStdcall), 13u);
    ASSERT_EQ(debugger.seen.size(), 1u);
    EXPECT_EQ(debugger.seen[0].reason, Reason::kInterrupt);
    // Cleared as harmlessly, while stopped again.
    debugger.seen.clear();
    debugger.at_stop = [&](emulator::DebugTarget& stopped) {
        for (uint32_t address : nowhere) EXPECT_TRUE(stopped.set_breakpoint(address, false));
    };
    machine.request_debug_stop();
    EXPECT_EQ(machine.call(kCode, args, emulator::Convention::kStdcall), 13u);
    EXPECT_EQ(debugger.seen.size(), 1u);
}

// A debugger sets so many breakpoints and watches and no more; all of them
// go at once, and the call then runs untouched.
TEST(MachineDebugging, PointsAreCappedAndClearedAtOnce) {
    Scripted debugger;
    EmulatedMachine machine;
    load(machine, kProgram);
    machine.attach_debugger(&debugger);
    static_assert(EmulatedMachine::kMaxDebugPoints <= 0x1000, "one address each in a page");
    for (uint32_t i = 0; i < EmulatedMachine::kMaxDebugPoints; ++i) {
        ASSERT_TRUE(machine.set_breakpoint(kCode + i, true));
        ASSERT_TRUE(machine.set_watchpoint(kData + i, 1, emulator::WatchKind::kWrite, true));
    }
    EXPECT_THROW(machine.set_breakpoint(0x20000000, true), std::length_error);
    EXPECT_THROW(machine.set_watchpoint(0x20000000, 1, emulator::WatchKind::kRead, true), std::length_error);
    EXPECT_FALSE(machine.set_breakpoint(kCode, true)) << "one already there is no new one";
    machine.clear_debug_points();
    const uint32_t args[] = {10};
    EXPECT_EQ(machine.call(kCode, args, emulator::Convention::kStdcall), 13u);
    EXPECT_TRUE(debugger.seen.empty());
    EXPECT_TRUE(machine.set_breakpoint(kCode + 4, true));
    EXPECT_EQ(machine.call(kCode, args, emulator::Convention::kStdcall), 13u);
    EXPECT_EQ(debugger.seen.size(), 1u);
}

}  // namespace

// A watched instruction stops once, after it, and leaves what it would have
// left unwatched, though the engine has it run twice: instructions that read
// what they then write, or move the stack.
struct WatchedCase {
    const char* name;
    std::vector<uint8_t> program;  // arg 10; [kData] holds 5
    emulator::WatchKind watch;
    size_t stops;
};

class WatchedInstructions : public testing::TestWithParam<WatchedCase> {};

TEST_P(WatchedInstructions, RunOnce) {
    const WatchedCase& c = GetParam();
    const auto run = [&](bool watched) {
        Scripted debugger;
        EmulatedMachine machine;
        load(machine, c.program);
        machine.load(kData, std::vector<uint8_t>{5, 0, 0, 0});
        if (watched) {
            machine.attach_debugger(&debugger);
            EXPECT_TRUE(machine.set_watchpoint(kData, 4, c.watch, true));
        }
        const uint32_t args[] = {10};
        const uint32_t eax = machine.call(kCode, args, emulator::Convention::kStdcall);
        std::vector<uint8_t> data(4);
        machine.peek(kData, data);
        EXPECT_EQ(debugger.seen.size(), watched ? c.stops : 0u);
        return std::pair(eax, data);
    };
    EXPECT_EQ(run(true), run(false));
}

constexpr uint8_t kLoadArg[] = {0x8B, 0x44, 0x24, 0x04};  // mov eax, [esp+4]
std::vector<uint8_t> program(std::initializer_list<uint8_t> body) {
    std::vector<uint8_t> code(std::begin(kLoadArg), std::end(kLoadArg));
    code.insert(code.end(), body);
    code.insert(code.end(), {0xC2, 0x04, 0x00});  // ret 4
    return code;
}
const std::vector<uint8_t> kAddTo = program({0x01, 0x05, 0x00, 0x00, 0x00, 0x31});    // add [kData], eax
const std::vector<uint8_t> kExchange = program({0x87, 0x05, 0x00, 0x00, 0x00, 0x31});  // xchg [kData], eax
const std::vector<uint8_t> kPushPop = program({0xFF, 0x35, 0x00, 0x00, 0x00, 0x31, 0x58});  // push [kData]; pop eax
const std::vector<uint8_t> kIncrement = program({0xFF, 0x05, 0x00, 0x00, 0x00, 0x31});  // inc dword [kData]

using emulator::WatchKind;
INSTANTIATE_TEST_SUITE_P(
    Watches, WatchedInstructions,
    testing::Values(WatchedCase{"add_written", kAddTo, WatchKind::kWrite, 1},
                    WatchedCase{"add_read", kAddTo, WatchKind::kRead, 1},
                    WatchedCase{"add_accessed", kAddTo, WatchKind::kAccess, 1},
                    WatchedCase{"exchange_written", kExchange, WatchKind::kWrite, 1},
                    WatchedCase{"exchange_read", kExchange, WatchKind::kRead, 1},
                    WatchedCase{"push_read", kPushPop, WatchKind::kRead, 1},
                    WatchedCase{"push_not_written", kPushPop, WatchKind::kWrite, 0},
                    WatchedCase{"increment_accessed", kIncrement, WatchKind::kAccess, 1}),
    [](const testing::TestParamInfo<WatchedCase>& info) { return info.param.name; });
