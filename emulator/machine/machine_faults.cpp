// EmulatedMachine's faults, and the hooks through which Unicorn reports them.
#include "emulator/machine/emulated_machine_impl.h"

namespace emulator {

GuestFault EmulatedMachine::Impl::memory_fault(Kind kind, uint32_t address, uint32_t pc) const {
    const std::string at = hex(address) + " (" + where(address) + ")";
    const std::string by = " by the instruction at " + hex(pc) + " (" + where(pc) + ")";
    switch (kind) {
        case Kind::kRead: return GuestFault(kind, address, pc, "read at " + at + by);
        case Kind::kWrite: return GuestFault(kind, address, pc, "write at " + at + by);
        case Kind::kFetch: return GuestFault(kind, address, pc, "code run at " + at + ", where there is no code");
        default: break;
    }
    return GuestFault(Kind::kOther, address, pc, "memory fault at " + at + by);
}

Kind EmulatedMachine::Impl::kind_of(uc_mem_type type) {
    switch (type) {
        case UC_MEM_READ_UNMAPPED:
        case UC_MEM_READ_PROT:
        case UC_MEM_READ:
        case UC_MEM_READ_AFTER: return Kind::kRead;
        case UC_MEM_WRITE_UNMAPPED:
        case UC_MEM_WRITE_PROT:
        case UC_MEM_WRITE: return Kind::kWrite;
        case UC_MEM_FETCH_UNMAPPED:
        case UC_MEM_FETCH_PROT:
        case UC_MEM_FETCH: return Kind::kFetch;
    }
    return Kind::kOther;
}

void EmulatedMachine::Impl::page_fault(uint32_t address, uint32_t pc) {
    uint32_t& entry = page_entry(address);
    if ((entry & (kPtePresent | kPteUser)) == (kPtePresent | kPteUser)) {
        raise(memory_fault(Kind::kWrite, address, pc));
        return;
    }
    if (address - pc < 16) {  // the instruction itself lies (partly) there
        raise(memory_fault(Kind::kFetch, address, pc));
        return;
    }
    probe = Probe{true, address, pc, entry};
    entry = kScratchPage | kPtePresent | kPteUser;
    flush_translations();
    set_reg(UC_X86_REG_EFLAGS, reg(UC_X86_REG_EFLAGS) | kTrapFlag);
    // The instruction runs again: a trap after it (a read), or a fault in it (a write).
}

void EmulatedMachine::Impl::end_probe(uint32_t number, uint32_t eip) {
    page_entry(probe.address) = probe.entry;
    flush_translations();
    set_reg(UC_X86_REG_EFLAGS, reg(UC_X86_REG_EFLAGS) & ~kTrapFlag);
    probe.active = false;
    const bool wrote = (number == kPageFault || number == kDoubleFault) && eip == probe.pc;
    raise(memory_fault(wrote ? Kind::kWrite : Kind::kRead, probe.address, probe.pc));
}

int EmulatedMachine::Impl::byte_at(uint32_t address) const {
    const Region* region = self.memory_.find(address, 1);
    return region != nullptr ? region->host[address - region->base] : -1;
}

GuestFault EmulatedMachine::Impl::interrupt_fault(uint32_t number, uint32_t eip) const {
    const std::string in = " (" + where(eip) + ")";
    switch (number) {
        case 0:
            return GuestFault(
                Kind::kDivide, eip, eip,
                "integer division by zero (or a quotient too large) by the instruction at " + hex(eip) + in);
        case 6:
            return GuestFault(Kind::kInvalidInstruction, eip, eip,
                              "invalid instruction at " + hex(eip) + in + ": " + code_bytes(eip));
        case 13:
            return GuestFault(
                Kind::kOther, eip, eip,
                "protection fault at " + hex(eip) + in +
                    ": a privileged instruction (hlt, cli, in, out...) or a bad segment: " + code_bytes(eip));
        case 16:
        case 19:
            return GuestFault(
                Kind::kOther, eip, eip,
                "floating-point exception (one the module unmasked) by the instruction at " + hex(eip) + in);
        default: break;
    }
    if (number == 3 && byte_at(eip - 1) == 0xCC) {
        return GuestFault(Kind::kOther, eip - 1, eip - 1, "breakpoint (int3) at " + hex(eip - 1) + in);
    }
    if (number == kSystemCallVector && byte_at(eip - 2) == 0xCD && byte_at(eip - 1) == kSystemCallVector) {
        return system_call_fault(eip - 2, "int 0x2E");
    }
    if (byte_at(eip - 2) == 0xCD && byte_at(eip - 1) == static_cast<int>(number)) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%02X", number);
        return GuestFault(Kind::kOther, eip - 2, eip - 2,
                          std::string("software interrupt int ") + text + " at " + hex(eip - 2) + in +
                              ", which Windows programs do not use");
    }
    return GuestFault(Kind::kOther, eip, eip, "processor exception " + std::to_string(number) + " at " + hex(eip) + in);
}

