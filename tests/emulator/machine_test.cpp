// The emulated machine on code written straight into its memory: results of
// both kinds (53-bit x87 precision included), Windows' thread state, host
// routines and calls nested through them, every kind of fault with its
// address and instruction, the instruction budget, broken calls, and the
// host's views of memory following the module's protections.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "fault_of.h"

namespace {

using emulator::Convention;
using emulator::EmulatedMachine;
using emulator::GuestFault;
using Kind = emulator::GuestFault::Kind;

// Machine code as bytes: code({0x8B, 0x44, 0x24, 0x04}).d(address)...
struct Code {
    std::vector<uint8_t> bytes;
    Code& operator()(std::initializer_list<uint8_t> more) {
        bytes.insert(bytes.end(), more);
        return *this;
    }
    Code& operator()(const std::vector<uint8_t>& more) {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    Code& d(uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return *this;
    }
};

// Frequent instructions.
const std::initializer_list<uint8_t> kRet = {0xC3};
const std::initializer_list<uint8_t> kArg1ToEax = {0x8B, 0x44, 0x24, 0x04};  // mov eax, [esp+4]

std::string hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// A machine with a page of code and a page of data of the test's own.
class Bench {
public:
    explicit Bench(const EmulatedMachine::Options& options = {}) : machine(options) {
        code_base = machine.reserve(kCodeSize, 0x30000000);
        machine.map(code_base, kCodeSize, EmulatedMachine::kRead | EmulatedMachine::kExecute, "test code");
        data_base = machine.reserve(EmulatedMachine::kPageSize, 0x31000000);
        machine.map(data_base, EmulatedMachine::kPageSize, EmulatedMachine::kRead | EmulatedMachine::kWrite,
                    "test data");
        read_only = machine.reserve(EmulatedMachine::kPageSize, 0x32000000);
        machine.map(read_only, EmulatedMachine::kPageSize, EmulatedMachine::kRead, "test constants");
    }

    // Places code (each routine at a fresh 16-byte boundary); returns its address.
    uint32_t place(const Code& code) {
        next_ = (next_ + 15) & ~15u;
        if (next_ + code.bytes.size() > kCodeSize) throw std::length_error("test code page full");
        machine.load(code_base + next_, code.bytes);
        const uint32_t address = code_base + next_;
        next_ += static_cast<uint32_t>(code.bytes.size());
        return address;
    }
    // Places data; returns its address.
    template <typename T>
    uint32_t datum(const T& value) {
        data_next_ = (data_next_ + 15) & ~15u;
        machine.load(data_base + data_next_, std::span(reinterpret_cast<const uint8_t*>(&value), sizeof value));
        const uint32_t address = data_base + data_next_;
        data_next_ += sizeof value;
        return address;
    }

    // A routine that returns 42, to show the machine still works.
    uint32_t answer() { return machine.call(place(Code{}({0xB8}).d(42)(kRet)), {}, Convention::kStdcall); }

