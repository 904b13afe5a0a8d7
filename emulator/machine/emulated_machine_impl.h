// Inside EmulatedMachine: the fixed layout of its address space and the
// state behind it, shared by the files that implement it: emulated_machine.cpp
// (set-up and calls), machine_memory.cpp (mappings and reservations) and
// machine_faults.cpp (faults and the hooks that report them). Nothing outside
// emulator/ includes it: it hands out host memory behind guest addresses.
#pragma once

#include "emulator/machine/emulated_machine.h"
#include "emulator/pe/pe_format.h"

#include <sys/mman.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <unordered_map>
#include <vector>

namespace emulator {
namespace machine_detail {

using Kind = GuestFault::Kind;

// --- The fixed layout ---------------------------------------------------------------

constexpr uint32_t kPage = EmulatedMachine::kPageSize;
constexpr uint32_t kGranularity = 0x10000;  // reservations start on 64 KiB, as Windows allocates
constexpr uint64_t kLowest = 0x10000;       // nothing below: null pointers fault
constexpr uint64_t kUserEnd = 0x80000000u;  // the top of a 32-bit Windows process's memory
// The engine's TLB is indexed by page number modulo 256 (a few entries more
// for what it evicts): the stack's top page, which every call writes, must
// not share its index with the other pages each call touches, the host
// memory's first (the panel service table: 0x01000, index 0x00), the
// module's image (0x10000 on: 0x00 and up), the host routines' (0x7FFC0 and
// 0x7FFCF) and the thread block (0x7FFDE). A stack reserved at 0x00100000 put
// its top page at 0x00200, index 0x00: two misses a call, a tenth of a
// panel update's cost. Here its top page is 0x00280, index 0x80.
constexpr uint32_t kStackPreferred = 0x00180000;
constexpr uint32_t kHostMemoryPreferred = 0x01000000;

constexpr uint32_t kSystemBase = 0x7FFC0000;  // one reservation for what follows
constexpr uint32_t kSystemSize = 0x00020000;
// Above the system pages, to the end of the module's memory, nothing is ever
// mapped (on Windows: the shared user data and a no-access range): the
// block hook that counts module code covers only what lies below the host
// routines' page.
constexpr uint32_t kSystemTop = kSystemBase + kSystemSize;
constexpr uint32_t kTrampolines = 0x7FFC0000;  // the host routines' pages (read, execute)
constexpr uint32_t kTrampolineSize = 0x10000;
// Every call returns here: a `jmp $` whose code hook stops the emulation.
// (Unicorn's own `until` costs a translation per call; a trap at a page's
// start would also touch the page before it.)
constexpr uint32_t kReturnTrap = kTrampolines + 0x10;
constexpr uint32_t kBootstrap = kTrampolines + 0x40;
// An outermost call on a machine no debugger holds goes through the
// dispatcher instead: code of the machine's own at the end of the host
// routines' page that jumps to the routine its mailbox names, on the stack
// the mailbox gives (the host has put the return address there), and checks
// that it came back with ESP where the mailbox
// expects it, the callee-saved registers and the selectors as an outermost
// call starts with them: then it reaches kDispatchEnd, else kDispatchBroken
// (where the host reads the registers and says what broke). A code hook on
// either ends the call. Where the host has more calls for the machine the
// run goes on from kDispatchEnd: the dispatcher puts back the thread state
// the next call starts with (an empty x87 stack, the control words, the
// direction flag, EAX, ECX and EDX zero; of the x87 unit as much as the
// mailbox's reset asks) and makes the call. Many calls in
// one start of the engine, nothing stored on the way (each store of guest
// code takes Unicorn 2.0's slow path) and few registers read through the
// engine's interface (each costs as much as a few guest instructions).
// The mailbox lies in the page too: the host writes it, the dispatcher only
// reads it.
constexpr uint32_t kMailbox = kTrampolines + 0x20;          // routine, arguments, expected ESP
constexpr uint32_t kThreadConstants = kTrampolines + 0x30;  // the x87 control word, MXCSR
constexpr uint32_t kDispatch = kTrampolines + kTrampolineSize - 0x100;
constexpr uint32_t kDispatchReturned = kDispatch + 28;  // where each call returns to
constexpr uint32_t kDispatchEnd = kDispatch + 115;      // (emulated_machine.cpp writes the code and checks both)
constexpr uint32_t kDispatchBroken = kDispatch + 165;
constexpr uint32_t kStubs = kTrampolines + 0x100;
constexpr uint32_t kStubSize = 8;
constexpr uint32_t kMaxRoutines = (kDispatch - kStubs) / kStubSize;
constexpr uint32_t kGdt = 0x7FFD0000;
constexpr uint32_t kTib = 0x7FFDE000;
constexpr uint32_t kPeb = 0x7FFDF000;
constexpr uint32_t kTlsArrayOffset = pe::kTebTlsSlots;

// Guest memory is one flat 4 GiB of host address space (reserved, committed
// only where touched), mapped whole into Unicorn. What the module may touch
// is decided by the guest's own page tables (32-bit paging): a page not
// present, or written while read-only, raises a page fault that the
// processor reports at the very instruction, where Unicorn's own checks
// would name only the start of its translated block. Execution rights stay
// Unicorn's (32-bit paging has no NX bit): only executable mappings are
// executable in Unicorn's map. The page directory and tables lie at the top
// of the address space, which no page table entry maps.
constexpr uint64_t kAddressSpace = uint64_t{1} << 32;
constexpr uint32_t kPageDirectory = 0xFFBFF000;
constexpr uint32_t kPageTables = 0xFFC00000;   // table i maps [i << 22, (i + 1) << 22)
constexpr uint32_t kScratchPage = 0xFFBFE000;  // zeroes, lent to a faulting access to tell read from write
constexpr uint32_t kPtePresent = 1, kPteWritable = 2, kPteUser = 4;
constexpr uint32_t kCr0Paging = 0x80000000u, kCr0WriteProtect = 0x00010000u;
constexpr uint32_t kTrapFlag = 0x100;
constexpr uint32_t kPageFault = 14, kDoubleFault = 8;  // (and a debug trap, 1, after a probed read)
// Windows' kernel entry before sysenter.
constexpr int kSystemCallVector = 0x2E;
constexpr char kSysenter[] = "sysenter";
constexpr char kSyscall[] = "syscall";


// How much of the floating-point state the dispatcher puts back before the
// next call, as the host found the last one's: each of fldcw and ldmxcsr
// costs the engine as much as a score of guest instructions, and most calls
// keep both words and leave at most their value on the x87 stack.
enum Reset : uint32_t {
    kResetFlags = 0,  // the exception flags alone (the condition codes stay as the call left them)
    kResetPop = 1,    // the call's value popped, then the flags
    kResetAll = 2,    // fninit, the control word, MXCSR (any other value: the same)
};

// The dispatcher's mailbox, as it lies in guest memory.
struct Mailbox {
    uint32_t routine;   // what the next call calls
    uint32_t entry;     // ESP at the routine's entry: the return address, then the arguments
    uint32_t expected;  // ESP as the call must come back with it
    uint32_t reset;     // Reset: what the last call left (its low byte read)
};
static_assert(sizeof(Mailbox) <= kThreadConstants - kMailbox);

// Descriptor table entries and selectors: Windows' own selectors for user
// code, data and the TEB; two ring-0 entries for the switch to ring 3.
constexpr int kGdtEntries = 8;
constexpr uint16_t kKernelCode = 0x08;
constexpr uint16_t kKernelData = 0x10;
constexpr uint16_t kUserCode = 0x1B;
constexpr uint16_t kUserData = 0x23;
constexpr uint16_t kTebSelector = 0x3B;

// Windows' thread state for every outermost call.
constexpr uint16_t kControlWord = 0x027F;
constexpr uint32_t kMxcsr = 0x1F80;
constexpr uint32_t kMxcsrControl = 0xFFC0;  // masks, rounding, DAZ, FZ: not the sticky exception flags
constexpr uint16_t kEmptyTags = 0xFFFF;
constexpr uint32_t kInitialFlags = 0x202;

// What the callee-saved registers hold when an outermost call starts: values
// no pointer is, so that module code leaning on them faults.
constexpr uint32_t kSavedEbx = 0xB0B0B0B0u;
constexpr uint32_t kSavedEsi = 0x5E5E5E5Eu;
constexpr uint32_t kSavedEdi = 0xD1D1D1D1u;
constexpr uint32_t kSavedEbp = 0xEBEBEBEBu;
constexpr uint32_t kFrameRoom = 64;  // between the stack's top and the first call's arguments

// What an instruction of module code costs the host, on average, as the
// engine runs a loop: the rate at which a routine's own time is charged.
constexpr uint64_t kHostNanosecondsPerInstruction = 20;

inline uint64_t round_up(uint64_t value, uint64_t to) { return (value + to - 1) / to * to; }

// A data or code descriptor (32-bit, present).
inline uint64_t descriptor(uint32_t base, uint32_t limit, bool code, int privilege) {
    const bool pages = limit > 0xFFFFF;
    if (pages) limit >>= 12;
    const uint64_t access = (code ? 0xBu : 0x3u) | 0x10u | (static_cast<uint64_t>(privilege) << 5) | 0x80u;
    const uint64_t flags = pages ? 0xC : 0x4;  // 32-bit, granularity
    return (limit & 0xFFFF) | (uint64_t{base & 0xFFFFFF} << 16) | (access << 40) |
           (uint64_t{(limit >> 16) & 0xF} << 48) | (flags << 52) | (uint64_t{base >> 24} << 56);
}

inline void check(uc_err error, const char* what) {
    if (error != UC_ERR_OK) throw std::runtime_error(std::string("emulator: ") + what + ": " + uc_strerror(error));
}

struct Mapping {
    uint32_t size = 0;
    uint8_t protection = 0;
    std::string name;
};

struct Routine {
    std::string name;
    uint32_t arg_words = 0;
    Machine::HostRoutine serve;
};

// Checked by every machine at each block it runs: an atomic load, no lock,
// where uc_emu_stop from another thread would race with the engine's start.
extern std::atomic<bool> g_stop_calls;

// Counts every change of any engine's map of memory (opened, closed, a
// region mapped or its protection changed, which splits Unicorn's RAM
// blocks): what unicorn_code_lookup.cpp keeps is good for one count.
extern std::atomic<uint64_t> g_map_generation;
inline void map_changed() { g_map_generation.fetch_add(1, std::memory_order_acq_rel); }

}  // namespace machine_detail

using namespace machine_detail;  // the implementation files read the layout unqualified

struct EmulatedMachine::Impl {
    EmulatedMachine& self;
    Options options;
    uc_engine* uc = nullptr;
    uint8_t* arena = nullptr;                   // guest address a is arena[a]
    uc_context* clean = nullptr;                // the thread state every outermost call starts from
    std::vector<uc_context*> saved;             // one per nesting level
    std::map<uint32_t, Mapping> mappings;       // by base; they never overlap
    std::map<uint32_t, uint32_t> reservations;  // base -> size
    uint64_t mapped_bytes = 0;                  // the mappings' sizes, summed
    uint64_t memory_limit = UINT64_MAX;
    std::vector<Routine> routines;
    std::unordered_map<uint32_t, uint32_t> block_instructions;  // a translated block's instruction count
    struct RecentBlock {
        uint32_t address = 0;
        uint32_t count = 0;  // 0: empty
    };
    // Every block run asks for its count: a direct-mapped cache in front of
    // the map, large enough that a panel's few hundred blocks rarely share
    // a slot.
    static constexpr size_t kRecentBlocks = 16384;
    std::array<RecentBlock, kRecentBlocks> recent_blocks{};
    static size_t recent_slot(uint32_t address) { return (address ^ (address >> 14)) % kRecentBlocks; }
    uint8_t* trampolines = nullptr;
    uint8_t* tib = nullptr;
    Mailbox* mailbox = nullptr;
    uint32_t stack_limit = 0;  // lowest stack address; the guard page lies below it
    uint32_t stack_top = 0;
    uint32_t host_memory = 0;
    uint32_t host_memory_size = 0;
    uint32_t host_memory_used = 0;
    std::array<bool, kTlsSlots> tls_taken{};

