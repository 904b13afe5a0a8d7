// EmulatedMachine's set-up, its calls into guest code and the host routines guest code calls.
#include "emulator/machine/emulated_machine_impl.h"

#include <bit>
#include <cstring>
#include <iterator>
#include <string>

namespace emulator {

std::atomic<bool> machine_detail::g_stop_calls{false};

namespace {

// Unicorn 2.0.1 aborts the process on a few encodings it fails to translate
// (lcall and ljmp through a register, FF /3 and /5 with mod 3; lock before
// cmp or cmps...), which module bytes may hold. While an emulation runs, an
// abort jumps back to where it started instead, and that machine runs no
// more code. Other aborts go to the disposition the process had.
thread_local sigjmp_buf* abort_target = nullptr;
struct sigaction previous_abort;

void on_abort(int number, siginfo_t* info, void* context) {
    if (abort_target != nullptr) {
        sigjmp_buf* const target = abort_target;
        abort_target = nullptr;
        siglongjmp(*target, 1);
    }
    if ((previous_abort.sa_flags & SA_SIGINFO) != 0 && previous_abort.sa_sigaction != nullptr) {
        previous_abort.sa_sigaction(number, info, context);
        return;
    }
    if ((previous_abort.sa_flags & SA_SIGINFO) == 0 && previous_abort.sa_handler != SIG_DFL &&
        previous_abort.sa_handler != SIG_IGN) {
        previous_abort.sa_handler(number);
        return;
    }
    std::signal(SIGABRT, SIG_DFL);
    std::raise(SIGABRT);
}

void guard_aborts() {
    static std::once_flag installed;
    std::call_once(installed, [] {
        struct sigaction action {};
        action.sa_sigaction = on_abort;
        action.sa_flags = SA_SIGINFO | SA_NODEFER;
        sigemptyset(&action.sa_mask);
        sigaction(SIGABRT, &action, &previous_abort);
    });
}

// uc_emu_start, false when Unicorn aborted. No C++ object lives in this
// frame, and none but Unicorn's C frames lie between it and the abort: hooks
// run module code only through their own (nested) start.
bool guarded_start(uc_engine* uc, uint64_t begin, uc_err* error) {
    sigjmp_buf target;
    sigjmp_buf* const outer = abort_target;
    // The signal mask needs no saving (a system call on every call): the
    // handler runs with SA_NODEFER, and abort() leaves SIGABRT unblocked.
    if (sigsetjmp(target, 0) != 0) {
        abort_target = outer;
        return false;
    }
    abort_target = &target;
    *error = uc_emu_start(uc, begin, 0, 0, 0);
    abort_target = outer;
    return true;
}

}  // namespace

void EmulatedMachine::Impl::start_thread_state() {
    uc_context_restore(uc, clean);
    auto put = [this](uint32_t offset, uint32_t value) { std::memcpy(tib + offset, &value, 4); };
    put(kTibExceptionList, kExceptionChainEnd);
    put(kTibStackBase, stack_top);
    put(kTibStackLimit, stack_limit);
    put(kTibSelf, kTib);
    put(kTibTlsPointer, kTib + kTlsArrayOffset);
    put(kTibPeb, kPeb);
    set_reg(UC_X86_REG_EBX, kSavedEbx);
    set_reg(UC_X86_REG_ESI, kSavedEsi);
    set_reg(UC_X86_REG_EDI, kSavedEdi);
    set_reg(UC_X86_REG_EBP, kSavedEbp);
}

// One guest call from entry to result: the frame built, the run, a fault
// turned into its report, the result read as the convention leaves it.
// Long because the machine's state is restored on every one of those paths,
// and kept in one piece so that each restore can be seen beside its cause.
EmulatedMachine::Impl::Result EmulatedMachine::Impl::call(uint32_t code, std::span<const uint32_t> args,
                                                          Convention convention, bool floating) {
    const bool outermost = depth == 0;
    if (g_stop_calls.load()) throw CallStopped();
    if (broken) throw GuestFault(Kind::kOther, code, 0, *broken);
    if (!outermost && pending) throw *pending;  // the outermost call is failing already
    if (depth >= kMaxNesting) {
        raise(GuestFault(Kind::kOther, code, 0,
                         "calls nested " + std::to_string(kMaxNesting) + " deep through host routines"));
        throw *pending;
    }
    uc_context* context = nullptr;
    uint32_t below = 0;  // where the arguments go under
    if (outermost) {
        pending.reset();
        stopped = false;
        start_thread_state();
        below = stack_top - kFrameRoom;
        outermost_start = executed;
        host_charged = 0;
        host_calls = 0;
    } else {
        ++nested_starts;
        if (saved.size() < depth) {
            uc_context* fresh = nullptr;
            check(uc_context_alloc(uc, &fresh), "context");
            saved.push_back(fresh);
        }
        context = saved[depth - 1];
        uc_context_save(uc, context);
        below = reg(UC_X86_REG_ESP);
    }
    // Arguments right to left, 16-byte aligned as a compiler leaves them at a
    // call, then the return address: the trap.
    const auto count = static_cast<uint32_t>(args.size());
    const uint32_t arguments = (below - 4 * count) & ~15u;
    const uint32_t entry_esp = arguments - 4;
    const uint32_t expected_esp = convention == Convention::kStdcall ? arguments + 4 * count : arguments;
    if (entry_esp < stack_limit || entry_esp > stack_top) {
        raise(GuestFault(Kind::kWrite, entry_esp, 0, "no stack left for a call of " + hex(code)));
        throw *pending;
    }
    if (count != 0) self.memory_.copy_in(arguments, args.data(), 4 * count);
    const uint32_t trap = kReturnTrap;
    self.memory_.copy_in(entry_esp, &trap, 4);
    set_reg(UC_X86_REG_ESP, entry_esp);

    const uint32_t ebx = reg(UC_X86_REG_EBX), esi = reg(UC_X86_REG_ESI), edi = reg(UC_X86_REG_EDI),
                   ebp = reg(UC_X86_REG_EBP);
    const uint16_t control_word = reg16(UC_X86_REG_FPCW);
    const uint32_t mxcsr = reg(UC_X86_REG_MXCSR);
    const int x87_before = x87_depth();
    const uint64_t started = executed;

    ++depth;
    uc_err error = UC_ERR_OK;
    const bool translated = guarded_start(uc, code, &error);
    --depth;
    if (!translated) {
        const uint32_t at = reg(UC_X86_REG_EIP);
        broken = "the emulator aborted translating the code at " + hex(at) + " (" + where(at) +
                 ") and runs no more code: load the module into a new machine";
        if (!pending) {
            pending.emplace(Kind::kInvalidInstruction, at, at,
                            "code at " + hex(at) + " (" + where(at) +
                                ") holds an instruction the emulator cannot translate (invalid on a processor "
                                "too); the emulator runs no more code");
        }
        throw *pending;
    }

    report.instructions = executed - started;
    report.control_word_kept = reg16(UC_X86_REG_FPCW) == control_word;
    report.mxcsr_kept = (reg(UC_X86_REG_MXCSR) & kMxcsrControl) == (mxcsr & kMxcsrControl);

    const auto fail = [&](GuestFault fault) -> Result {
        if (!pending) pending.emplace(std::move(fault));
        if (context != nullptr) uc_context_restore(uc, context);
        throw *pending;
    };
    if (stopped) {  // before `pending`: a host routine takes a nested call's stop for its own failure
        if (context != nullptr) uc_context_restore(uc, context);
        throw CallStopped();
    }
    const uint32_t eip = reg(UC_X86_REG_EIP);
    if (pending) return fail(*pending);
    if (error != UC_ERR_OK) {
        raise(error_fault(error, eip));  // a debugger sees it too, the engine stopped at it
        return fail(*pending);
    }
    if (eip != kReturnTrap) {
        return fail(GuestFault(Kind::kOther, eip, eip,
                               "the call of " + hex(code) + " stopped at " + hex(eip) + " before it returned"));
    }

    // Named only when a check fails: calls must not allocate.
    const auto routine = [&] { return "the routine at " + hex(code) + " (" + where(code) + ")"; };
    const uint32_t esp = reg(UC_X86_REG_ESP);
    if (esp != expected_esp) {
        const auto popped = static_cast<int64_t>(esp) - arguments;
        return fail(GuestFault(Kind::kBrokenCall, esp, 0,
                               routine() + " returned with ESP " + hex(esp) + " where " + hex(expected_esp) +
                                   " was expected: it removed " + std::to_string(popped) + " bytes of arguments, not " +
                                   std::to_string(expected_esp - arguments) +
                                   (convention == Convention::kStdcall ? " (stdcall: the callee removes them)"
                                                                       : " (cdecl: the caller removes them)")));
    }
    const struct {
        const char* name;
        int id;
        uint32_t before;
    } kept[] = {{"EBX", UC_X86_REG_EBX, ebx},
                {"ESI", UC_X86_REG_ESI, esi},
                {"EDI", UC_X86_REG_EDI, edi},
                {"EBP", UC_X86_REG_EBP, ebp}};
    for (const auto& saved_register : kept) {
        const uint32_t after = reg(saved_register.id);
        if (after != saved_register.before) {
            return fail(GuestFault(Kind::kBrokenCall, after, 0,
                                   routine() + " returned with " + saved_register.name + " changed from " +
                                       hex(saved_register.before) + " to " + hex(after) +
                                       " (a callee-saved register)"));
        }
    }

    Result result;
    result.eax = reg(UC_X86_REG_EAX);
    int x87_after = x87_depth();
    if (floating) {
        const uint16_t status = reg16(UC_X86_REG_FPSW);
        const int top = (status >> 11) & 7;
        const uint16_t tags = reg16(UC_X86_REG_FPTAG);
        if (((tags >> (2 * top)) & 3) == 3 || x87_after == x87_before) {
            return fail(GuestFault(Kind::kBrokenCall, code, 0,
                                   routine() + " returned no value on the x87 stack (ST(0) is empty)"));
        }
        uint8_t raw[10] = {};
        uc_reg_read(uc, UC_X86_REG_FP0 + top, raw);
        long double extended = 0;
        static_assert(std::numeric_limits<long double>::digits == 64 && sizeof(long double) >= 10,
                      "the host's long double is the x87 format (an x86-64 host)");
        std::memcpy(&extended, raw, sizeof raw);
        result.value = static_cast<double>(extended);  // rounds to nearest
        // The caller's fstp: pop ST(0).
        set_reg16(UC_X86_REG_FPSW, static_cast<uint16_t>((status & ~0x3800) | (((top + 1) & 7) << 11)));
        set_reg16(UC_X86_REG_FPTAG, static_cast<uint16_t>(tags | (3u << (2 * top))));
        --x87_after;
    }
    if (x87_after != x87_before) {
        return fail(GuestFault(Kind::kBrokenCall, code, 0,
                               routine() + " left the x87 stack " + std::to_string(x87_after) + " deep where it was " +
                                   std::to_string(x87_before) + " deep"));
    }
    if (context != nullptr) uc_context_restore(uc, context);
    return result;
}

// --- The machine -------------------------------------------------------------------------

EmulatedMachine::EmulatedMachine() : EmulatedMachine(Options{}) {}

// The machine's set-up, in the order the processor needs it: memory, system
// pages, descriptor tables, paging, the switch to ring 3, the hooks. Long for
// being one sequence whose steps depend on those before.
EmulatedMachine::EmulatedMachine(const Options& options) : impl_(std::make_unique<Impl>(*this, options)) {
    Impl& m = *impl_;
    guard_aborts();
    check(uc_open(UC_ARCH_X86, UC_MODE_32, &m.uc), "open");
    void* arena =
        mmap(nullptr, kAddressSpace, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (arena == MAP_FAILED) throw std::bad_alloc();
    m.arena = static_cast<uint8_t*>(arena);
    // In Unicorn's map as regions of 64 MiB: splitting one (to make part of
    // it executable) costs time in proportion to its size, a region more a
    // little on every change of the map.
    constexpr uint64_t kRegion = uint64_t{64} << 20;
    for (uint64_t base = 0; base < kAddressSpace; base += kRegion)
        check(uc_mem_map_ptr(m.uc, base, kRegion, UC_PROT_READ | UC_PROT_WRITE, m.arena + base), "map");

    // The system pages: host routines, descriptor table, thread and process blocks.
    m.reservations.emplace(kSystemBase, kSystemSize);
    map(kTrampolines, kTrampolineSize, kRead | kExecute, "host routines");
    m.trampolines = m.arena + kTrampolines;
    std::memset(m.trampolines, 0xCC, kTrampolineSize);  // int3 wherever no routine is
    m.trampolines[kReturnTrap - kTrampolines] = 0xEB;   // jmp $
    m.trampolines[kReturnTrap - kTrampolines + 1] = 0xFE;
    map(kGdt, kPage, kRead, "descriptor table");
    uint8_t* gdt = m.arena + kGdt;
    m.set_pages(kGdt, kPage, kRead, false);  // the processor's, not the module's
    map(kTib, kPage, kRead | kWrite, "thread information block");
    m.tib = m.arena + kTib;
    map(kPeb, kPage, kRead | kWrite, "process environment block");

    // The stack above its guard page, and the host's memory.
    const uint32_t stack_size = static_cast<uint32_t>(round_up(std::max<uint32_t>(options.stack_size, kPage), kPage));
    const uint32_t stack_reservation = reserve(stack_size + kPage, kStackPreferred);
    m.stack_limit = stack_reservation + kPage;
    m.stack_top = m.stack_limit + stack_size;
    map(m.stack_limit, stack_size, kRead | kWrite, "stack");
    const uint32_t host_size =
        static_cast<uint32_t>(round_up(std::max<uint32_t>(options.host_memory_size, kPage), kPage));
    m.host_memory = reserve(host_size, kHostMemoryPreferred);
    m.host_memory_size = host_size;
    map(m.host_memory, host_size, kRead | kWrite, "host memory");

    // Flat ring-3 segments, FS on the thread information block.
    const uint64_t entries[kGdtEntries] = {
        0,
        descriptor(0, 0xFFFFFFFF, true, 0),   // 0x08 ring-0 code (the switch to ring 3)
        descriptor(0, 0xFFFFFFFF, false, 0),  // 0x10 ring-0 data
        descriptor(0, 0xFFFFFFFF, true, 3),   // 0x1B user code
        descriptor(0, 0xFFFFFFFF, false, 3),  // 0x23 user data
        0,
        0,
        descriptor(kTib, kPage - 1, false, 3),  // 0x3B the thread information block
    };
    std::memcpy(gdt, entries, sizeof entries);
    uc_x86_mmr gdtr{};
    gdtr.base = kGdt;
    gdtr.limit = sizeof entries - 1;
    check(uc_reg_write(m.uc, UC_X86_REG_GDTR, &gdtr), "GDTR");
    m.set_reg(UC_X86_REG_CS, kKernelCode);
    m.set_reg(UC_X86_REG_SS, kKernelData);
    m.set_reg(UC_X86_REG_DS, kKernelData);
    m.set_reg(UC_X86_REG_ES, kKernelData);

    // Down to ring 3 as an operating system does: iretd to user code and stack.
    const uint8_t bootstrap[] = {
        0x6A, kUserData,           // push user SS
        0x68, 0,         0, 0, 0,  // push ESP
        0x9C,                      // pushfd
        0x6A, kUserCode,           // push user CS
        0x68, 0,         0, 0, 0,  // push EIP
        0xCF,                      // iretd
    };
    std::memcpy(m.trampolines + (kBootstrap - kTrampolines), bootstrap, sizeof bootstrap);
    const uint32_t user_esp = m.stack_top - kFrameRoom;
    std::memcpy(m.trampolines + (kBootstrap - kTrampolines) + 3, &user_esp, 4);
    const uint32_t user_eip = kReturnTrap;
    std::memcpy(m.trampolines + (kBootstrap - kTrampolines) + 11, &user_eip, 4);
    m.set_reg(UC_X86_REG_ESP, m.stack_top - 16);
    check(uc_emu_start(m.uc, kBootstrap, kReturnTrap, 0, 0), "switch to ring 3");
    if (m.reg(UC_X86_REG_CS) != kUserCode) throw std::runtime_error("emulator: the switch to ring 3 failed");
    std::memset(m.trampolines + (kBootstrap - kTrampolines), 0xCC, sizeof bootstrap);
    m.forget_code(kTrampolines, kTrampolineSize);
    m.set_reg(UC_X86_REG_DS, kUserData);
    m.set_reg(UC_X86_REG_ES, kUserData);
    m.set_reg(UC_X86_REG_GS, 0);
    const uint32_t teb_selector = kTebSelector;
    check(uc_reg_write(m.uc, UC_X86_REG_FS, &teb_selector), "FS");

    // Paging on: from here the page tables decide what the module may touch.
    m.set_reg(UC_X86_REG_CR3, kPageDirectory);
    m.set_reg(UC_X86_REG_CR0, m.reg(UC_X86_REG_CR0) | kCr0Paging | kCr0WriteProtect);
    m.flush_translations();

    // Windows' floating-point state: an empty x87 stack, 53-bit precision.
    m.set_reg16(UC_X86_REG_FPCW, kControlWord);
    m.set_reg16(UC_X86_REG_FPSW, 0);
    m.set_reg16(UC_X86_REG_FPTAG, kEmptyTags);
    m.set_reg(UC_X86_REG_MXCSR, kMxcsr);
    m.set_reg(UC_X86_REG_EFLAGS, kInitialFlags);
    for (int id : {UC_X86_REG_EAX, UC_X86_REG_ECX, UC_X86_REG_EDX}) m.set_reg(id, 0);
    check(uc_context_alloc(m.uc, &m.clean), "context");
    check(uc_context_save(m.uc, m.clean), "context");
    m.start_thread_state();

    uc_hook hook = 0;
    check(uc_hook_add(m.uc, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&Impl::on_block), &m, 1, 0), "hook");
    check(uc_hook_add(m.uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&Impl::on_invalid_memory), &m, 1, 0),
          "hook");
    check(uc_hook_add(m.uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&Impl::on_interrupt), &m, 1, 0), "hook");
    check(uc_hook_add(m.uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(&Impl::on_system_call<kSysenter, 0x34>), &m, 1,
                      0, UC_X86_INS_SYSENTER),
          "hook");
    check(uc_hook_add(m.uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(&Impl::on_system_call<kSyscall, 0x05>), &m, 1,
                      0, UC_X86_INS_SYSCALL),
          "hook");
    check(uc_hook_add(m.uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&Impl::on_stub), &m, kReturnTrap,
                      kTrampolines + kTrampolineSize - 1),
          "hook");
}

