// The x86 emulator the bench host runs PE32 modules in (Unicorn 2, i386
// mode), inside the host's own process on any processor. Its memory is the
// module's whole world: what is not mapped faults, read-only sections stay
// read-only, only executable mappings run, and the host's views (memory())
// see exactly the regions the module sees, with the same writability.
// Module code runs at user privilege (ring 3) under the machine's own page
// tables: privileged instructions fault as on Windows, and a fault names the
// very instruction that made it (Unicorn's own memory checks name only the
// start of a translated block).
//
// Each outermost call starts with Windows' thread state: x87 control word
// 0x027F (53-bit precision), MXCSR 0x1F80, an empty x87 stack with no
// exception flag set (in a batch, the condition codes as the call before
// left them, as on a thread that ran other code first), its own stack
// above an unmapped guard page, and FS on a thread information block (the
// exception chain's end at fs:[0], stack base and limit at fs:[4] and
// fs:[8], the self pointer at fs:[0x18], the TLS array at fs:[0x2C], the
// process block at fs:[0x30]); EBX, ESI, EDI and EBP hold values no pointer
// is. A call returns to a trap in the page of host routines (an outermost
// one, on a machine no debugger holds, to the dispatcher there: see
// run_batched); it must come back with ESP where its convention puts it,
// EBX, ESI, EDI and EBP as they were, and the x87 stack as deep as before
// (one deeper for call_double, whose value is popped), else GuestFault
// kBrokenCall. Instructions are counted per translated block (no hook on
// each instruction), and an outermost call that runs past its budget stops
// with GuestFault kBudget.
//
// Unicorn 2.0.1 aborts the process on a few encodings it cannot translate
// (lcall/ljmp through a register, lock before cmp...): the machine catches
// that abort (a SIGABRT handler it installs once, which passes every other
// abort on) and reports GuestFault kInvalidInstruction; that machine runs no
// more code (every later call is a GuestFault kOther saying so), the process
// goes on.
//
// The guest address space: nothing below 64 KiB; the stack (1 MiB by
// default) from 0x00180000 with its guard page below it; the host memory
// allocate() hands out from 0x01000000 on; module images at their preferred
// bases where free (reserve()); the host routines' page at 0x7FFC0000, the
// descriptor table at 0x7FFD0000, the thread information block at 0x7FFDE000
// and the process block at 0x7FFDF000; the page tables above 2 GiB, where the
// module reaches nothing. Guest memory is one flat reservation of host
// address space, committed only where touched.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "emulator/machine/debugger.h"
#include "emulator/machine/machine.h"

namespace emulator {

// A mapping that would take the machine past its memory limit.
class MemoryLimitError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class EmulatedMachine final : public Machine, public DebugTarget {
public:
    struct Options {
        uint64_t instruction_budget = 200'000'000;  // per outermost call
        uint32_t stack_size = 1u << 20;
        uint32_t host_memory_size = 16u << 20;  // what allocate() hands out, in all
    };
    static constexpr uint32_t kTlsSlots = 64;     // entries of the TLS array at fs:[0x2C]
    static constexpr uint32_t kMaxArgWords = 64;  // a host routine's arguments
    static constexpr uint32_t kMaxNesting = 64;   // calls in calls through host routines

    EmulatedMachine();
    explicit EmulatedMachine(const Options& options);
    ~EmulatedMachine() override;
    EmulatedMachine(const EmulatedMachine&) = delete;
    EmulatedMachine& operator=(const EmulatedMachine&) = delete;

    uint32_t call(uint32_t code, std::span<const uint32_t> args, Convention convention) override;
    double call_double(uint32_t code, std::span<const uint32_t> args, Convention convention) override;
    const CallReport& last_call() const override;
    uint32_t allocate(uint32_t size) override;
    // Each routine is a `ret` (or `ret 4n`) of its own in the host routines'
    // page; a code hook on that page alone runs `serve` before it. Throws
    // std::invalid_argument for more than kMaxArgWords arguments and
    // std::length_error when the page is full.
    uint32_t host_routine(const std::string& name, uint32_t arg_words, Convention convention,
                          HostRoutine serve) override;

    // Protections: any of them makes a page readable (as on Windows); 0 is
    // no access at all (the page stays mapped, every access faults, and the
    // host's views do not reach it).
    enum Protection : uint8_t { kRead = 1, kWrite = 2, kExecute = 4 };