    uint32_t depth = 0;   // calls in progress
    uint64_t starts = 0;  // of the engine
    // The running outermost call came back to the dispatcher: to kDispatchEnd (well) or kDispatchBroken.
    bool dispatch_ended = false;
    bool dispatch_broken = false;
    // The thread state the next call of a running dispatcher would find is
    // not one the dispatcher puts right (a call failed its checks, moved a
    // selector): the run ends, and the next call starts afresh.
    bool state_spoiled = false;
    uint64_t executed = 0;       // instructions, in all
    uint32_t block_address = 0;  // the module's block running now, as the block hook saw it
    uint32_t block_size = 0;
    uint64_t outermost_start = 0;  // `executed` when the outermost call began
    // The host's own work in the routines module code called during the
    // outermost call, in instructions' worth: a storm of calls that each cost
    // the host far more than their few instructions meets the budget as soon
    // as a loop that never ends would.
    uint64_t host_charged = 0;
    uint64_t host_calls = 0;     // routines served in the outermost call
    uint64_t nested_starts = 0;  // calls made from inside host routines, in all
    const Routine* last_served = nullptr;
    uint64_t spent() const { return executed - outermost_start + host_charged; }
    void charge_host_work(const Routine& routine, std::chrono::steady_clock::time_point began,
                          uint64_t executed_before);
    GuestFault budget_fault(uint32_t at) const;
    std::optional<GuestFault> pending;  // what ends the outermost call
    std::optional<std::string> broken;  // why Unicorn can run no more code
    bool stopped = false;               // the outermost call is cut short by stop_all_calls()
    CallReport report;