EmulatedMachine::~EmulatedMachine() {
    if (impl_->debugging.debugger != nullptr) impl_->debugging.debugger->forget(*this);
}

uint32_t EmulatedMachine::call(uint32_t code, std::span<const uint32_t> args, Convention convention) {
    return impl_->call(code, args, convention, false).eax;
}

double EmulatedMachine::call_double(uint32_t code, std::span<const uint32_t> args, Convention convention) {
    return impl_->call(code, args, convention, true).value;
}

const CallReport& EmulatedMachine::last_call() const { return impl_->report; }

void EmulatedMachine::stop_all_calls() { g_stop_calls = true; }

void EmulatedMachine::allow_calls() { g_stop_calls = false; }

bool EmulatedMachine::calls_stopping() { return g_stop_calls.load(std::memory_order_relaxed); }

uint32_t EmulatedMachine::allocate(uint32_t size) {
    Impl& m = *impl_;
    const uint64_t start = round_up(m.host_memory_used, 8);
    const uint64_t end = start + std::max<uint32_t>(size, 1);
    if (end > m.host_memory_size) throw std::bad_alloc();
    m.host_memory_used = static_cast<uint32_t>(end);
    return m.host_memory + static_cast<uint32_t>(start);
}

uint32_t EmulatedMachine::host_routine(const std::string& name, uint32_t arg_words, Convention convention,
                                       HostRoutine serve) {
    Impl& m = *impl_;
    if (arg_words > kMaxArgWords)
        throw std::invalid_argument("host routine " + name + ": more than " + std::to_string(kMaxArgWords) +
                                    " arguments");
    if (m.routines.size() >= kMaxRoutines) throw std::length_error("host routine " + name + ": the page is full");
    const auto index = static_cast<uint32_t>(m.routines.size());
    const uint32_t address = kStubs + kStubSize * index;
    uint8_t* stub = m.trampolines + (address - kTrampolines);
    if (convention == Convention::kStdcall && arg_words != 0) {
        const uint16_t popped = static_cast<uint16_t>(4 * arg_words);
        stub[0] = 0xC2;  // ret imm16
        std::memcpy(stub + 1, &popped, 2);
    } else {
        stub[0] = 0xC3;  // ret
    }
    m.routines.push_back({name, arg_words, std::move(serve)});
    uc_ctl_remove_cache(m.uc, uint64_t{address}, uint64_t{address} + kStubSize);
    return address;
}

