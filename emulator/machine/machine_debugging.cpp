// EmulatedMachine under a debugger: breakpoints as code hooks on their own
// instruction, watches as memory hooks on their own range, steps by the
// processor's trap flag; module code stops inside the hook that found the
// stop, and waits there for the debugger. And what a coverage report is
// made of: the blocks module code ran, counted only when asked.
#include "emulator/machine/emulated_machine_impl.h"

namespace emulator {
namespace {

StopSignal signal_of(const GuestFault& fault) {
    switch (fault.kind()) {
        case Kind::kRead:
        case Kind::kWrite:
        case Kind::kFetch: return StopSignal::kSegv;
        case Kind::kInvalidInstruction: return StopSignal::kIll;
        case Kind::kDivide: return StopSignal::kFpe;
        case Kind::kBudget: return StopSignal::kXcpu;
        default: return StopSignal::kAbrt;
    }
}

// Blocks asked between two looks for the debugger's interrupt.
constexpr uint32_t kPollEvery = 1024;

}  // namespace

void EmulatedMachine::Impl::raise(GuestFault fault, std::optional<StopSignal> signal) {
    if (!pending) {
        // A fault of the host's own (pc 0) is nothing the debugger could look at.
        if (debugging.debugger != nullptr && fault.pc() != 0) {
            DebugStop stop;
            stop.reason = DebugStop::Reason::kFault;
            stop.signal = signal.value_or(signal_of(fault));
            stop.pc = fault.pc();
            stop.fault = &fault;
            const uint32_t eip = reg(UC_X86_REG_EIP);
            // The debugger sees the faulting instruction, not where a probe left EIP.
            if (eip != fault.pc() && fault.kind() != Kind::kBudget) set_reg(UC_X86_REG_EIP, fault.pc());
            debug_stop(stop, false);
        }
        pending.emplace(std::move(fault));
    }
    uc_emu_stop(uc);
}

void EmulatedMachine::Impl::restart_at(uint32_t pc) {
    debugging.restarted = pc;
    debugging.restart_blocks = 0;
    set_reg(UC_X86_REG_EIP, pc);
}

void EmulatedMachine::Impl::debug_stop(DebugStop stop, bool before_instruction) noexcept {
    Debugger* debugger = debugging.debugger;
    if (debugger == nullptr) return;
    const Debugger::Resume resume = debugger->stopped(self, stop);
    try {
        const bool step = resume == Debugger::Resume::kStep && debugging.debugger != nullptr &&
                          stop.reason != DebugStop::Reason::kFault;
        const uint32_t flags = reg(UC_X86_REG_EFLAGS);
        if (step) {
            set_reg(UC_X86_REG_EFLAGS, flags | kTrapFlag);
        } else if (debugging.stepping) {
            set_reg(UC_X86_REG_EFLAGS, flags & ~kTrapFlag);
        }
        debugging.stepping = step;
        if (before_instruction && stop.reason != DebugStop::Reason::kFault) restart_at(reg(UC_X86_REG_EIP));
    } catch (...) {
        stop_for_host_error("resuming after a debugger's stop");
    }
}

void EmulatedMachine::Impl::debug_trap(uint32_t eip) noexcept {
    set_reg(UC_X86_REG_EFLAGS, reg(UC_X86_REG_EFLAGS) & ~kTrapFlag);
    debugging.stepping = false;
    debugging.restarted.reset();
    DebugStop stop;
    if (debugging.watched) {
        stop = *debugging.watched;
        debugging.watched.reset();
    } else {
        stop.reason = DebugStop::Reason::kStep;
    }
    stop.pc = eip;
    debug_stop(stop, false);
}

bool EmulatedMachine::Impl::debug_block(uint32_t address) noexcept {
    undo_watched_instruction(address);
    if (debugging.restarted && ++debugging.restart_blocks > 1) debugging.restarted.reset();
    if (!debugging.requested && (++debugging.polls % kPollEvery != 0 || !debugging.debugger->interrupted()))
        return false;
    DebugStop stop;
    stop.signal = debugging.requested.value_or(StopSignal::kInt);
    stop.pc = address;
    debugging.requested.reset();
    // A block hook finds EIP where the engine last wrote it (a call's
    // return, a block before): the debugger reads, and the restart takes,
    // the block's own start.
    set_reg(UC_X86_REG_EIP, address);
    debug_stop(stop, true);
    return true;
}

void EmulatedMachine::Impl::on_breakpoint(uc_engine*, uint64_t address, uint32_t, void* data) {
    auto& m = *static_cast<Impl*>(data);
    const auto pc = static_cast<uint32_t>(address);
    if (m.debugging.debugger == nullptr || m.pending) return;
    if (m.debugging.restarted) {
        if (*m.debugging.restarted == pc) return;
        m.debugging.restarted.reset();
    }
    DebugStop stop;
    stop.reason = DebugStop::Reason::kBreakpoint;
    stop.pc = pc;
    m.debug_stop(stop, true);
}

void EmulatedMachine::Impl::on_watch(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t, void* data) {
    auto& m = *static_cast<Impl*>(data);
    if (m.debugging.debugger == nullptr || m.pending) return;
    try {
        const bool write = type == UC_MEM_WRITE;
        Debugging::Undo& undo = m.debugging.undo;
        const uint32_t pc = m.reg(UC_X86_REG_EIP);
        // The restarted instruction's own accesses pass; one watch is told at a time.
        if (m.debugging.restarted != pc && !m.debugging.watched) {
            for (const auto& [watch, hooks] : m.debugging.watches) {
                if (address - watch.address >= watch.length ||
                    (watch.kind != WatchKind::kAccess && (watch.kind == WatchKind::kWrite) != write))
                    continue;
                DebugStop stop;
                stop.reason = DebugStop::Reason::kWatch;
                stop.watch_address = static_cast<uint32_t>(address);
                stop.watch = watch.kind;
                m.debugging.watched = stop;
                if (undo.registers == nullptr) check(uc_context_alloc(m.uc, &undo.registers), "watch");
                check(uc_context_save(m.uc, undo.registers), "watch");
                undo.stores.clear();
                undo.pending = true;
                // Reported after the instruction: it runs again, alone, and its trap tells.
                m.set_reg(UC_X86_REG_EFLAGS, m.reg(UC_X86_REG_EFLAGS) | kTrapFlag);
                m.restart_at(pc);
                break;
            }
        }
        // The hook comes before the store: what is there now is what it replaces.
        if (write && undo.pending && size > 0) {
            std::vector<uint8_t> before(static_cast<size_t>(size));
            check(uc_mem_read(m.uc, address, before.data(), before.size()), "watch");
            undo.stores.push_back({static_cast<uint32_t>(address), std::move(before)});
        }
    } catch (...) {
        m.stop_for_host_error("reporting a watched access");
    }
}

void EmulatedMachine::Impl::undo_watched_instruction(uint32_t address) noexcept {
    Debugging::Undo& undo = debugging.undo;
    if (!undo.pending) return;
    undo.pending = false;
    if (debugging.restarted != address || debugging.restart_blocks != 0) return;
    try {
        for (auto store = undo.stores.rbegin(); store != undo.stores.rend(); ++store)
            check(uc_mem_write(uc, store->address, store->bytes.data(), store->bytes.size()), "watch");
        check(uc_context_restore(uc, undo.registers), "watch");
        set_reg(UC_X86_REG_EFLAGS, reg(UC_X86_REG_EFLAGS) | kTrapFlag);
    } catch (...) {
        stop_for_host_error("running a watched instruction again");
    }
}

void EmulatedMachine::Impl::on_instruction(uc_engine*, uint64_t, uint32_t, void*) {}

void EmulatedMachine::Impl::stop_following_instructions() noexcept {
    if (debugging.every_instruction == 0) return;
    uc_hook_del(uc, debugging.every_instruction);
    debugging.every_instruction = 0;
    try {
        forget_code(0, kAddressSpace);
    } catch (...) {
        stop_for_host_error("removing a watch");
    }
}

void EmulatedMachine::Impl::clear_debug_points() noexcept {
    for (const auto& [address, hook] : debugging.breakpoints) {
        uc_hook_del(uc, hook);
        remove_translations(address, 1);
    }
    for (const auto& [watch, hooks] : debugging.watches) {
        for (uc_hook hook : hooks) {
            if (hook != 0) uc_hook_del(uc, hook);
        }
    }
    if (!debugging.breakpoints.empty()) forget_blocks();
    debugging.breakpoints.clear();
    debugging.watches.clear();
    stop_following_instructions();
}

void EmulatedMachine::Impl::detach_debugger() noexcept {
    clear_debug_points();
    if (debugging.stepping) set_reg(UC_X86_REG_EFLAGS, reg(UC_X86_REG_EFLAGS) & ~kTrapFlag);
    if (debugging.undo.registers != nullptr) uc_context_free(debugging.undo.registers);
    debugging = Debugging{};
}

void EmulatedMachine::attach_debugger(Debugger* debugger) {
    if (impl_->debugging.debugger != nullptr && impl_->debugging.debugger != debugger) impl_->detach_debugger();
    impl_->debugging.debugger = debugger;
}

void EmulatedMachine::request_debug_stop() { impl_->debugging.requested = StopSignal::kTrap; }

bool EmulatedMachine::set_breakpoint(uint32_t address, bool set) {
    Impl& m = *impl_;
    auto known = m.debugging.breakpoints.find(address);
    if (set == (known != m.debugging.breakpoints.end())) return false;
    if (set) {
        if (m.debugging.breakpoints.size() >= kMaxDebugPoints)
            throw std::length_error("breakpoint: " + hex(address) + ": " + std::to_string(kMaxDebugPoints) +
                                    " are set already");
        uc_hook hook = 0;
        check(
            uc_hook_add(m.uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&Impl::on_breakpoint), &m, address, address),
            "breakpoint");
        m.debugging.breakpoints.emplace(address, hook);
    } else {
        uc_hook_del(m.uc, known->second);
        m.debugging.breakpoints.erase(known);
    }
    // The code translated before knows nothing of the hook.
    m.forget_code(address, 1);
    return true;
}