    // A page fault on a page the module may not read: the access is tried
    // again, single-stepped, on a page of zeroes it may only read; a second
    // fault means it writes.
    struct Probe {
        bool active = false;
        uint32_t address = 0;  // the faulting address
        uint32_t pc = 0;       // the faulting instruction
        uint32_t entry = 0;    // its page's own table entry
    } probe;

    // A debugger's hold (emulator/machine/debugger.h; machine_debugging.cpp). A stop
    // inside a code or block hook restarts the instruction it stopped before
    // (a new EIP ends the translated block), so that breakpoints set and the
    // trap flag raised meanwhile apply to it; the restarted instruction's own
    // hooks pass once. A watched access is reported after its instruction: the
    // engine finishes the instruction before the restart takes effect, so
    // the machine as it was before it (registers, and the bytes it stored in
    // watched ranges, where running it twice would not give the same) is put
    // back when the restart begins; it then runs again, alone, and the trap
    // reports it.
    struct Debugging {
        Debugger* debugger = nullptr;
        std::map<uint32_t, uc_hook> breakpoints;
        struct Watch {
            uint32_t address = 0, length = 0;
            WatchKind kind = WatchKind::kWrite;
            auto operator<=>(const Watch&) const = default;
        };
        std::map<Watch, std::array<uc_hook, 2>> watches;  // a read hook, a write hook (either may be 0)
        std::optional<StopSignal> requested;  // a stop at the next block
        bool stepping = false;                // the trap flag is the debugger's
        std::optional<uint32_t> restarted;    // the instruction restarted after a stop
        uint32_t restart_blocks = 0;          // blocks begun since that restart
        std::optional<DebugStop> watched;     // a watch hit, reported at the trap after its instruction
        uc_hook every_instruction = 0;        // while anything is watched
        struct Undo {
            uc_context* registers = nullptr;  // before the watched instruction
            struct Store {
                uint32_t address = 0;
                std::vector<uint8_t> bytes;  // what was there before
            };
            std::vector<Store> stores;  // into watched ranges, in order
            bool pending = false;
        } undo;
        uint32_t polls = 0;
    } debugging;