void EmulatedMachine::set_tls_slot(uint32_t index, uint32_t value) {
    if (index >= kTlsSlots) throw std::out_of_range("TLS slot " + std::to_string(index) + " beyond the array");
    std::memcpy(impl_->tib + kTlsArrayOffset + 4 * index, &value, 4);
}

uint32_t EmulatedMachine::tls_slot(uint32_t index) const {
    if (index >= kTlsSlots) throw std::out_of_range("TLS slot " + std::to_string(index) + " beyond the array");
    uint32_t value = 0;
    std::memcpy(&value, impl_->tib + kTlsArrayOffset + 4 * index, 4);
    return value;
}

std::optional<uint32_t> EmulatedMachine::allocate_tls_index() {
    for (uint32_t index = 0; index < kTlsSlots; ++index) {
        if (impl_->tls_taken[index]) continue;
        impl_->tls_taken[index] = true;
        set_tls_slot(index, 0);
        return index;
    }
    return std::nullopt;
}

void EmulatedMachine::release_tls_index(uint32_t index) {
    if (index < kTlsSlots) impl_->tls_taken[index] = false;
}

uint32_t EmulatedMachine::thread_block() const { return kTib; }

uint32_t EmulatedMachine::process_block() const { return kPeb; }

uint64_t EmulatedMachine::instructions() const { return impl_->executed; }

