// EmulatedMachine's set-up, its calls into guest code and the host routines guest code calls.
#include "emulator/machine/emulated_machine_impl.h"

#include <bit>
#include <cstddef>
#include <cstring>
#include <exception>
#include <iterator>
#include <string>
#include <utility>

#include "emulator/machine/host_fiber.h"

namespace emulator {

std::atomic<bool> machine_detail::g_stop_calls{false};
std::atomic<uint64_t> machine_detail::g_map_generation{0};

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

// The dispatcher (see kDispatch) and the constants it loads.
void write_dispatcher(uint8_t* trampolines) {
    const uint16_t control = kControlWord;
    const uint32_t mxcsr = kMxcsr;
    std::memcpy(trampolines + (kThreadConstants - kTrampolines), &control, 2);
    std::memcpy(trampolines + (kThreadConstants - kTrampolines) + 4, &mxcsr, 4);
    uint8_t* const start = trampolines + (kDispatch - kTrampolines);
    uint8_t* at = start;
    const auto bytes = [&](std::initializer_list<uint8_t> code) {
        for (const uint8_t byte : code) *at++ = byte;
    };
    const auto word = [&](uint32_t value) {
        std::memcpy(at, &value, 4);
        at += 4;
    };
    const auto box = [&](size_t offset) { word(kMailbox + static_cast<uint32_t>(offset)); };
    const auto guest = [&](const uint8_t* place) { return kTrampolines + static_cast<uint32_t>(place - trampolines); };
    bytes({0x8B, 0x25}), box(offsetof(Mailbox, entry));                      // mov esp, [entry]
    bytes({0xFC});                                                           // cld
    bytes({0xB8}), word(0), bytes({0xB9}), word(0), bytes({0xBA}), word(0);  // eax, ecx, edx: 0
    // jmp [routine]: the host wrote the return address (a store of guest
    // code would take Unicorn's slow path).
    bytes({0xFF, 0x25}), box(offsetof(Mailbox, routine));
    if (guest(at) != kDispatchReturned) throw std::logic_error("emulator: the dispatcher's return moved");
    // ECX collects every difference from what the call must leave: ESP
    // against the expected, the callee-saved registers and the selectors
    // against the thread's start. One branch: each ends a translated block.
    // (The mailbox through CS: DS may be whatever the call left in it.)
    bytes({0x89, 0xE1}), bytes({0x2E, 0x2B, 0x0D}),
        box(offsetof(Mailbox, expected));  // mov ecx, esp; sub ecx, cs:[expected]
    for (const auto& [encoding, value] : {std::pair<uint8_t, uint32_t>{0xDA, kSavedEbx},  // mov edx, ebx
                                          {0xF2, kSavedEsi},
                                          {0xFA, kSavedEdi},
                                          {0xEA, kSavedEbp}}) {
        bytes({0x89, encoding, 0x81, 0xF2}), word(value), bytes({0x09, 0xD1});  // xor edx, value; or ecx, edx
    }
    for (const auto& [encoding, selector] : {std::pair<uint8_t, uint8_t>{0xDA, kUserData},  // mov edx, ds
                                             {0xC2, kUserData},                             // es
                                             {0xD2, kUserData},                             // ss
                                             {0xE2, kTebSelector}}) {                       // fs
        bytes({0x8C, encoding, 0x83, 0xF2, selector, 0x09, 0xD1});  // xor edx, selector; or ecx, edx
    }
    bytes({0x8C, 0xEA, 0x09, 0xD1});                               // gs: null
    bytes({0x0F, 0x85}), word(kDispatchBroken - (guest(at) + 4));  // jnz kDispatchBroken
    if (guest(at) != kDispatchEnd) throw std::logic_error("emulator: the dispatcher's end moved");
    bytes({0x90});  // nop: its code hook
    // Tests of the zero flag alone: the engine computes no other flag for them.
    bytes({0x2E, 0xF6, 0x05}), box(offsetof(Mailbox, reset)), bytes({0xFF});  // test byte cs:[reset], 0xFF
    uint8_t* const to_flags = at + 1;
    bytes({0x74, 0});                                                          // jz: kResetFlags
    bytes({0x2E, 0xF6, 0x05}), box(offsetof(Mailbox, reset)), bytes({0xFE});  // test byte cs:[reset], 0xFE
    uint8_t* const to_pop = at + 1;
    bytes({0x74, 0});                                       // jz: kResetPop
    bytes({0xDB, 0xE3});                                    // fninit
    bytes({0xD9, 0x2D}), word(kThreadConstants);            // fldcw
    bytes({0x0F, 0xAE, 0x15}), word(kThreadConstants + 4);  // ldmxcsr
    bytes({0xE9}), word(kDispatch - (guest(at) + 4));       // jmp kDispatch
    *to_pop = static_cast<uint8_t>(at - (to_pop + 1));
    bytes({0xDD, 0xD8});  // fstp st(0)
    *to_flags = static_cast<uint8_t>(at - (to_flags + 1));
    bytes({0xDB, 0xE2});                               // fnclex
    bytes({0xE9}), word(kDispatch - (guest(at) + 4));  // jmp kDispatch
    if (guest(at) != kDispatchBroken) throw std::logic_error("emulator: the dispatcher's broken end moved");
    bytes({0x90});  // nop: its code hook (the run always ends here)
    if (guest(at) > kTrampolines + kTrampolineSize) throw std::logic_error("emulator: the dispatcher is too long");
}

}  // namespace

