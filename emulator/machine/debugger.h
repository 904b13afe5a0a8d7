// A debugger's hold on module code running in an EmulatedMachine: the
// machine stops where the debugger asked (a breakpoint, a watched access, a
// single step, a fault before its call is abandoned, an interrupt) and hands
// it the stop; module code waits, its registers and memory open to the
// debugger (DebugTarget), until the debugger says how to go on. The GDB stub
// (emulator/gdb/gdb_stub.h) is one.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace emulator {

class DebugTarget;
class GuestFault;

enum class WatchKind : uint8_t { kWrite, kRead, kAccess };

// Signals as GDB numbers them (its own numbering, the same on every host).
enum class StopSignal : uint8_t { kInt = 2, kIll = 4, kTrap = 5, kAbrt = 6, kFpe = 8, kSegv = 11, kXcpu = 24 };

struct DebugStop {
    enum class Reason : uint8_t {
        kInterrupt,   // the debugger asked (or module code starts with one waiting)
        kBreakpoint,  // before the instruction at pc
        kStep,        // after one instruction
        kWatch,       // after the instruction at the access to a watched range
        kFault,       // at the faulting instruction: its call ends once the debugger goes on
    };
    Reason reason = Reason::kInterrupt;
    StopSignal signal = StopSignal::kTrap;
    uint32_t pc = 0;
    uint32_t watch_address = 0;  // kWatch: the address accessed
    WatchKind watch = WatchKind::kWrite;
    const GuestFault* fault = nullptr;  // kFault
};

class Debugger {
public:
    enum class Resume : uint8_t { kContinue, kStep };
    virtual ~Debugger() = default;
    // Module code stopped on `machine`: returns when the debugger goes on.
    // Called from inside the machine's hooks: nothing may be thrown.
    virtual Resume stopped(DebugTarget& machine, const DebugStop& stop) noexcept = 0;
    // Asked every so many blocks while module code runs: stop it now?
    virtual bool interrupted() noexcept = 0;
    // The machine is going away; nothing of it may be used after this.
    virtual void forget(DebugTarget& machine) noexcept = 0;
};

// A machine running module code as its debugger sees it: EmulatedMachine
// is the one (the stub's tests drive a fake of their own).
class DebugTarget {
public:
    // The machine's page, which is what a debugger may read or not: it is
    // answered as far as the first page it may not read.
    static constexpr uint32_t kPageSize = 0x1000;
    // The most breakpoints, and the most watches, a machine holds: each is a
    // hook of the engine's, which walks a list of them to add, remove or
    // translate past one.
    static constexpr size_t kMaxDebugPoints = 4096;

    // The processor's registers as module code sees them, in the order
    // debuggers number them (GDB's i386 core). They mean something while a
    // call is stopped inside the machine (a host routine it serves, a hook);
    // between calls they hold where the last one ended. set_registers()
    // writes only those that change (a new EIP is a jump), and throws
    // std::invalid_argument for a selector the processor refuses.
    struct Registers {
        uint32_t eax = 0, ecx = 0, edx = 0, ebx = 0, esp = 0, ebp = 0, esi = 0, edi = 0;
        uint32_t eip = 0, eflags = 0;
        uint32_t cs = 0, ss = 0, ds = 0, es = 0, fs = 0, gs = 0;
    };
    virtual Registers registers() const = 0;
    virtual void set_registers(const Registers& registers) = 0;
    // The x87 unit, read alone (gauge code keeps its doubles there): st[0]
    // the stack's top, each the ten bytes of the extended format, then the
    // control, status and (full) tag words.
    struct FloatRegisters {
        std::array<std::array<uint8_t, 10>, 8> st{};
        uint32_t control = 0, status = 0, tag = 0;
    };
    virtual FloatRegisters float_registers() const = 0;
    // The thread information block's guest address (fs:[0]).
    virtual uint32_t thread_block() const = 0;

    // A debugger for module code on this machine (null: none): breakpoints
    // and watches cost only where they are, nothing without a debugger. The
    // debugger must outlive the machine or be detached; the machine tells
    // it when it goes (Debugger::forget).
    virtual void attach_debugger(Debugger* debugger) = 0;
    // Stops module code for the debugger at the next block it runs.
    virtual void request_debug_stop() = 0;
    // Whether the program was told to end: a debugger waiting at a stop
    // gives up, and module code goes on to be stopped.
    virtual bool ending() const = 0;
    // A breakpoint before the instruction at `address`; false when there
    // was one already (set) or none (cleared). One where no code is mapped
    // yet costs nothing until code is (a debugger's breakpoints are set in
    // a machine before its module is loaded). Throws std::length_error for
    // one past kMaxDebugPoints.
    virtual bool set_breakpoint(uint32_t address, bool set) = 0;
    // A watch on [address, address + length) for the kind of access; false
    // when that watch already was (set) or was not (cleared). Throws
    // std::length_error for one past kMaxDebugPoints.
    virtual bool set_watchpoint(uint32_t address, uint32_t length, WatchKind kind, bool set) = 0;
    // Every breakpoint and watch goes, at once.
    virtual void clear_debug_points() = 0;

    // What a debugger may reach: what module code may read, for reading (the
    // host's routines and thread and process blocks too: a debugger walks a
    // Windows thread from its block); the module's own memory, for writing
    // and watching: mapped and open to module code, none of the host's pages
    // (its routines, descriptor table, thread and process blocks, page
    // tables), which the host relies on and module code cannot repair; of
    // that, what may run, for breakpoints.
    enum class DebuggerReach : uint8_t { kRead, kModule, kCode };
    // Whether all of [address, address + length) is within `reach` (an
    // empty range is not).
    virtual bool debugger_reaches(uint32_t address, uint64_t length, DebuggerReach reach) const = 0;
    // A debugger's read, within kRead, and write, within kModule: code too,
    // whatever its protection (the translated code goes). Both throw
    // std::invalid_argument for a range beyond.
    virtual void debugger_read(uint32_t address, std::span<uint8_t> bytes) const = 0;
    virtual void debugger_write(uint32_t address, std::span<const uint8_t> bytes) = 0;
    // What lies at `address`, for messages: "(.text of Korvane.gau)".
    virtual std::string describe(uint32_t address) const = 0;

protected:
    ~DebugTarget() = default;
};

}  // namespace emulator