    // Blocks run, by address, while counting (count_blocks).
    bool counting_blocks = false;
    std::unordered_map<uint32_t, BlockCount> block_runs;

    explicit Impl(EmulatedMachine& machine, const Options& o) : self(machine), options(o) {}

    ~Impl() {
        map_changed();
        if (uc != nullptr) {
            for (uc_context* context : saved) uc_context_free(context);
            if (clean != nullptr) uc_context_free(clean);
            if (debugging.undo.registers != nullptr) uc_context_free(debugging.undo.registers);
            uc_close(uc);
        }
        if (arena != nullptr) munmap(arena, kAddressSpace);
    }

    // --- Page tables --------------------------------------------------------------

    uint32_t& page_entry(uint32_t address) {
        auto* directory = reinterpret_cast<uint32_t*>(arena + kPageDirectory);
        const uint32_t table = address >> 22;
        if ((directory[table] & kPtePresent) == 0)
            directory[table] = (kPageTables + table * kPage) | kPtePresent | kPteWritable | kPteUser;
        return reinterpret_cast<uint32_t*>(arena + kPageTables + table * kPage)[(address >> 12) & 1023];
    }

    void set_pages(uint32_t base, uint64_t size, uint8_t protection, bool user = true) {
        for (uint64_t page = base; page < base + size; page += kPage) {
            uint32_t entry = 0;
            if (protection != 0) {
                entry = static_cast<uint32_t>(page) | kPtePresent | (user ? kPteUser : 0) |
                        ((protection & kWrite) ? kPteWritable : 0);
            }
            page_entry(static_cast<uint32_t>(page)) = entry;
        }
    }