GuestFault EmulatedMachine::Impl::system_call_fault(uint32_t eip, const char* instruction) const {
    return GuestFault(Kind::kOther, eip, eip,
                      std::string("system call instruction (") + instruction + ") at " + hex(eip) + " (" + where(eip) +
                          "): a module calls Windows through its imports only");
}

GuestFault EmulatedMachine::Impl::error_fault(uc_err error, uint32_t eip) const {
    switch (error) {
        case UC_ERR_INSN_INVALID:
            return GuestFault(Kind::kInvalidInstruction, eip, eip,
                              "invalid instruction at " + hex(eip) + " (" + where(eip) + "): " + code_bytes(eip));
        case UC_ERR_READ_UNMAPPED:
        case UC_ERR_READ_PROT:
        case UC_ERR_READ_UNALIGNED:
            return GuestFault(Kind::kRead, eip, eip, "read fault by the instruction at " + hex(eip));
        case UC_ERR_WRITE_UNMAPPED:
        case UC_ERR_WRITE_PROT:
        case UC_ERR_WRITE_UNALIGNED:
            return GuestFault(Kind::kWrite, eip, eip, "write fault by the instruction at " + hex(eip));
        case UC_ERR_FETCH_UNMAPPED:
        case UC_ERR_FETCH_PROT:
        case UC_ERR_FETCH_UNALIGNED:
            return GuestFault(Kind::kFetch, eip, eip,
                              "code run at " + hex(eip) + " (" + where(eip) + "), where there is no code");
        default: break;
    }
    return GuestFault(Kind::kOther, eip, eip,
                      std::string("the emulator stopped at ") + hex(eip) + ": " + uc_strerror(error));
}

uint32_t EmulatedMachine::Impl::instructions_of(uint32_t address, uint32_t size) {
    RecentBlock& recent = recent_blocks[recent_slot(address)];
    if (recent.count != 0 && recent.address == address) return recent.count;
    const auto known = block_instructions.find(address);
    if (known != block_instructions.end()) {
        recent = {address, known->second};
        return known->second;
    }
    uc_tb block{};
    uint32_t count = uc_ctl_request_cache(uc, address, &block) == UC_ERR_OK && block.icount != 0
                         ? block.icount
                         : std::max<uint32_t>(1, size / 3);
    block_instructions.emplace(address, count);
    recent = {address, count};
    return count;
}

// Every block of module code comes here, some 400 a panel update: the usual
// one (its count cached, no debugger, no coverage, no stop, within budget)
// costs a handful of instructions and calls nothing; anything else goes to
// block_in_full().
void EmulatedMachine::Impl::on_block(uc_engine*, uint64_t address, uint32_t size, void* data) {
    auto& m = *static_cast<Impl*>(data);
    // (Never for the host routines' page: add_hooks() leaves it out.)
    const auto at = static_cast<uint32_t>(address);
    m.block_address = at;
    m.block_size = size;
    const RecentBlock recent = m.recent_blocks[recent_slot(at)];
    if (recent.address != at || recent.count == 0 || m.counting_blocks || m.debugging.debugger != nullptr ||
        g_stop_calls.load(std::memory_order_relaxed)) [[unlikely]] {
        m.block_in_full(at, size);
        return;
    }
    m.executed += recent.count;
    if (m.spent() > m.options.instruction_budget) [[unlikely]] m.block_in_full(at, 0);
}

void EmulatedMachine::Impl::block_in_full(uint32_t address, uint32_t size) noexcept {
    try {
        if (size != 0) {  // (0: counted already)
            if (counting_blocks) {
                BlockCount& count = block_runs[address];
                count.address = address;
                count.size = std::max(count.size, size);
                ++count.runs;
            }
            executed += instructions_of(address, size);
        }
        if (g_stop_calls.load(std::memory_order_relaxed) && depth > 0) {
            stopped = true;
            uc_emu_stop(uc);
            return;
        }
        if (debugging.debugger != nullptr && depth > 0 && !pending) {
            if (debug_block(address)) return;  // it starts again, as the debugger left it
        }
        if (spent() > options.instruction_budget && !pending && depth > 0) raise(budget_fault(address));
    } catch (...) {
        stop_for_host_error("counting instructions");
    }
}

bool EmulatedMachine::Impl::on_invalid_memory(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t,
                                              void* data) {
    auto& m = *static_cast<Impl*>(data);
    try {
        const uint32_t pc = m.reg(UC_X86_REG_EIP);
        if (!m.pending) m.pending.emplace(m.memory_fault(kind_of(type), static_cast<uint32_t>(address), pc));
    } catch (...) {
        m.stop_for_host_error("reporting a memory fault");
    }
    return false;  // not handled: the emulation stops
}

void EmulatedMachine::Impl::on_interrupt(uc_engine*, uint32_t number, void* data) {
    auto& m = *static_cast<Impl*>(data);
    try {
        const uint32_t eip = m.reg(UC_X86_REG_EIP);
        if (m.probe.active) {
            m.end_probe(number, eip);
        } else if (number == 1 && (m.debugging.stepping || m.debugging.watched)) {
            m.debug_trap(eip);
        } else if (number == kPageFault && !m.pending) {
            m.page_fault(m.reg(UC_X86_REG_CR2), eip);
        } else {
            const bool floating = number == 16 || number == 19;
            m.raise(m.interrupt_fault(number, eip), floating      ? std::optional(StopSignal::kFpe)
                                                    : number == 3 ? std::optional(StopSignal::kTrap)
                                                                  : std::nullopt);
        }
    } catch (...) {
        m.stop_for_host_error("reporting a processor exception");
    }
}