// The host's work of a batch runs on the fiber; the engine's side (the loop
// in run_batched, or the hook at a dispatcher's end while its engine runs)
// waits for what the fiber asks.
struct EmulatedMachine::Impl::Batch {
    HostFiber fiber;
    bool active = false;
    void (*work)(void*) = nullptr;
    void* context = nullptr;
    std::exception_ptr thrown;  // by the work
    bool done = false;          // the work returned
    enum class Ask : uint8_t {
        kRun,   // the call in the mailbox of `asking`
        kStop,  // the running engine stops: the next call starts afresh
    } ask = Ask::kRun;
    Impl* asking = nullptr;
    Impl* live = nullptr;  // the machine whose engine runs now
    bool running = false;  // its dispatcher took the call asked
    // How the run of a call that did not come back ended.
    bool translated = true;
    uc_err error = UC_ERR_OK;
    int engines_on_fiber = 0;  // calls of the ordinary kind running from the fiber

    // Calls made on the fiber, none of them inside another engine's run.
    bool takes_calls() const { return active && fiber.on_fiber() && engines_on_fiber == 0; }
    void stop_engine() {
        ask = Ask::kStop;
        asking = nullptr;
        fiber.suspend();
    }
    static void main(void* batch) {
        Batch& b = *static_cast<Batch*>(batch);
        try {
            b.work(b.context);
        } catch (...) {
            b.thrown = std::current_exception();
        }
        b.done = true;
    }
};

EmulatedMachine::Impl::Batch& EmulatedMachine::Impl::batch() {
    static thread_local Batch state;
    return state;
}

void EmulatedMachine::Impl::put_thread_block() {
    using Block = pe::ThreadInformationBlock;
    auto put = [this](size_t offset, uint32_t value) { std::memcpy(tib + offset, &value, 4); };
    put(offsetof(Block, exception_list), pe::kExceptionChainEnd);
    put(offsetof(Block, stack_base), stack_top);
    put(offsetof(Block, stack_limit), stack_limit);
    put(offsetof(Block, self), kTib);
    put(offsetof(Block, tls_pointer), kTib + kTlsArrayOffset);
    put(offsetof(Block, process_environment_block), kPeb);
}

void EmulatedMachine::Impl::start_thread_state() {
    uc_context_restore(uc, clean);  // the callee-saved registers' values no pointer is among it
    put_thread_block();
    state_spoiled = false;
}