    static constexpr uint32_t kCodeSize = 0x4000;
    EmulatedMachine machine;
    uint32_t code_base = 0;
    uint32_t data_base = 0;
    uint32_t read_only = 0;

private:
    uint32_t next_ = 0;
    uint32_t data_next_ = 0;
};

// Every call of these tests alone, and again all of a test's calls in one
// batch (EmulatedMachine::run_batched): each must end as it does alone.
class EmulatedMachineCalls : public ::testing::TestWithParam<bool> {
protected:
    template <typename Body>
    void in_batch_or_alone(Body&& body) {
        if (GetParam()) {
            EmulatedMachine::batched(body);
        } else {
            body();
        }
    }
};
INSTANTIATE_TEST_SUITE_P(, EmulatedMachineCalls, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "InABatch" : "Alone"; });

TEST_P(EmulatedMachineCalls, CallsReturnEaxWithWindowsThreadState) {
    in_batch_or_alone([&] {
        Bench bench;
        const uint32_t tib = bench.machine.thread_block();
        const struct {
            const char* name;
            Code code;
            std::vector<uint32_t> args;
            Convention convention;
            uint32_t expected;
        } cases[] = {
            {"a constant", Code{}({0xB8}).d(0xDEADBEEF)(kRet), {}, Convention::kStdcall, 0xDEADBEEF},
            {"stdcall: its argument plus one",
             Code{}(kArg1ToEax)({0x40, 0xC2, 0x04, 0x00}),
             {41},
             Convention::kStdcall,
             42},
            {"cdecl: a sum", Code{}(kArg1ToEax)({0x03, 0x44, 0x24, 0x08})(kRet), {2, 3}, Convention::kCdecl, 5},
            {"arguments right to left",
             Code{}({0x8B, 0x44, 0x24, 0x0C, 0xC2, 0x0C, 0x00}),
             {1, 2, 3},
             Convention::kStdcall,
             3},
            {"fs:[0x18]: the block itself", Code{}({0x64, 0xA1}).d(0x18)(kRet), {}, Convention::kStdcall, tib},
            {"fs:[0]: the end of the exception chain",
             Code{}({0x64, 0xA1}).d(0)(kRet),
             {},
             Convention::kStdcall,
             0xFFFFFFFFu},
            {"fs:[0x2C]: the TLS array, in the block",
             Code{}({0x64, 0xA1}).d(0x2C)(kRet),
             {},
             Convention::kStdcall,
             tib + 0xE10},
            {"fs:[0x30]: the process block",
             Code{}({0x64, 0xA1}).d(0x30)(kRet),
             {},
             Convention::kStdcall,
             bench.machine.process_block()},
            {"x87 control word 0x027F",
             Code{}({0x83, 0xEC, 0x04, 0xD9, 0x3C, 0x24, 0x0F, 0xB7, 0x04, 0x24, 0x83, 0xC4, 0x04})(kRet),
             {},
             Convention::kStdcall,
             0x027F},
            {"MXCSR 0x1F80",
             Code{}({0x83, 0xEC, 0x04, 0x0F, 0xAE, 0x1C, 0x24, 0x58})(kRet),
             {},
             Convention::kStdcall,
             0x1F80},
            {"user code segment: ring 3", Code{}({0x31, 0xC0, 0x8C, 0xC8})(kRet), {}, Convention::kStdcall, 0x1B},
            {"an empty x87 stack (the tag word)",
             Code{}({0x83, 0xEC, 0x20, 0xD9, 0x34, 0x24, 0x0F, 0xB7, 0x44, 0x24, 0x08, 0x83, 0xC4, 0x20})(kRet),
             {},
             Convention::kStdcall,
             0xFFFF},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            EXPECT_EQ(bench.machine.call(bench.place(c.code), c.args, c.convention), c.expected);
            EXPECT_TRUE(bench.machine.last_call().control_word_kept);
            EXPECT_TRUE(bench.machine.last_call().mxcsr_kept);
            EXPECT_GT(bench.machine.last_call().instructions, 0u);
        }
        // The stack lies between the block's limit and base, the guard page below.
        const uint32_t base = bench.machine.memory().read(frame::GuestPtr<uint32_t>(tib + 4));
        const uint32_t limit = bench.machine.memory().read(frame::GuestPtr<uint32_t>(tib + 8));
        const uint32_t esp = bench.machine.call(bench.place(Code{}({0x89, 0xE0})(kRet)), {}, Convention::kStdcall);
        EXPECT_LT(limit, esp);
        EXPECT_LT(esp, base);
        EXPECT_EQ(base - limit, EmulatedMachine::Options{}.stack_size);
        EXPECT_FALSE(bench.machine.memory().readable(limit - 4, 4));
    });
}

TEST_P(EmulatedMachineCalls, DoublesComeFromSt0RoundedToNearest) {
    in_batch_or_alone([&] {
        Bench bench;
        // 1 + 2^-53 + 2^-70: to 53 bits it rounds up to 1 + 2^-52; to 64 bits
        // first it lands on the halfway point 1 + 2^-53, which then rounds to 1.
        const uint32_t one = bench.datum(1.0);
        const uint32_t small = bench.datum(0x1.00002p-53);
        const uint32_t extended_cw = bench.datum(uint16_t{0x037F});
        // 1 + 2^-53 + 2^-63 as an 80-bit value: nearest double is 1 + 2^-52.
        uint8_t extended[10] = {};
        const uint64_t mantissa = (uint64_t{1} << 63) | (uint64_t{1} << 10) | 1;
        std::memcpy(extended, &mantissa, 8);
        extended[8] = 0xFF;
        extended[9] = 0x3F;
        const uint32_t ten_bytes = bench.datum(extended);

        const Code add = Code{}({0xDD, 0x05}).d(one)({0xDC, 0x05}).d(small)(kRet);
        const struct {
            const char* name;
            Code code;
            std::vector<uint32_t> args;
            double expected;
            bool control_word_kept;
        } cases[] = {
            {"fld1", Code{}({0xD9, 0xE8})(kRet), {}, 1.0, true},
            {"its double argument",
             Code{}({0xDD, 0x44, 0x24, 0x04, 0xC2, 0x08, 0x00}),
             {0x51EB851F, 0x40091EB8},
             3.14,
             true},
            {"53-bit precision: 1 + 2^-52", add, {}, 1.0 + 0x1p-52, true},
            {"64-bit precision, set by the module: 1", Code{}({0xD9, 0x2D}).d(extended_cw)(add.bytes), {}, 1.0, false},
            {"an 80-bit value rounded to nearest", Code{}({0xDB, 0x2D}).d(ten_bytes)(kRet), {}, 1.0 + 0x1p-52, true},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const double value = bench.machine.call_double(bench.place(c.code), c.args, Convention::kStdcall);
            EXPECT_EQ(value, c.expected) << std::hexfloat << value;
            EXPECT_EQ(bench.machine.last_call().control_word_kept, c.control_word_kept);
        }
        // Every outermost call starts at 53 bits again, with an empty x87 stack.
        EXPECT_EQ(bench.machine.call_double(bench.place(add), {}, Convention::kStdcall), 1.0 + 0x1p-52);
    });
}

TEST_P(EmulatedMachineCalls, EachOutermostCallStartsAfresh) {
    in_batch_or_alone([&] {
        Bench bench;
        // Sets 64-bit precision, MXCSR's rounding to zero and fs:[0], and leaves them.
        const uint32_t changes =
            bench.place(Code{}({0x83, 0xEC, 0x04, 0xC7, 0x04, 0x24})
                            .d(0x037F)({0xD9, 0x2C, 0x24, 0xC7, 0x04, 0x24})
                            .d(0x7F80)({0x0F, 0xAE, 0x14, 0x24, 0x83, 0xC4, 0x04})({0x64, 0xC7, 0x05})
                            .d(0)
                            .d(0x1234)(kRet));
        bench.machine.call(changes, {}, Convention::kStdcall);
        EXPECT_FALSE(bench.machine.last_call().control_word_kept);
        EXPECT_FALSE(bench.machine.last_call().mxcsr_kept);
        const uint32_t control =
            bench.place(Code{}({0x83, 0xEC, 0x04, 0xD9, 0x3C, 0x24, 0x0F, 0xB7, 0x04, 0x24, 0x83, 0xC4, 0x04})(kRet));
        EXPECT_EQ(bench.machine.call(control, {}, Convention::kStdcall), 0x027Fu);
        EXPECT_EQ(bench.machine.call(bench.place(Code{}({0x83, 0xEC, 0x04, 0x0F, 0xAE, 0x1C, 0x24, 0x58})(kRet)), {},
                                     Convention::kStdcall),
                  0x1F80u);
        EXPECT_EQ(bench.machine.call(bench.place(Code{}({0x64, 0xA1}).d(0)(kRet)), {}, Convention::kStdcall),
                  0xFFFFFFFFu);
        // A call that keeps both control words but leaves an exception flag
        // (1 / 0), or its value for a double, leaves the next neither: no
        // exception flag, the stack's top at 0, every register empty.
        const uint32_t status = bench.place(Code{}({0xDF, 0xE0})(kRet));  // fnstsw ax
        const uint32_t tags =
            bench.place(Code{}({0x83, 0xEC, 0x20, 0xD9, 0x34, 0x24, 0x0F, 0xB7, 0x44, 0x24, 0x08, 0x83, 0xC4, 0x20})(kRet));
        constexpr uint32_t kFlagsAndTop = 0x38FF;
        bench.machine.call(bench.place(Code{}({0xD9, 0xE8, 0xD9, 0xEE, 0xDE, 0xF9, 0xDD, 0xD8})(kRet)), {},
                           Convention::kStdcall);
        EXPECT_TRUE(bench.machine.last_call().control_word_kept);
        EXPECT_EQ(bench.machine.call(status, {}, Convention::kStdcall) & kFlagsAndTop, 0u);
        EXPECT_EQ(bench.machine.call_double(bench.place(Code{}({0xD9, 0xE8})(kRet)), {}, Convention::kStdcall), 1.0);
        EXPECT_EQ(bench.machine.call(status, {}, Convention::kStdcall) & kFlagsAndTop, 0u);
        bench.machine.call_double(bench.place(Code{}({0xD9, 0xE8})(kRet)), {}, Convention::kStdcall);
        EXPECT_EQ(bench.machine.call(tags, {}, Convention::kStdcall), 0xFFFFu);
    });
}

TEST_P(EmulatedMachineCalls, HostRoutinesServeModuleCodeAndCallBackIntoIt) {
    in_batch_or_alone([&] {
        Bench bench;
        EmulatedMachine& machine = bench.machine;
        std::vector<uint32_t> seen;
        const uint32_t subtract = machine.host_routine("subtract", 2, Convention::kStdcall, [&](auto args) {
            seen.assign(args.begin(), args.end());
            return args[0] - args[1];
        });
        const uint32_t subtract_cdecl =
            machine.host_routine("subtract_cdecl", 2, Convention::kCdecl, [](auto args) { return args[0] - args[1]; });
        // inner(x) = 3x, called back from a host routine.
        const uint32_t triple = bench.place(Code{}(kArg1ToEax)({0x6B, 0xC0, 0x03, 0xC2, 0x04, 0x00}));
        const uint32_t call_back = machine.host_routine("call_back", 1, Convention::kStdcall, [&](auto args) {
            const uint32_t inner[] = {args[0]};
            return machine.call(triple, inner, Convention::kStdcall) + 1;
        });
        // A routine that calls a host routine twice, keeping ESI across them.
        const auto caller = [&](uint32_t routine, bool cdecl) {
            Code code;
            code({0x56, 0xBE}).d(0x5151)({0x6A, 0x05, 0x6A, 0x0C, 0xB8}).d(routine)({0xFF, 0xD0});  // push esi; ...
            if (cdecl) code({0x83, 0xC4, 0x08});
            code({0x01, 0xF0, 0x2D}).d(0x5151)({0x5E})(kRet);  // add eax, esi; sub eax, 0x5151; pop esi
            return bench.place(code);
        };
        EXPECT_EQ(machine.call(caller(subtract, false), {}, Convention::kStdcall), 7u);
        EXPECT_EQ(seen, (std::vector<uint32_t>{12, 5}));
        EXPECT_EQ(machine.call(caller(subtract_cdecl, true), {}, Convention::kStdcall), 7u);
        // push 10; call call_back; ret: 3 * 10 + 1.
        const uint32_t nested = bench.place(Code{}({0x6A, 0x0A, 0xB8}).d(call_back)({0xFF, 0xD0, 0x40})(kRet));
        EXPECT_EQ(machine.call(nested, {}, Convention::kStdcall), 32u);
        // The host may call a host routine itself.
        const uint32_t args[] = {9, 4};
        EXPECT_EQ(machine.call(subtract, args, Convention::kStdcall), 5u);
    });
}

TEST_P(EmulatedMachineCalls, WhatHostRoutinesThrowEndsTheOutermostCall) {
    in_batch_or_alone([&] {
        Bench bench;
        EmulatedMachine& machine = bench.machine;
        const uint32_t bad_read = bench.place(Code{}({0xA1}).d(0x00000010)(kRet));
        const uint32_t failing = machine.host_routine(
            "failing", 0, Convention::kStdcall, [](auto) -> uint32_t { throw std::runtime_error("out of paper"); });
        const uint32_t unbound =
            machine.host_routine("KERNEL32.dll!Beep", 0, Convention::kStdcall, [](auto) -> uint32_t {
                throw GuestFault(Kind::kUnboundImport, 0, 0, "KERNEL32.dll!Beep is not provided");
            });
        // Calls module code that faults, catches the fault and returns 0 all the same.
        const uint32_t swallowing = machine.host_routine("swallowing", 0, Convention::kStdcall, [&](auto) -> uint32_t {
            try {
                machine.call(bad_read, {}, Convention::kStdcall);
            } catch (const GuestFault&) {}
            return 0;
        });
        const auto calling = [&](uint32_t routine) {
            return bench.place(Code{}({0xB8}).d(routine)({0xFF, 0xD0})(kRet));
        };
        const struct {
            const char* name;
            uint32_t routine;
            Kind kind;
            const char* message;
        } cases[] = {
            {"a C++ exception", failing, Kind::kOther, "host routine failing failed: out of paper"},
            {"an unbound import", unbound, Kind::kUnboundImport, "KERNEL32.dll!Beep is not provided"},
            {"a fault the host routine swallowed", swallowing, Kind::kRead, "read at 0x00000010"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const uint32_t code = calling(c.routine);
            const GuestFault fault = fault_of([&] { machine.call(code, {}, Convention::kStdcall); });
            EXPECT_EQ(fault.kind(), c.kind);
            EXPECT_NE(std::string(fault.what()).find(c.message), std::string::npos) << fault.what();
            if (c.kind == Kind::kRead) {
                EXPECT_EQ(fault.pc(), bad_read);
            }
            if (c.kind == Kind::kUnboundImport) {
                EXPECT_EQ(fault.pc(), code + 7);  // where the call returns to
            }
            EXPECT_EQ(bench.answer(), 42u);
        }
    });
}

TEST_P(EmulatedMachineCalls, FaultsNameTheirAddressAndInstruction) {
    in_batch_or_alone([&] {
        Bench bench;
        const uint32_t guard =
            bench.machine.memory().read(frame::GuestPtr<uint32_t>(bench.machine.thread_block() + 8)) - 4;
        const struct {
            const char* name;
            Code code;
            Kind kind;
            uint32_t address;    // 0: the code's own address plus pc_offset
            uint32_t pc_offset;  // from the routine's start; ~0u: the fault's address
            const char* message;
        } cases[] = {
            {"read of unmapped memory", Code{}({0x90, 0xA1}).d(0x0BADF00C)(kRet), Kind::kRead, 0x0BADF00C, 1,
             "read at 0x0BADF00C (unmapped)"},
            {"read near a null pointer", Code{}({0x31, 0xC0, 0x8B, 0x40, 0x08})(kRet), Kind::kRead, 8, 2,
             "a null pointer?"},
            {"write of unmapped memory", Code{}({0xC7, 0x05}).d(0x5EADBEE0).d(1)(kRet), Kind::kWrite, 0x5EADBEE0, 0,
             "write at 0x5EADBEE0"},
            {"write of read-only memory", Code{}({0x90, 0xC6, 0x05}).d(bench.read_only + 3)({0x01})(kRet), Kind::kWrite,
             bench.read_only + 3, 1, "read-only, test constants"},
            {"code run in data", Code{}({0xB8}).d(bench.data_base)({0xFF, 0xE0}), Kind::kFetch, bench.data_base, ~0u,
             "test data), where there is no code"},
            {"code run in unmapped memory", Code{}({0xB8}).d(0x50000000)({0xFF, 0xE0}), Kind::kFetch, 0x50000000, ~0u,
             "(unmapped), where there is no code"},
            {"division by zero", Code{}({0x31, 0xC9, 0x31, 0xD2, 0xF7, 0xF1})(kRet), Kind::kDivide, 0, 4,
             "integer division by zero"},
            {"division overflow", Code{}({0xB8}).d(0x80000000)({0x99, 0xB9}).d(0xFFFFFFFF)({0xF7, 0xF9})(kRet),
             Kind::kDivide, 0, 11, "division"},
            {"invalid instruction", Code{}({0x90, 0x0F, 0x0B})(kRet), Kind::kInvalidInstruction, 0, 1,
             "invalid instruction at"},
            {"privileged instruction", Code{}({0x90, 0xF4})(kRet), Kind::kOther, 0, 1, "privileged instruction"},
            {"breakpoint", Code{}({0x90, 0xCC})(kRet), Kind::kOther, 0, 1, "breakpoint (int3)"},
            {"software interrupt", Code{}({0x90, 0xCD, 0x80})(kRet), Kind::kOther, 0, 1, "software interrupt int 0x80"},
            {"system call by int 0x2E", Code{}({0x90, 0xCD, 0x2E})(kRet), Kind::kOther, 0, 1,
             "system call instruction (int 0x2E)"},
            {"system call by sysenter", Code{}({0x90, 0x0F, 0x34})(kRet), Kind::kOther, 0, 1,
             "system call instruction (sysenter)"},
            {"system call by syscall", Code{}({0x90, 0x0F, 0x05})(kRet), Kind::kOther, 0, 1,
             "system call instruction (syscall)"},
            // call $+5; pop eax; mov byte [eax+1], 0x90: the mov overwrites its own first byte
            {"code writing its own bytes", Code{}({0xE8}).d(0)({0x58, 0xC6, 0x40, 0x01, 0x90})(kRet), Kind::kWrite, 0,
             6, "read-only, test code) by the instruction at"},
            {"stack overflow into the guard page", Code{}({0x64, 0x8B, 0x25}).d(8)({0x50})(kRet), Kind::kWrite, guard,
             7, "the stack's guard page: a stack overflow"},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const uint32_t code = bench.place(c.code);
            const uint32_t address = c.address != 0 ? c.address : code + c.pc_offset;
            const uint32_t pc = c.pc_offset == ~0u ? address : code + c.pc_offset;
            const GuestFault fault = fault_of([&] { bench.machine.call(code, {}, Convention::kStdcall); });
            EXPECT_EQ(fault.kind(), c.kind) << fault.what();
            EXPECT_EQ(fault.address(), address) << fault.what();
            EXPECT_EQ(fault.pc(), pc) << fault.what();
            const std::string message = fault.what();
            EXPECT_NE(message.find(c.message), std::string::npos) << message;
            EXPECT_NE(message.find(hex(address)), std::string::npos) << message;
            EXPECT_NE(message.find(hex(pc)), std::string::npos) << message;
            // The machine goes on, each fault kind repeated included.
            EXPECT_EQ(bench.answer(), 42u);
            EXPECT_THROW(bench.machine.call(code, {}, Convention::kStdcall), GuestFault);
            EXPECT_EQ(bench.answer(), 42u);
        }
    });
}

// Unicorn 2.0.1 aborts on a few encodings it cannot translate (ljmp through
// a register here); the machine reports it and runs no more code, and the
// process goes on.
TEST_P(EmulatedMachineCalls, CodeTheEmulatorCannotTranslateEndsOnlyItsMachine) {
    in_batch_or_alone([&] {
        for (const bool nested : {false, true}) {
            SCOPED_TRACE(nested ? "called back from a host routine" : "called by the host");
            Bench bench;
            const uint32_t bad = bench.place(Code{}({0x90, 0xFF, 0xE8})(kRet));
            const uint32_t call_back = bench.machine.host_routine("call_back", 0, Convention::kStdcall, [&](auto) {
                return bench.machine.call(bad, {}, Convention::kStdcall);
            });
            const uint32_t code = nested ? bench.place(Code{}({0xB8}).d(call_back)({0xFF, 0xD0})(kRet)) : bad;
            const GuestFault fault = fault_of([&] { bench.machine.call(code, {}, Convention::kStdcall); });
            EXPECT_EQ(fault.kind(), Kind::kInvalidInstruction) << fault.what();
            EXPECT_EQ(fault.pc(), bad) << fault.what();
            EXPECT_NE(std::string(fault.what()).find("cannot translate"), std::string::npos) << fault.what();
            const GuestFault after = fault_of([&] { bench.answer(); });
            EXPECT_NE(std::string(after.what()).find("runs no more code"), std::string::npos) << after.what();
        }
        Bench fresh;
        EXPECT_EQ(fresh.answer(), 42u);
    });
}

TEST_P(EmulatedMachineCalls, BrokenCallsAreFaults) {
    in_batch_or_alone([&] {
        Bench bench;
        const struct {
            const char* name;
            Code code;
            Convention convention;
            bool floating;
            const char* message;
        } cases[] = {
            {"stdcall routine leaving its arguments", Code{}(kRet), Convention::kStdcall, false,
             "removed 0 bytes of arguments, not 8"},
            {"cdecl routine removing its arguments", Code{}({0xC2, 0x08, 0x00}), Convention::kCdecl, false,
             "removed 8 bytes of arguments, not 0"},
            {"EBX changed", Code{}({0xBB}).d(1)({0xC2, 0x08, 0x00}), Convention::kStdcall, false, "EBX changed"},
            {"ESI changed", Code{}({0xBE}).d(1)({0xC2, 0x08, 0x00}), Convention::kStdcall, false, "ESI changed"},
            {"EDI changed", Code{}({0xBF}).d(1)({0xC2, 0x08, 0x00}), Convention::kStdcall, false, "EDI changed"},
            {"EBP changed", Code{}({0xBD}).d(1)({0xC2, 0x08, 0x00}), Convention::kStdcall, false, "EBP changed"},
            {"a value left on the x87 stack", Code{}({0xD9, 0xE8, 0xC2, 0x08, 0x00}), Convention::kStdcall, false,
             "left the x87 stack 1 deep where it was 0 deep"},
            {"no value for a double", Code{}({0xC2, 0x08, 0x00}), Convention::kStdcall, true, "returned no value"},
            {"two values for a double", Code{}({0xD9, 0xE8, 0xD9, 0xE8, 0xC2, 0x08, 0x00}), Convention::kStdcall, true,
             "left the x87 stack 1 deep"},
        };
        const uint32_t args[] = {1, 2};
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            const uint32_t code = bench.place(c.code);
            const GuestFault fault = fault_of([&] {
                if (c.floating) {
                    bench.machine.call_double(code, args, c.convention);
                } else {
                    bench.machine.call(code, args, c.convention);
                }
            });
            EXPECT_EQ(fault.kind(), Kind::kBrokenCall) << fault.what();
            EXPECT_NE(std::string(fault.what()).find(c.message), std::string::npos) << fault.what();
            EXPECT_NE(std::string(fault.what()).find(hex(code)), std::string::npos) << fault.what();
            EXPECT_EQ(bench.answer(), 42u);
        }
    });
}

TEST_P(EmulatedMachineCalls, TheBudgetStopsALoopThatNeverEnds) {
    in_batch_or_alone([&] {
        EmulatedMachine::Options options;
        options.instruction_budget = 2'000'000;
        Bench bench(options);
        const uint32_t loop = bench.place(Code{}({0xEB, 0xFE}));
        // One that calls a host routine calling back into module code first.
        const uint32_t nothing = bench.place(Code{}(kRet));
        const uint32_t call_back = bench.machine.host_routine("call_back", 0, Convention::kStdcall, [&](auto) {
            return bench.machine.call(nothing, {}, Convention::kStdcall);
        });
        const uint32_t loop_after_call = bench.place(Code{}({0xB8}).d(call_back)({0xFF, 0xD0, 0xEB, 0xFE}));
        for (const uint32_t code : {loop, loop_after_call}) {
            const auto started = std::chrono::steady_clock::now();
            const GuestFault fault = fault_of([&] { bench.machine.call(code, {}, Convention::kStdcall); });
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            EXPECT_EQ(fault.kind(), Kind::kBudget) << fault.what();
            EXPECT_GE(fault.address(), code);
            EXPECT_LE(fault.address(), code + 16);
            EXPECT_NE(std::string(fault.what()).find("budget of 2000000 instructions"), std::string::npos);
            // (less what the host's work in the call back is charged: a nested start's worth)
            EXPECT_GE(bench.machine.last_call().instructions, options.instruction_budget - 10'000);
            EXPECT_LT(seconds, 5.0);
            EXPECT_EQ(bench.answer(), 42u);
        }
        // A loop of calls, each keeping the host busy far longer than its few
        // instructions take, is stopped as soon, by the host's work charged.
        const uint32_t slow = bench.machine.host_routine("slow_routine", 0, Convention::kStdcall, [](auto) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return 0u;
        });
        const uint32_t storm = bench.place(Code{}({0xB8}).d(slow)({0xFF, 0xD0, 0xEB, 0xF7}));
        const GuestFault fault = fault_of([&] { bench.machine.call(storm, {}, Convention::kStdcall); });
        EXPECT_EQ(fault.kind(), Kind::kBudget) << fault.what();
        EXPECT_NE(std::string(fault.what()).find("the last slow_routine"), std::string::npos) << fault.what();
        EXPECT_LT(bench.machine.last_call().instructions, options.instruction_budget / 100);
    });
}

// The default budget would let each loop run for seconds: only the stop
// from another thread ends it sooner, and it is no fault of the module's,
// even where a host routine sees its nested call fail.
TEST_P(EmulatedMachineCalls, AStopFromAnotherThreadEndsARunningCallAsStopped) {
    in_batch_or_alone([&] {
        Bench bench;
        const uint32_t loop = bench.place(Code{}({0xEB, 0xFE}));
        const uint32_t nothing = bench.place(Code{}(kRet));
        const auto calling = [&](uint32_t code) {
            return bench.place(
                Code{}({0xB8}).d(bench.machine.host_routine("call", 0, Convention::kStdcall, [&, code](auto) {
                    return bench.machine.call(code, {}, Convention::kStdcall);
                }))({0xFF, 0xD0, 0xEB, 0xFE}));
        };
        const struct {
            const char* name;
            uint32_t code;
        } cases[] = {{"a loop", loop},
                     {"a loop after a nested call", calling(nothing)},
                     {"a loop in a nested call", calling(loop)}};
        for (const auto& c : cases) {
            SCOPED_TRACE(c.name);
            std::thread stopper([] {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                EmulatedMachine::stop_all_calls();
            });
            const auto started = std::chrono::steady_clock::now();
            EXPECT_THROW(bench.machine.call(c.code, {}, Convention::kStdcall), emulator::CallStopped);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            stopper.join();
            EXPECT_THROW(bench.machine.call(nothing, {}, Convention::kStdcall), emulator::CallStopped);
            EmulatedMachine::allow_calls();
            EXPECT_LT(seconds, 2.0);
            EXPECT_EQ(bench.answer(), 42u);
        }
    });
}

TEST_P(EmulatedMachineCalls, InstructionsAreCountedWithoutAHookOnEach) {
    in_batch_or_alone([&] {
        Bench bench;
        // mov ecx, 1000; l: dec ecx; jnz l; ret: 1 + 2 * 1000 + 1 instructions.
        const uint32_t loop = bench.place(Code{}({0xB9}).d(1000)({0x49, 0x75, 0xFD})(kRet));
        const uint64_t before = bench.machine.instructions();
        bench.machine.call(loop, {}, Convention::kStdcall);
        EXPECT_EQ(bench.machine.last_call().instructions, 2002u);
        EXPECT_EQ(bench.machine.instructions() - before, 2002u);

        // A short call costs microseconds.
        const uint32_t add_one = bench.place(Code{}(kArg1ToEax)({0x40, 0xC2, 0x04, 0x00}));
        constexpr int kCalls = 20000;
        const uint32_t args[] = {1};
        const auto started = std::chrono::steady_clock::now();
        for (int i = 0; i < kCalls; ++i) bench.machine.call(add_one, args, Convention::kStdcall);
        const double micros =
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - started).count() / kCalls;
        std::printf("a short call: %.2f us\n", micros);
        EXPECT_LT(micros, 50.0);
    });
}