namespace {

// Unicorn's ids in the order of EmulatedMachine::Registers' fields.
constexpr int kRegisterIds[] = {UC_X86_REG_EAX, UC_X86_REG_ECX,    UC_X86_REG_EDX, UC_X86_REG_EBX,
                                UC_X86_REG_ESP, UC_X86_REG_EBP,    UC_X86_REG_ESI, UC_X86_REG_EDI,
                                UC_X86_REG_EIP, UC_X86_REG_EFLAGS, UC_X86_REG_CS,  UC_X86_REG_SS,
                                UC_X86_REG_DS,  UC_X86_REG_ES,     UC_X86_REG_FS,  UC_X86_REG_GS};
constexpr size_t kFirstSegment = 10;
static_assert(sizeof(EmulatedMachine::Registers) == sizeof kRegisterIds / sizeof kRegisterIds[0] * sizeof(uint32_t));

}  // namespace

EmulatedMachine::Registers EmulatedMachine::registers() const {
    uint32_t values[std::size(kRegisterIds)];
    for (size_t i = 0; i < std::size(kRegisterIds); ++i)
        values[i] = i < kFirstSegment ? impl_->reg(kRegisterIds[i]) : impl_->reg16(kRegisterIds[i]);
    return std::bit_cast<Registers>(values);
}