bool EmulatedMachine::Impl::start_engine(uint32_t begin, uc_err* error) {
    ++starts;
    Batch& b = batch();
    const bool from_fiber = b.fiber.on_fiber();
    if (from_fiber) ++b.engines_on_fiber;
    const bool translated = guarded_start(uc, begin, error);
    if (from_fiber) --b.engines_on_fiber;
    return translated;
}

namespace {

// What of the floating-point state the dispatcher puts back after a call
// that came back well (Reset): all of it unless the call kept both control
// words and left the x87 stack empty at its start, or held only its value
// there (in the register below the start: physical 7).
uint32_t reset_after(uint16_t control, uint32_t mxcsr, uint16_t tags, uint16_t status, bool floating) {
    if (control != kControlWord || mxcsr != kMxcsr) return kResetAll;
    const uint32_t top = (status >> 11) & 7;
    if (!floating) return tags == kEmptyTags && top == 0 ? kResetFlags : kResetAll;
    const bool only_seventh = (tags | 0xC000u) == kEmptyTags && (tags >> 14) != 3;
    return top == 7 && only_seventh ? kResetPop : kResetAll;
}

}  // namespace

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
    // Under a debugger every call returns to the trap, where a step out of
    // the routine or a stop at its end has always met it.
    const bool dispatched = outermost && debugging.debugger == nullptr;
    Batch& b = batch();
    const bool batched = dispatched && b.takes_calls();
    uc_context* context = nullptr;
    uint32_t below = 0;  // where the arguments go under
    if (outermost) {
        if (batched && b.live == this && state_spoiled) b.stop_engine();
        pending.reset();
        stopped = false;
        // A dispatcher that runs on has put the processor's state back itself.
        if (batched && b.live == this) {
            put_thread_block();
        } else {
            start_thread_state();
        }
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
    // call, then the return address: the trap (or the dispatcher's own).
    const auto count = static_cast<uint32_t>(args.size());
    const uint32_t arguments = (below - 4 * count) & ~15u;
    const uint32_t entry_esp = arguments - 4;
    const uint32_t expected_esp = convention == Convention::kStdcall ? arguments + 4 * count : arguments;
    if (entry_esp < stack_limit || entry_esp > stack_top) {
        raise(GuestFault(Kind::kWrite, entry_esp, 0, "no stack left for a call of " + hex(code)));
        throw *pending;
    }
    if (count != 0) self.memory_.copy_in(arguments, args.data(), 4 * count);
    const uint32_t return_address = dispatched ? kDispatchReturned : kReturnTrap;
    self.memory_.copy_in(entry_esp, &return_address, 4);
    if (dispatched) {
        mailbox->routine = code;
        mailbox->entry = entry_esp;
        mailbox->expected = expected_esp;
    } else {
        set_reg(UC_X86_REG_ESP, entry_esp);
    }

    // What the call must leave as it found: an outermost call finds the
    // thread's start.
    const uint32_t ebx = outermost ? kSavedEbx : reg(UC_X86_REG_EBX), esi = outermost ? kSavedEsi : reg(UC_X86_REG_ESI),
                   edi = outermost ? kSavedEdi : reg(UC_X86_REG_EDI), ebp = outermost ? kSavedEbp : reg(UC_X86_REG_EBP);
    const uint16_t control_word = outermost ? kControlWord : reg16(UC_X86_REG_FPCW);
    const uint32_t mxcsr = outermost ? kMxcsr : reg(UC_X86_REG_MXCSR);
    const int x87_before = outermost ? 0 : x87_depth();
    const uint64_t started = executed;

    ++depth;
    uc_err error = UC_ERR_OK;
    dispatch_ended = dispatch_broken = false;
    const bool translated = batched ? run_in_batch(&error) : start_engine(dispatched ? kDispatch : code, &error);
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

    // A call back at kDispatchEnd passed the dispatcher's checks: its ESP,
    // callee-saved registers and selectors are as they were. The rest, in
    // one read.
    const bool well = dispatched && dispatch_ended;
    const bool returned = well || (dispatched ? dispatch_broken : reg(UC_X86_REG_EIP) == kReturnTrap);
    uint32_t values[5] = {};  // EAX, FPCW, MXCSR, FPTAG, FPSW (zeroed: the 16-bit ones fill half)
    {
        static constexpr int kIds[] = {UC_X86_REG_EAX, UC_X86_REG_FPCW, UC_X86_REG_MXCSR, UC_X86_REG_FPTAG,
                                       UC_X86_REG_FPSW};
        void* cells[] = {&values[0], &values[1], &values[2], &values[3], &values[4]};
        // (A value in ST(0) is the result: EAX is not read for it.)
        const int skipped = floating ? 1 : 0;
        uc_reg_read_batch(uc, const_cast<int*>(kIds + skipped), cells + skipped, 5 - skipped);
    }
    const auto eax = values[0];
    const auto control_after = static_cast<uint16_t>(values[1]);
    const auto mxcsr_after = values[2];
    const auto tags = static_cast<uint16_t>(values[3]);
    const auto status = static_cast<uint16_t>(values[4]);
    report.instructions = executed - started;
    report.control_word_kept = control_after == control_word;
    report.mxcsr_kept = (mxcsr_after & kMxcsrControl) == (mxcsr & kMxcsrControl);

    const auto fail = [&](GuestFault fault) -> Result {
        if (!pending) pending.emplace(std::move(fault));
        if (context != nullptr) uc_context_restore(uc, context);
        state_spoiled = true;
        throw *pending;
    };
    if (stopped) {  // before `pending`: a host routine takes a nested call's stop for its own failure
        if (context != nullptr) uc_context_restore(uc, context);
        throw CallStopped();
    }
    if (pending) return fail(*pending);
    if (error != UC_ERR_OK) {
        const uint32_t eip = reg(UC_X86_REG_EIP);
        raise(error_fault(error, eip));  // a debugger sees it too, the engine stopped at it
        return fail(*pending);
    }
    if (!returned) {
        const uint32_t eip = reg(UC_X86_REG_EIP);
        return fail(GuestFault(Kind::kOther, eip, eip,
                               "the call of " + hex(code) + " stopped at " + hex(eip) + " before it returned"));
    }

    // Named only when a check fails: calls must not allocate.
    const auto routine = [&] { return "the routine at " + hex(code) + " (" + where(code) + ")"; };
    if (!well) {
        const uint32_t esp = reg(UC_X86_REG_ESP);
        if (esp != expected_esp) {
            const auto popped = static_cast<int64_t>(esp) - arguments;
            return fail(GuestFault(Kind::kBrokenCall, esp, 0,
                                   routine() + " returned with ESP " + hex(esp) + " where " + hex(expected_esp) +
                                       " was expected: it removed " + std::to_string(popped) +
                                       " bytes of arguments, not " + std::to_string(expected_esp - arguments) +
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
        // Else the dispatcher found a selector moved: no fault of the call
        // itself, but the next one must find the thread's own.
        state_spoiled = dispatched;
    }

    Result result;
    result.eax = eax;
    int x87_after = x87_depth_of(tags);
    if (floating) {
        const int top = (status >> 11) & 7;
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
        if (!well) {                                   // (a dispatcher that goes on empties the x87 stack itself)
            // The caller's fstp: pop ST(0).
            set_reg16(UC_X86_REG_FPSW, static_cast<uint16_t>((status & ~0x3800) | (((top + 1) & 7) << 11)));
            set_reg16(UC_X86_REG_FPTAG, static_cast<uint16_t>(tags | (3u << (2 * top))));
        }
        --x87_after;
    }
    if (x87_after != x87_before) {
        return fail(GuestFault(Kind::kBrokenCall, code, 0,
                               routine() + " left the x87 stack " + std::to_string(x87_after) + " deep where it was " +
                                   std::to_string(x87_before) + " deep"));
    }
    if (well) mailbox->reset = reset_after(control_after, mxcsr_after, tags, status, floating);
    if (context != nullptr) uc_context_restore(uc, context);
    return result;
}

// --- Batches -------------------------------------------------------------------------------

bool EmulatedMachine::Impl::run_in_batch(uc_err* error) {
    Batch& b = batch();
    b.ask = Batch::Ask::kRun;
    b.asking = this;
    b.fiber.suspend();
    *error = b.error;
    return b.translated;
}

void EmulatedMachine::Impl::dispatch_end(bool well) {
    if (depth != 1) {  // module code of a nested call came here by itself: that call ends, unreturned
        uc_emu_stop(uc);
        return;
    }
    (well ? dispatch_ended : dispatch_broken) = true;
    Batch& b = batch();
    if (!well || pending || stopped || broken || b.live != this || !b.running) {
        uc_emu_stop(uc);
        return;
    }
    b.running = false;
    b.translated = true;
    b.error = UC_ERR_OK;
    // An abort while the fiber runs the host's work is none of the engine's.
    sigjmp_buf* const guard = abort_target;
    abort_target = nullptr;
    b.fiber.resume();
    abort_target = guard;
    if (!b.done && b.ask == Batch::Ask::kRun && b.asking == this) {
        b.running = true;  // the dispatcher goes on to it
        return;
    }
    uc_emu_stop(uc);
}

void EmulatedMachine::Impl::leave_batch() noexcept {
    Batch& b = batch();
    if (b.live == this && b.fiber.on_fiber()) b.stop_engine();
    if (b.asking == this) b.asking = nullptr;
}

void EmulatedMachine::run_batched(void (*work)(void*), void* context) {
    Impl::Batch& b = Impl::batch();
    if (b.active) {
        work(context);
        return;
    }
    b.active = true;
    b.work = work;
    b.context = context;
    b.thrown = nullptr;
    b.done = false;
    b.asking = b.live = nullptr;
    b.running = false;
    b.fiber.start(&Impl::Batch::main, &b);
    b.fiber.resume();
    while (!b.done) {
        if (b.ask == Impl::Batch::Ask::kStop || b.asking == nullptr) {
            b.fiber.resume();  // nothing runs that could stop
            continue;
        }
        Impl& m = *b.asking;
        b.live = &m;
        b.running = true;
        uc_err error = UC_ERR_OK;
        const bool translated = m.start_engine(kDispatch, &error);
        b.live = nullptr;
        if (b.running) {  // the call ended the run: a fault, a stop, an abort
            b.running = false;
            b.translated = translated;
            b.error = error;
            b.fiber.resume();
        }
        // Else the run ended at a dispatcher's end for what the fiber asked next.
    }
    b.active = false;
    if (b.thrown) std::rethrow_exception(std::exchange(b.thrown, nullptr));
}

// --- The machine -------------------------------------------------------------------------

EmulatedMachine::EmulatedMachine() : EmulatedMachine(Options{}) {}

// The machine's set-up, in the order the processor needs it: memory, system
// pages, descriptor tables, the switch to ring 3, paging, the hooks; each
// step relies on those before.
EmulatedMachine::EmulatedMachine(const Options& options) : impl_(std::make_unique<Impl>(*this, options)) {
    guard_aborts();
    map_changed();
    map_address_space();
    map_system_pages();
    map_stack_and_host_memory(options);
    load_descriptor_table();
    enter_user_mode();
    set_windows_processor_state();
    add_hooks();
}

void EmulatedMachine::map_address_space() {
    Impl& m = *impl_;
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
    map_changed();
}

void EmulatedMachine::map_system_pages() {
    Impl& m = *impl_;
    // The system pages: host routines, descriptor table, thread and process blocks.
    m.reservations.emplace(kSystemBase, kSystemSize);
    m.reservations.emplace(kSystemTop, static_cast<uint32_t>(kUserEnd - kSystemTop));
    map(kTrampolines, kTrampolineSize, kRead | kExecute, "host routines");
    m.trampolines = m.arena + kTrampolines;
    std::memset(m.trampolines, 0xCC, kTrampolineSize);  // int3 wherever no routine is
    m.trampolines[kReturnTrap - kTrampolines] = 0xEB;   // jmp $
    m.trampolines[kReturnTrap - kTrampolines + 1] = 0xFE;
    map(kGdt, kPage, kRead, "descriptor table");
    m.set_pages(kGdt, kPage, kRead, false);  // the processor's, not the module's
    map(kTib, kPage, kRead | kWrite, "thread information block");
    m.tib = m.arena + kTib;
    map(kPeb, kPage, kRead | kWrite, "process environment block");
    m.mailbox = reinterpret_cast<Mailbox*>(m.arena + kMailbox);
    write_dispatcher(m.trampolines);
}

void EmulatedMachine::map_stack_and_host_memory(const Options& options) {
    Impl& m = *impl_;
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
}

void EmulatedMachine::load_descriptor_table() {
    Impl& m = *impl_;
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
    std::memcpy(m.arena + kGdt, entries, sizeof entries);
    uc_x86_mmr gdtr{};
    gdtr.base = kGdt;
    gdtr.limit = sizeof entries - 1;
    check(uc_reg_write(m.uc, UC_X86_REG_GDTR, &gdtr), "GDTR");
    m.set_reg(UC_X86_REG_CS, kKernelCode);
    m.set_reg(UC_X86_REG_SS, kKernelData);
    m.set_reg(UC_X86_REG_DS, kKernelData);
    m.set_reg(UC_X86_REG_ES, kKernelData);
}

void EmulatedMachine::enter_user_mode() {
    Impl& m = *impl_;
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
}

void EmulatedMachine::set_windows_processor_state() {
    Impl& m = *impl_;
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
    m.set_reg(UC_X86_REG_EBX, kSavedEbx);
    m.set_reg(UC_X86_REG_ESI, kSavedEsi);
    m.set_reg(UC_X86_REG_EDI, kSavedEdi);
    m.set_reg(UC_X86_REG_EBP, kSavedEbp);
    check(uc_context_alloc(m.uc, &m.clean), "context");
    check(uc_context_save(m.uc, m.clean), "context");
    m.start_thread_state();
}

void EmulatedMachine::add_hooks() {
    Impl& m = *impl_;
    uc_hook hook = 0;
    // Blocks of the host routines' page (the trap, the stubs, the
    // dispatcher: the host's own code, which a module's count leaves out)
    // call no block hook; nothing runs above it (kSystemTop). One range: each
    // hook more costs every block a test.
    check(uc_hook_add(m.uc, &hook, UC_HOOK_BLOCK, reinterpret_cast<void*>(&Impl::on_block), &m, 0, kTrampolines - 1),
          "hook");
    check(uc_hook_add(m.uc, &hook, UC_HOOK_MEM_INVALID, reinterpret_cast<void*>(&Impl::on_invalid_memory), &m, 1, 0),
          "hook");
    check(uc_hook_add(m.uc, &hook, UC_HOOK_INTR, reinterpret_cast<void*>(&Impl::on_interrupt), &m, 1, 0), "hook");
    check(uc_hook_add(m.uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(&Impl::on_system_call<kSysenter, 0x34>), &m, 1,
                      0, UC_X86_INS_SYSENTER),
          "hook");
    check(uc_hook_add(m.uc, &hook, UC_HOOK_INSN, reinterpret_cast<void*>(&Impl::on_system_call<kSyscall, 0x05>), &m, 1,
                      0, UC_X86_INS_SYSCALL),
          "hook");
    // Code hooks cost on every instruction they cover: the stubs and the
    // trap, and the dispatcher's two ends alone.
    check(
        uc_hook_add(m.uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&Impl::on_stub), &m, kReturnTrap, kDispatch - 1),
        "hook");
    for (const uint32_t end : {kDispatchEnd, kDispatchBroken}) {
        check(uc_hook_add(m.uc, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(&Impl::on_stub), &m, end, end), "hook");
    }
}

EmulatedMachine::~EmulatedMachine() {
    impl_->leave_batch();
    if (impl_->debugging.debugger != nullptr) impl_->debugging.debugger->forget(*this);
}

uint64_t EmulatedMachine::engine_starts() const { return impl_->starts; }

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