// A batch's calls go on in one start of the engine until one ends its run:
// a fault, a broken call, a selector left moved, a call on another machine.
// The next call starts the engine again, from the thread's own state.
TEST(EmulatedMachine, ABatchStartsTheEngineAgainOnlyAfterACallThatEndsItsRun) {
    EmulatedMachine::Options options;
    options.instruction_budget = 100'000;
    Bench bench(options), other;
    const uint32_t answer = bench.place(Code{}({0xB8}).d(42)(kRet));
    const uint32_t other_answer = other.place(Code{}({0xB8}).d(7)(kRet));
    const uint32_t ds = bench.place(Code{}({0x31, 0xC0, 0x8C, 0xD8})(kRet));  // xor eax, eax; mov eax, ds
    const uint32_t teb_ds = bench.place(Code{}({0x6A, 0x3B, 0x1F})(kRet));    // push 0x3B; pop ds
    const uint32_t cw =
        bench.place(Code{}({0x83, 0xEC, 0x04, 0xD9, 0x3C, 0x24, 0x0F, 0xB7, 0x04, 0x24, 0x83, 0xC4, 0x04})(kRet));
    const uint32_t sets_cw =
        bench.place(Code{}({0x6A, 0x7F, 0x66, 0x81, 0x0C, 0x24, 0x00, 0x03, 0xD9, 0x2C, 0x24, 0x58})(kRet));
    const struct {
        const char* name;
        Bench* on;
        uint32_t code;
        std::optional<Kind> fault;
        uint32_t result;                // where it returns
        uint64_t starts, other_starts;  // of each machine's engine since the batch began
    } steps[] = {
        {"a first call starts the engine", &bench, answer, {}, 42, 1, 0},
        {"the next goes on in the same start", &bench, answer, {}, 42, 1, 0},
        {"64-bit precision, left set", &bench, sets_cw, {}, 0x37F, 1, 0},
        {"the next finds 53 bits", &bench, cw, {}, 0x27F, 1, 0},
        {"a call on another machine", &other, other_answer, {}, 7, 1, 1},
        {"back on the first: its engine again", &bench, answer, {}, 42, 2, 1},
        {"a read fault ends the run", &bench, bench.place(Code{}({0xA1}).d(0x10)(kRet)), Kind::kRead, 0, 2, 1},
        {"after it", &bench, answer, {}, 42, 3, 1},
        {"EBX changed", &bench, bench.place(Code{}({0xBB}).d(1)(kRet)), Kind::kBrokenCall, 0, 3, 1},
        {"after EBX", &bench, answer, {}, 42, 4, 1},
        {"a value left on the x87 stack", &bench, bench.place(Code{}({0xD9, 0xE8})(kRet)), Kind::kBrokenCall, 0, 4, 1},
        {"after the x87 stack", &bench, answer, {}, 42, 5, 1},
        {"DS left on the thread's block: no fault", &bench, teb_ds, {}, 0, 5, 1},
        {"DS as the thread starts", &bench, ds, {}, 0x23, 6, 1},
        {"a loop past its budget", &bench, bench.place(Code{}({0xEB, 0xFE})), Kind::kBudget, 0, 6, 1},
        {"after the loop", &bench, answer, {}, 42, 7, 1},
    };
    const uint64_t starts = bench.machine.engine_starts(), other_starts = other.machine.engine_starts();
    EmulatedMachine::batched([&] {
        for (const auto& step : steps) {
            SCOPED_TRACE(step.name);
            const auto call = [&] { return step.on->machine.call(step.code, {}, Convention::kStdcall); };
            if (step.fault) {
                EXPECT_EQ(fault_of([&] { call(); }).kind(), *step.fault);
            } else {
                EXPECT_EQ(call(), step.result);
            }
            EXPECT_EQ(bench.machine.engine_starts() - starts, step.starts);
            EXPECT_EQ(other.machine.engine_starts() - other_starts, step.other_starts);
        }
        // A batch inside a batch is the same batch; a machine may go while its engine runs.
        EmulatedMachine::batched([&] { EXPECT_EQ(bench.answer(), 42u); });
        {
            Bench brief;
            EXPECT_EQ(brief.answer(), 42u);
        }
        EXPECT_EQ(bench.answer(), 42u);
    });
    EXPECT_THROW(EmulatedMachine::batched([&] {
                     bench.answer();
                     throw std::runtime_error("the host's own");
                 }),
                 std::runtime_error);
    EXPECT_EQ(bench.answer(), 42u);
}