EmulatedMachine::FloatRegisters EmulatedMachine::float_registers() const {
    FloatRegisters x87;
    x87.control = impl_->reg16(UC_X86_REG_FPCW);
    x87.status = impl_->reg16(UC_X86_REG_FPSW);
    x87.tag = impl_->reg16(UC_X86_REG_FPTAG);
    // Unicorn numbers the physical registers; ST(i) counts from the top.
    const uint32_t top = (x87.status >> 11) & 7;
    for (uint32_t i = 0; i < x87.st.size(); ++i) {
        uint8_t raw[16] = {};
        uc_reg_read(impl_->uc, UC_X86_REG_FP0 + static_cast<int>((top + i) % 8), raw);
        std::memcpy(x87.st[i].data(), raw, x87.st[i].size());
    }
    return x87;
}

void EmulatedMachine::set_registers(const Registers& registers) {
    const auto values = std::bit_cast<std::array<uint32_t, std::size(kRegisterIds)>>(registers);
    const auto now = std::bit_cast<std::array<uint32_t, std::size(kRegisterIds)>>(this->registers());
    // The segments first: a refused selector leaves the general registers as they were.
    for (size_t k = 0; k < std::size(kRegisterIds); ++k) {
        const size_t i = (k + kFirstSegment) % std::size(kRegisterIds);
        // Only what changes: Unicorn takes a write of EIP in a hook as a jump
        // and runs the hook again, so the same EIP written would loop.
        if (values[i] == now[i]) continue;
        if (i < kFirstSegment) {
            impl_->set_reg(kRegisterIds[i], values[i]);
        } else {
            // Loading a selector loads its descriptor: one the table lacks,
            // or a 16-bit value that is not one, is refused, and nothing
            // else of this segment changes.
            uint32_t value = values[i];
            if (value > 0xFFFF || uc_reg_write(impl_->uc, kRegisterIds[i], &value) != UC_ERR_OK ||
                impl_->reg16(kRegisterIds[i]) != value)
                throw std::invalid_argument("emulator: segment selector " + std::to_string(values[i]) + " refused");
        }
    }
}

}  // namespace emulator