bool EmulatedMachine::set_watchpoint(uint32_t address, uint32_t length, WatchKind kind, bool set) {
    Impl& m = *impl_;
    if (length == 0 || uint64_t{address} + length > kAddressSpace) return false;
    auto& watches = m.debugging.watches;
    const Impl::Debugging::Watch watch{address, length, kind};
    const auto known = watches.find(watch);
    if (set == (known != watches.end())) return false;
    if (!set) {
        for (uc_hook hook : known->second) {
            if (hook != 0) uc_hook_del(m.uc, hook);
        }
        watches.erase(known);
        if (watches.empty()) m.stop_following_instructions();
        return true;
    }
    if (watches.empty()) {
        // Unicorn brings EIP up to date before most accesses but not before a
        // locked one's (xchg, lock add): a hook on every instruction keeps it
        // exact, so that the instruction a watch restarts is the one that
        // made the access. Only while something is watched.
        check(uc_hook_add(m.uc, &m.debugging.every_instruction, UC_HOOK_CODE,
                          reinterpret_cast<void*>(&Impl::on_instruction), &m, 1, 0),
              "watch");
        m.forget_code(0, kAddressSpace);
    }
    if (watches.size() >= kMaxDebugPoints)
        throw std::length_error("watch: " + hex(address) + ": " + std::to_string(kMaxDebugPoints) + " are set already");
    std::array<uc_hook, 2> hooks{};
    const uint64_t last = uint64_t{address} + length - 1;
    if (kind != WatchKind::kWrite)
        check(uc_hook_add(m.uc, &hooks[0], UC_HOOK_MEM_READ, reinterpret_cast<void*>(&Impl::on_watch), &m, address,
                          last),
              "watch");
    // A read watch too: an instruction that reads and then writes what it
    // watches must find the bytes it read when it runs again.
    check(uc_hook_add(m.uc, &hooks[1], UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(&Impl::on_watch), &m, address,
                          last),
              "watch");
    watches.emplace(watch, hooks);
    return true;
}