void EmulatedMachine::Impl::on_stub(uc_engine* uc, uint64_t address, uint32_t, void* data) {
    auto& m = *static_cast<Impl*>(data);
    if (address == kReturnTrap) {
        uc_emu_stop(uc);
        return;
    }
    if (address == kDispatchEnd || address == kDispatchBroken) {
        m.dispatch_end(address == kDispatchEnd);
        return;
    }
    const auto offset = static_cast<uint32_t>(address) - kStubs;
    if (address < kStubs || offset % kStubSize != 0 || offset / kStubSize >= m.routines.size()) return;
    m.serve(m.routines[offset / kStubSize], static_cast<uint32_t>(address));
}

void EmulatedMachine::Impl::charge_host_work(const Routine& routine, std::chrono::steady_clock::time_point began,
                                             uint64_t executed_before) {
    const auto host = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - began);
    // Module code the routine called back is counted already, by its instructions.
    const uint64_t worth = static_cast<uint64_t>(std::max<int64_t>(host.count(), 0)) / kHostNanosecondsPerInstruction;
    const uint64_t nested = executed - executed_before;
    host_charged += worth > nested ? worth - nested : 0;
    ++host_calls;
    last_served = &routine;
}

GuestFault EmulatedMachine::Impl::budget_fault(uint32_t at) const {
    std::string host;
    if (host_charged != 0) {
        host = " (" + std::to_string(host_charged) + " of them the host's work in " + std::to_string(host_calls) +
               " calls of Windows functions, the last " + (last_served != nullptr ? last_served->name : "?") + ")";
    }
    return GuestFault(Kind::kBudget, at, at,
                      "ran past its budget of " + std::to_string(options.instruction_budget) + " instructions" + host +
                          ", at " + hex(at) + " (" + where(at) + "): a loop that never ends?");
}

void EmulatedMachine::Impl::stop_for_host_error(const char* doing) {
    try {
        raise(GuestFault(Kind::kOther, 0, 0, std::string("the host failed while ") + doing));
    } catch (...) {
        uc_emu_stop(uc);
    }
}

void EmulatedMachine::Impl::serve(const Routine& routine, uint32_t stub) {
    if (pending || broken) {
        uc_emu_stop(uc);
        return;
    }
    uint32_t return_address = 0;
    try {
        const uint32_t esp = reg(UC_X86_REG_ESP);
        std::array<uint32_t, kMaxArgWords> args{};
        self.memory_.copy_out(esp, &return_address, 4);
        if (routine.arg_words != 0) self.memory_.copy_out(esp + 4, args.data(), 4 * routine.arg_words);
        const auto began = std::chrono::steady_clock::now();
        const uint64_t executed_before = executed;
        const uint64_t nested_before = nested_starts;
        const uint32_t result = routine.serve(std::span<const uint32_t>(args.data(), routine.arg_words));
        if (pending || broken) {  // module code it called failed, and it went on
            uc_emu_stop(uc);
            return;
        }
        charge_host_work(routine, began, executed_before);
        if (spent() > options.instruction_budget && depth > 0) {
            raise(budget_fault(return_address));
            return;
        }
        set_reg(UC_X86_REG_EAX, result);
        if (nested_starts != nested_before) {
            // A start of the engine inside its own hook leaves the outer run
            // taking its stop for one of its own (Unicorn 2.0.1): the rest of
            // its code hooks, this routine's `ret` among them, would pass
            // unseen once a debugger had moved EIP. The routine returns from
            // here instead, and the new EIP resumes the outer run afresh.
            const uint8_t* ret = trampolines + (stub - kTrampolines);
            const uint32_t popped = ret[0] == 0xC2 ? uint32_t{ret[1]} | uint32_t{ret[2]} << 8 : 0;
            set_reg(UC_X86_REG_ESP, esp + 4 + popped);
            set_reg(UC_X86_REG_EIP, return_address);
        }
    } catch (const GuestFault& fault) {
        if (fault.pc() != 0 || return_address == 0) {
            raise(fault);
        } else {
            const std::string what = fault.what();
            const bool named = what.find(routine.name) != std::string::npos;
            raise(GuestFault(
                fault.kind(), fault.address(), return_address,
                what + " (" + (named ? "" : routine.name + ", ") + "called from " + hex(return_address) + ")"));
        }
    } catch (const std::exception& error) {
        raise(GuestFault(Kind::kOther, 0, return_address, "host routine " + routine.name + " failed: " + error.what()));
    } catch (...) {
        raise(GuestFault(Kind::kOther, 0, return_address, "host routine " + routine.name + " failed"));
    }
}

}  // namespace emulator