    // Maps `size` bytes (rounded up to pages) at `base` (page-aligned, not
    // mapped yet) with the given protection, backed by zeroed host memory the
    // machine owns, contiguous for the whole range; `name` names the region
    // in faults and in memory(). The range must lie in one reservation
    // (reserve()), or in none, when it becomes one. Throws
    // std::invalid_argument for a range that is not free, MemoryLimitError
    // past the memory limit.
    void map(uint32_t base, uint32_t size, uint8_t protection, const std::string& name);
    // The host's own access to mapped memory, whatever the module may do
    // there: the loader fills and relocates read-only sections, the
    // environment writes its code. No host pointer into guest memory leaves
    // the machine. Throws std::invalid_argument for a range not wholly mapped.
    void load(uint32_t address, std::span<const uint8_t> bytes);
    void peek(uint32_t address, std::span<uint8_t> bytes) const;
    // Changes the protection of [base, base + size) (page-aligned, wholly
    // mapped), naming that part `name` where given; the host's views follow.
    void protect(uint32_t base, uint32_t size, uint8_t protection, const std::string& name = {});
    // Unmaps whatever is mapped in [base, base + size) and frees the
    // reservations lying wholly inside it.
    void unmap(uint32_t base, uint32_t size);
    // Reserves a free range of `size` bytes (rounded up to pages) at
    // `preferred` (rounded up to 64 KiB) where it is free, else at the first
    // free 64 KiB boundary above it, else anywhere; returns its base. Throws
    // std::runtime_error when no range is free.
    uint32_t reserve(uint32_t size, uint32_t preferred = 0x10000000);
    // As reserve(), but nullopt when no range is free: what the module asked
    // for (VirtualAlloc, the heap) fails as on Windows instead of stopping it.
    std::optional<uint32_t> try_reserve(uint32_t size, uint32_t preferred = 0x10000000);
    // Reserves exactly [base, base + size) (base on 64 KiB); false when any of
    // it is reserved or out of the module's reach (VirtualAlloc at an address).
    bool try_reserve_at(uint32_t base, uint32_t size);
    // Guest memory mapped at once, in all (images, stack, heap, what the
    // module asked for): each mapped page may cost the host a page, so the
    // limit bounds what a module can make the host hold. None by default.
    void set_memory_limit(uint64_t bytes);
    // Bytes mapped now, and how many more map() would take.
    uint64_t mapped_bytes() const;
    uint64_t memory_room() const;
    // Gives the host back the memory behind [base, base + size) (page-aligned,
    // wholly mapped), which reads as zeroes from then on: decommitted pages.
    void discard(uint32_t base, uint32_t size);
    // The protection of the page holding `address`; nullopt where nothing is
    // mapped (VirtualQuery's answer).
    std::optional<uint8_t> protection(uint32_t address) const;

    // Thread-local storage as Windows gives it: slot `index` of the TLS array
    // at fs:[0x2C] (a module's TLS block at its index, TlsAlloc's slots at
    // theirs: both take their indexes from allocate_tls_index()). Throws
    // std::out_of_range beyond kTlsSlots.
    void set_tls_slot(uint32_t index, uint32_t value);
    uint32_t tls_slot(uint32_t index) const;
    // The lowest free index of the TLS array (its slot zeroed), or nullopt
    // when all kTlsSlots are taken; release_tls_index frees one.
    std::optional<uint32_t> allocate_tls_index();
    void release_tls_index(uint32_t index);

    uint32_t thread_block() const override;
    uint32_t process_block() const;  // the process environment block's (fs:[0x30]), zeroed

    // Instructions run by module code since the machine was made.
    uint64_t instructions() const;

    // A debugger's view (DebugTarget, emulator/machine/debugger.h).
    Registers registers() const override;
    void set_registers(const Registers& registers) override;
    FloatRegisters float_registers() const override;
    void attach_debugger(Debugger* debugger) override;
    void request_debug_stop() override;
    bool ending() const override { return calls_stopping(); }
    bool set_breakpoint(uint32_t address, bool set) override;
    bool set_watchpoint(uint32_t address, uint32_t length, WatchKind kind, bool set) override;
    void clear_debug_points() override;
    bool debugger_reaches(uint32_t address, uint64_t length, DebuggerReach reach) const override;
    void debugger_read(uint32_t address, std::span<uint8_t> bytes) const override;
    void debugger_write(uint32_t address, std::span<const uint8_t> bytes) override;
    std::string describe(uint32_t address) const override;

    // Counts each block of module code run from now on (its address, size
    // in bytes and runs) until turned off: what a coverage report is made of.
    void count_blocks(bool on);
    struct BlockCount {
        uint32_t address = 0, size = 0;
        uint64_t runs = 0;
    };
    std::vector<BlockCount> block_counts() const;

    // Runs `work`, the host's own code, so that the outermost calls it makes
    // on this thread into module code (not those of host routines, nor
    // any on a machine a debugger holds) cost no start of the engine each:
    // the work runs on a stack of its own, and each call goes to the
    // machine's dispatcher (module code the machine writes into its host
    // routines' page), which runs one call after another in one start for
    // as long as the calls go to that machine and end well. A call that
    // faults, runs past its budget, is stopped or breaks its convention ends
    // as it would alone, throwing the same; only its run ends with it, and
    // the next call starts the dispatcher anew. Every call starts with the
    // thread state of an outermost call. What `work` throws comes out of
    // run_batched. Inside a batch (or a host routine) it only runs `work`.
    static void run_batched(void (*work)(void*), void* context);
    template <typename Work>
    static void batched(Work&& work) {
        run_batched([](void* w) { (*static_cast<std::remove_reference_t<Work>*>(w))(); }, &work);
    }
    // Starts of the engine on this machine, in all: what a batch saves.
    uint64_t engine_starts() const;

    // For a program told to end (SIGINT, SIGTERM) from another thread: every
    // machine's running call stops within a translated block and throws
    // CallStopped, and so does every later call until allow_calls(). Safe
    // from any thread (not from a signal handler).
    static void stop_all_calls();
    static void allow_calls();
    static bool calls_stopping();

private:
    struct Impl;
    // The constructor's steps, in its order.
    void map_address_space();
    void map_system_pages();
    void map_stack_and_host_memory(const Options& options);
    void load_descriptor_table();
    void enter_user_mode();
    void set_windows_processor_state();
    void add_hooks();

    std::unique_ptr<Impl> impl_;
};

}  // namespace emulator