void EmulatedMachine::clear_debug_points() { impl_->clear_debug_points(); }

bool EmulatedMachine::debugger_reaches(uint32_t address, uint64_t length, DebuggerReach reach) const {
    const Impl& m = *impl_;
    const uint64_t end = uint64_t{address} + length;
    if (length == 0 || end > kUserEnd) return false;
    for (uint64_t page = address / kPage * kPage; page < end; page += kPage) {
        const auto at = static_cast<uint32_t>(page);
        if (!m.module_page(at)) return false;
        if (reach == DebuggerReach::kRead) continue;
        if (at - kSystemBase < kSystemSize) return false;
        if (reach == DebuggerReach::kCode && (protection(at).value_or(0) & kExecute) == 0) return false;
    }
    return true;
}

void EmulatedMachine::count_blocks(bool on) { impl_->counting_blocks = on; }

std::vector<EmulatedMachine::BlockCount> EmulatedMachine::block_counts() const {
    std::vector<BlockCount> counts;
    counts.reserve(impl_->block_runs.size());
    for (const auto& [address, count] : impl_->block_runs) counts.push_back(count);
    return counts;
}

void EmulatedMachine::debugger_read(uint32_t address, std::span<uint8_t> bytes) const {
    if (!bytes.empty() && !debugger_reaches(address, bytes.size(), DebuggerReach::kRead))
        throw std::invalid_argument("debugger read: " + hex(address) + " + " + std::to_string(bytes.size()) +
                                    " is not what module code may read");
    peek(address, bytes);
}

void EmulatedMachine::debugger_write(uint32_t address, std::span<const uint8_t> bytes) {
    if (!bytes.empty() && !debugger_reaches(address, bytes.size(), DebuggerReach::kModule))
        throw std::invalid_argument("debugger write: " + hex(address) + " + " + std::to_string(bytes.size()) +
                                    " is not the module's own memory");
    load(address, bytes);
}

std::string EmulatedMachine::describe(uint32_t address) const { return impl_->where(address); }

}  // namespace emulator