    // The processor's cached translations, after the tables changed. Unicorn
    // 2.0.1 flushes them when a region's writability changes (not on a CR3
    // write through its API), so the page directory's region changes twice.
    void flush_translations() {
        map_changed();
        uc_mem_protect(uc, kPageDirectory, kPage, UC_PROT_READ);
        uc_mem_protect(uc, kPageDirectory, kPage, UC_PROT_READ | UC_PROT_WRITE);
        map_changed();
    }

    void set_executable(uint32_t base, uint64_t size, bool executable) {
        map_changed();
        const uc_err error = uc_mem_protect(uc, base, size, executable ? UC_PROT_ALL : UC_PROT_READ | UC_PROT_WRITE);
        map_changed();
        check(error, "protect");
    }

    // --- Registers --------------------------------------------------------------------

    uint32_t reg(int id) const {
        uint32_t value = 0;
        uc_reg_read(uc, id, &value);
        return value;
    }
    // 16-bit registers through a zeroed 32-bit cell, whichever width the engine takes.
    uint16_t reg16(int id) const { return static_cast<uint16_t>(reg(id)); }
    void set_reg(int id, uint32_t value) { uc_reg_write(uc, id, &value); }
    void set_reg16(int id, uint16_t value) { set_reg(id, value); }

    // Values on the x87 stack: the registers whose two tag bits are not
    // both set (empty), counted at once (std::popcount is a library call
    // on the baseline processor).
    static int x87_depth_of(uint16_t tags) {
        uint32_t empty = tags & (tags >> 1) & 0x5555u;  // a 1 in each empty register's pair
        empty = (empty & 0x3333u) + ((empty >> 2) & 0x3333u);
        empty = (empty + (empty >> 4)) & 0x0F0Fu;
        return 8 - static_cast<int>((empty + (empty >> 8)) & 0x1Fu);
    }
    int x87_depth() const { return x87_depth_of(reg16(UC_X86_REG_FPTAG)); }

    // --- Memory -----------------------------------------------------------------------

    // "(.text of Korvane.gau)", "(unmapped)": what lies at an address, for messages.
    std::string where(uint32_t address) const {
        if (address >= stack_limit - kPage && address < stack_limit) return "the stack's guard page: a stack overflow";
        auto mapping = mappings.upper_bound(address);
        if (mapping != mappings.begin()) {
            --mapping;
            if (address - mapping->first < mapping->second.size) {
                const char* access = mapping->second.protection == 0              ? "no access, "
                                     : (mapping->second.protection & kWrite) == 0 ? "read-only, "
                                                                                  : "";
                return std::string(access) + mapping->second.name;
            }
        }
        if (address < kLowest) return "unmapped: a null pointer?";
        return "unmapped";
    }

    // Up to four bytes of code at `pc`, for messages ("0F 0B").
    std::string code_bytes(uint32_t pc) const {
        std::string text;
        for (uint32_t i = 0; i < 4; ++i) {
            const Region* region = self.memory_.find(pc + i, 1);
            if (region == nullptr) break;
            char byte[8];
            std::snprintf(byte, sizeof byte, "%s%02X", text.empty() ? "" : " ", region->host[pc + i - region->base]);
            text += byte;
        }
        return text;
    }

    void add_region(uint32_t base, const Mapping& mapping) {
        if (mapping.protection == 0) return;
        self.memory_.add(Region{base, mapping.size, arena + base, (mapping.protection & kWrite) != 0, mapping.name});
    }

    // Host memory behind [address, address + size), checked to be mapped.
    uint8_t* mapped_host(uint32_t address, uint64_t size, const char* doing) const;

