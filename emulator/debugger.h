// A debugger's hold on module code running in an EmulatedMachine: the
// machine stops where the debugger asked (a breakpoint, a watched access, a
// single step, a fault before its call is abandoned, an interrupt) and hands
// it the stop; module code waits, its registers and memory open to the
// debugger (EmulatedMachine::registers(), peek(), debugger_write()), until
// the debugger says how to go on. The GDB stub (emulator/gdb_stub.h) is one.
#pragma once

#include <cstdint>

namespace emulator {

class EmulatedMachine;
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
    virtual Resume stopped(EmulatedMachine& machine, const DebugStop& stop) noexcept = 0;
    // Asked every so many blocks while module code runs: stop it now?
    virtual bool interrupted() noexcept = 0;
    // The machine is going away; nothing of it may be used after this.
    virtual void forget(EmulatedMachine& machine) noexcept = 0;
};

}  // namespace emulator