TEST(EmulatedMachine, HostViewsFollowTheModulesProtections) {
    Bench bench;
    EmulatedMachine& machine = bench.machine;
    emulator::GuestMemory& memory = machine.memory();
    // store(address, value): mov eax, [esp+4]; mov ecx, [esp+8]; mov [eax], ecx; ret 8
    const uint32_t store = bench.place(Code{}(kArg1ToEax)({0x8B, 0x4C, 0x24, 0x08, 0x89, 0x08, 0xC2, 0x08, 0x00}));
    const uint32_t load = bench.place(Code{}(kArg1ToEax)({0x8B, 0x00, 0xC2, 0x04, 0x00}));
    const auto module_store = [&](uint32_t address, uint32_t value) {
        const uint32_t args[] = {address, value};
        machine.call(store, args, Convention::kStdcall);
    };

    // Host memory: aligned, zeroed, shared both ways.
    const uint32_t first = machine.allocate(3);
    const uint32_t second = machine.allocate(16);
    EXPECT_EQ(first % 8, 0u);
    EXPECT_EQ(second % 8, 0u);
    EXPECT_GE(second, first + 3);
    EXPECT_EQ(memory.read(frame::GuestPtr<uint64_t>(second)), 0u);
    module_store(second, 0x12345678);
    EXPECT_EQ(memory.read(frame::GuestPtr<uint32_t>(second)), 0x12345678u);
    memory.write(frame::GuestPtr<uint32_t>(second + 4)) = 77;
    const uint32_t at[] = {second + 4};
    EXPECT_EQ(machine.call(load, at, Convention::kStdcall), 77u);

    // Read-only for the module is read-only for the host.
    EXPECT_TRUE(memory.readable(bench.read_only, 4));
    EXPECT_FALSE(memory.writable(bench.read_only, 4));
    EXPECT_THROW(memory.write(frame::GuestPtr<uint32_t>(bench.read_only)), GuestFault);

    // protect() changes both; a page of no access is outside the views.
    const uint32_t page = machine.reserve(2 * EmulatedMachine::kPageSize, 0x40000000);
    EXPECT_EQ(page, 0x40000000u);
    EXPECT_NE(machine.reserve(EmulatedMachine::kPageSize, 0x40000000), 0x40000000u);
    machine.map(page, 2 * EmulatedMachine::kPageSize, EmulatedMachine::kRead | EmulatedMachine::kWrite, "pages");
    module_store(page + 8, 1);
    machine.protect(page, EmulatedMachine::kPageSize, EmulatedMachine::kRead, "frozen page");
    EXPECT_EQ(machine.protection(page), EmulatedMachine::kRead);
    EXPECT_EQ(machine.protection(page + EmulatedMachine::kPageSize), EmulatedMachine::kRead | EmulatedMachine::kWrite);
    EXPECT_FALSE(memory.writable(page, 4));
    EXPECT_EQ(memory.find(page, 4)->name, "frozen page");
    EXPECT_TRUE(memory.writable(page + EmulatedMachine::kPageSize, 4));
    GuestFault fault = fault_of([&] { module_store(page + 8, 2); });
    EXPECT_EQ(fault.kind(), Kind::kWrite);
    EXPECT_NE(std::string(fault.what()).find("read-only, frozen page"), std::string::npos) << fault.what();
    EXPECT_EQ(memory.read(frame::GuestPtr<uint32_t>(page + 8)), 1u);
    machine.protect(page, EmulatedMachine::kPageSize, 0);
    EXPECT_FALSE(memory.readable(page, 4));
    // The host's own access (the loader's) is not the module's: it goes past protections.
    const uint8_t word[] = {4, 0, 0, 0};
    uint8_t back[4] = {};
    machine.load(page + 8, word);
    machine.peek(page + 8, back);
    EXPECT_EQ(back[0], 4);
    const uint32_t inside[] = {page + 8};
    fault = fault_of([&] { machine.call(load, inside, Convention::kStdcall); });
    EXPECT_EQ(fault.kind(), Kind::kRead);
    machine.protect(page, EmulatedMachine::kPageSize, EmulatedMachine::kRead | EmulatedMachine::kWrite);
    module_store(page + 8, 3);
    EXPECT_EQ(memory.read(frame::GuestPtr<uint32_t>(page + 8)), 3u);

    // Unmapped, it is gone for both.
    machine.unmap(page, 2 * EmulatedMachine::kPageSize);
    EXPECT_FALSE(memory.readable(page, 4));
    EXPECT_FALSE(machine.protection(page).has_value());
    fault = fault_of([&] { machine.call(load, inside, Convention::kStdcall); });
    EXPECT_EQ(fault.kind(), Kind::kRead);
    EXPECT_THROW(machine.peek(page + 8, back), std::invalid_argument);
    EXPECT_EQ(machine.reserve(EmulatedMachine::kPageSize, 0x40000000), 0x40000000u);

    // The system's own regions are named.
    EXPECT_EQ(memory.find(machine.thread_block(), 4)->name, "thread information block");
    EXPECT_TRUE(memory.writable(machine.thread_block(), 4));
    // Above them nothing may be reserved: the count of module code stops there.
    EXPECT_FALSE(machine.try_reserve_at(0x7FFE0000, EmulatedMachine::kPageSize));
    EXPECT_FALSE(machine.try_reserve_at(0x7FFF0000, EmulatedMachine::kPageSize));
}