    // The page table entry mapping `address`; 0 where its table is absent
    // (none is made, unlike page_entry()).
    uint32_t entry_of(uint32_t address) const {
        const auto* directory = reinterpret_cast<const uint32_t*>(arena + kPageDirectory);
        const uint32_t table = address >> 22;
        if ((directory[table] & kPtePresent) == 0) return 0;
        return reinterpret_cast<const uint32_t*>(arena + kPageTables + table * kPage)[(address >> 12) & 1023];
    }
    // Whether module code may read the page holding `address` (and run it,
    // where its mapping is executable).
    bool module_page(uint32_t address) const {
        return (entry_of(address) & (kPtePresent | kPteUser)) == (kPtePresent | kPteUser);
    }

    // The code translated from [base, base + size) goes. Unicorn looks the
    // code up through the processor's own translation, as module code
    // fetches it, and for a page module code may not fetch it raises a page
    // fault inside the engine, which module code then takes at its next
    // instruction: such pages are not asked about. protect() and unmap()
    // forget a range while it is still present, so none keeps translations
    // once module code can no longer reach it.
    void forget_code(uint32_t base, uint64_t size) {
        remove_translations(base, size);
        forget_blocks();
    }
    // forget_code() in its two parts, for many ranges before the machine's
    // own tables of blocks are emptied once.
    void remove_translations(uint32_t base, uint64_t size);
    void forget_blocks() {
        block_instructions.clear();
        recent_blocks.fill({});
    }

    // The reservation holding [base, base + size) wholly; end() when none
    // touches it; throws when one holds only part of it.
    std::map<uint32_t, uint32_t>::iterator reservation_of(uint32_t base, uint64_t size) {
        auto after = reservations.upper_bound(base);
        if (after != reservations.begin()) {
            auto holder = std::prev(after);
            const uint64_t end = uint64_t{holder->first} + holder->second;
            if (base < end) {
                if (base + size > end)
                    throw std::invalid_argument("map: " + hex(base) + " runs out of its reservation");
                return holder;
            }
        }
        if (after != reservations.end() && base + size > after->first)
            throw std::invalid_argument("map: " + hex(base) + " runs into a reservation");
        return reservations.end();
    }

    bool reservable(uint64_t base, uint64_t size) const {
        if (base < kLowest || base + size > kUserEnd) return false;
        auto after = reservations.upper_bound(static_cast<uint32_t>(base));
        if (after != reservations.end() && base + size > after->first) return false;
        if (after != reservations.begin()) {
            auto before = std::prev(after);
            if (uint64_t{before->first} + before->second > base) return false;
        }
        return true;
    }

    // Splits the mappings overlapping [base, end) so that the range's edges
    // fall between mappings; the range must be wholly mapped when `whole`.
    void split_at_edges(uint64_t base, uint64_t end, bool whole) {
        for (const uint64_t edge : {base, end}) {
            auto after = mappings.upper_bound(static_cast<uint32_t>(edge));
            if (after == mappings.begin()) continue;
            auto mapping = std::prev(after);
            const uint64_t start = mapping->first;
            if (edge <= start || edge >= start + mapping->second.size) continue;
            Mapping tail = mapping->second;
            const auto head_size = static_cast<uint32_t>(edge - start);
            tail.size -= head_size;
            self.memory_.remove(mapping->first);
            mapping->second.size = head_size;
            add_region(mapping->first, mapping->second);
            add_region(static_cast<uint32_t>(edge), tail);
            mappings.emplace(static_cast<uint32_t>(edge), std::move(tail));
        }
        if (!whole) return;
        uint64_t next = base;
        for (auto mapping = mappings.lower_bound(static_cast<uint32_t>(base));
             mapping != mappings.end() && mapping->first < end; ++mapping) {
            if (mapping->first != next) break;
            next += mapping->second.size;
        }
        if (next < end) throw std::invalid_argument("protect: " + hex(static_cast<uint32_t>(next)) + " is not mapped");
    }

    // --- Faults -----------------------------------------------------------------------

    // Ends the outermost call with `fault`, a debugger first shown it at the
    // faulting instruction (with `signal`, else the one its kind stands for).
    void raise(GuestFault fault, std::optional<StopSignal> signal = std::nullopt);

    // --- A debugger's stops (machine_debugging.cpp) ----------------------------------------

