// Where a module's code runs: its memory and the calls into it. Two machines
// implement it: the emulator (emulator/machine/emulated_machine.h), which runs a PE32
// module on any processor, and the native one of the i386 twin
// (runtime/module_code_native.cpp), which runs the twin's own code in the process.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "emulator/machine/guest_memory.h"

namespace emulator {

enum class Convention : uint8_t {
    kStdcall,  // the callee removes its arguments (every gauge routine and service)
    kCdecl,    // the caller does (a registered key-event routine)
};

// What the latest call into module code did, beyond its result.
struct CallReport {
    uint64_t instructions = 0;      // 0 where the machine cannot count
    bool control_word_kept = true;  // x87 control word as it was before the call
    bool mxcsr_kept = true;         // SSE control and status as before
};

class Machine {
public:
    virtual ~Machine() = default;

    GuestMemory& memory() { return memory_; }
    const GuestMemory& memory() const { return memory_; }

    // Calls the routine at `code` with `args` pushed right to left and returns
    // EAX (call) or ST(0) as a double (call_double). Throws GuestFault for a
    // fault in module code, a call that does not return within its budget, or
    // one that returns with its stack or callee-saved registers moved; the
    // machine is usable again afterwards. Calls nest: a host routine may call
    // back into module code.
    virtual uint32_t call(uint32_t code, std::span<const uint32_t> args, Convention convention) = 0;
    virtual double call_double(uint32_t code, std::span<const uint32_t> args, Convention convention) = 0;
    virtual const CallReport& last_call() const = 0;

    // Guest memory for the host's records (pictures, the service table):
    // zeroed, 8-byte aligned, writable by the module, kept as long as the
    // machine. Throws std::bad_alloc when the machine's host memory is spent.
    virtual uint32_t allocate(uint32_t size) = 0;

    // A routine module code may call with `arg_words` 32-bit arguments and
    // `convention`: each call runs `serve` with the arguments and returns its
    // result in EAX. `name` appears in errors. No exception reaches module
    // code: whatever `serve` throws ends the outermost call, a GuestFault as
    // itself, anything else as kOther with its message. A fault in module code
    // called from inside `serve` ends the outermost call too, even when
    // `serve` caught it.
    using HostRoutine = std::function<uint32_t(std::span<const uint32_t> args)>;
    virtual uint32_t host_routine(const std::string& name, uint32_t arg_words, Convention convention,
                                  HostRoutine serve) = 0;

protected:
    GuestMemory memory_;
};

}  // namespace emulator