TEST(EmulatedMachine, HostMemoryRunsOut) {
    EmulatedMachine::Options options;
    options.host_memory_size = 2 * EmulatedMachine::kPageSize;
    EmulatedMachine machine(options);
    machine.allocate(EmulatedMachine::kPageSize);
    EXPECT_THROW(machine.allocate(EmulatedMachine::kPageSize + 1), std::bad_alloc);
    EXPECT_NO_THROW(machine.allocate(EmulatedMachine::kPageSize - 8));
}

TEST(EmulatedMachine, TlsSlotsAreTheArrayAtFs2C) {
    Bench bench;
    const std::optional<uint32_t> first = bench.machine.allocate_tls_index();
    const std::optional<uint32_t> second = bench.machine.allocate_tls_index();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    bench.machine.set_tls_slot(*second, 0xCAFE);
    EXPECT_EQ(bench.machine.tls_slot(*second), 0xCAFEu);
    // mov eax, fs:[0x2C]; mov ecx, [esp+4]; mov eax, [eax+ecx*4]; ret 4
    const uint32_t slot =
        bench.place(Code{}({0x64, 0xA1}).d(0x2C)({0x8B, 0x4C, 0x24, 0x04, 0x8B, 0x04, 0x88})({0xC2, 0x04, 0x00}));
    const uint32_t index[] = {*second};
    EXPECT_EQ(bench.machine.call(slot, index, Convention::kStdcall), 0xCAFEu);
    bench.machine.release_tls_index(*first);
    EXPECT_EQ(bench.machine.allocate_tls_index(), first);
    EXPECT_THROW(bench.machine.set_tls_slot(EmulatedMachine::kTlsSlots, 1), std::out_of_range);
}

}  // namespace

TEST(EmulatedMachine, CodeLoadedAgainRunsAsLoaded) {
    // A header page the module may only read, then its code, as a module's
    // image lies: the engine keeps them as separate pieces of its map.
    EmulatedMachine machine;
    const uint32_t page = EmulatedMachine::kPageSize;
    const uint32_t base = machine.reserve(2 * page, 0x30000000);
    machine.map(base, page, EmulatedMachine::kRead, "header");
    machine.map(base + page, page, EmulatedMachine::kRead | EmulatedMachine::kExecute, "code");
    for (uint8_t value : {1, 2, 3}) {
        std::vector<uint8_t> image(2 * page, 0xCC);
        const uint8_t code[] = {0xB8, value, 0, 0, 0, 0xC3};  // mov eax, value; ret
        std::copy(std::begin(code), std::end(code), image.begin() + page);
        machine.load(base, image);
        EXPECT_EQ(machine.call(base + page, {}, Convention::kStdcall), value);
    }
}