    // `before_instruction`: from a code or block hook (else the processor's
    // own exception or trap, after which the machine looks its code up anew).
    void debug_stop(DebugStop stop, bool before_instruction) noexcept;
    void restart_at(uint32_t pc);
    void debug_trap(uint32_t eip) noexcept;
    void undo_watched_instruction(uint32_t address) noexcept;
    void stop_following_instructions() noexcept;
    static void on_instruction(uc_engine*, uint64_t address, uint32_t size, void* data);
    bool debug_block(uint32_t address) noexcept;
    static void on_breakpoint(uc_engine*, uint64_t address, uint32_t size, void* data);
    static void on_watch(uc_engine*, uc_mem_type type, uint64_t address, int size, int64_t value, void* data);
    void detach_debugger() noexcept;
    // Every breakpoint and watch goes at once (the engine's hooks, the code
    // translated with them).
    void clear_debug_points() noexcept;

    GuestFault memory_fault(Kind kind, uint32_t address, uint32_t pc) const;

    static Kind kind_of(uc_mem_type type);

    // A page fault, reported at the very instruction. A page the module may
    // read faults only when written, even one holding the faulting
    // instruction (code writing its own bytes); code run where none may be is
    // a fetch; an access to a page it may not read at all is probed (see Probe).
    void page_fault(uint32_t address, uint32_t pc);

    void end_probe(uint32_t number, uint32_t eip);

    // The byte of guest memory at `address`, or -1 where none is mapped.
    int byte_at(uint32_t address) const;

    GuestFault interrupt_fault(uint32_t number, uint32_t eip) const;

    // Windows' own kernel entry: a module reaches Windows through its
    // imports, so one entering the kernel directly is broken or hostile.
    GuestFault system_call_fault(uint32_t eip, const char* instruction) const;

    GuestFault error_fault(uc_err error, uint32_t eip) const;

    // --- Hooks: no exception may leave them (they return through Unicorn's C) ------------

    uint32_t instructions_of(uint32_t address, uint32_t size);

    static void on_block(uc_engine*, uint64_t address, uint32_t size, void* data);
    // on_block() for a block whose count is not cached, or when anything
    // watches blocks, stops, or the budget is spent; `size` 0: counted.
    [[gnu::cold, gnu::noinline]] void block_in_full(uint32_t address, uint32_t size) noexcept;

    static bool on_invalid_memory(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* data);

    static void on_interrupt(uc_engine*, uint32_t number, void* data);

    // Unicorn runs sysenter and syscall as no-ops that only call these
    // hooks. Both end their block; before sysenter Unicorn leaves EIP where
    // it last stored it (the block's start), so the instruction is told by
    // the block's last two bytes.
    template <const char* kInstruction, uint8_t kOpcode>
    static void on_system_call(uc_engine*, void* data) {
        auto& m = *static_cast<Impl*>(data);
        try {
            const uint32_t last = m.block_address + m.block_size - 2;
            const bool at_end = m.byte_at(last) == 0x0F && m.byte_at(last + 1) == kOpcode;
            m.raise(m.system_call_fault(at_end ? last : m.reg(UC_X86_REG_EIP), kInstruction));
        } catch (...) {
            m.stop_for_host_error("reporting a system call");
        }
    }

    static void on_stub(uc_engine* uc, uint64_t address, uint32_t, void* data);

    void stop_for_host_error(const char* doing);

    // Runs a host routine: its arguments from the guest stack, its result in
    // EAX; the stub's own `ret` then returns to module code.
    void serve(const Routine& routine, uint32_t stub);

    // --- Calls --------------------------------------------------------------------------

    struct Result {
        uint32_t eax = 0;
        double value = 0.0;
    };

    Result call(uint32_t code, std::span<const uint32_t> args, Convention convention, bool floating);
    void start_thread_state();
    void put_thread_block();
    // uc_emu_start with Unicorn's abort caught: false when it aborted.
    bool start_engine(uint32_t begin, uc_err* error);

    // --- Calls of a batch (EmulatedMachine::run_batched) -------------------------------

    struct Batch;
    static Batch& batch();
    // Runs the outermost call the mailbox holds through the batch's
    // engine: this machine's dispatcher, running already or started anew.
    bool run_in_batch(uc_err* error);
    // The code hook at kDispatchEnd (well: it may go on) and kDispatchBroken.
    void dispatch_end(bool well);
    // A machine going away leaves the batch's engine.
    void leave_batch() noexcept;
};

}  // namespace emulator
