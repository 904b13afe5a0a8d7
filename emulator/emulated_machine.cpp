#include "emulator/emulated_machine.h"

#include <sys/mman.h>
#include <unicorn/unicorn.h>

#include <algorithm>
#include <array>
#include <atomic>
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
namespace {

using Kind = GuestFault::Kind;

// --- The fixed layout ---------------------------------------------------------------

constexpr uint32_t kPage = EmulatedMachine::kPageSize;
constexpr uint32_t kGranularity = 0x10000;  // reservations start on 64 KiB, as Windows allocates
constexpr uint64_t kLowest = 0x10000;       // nothing below: null pointers fault
constexpr uint64_t kUserEnd = 0x80000000u;  // the top of a 32-bit Windows process's memory
constexpr uint32_t kStackPreferred = 0x00100000;
constexpr uint32_t kHostMemoryPreferred = 0x01000000;

constexpr uint32_t kSystemBase = 0x7FFC0000;  // one reservation for what follows
constexpr uint32_t kSystemSize = 0x00020000;
constexpr uint32_t kTrampolines = 0x7FFC0000;  // the host routines' pages (read, execute)
constexpr uint32_t kTrampolineSize = 0x10000;
// Every call returns here: a `jmp $` whose code hook stops the emulation.
// (Unicorn's own `until` costs a translation per call; a trap at a page's
// start would also touch the page before it.)
constexpr uint32_t kReturnTrap = kTrampolines + 0x10;
constexpr uint32_t kBootstrap = kTrampolines + 0x40;
constexpr uint32_t kStubs = kTrampolines + 0x100;
constexpr uint32_t kStubSize = 8;
constexpr uint32_t kMaxRoutines = (kTrampolineSize - (kStubs - kTrampolines)) / kStubSize;
constexpr uint32_t kGdt = 0x7FFD0000;
constexpr uint32_t kTib = 0x7FFDE000;
constexpr uint32_t kPeb = 0x7FFDF000;
constexpr uint32_t kTlsArrayOffset = 0xE10;  // where Windows keeps its TLS slots in the TEB

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

// Thread information block fields.
constexpr uint32_t kTibExceptionList = 0x00;
constexpr uint32_t kTibStackBase = 0x04;
constexpr uint32_t kTibStackLimit = 0x08;
constexpr uint32_t kTibSelf = 0x18;
constexpr uint32_t kTibTlsPointer = 0x2C;
constexpr uint32_t kTibPeb = 0x30;
constexpr uint32_t kExceptionChainEnd = 0xFFFFFFFFu;

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

uint64_t round_up(uint64_t value, uint64_t to) { return (value + to - 1) / to * to; }

// A data or code descriptor (32-bit, present).
uint64_t descriptor(uint32_t base, uint32_t limit, bool code, int privilege) {
    const bool pages = limit > 0xFFFFF;
    if (pages) limit >>= 12;
    const uint64_t access = (code ? 0xBu : 0x3u) | 0x10u | (static_cast<uint64_t>(privilege) << 5) | 0x80u;
    const uint64_t flags = pages ? 0xC : 0x4;  // 32-bit, granularity
    return (limit & 0xFFFF) | (uint64_t{base & 0xFFFFFF} << 16) | (access << 40) |
           (uint64_t{(limit >> 16) & 0xF} << 48) | (flags << 52) | (uint64_t{base >> 24} << 56);
}

void check(uc_err error, const char* what) {
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

// Checked by every machine at each block it runs: an atomic load, no lock,
// where uc_emu_stop from another thread would race with the engine's start.
std::atomic<bool> g_stop_calls{false};

}  // namespace

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
    std::array<RecentBlock, 1024> recent_blocks{};
    uint8_t* trampolines = nullptr;
    uint8_t* tib = nullptr;
    uint32_t stack_limit = 0;  // lowest stack address; the guard page lies below it
    uint32_t stack_top = 0;
    uint32_t host_memory = 0;
    uint32_t host_memory_size = 0;
    uint32_t host_memory_used = 0;
    std::array<bool, kTlsSlots> tls_taken{};

    uint32_t depth = 0;          // calls in progress
    uint64_t executed = 0;       // instructions, in all
    uint32_t block_address = 0;  // the module's block running now, as the block hook saw it
    uint32_t block_size = 0;
    uint64_t outermost_start = 0;       // `executed` when the outermost call began
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

    explicit Impl(EmulatedMachine& machine, const Options& o) : self(machine), options(o) {}

    ~Impl() {
        if (uc != nullptr) {
            for (uc_context* context : saved) uc_context_free(context);
            if (clean != nullptr) uc_context_free(clean);
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
        uc_mem_protect(uc, kPageDirectory, kPage, UC_PROT_READ);
        uc_mem_protect(uc, kPageDirectory, kPage, UC_PROT_READ | UC_PROT_WRITE);
    }

    void set_executable(uint32_t base, uint64_t size, bool executable) {
        check(uc_mem_protect(uc, base, size, executable ? UC_PROT_ALL : UC_PROT_READ | UC_PROT_WRITE), "protect");
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

    // Values on the x87 stack.
    int x87_depth() const {
        const uint16_t tags = reg16(UC_X86_REG_FPTAG);
        int depth = 0;
        for (int i = 0; i < 8; ++i) depth += ((tags >> (2 * i)) & 3) != 3;
        return depth;
    }

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

    void forget_code(uint32_t base, uint64_t size) {
        uc_ctl_remove_cache(uc, uint64_t{base}, uint64_t{base} + size);
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

    void raise(GuestFault fault) {
        if (!pending) pending.emplace(std::move(fault));
        uc_emu_stop(uc);
    }

    GuestFault memory_fault(Kind kind, uint32_t address, uint32_t pc) const {
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

    static Kind kind_of(uc_mem_type type) {
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

    // A page fault, reported at the very instruction. A page the module may
    // read faults only when written, even one holding the faulting
    // instruction (code writing its own bytes); code run where none may be is
    // a fetch; an access to a page it may not read at all is probed (see Probe).
    void page_fault(uint32_t address, uint32_t pc) {
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

    void end_probe(uint32_t number, uint32_t eip) {
        page_entry(probe.address) = probe.entry;
        flush_translations();
        set_reg(UC_X86_REG_EFLAGS, reg(UC_X86_REG_EFLAGS) & ~kTrapFlag);
        probe.active = false;
        const bool wrote = (number == kPageFault || number == kDoubleFault) && eip == probe.pc;
        raise(memory_fault(wrote ? Kind::kWrite : Kind::kRead, probe.address, probe.pc));
    }

    // The byte of guest memory at `address`, or -1 where none is mapped.
    int byte_at(uint32_t address) const {
        const Region* region = self.memory_.find(address, 1);
        return region != nullptr ? region->host[address - region->base] : -1;
    }

    GuestFault interrupt_fault(uint32_t number, uint32_t eip) const {
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
        return GuestFault(Kind::kOther, eip, eip,
                          "processor exception " + std::to_string(number) + " at " + hex(eip) + in);
    }

    // Windows' own kernel entry: a module reaches Windows through its
    // imports, so one entering the kernel directly is broken or hostile.
    GuestFault system_call_fault(uint32_t eip, const char* instruction) const {
        return GuestFault(Kind::kOther, eip, eip,
                          std::string("system call instruction (") + instruction + ") at " + hex(eip) + " (" +
                              where(eip) + "): a module calls Windows through its imports only");
    }

    GuestFault error_fault(uc_err error, uint32_t eip) const {
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

    // --- Hooks: no exception may leave them (they return through Unicorn's C) ------------

    uint32_t instructions_of(uint32_t address, uint32_t size) {
        // Every executed block asks: a direct-mapped cache in front of the map
        // answers almost all of them without hashing.
        RecentBlock& recent = recent_blocks[(address ^ (address >> 12)) % recent_blocks.size()];
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

    static void on_block(uc_engine*, uint64_t address, uint32_t size, void* data) {
        auto& m = *static_cast<Impl*>(data);
        try {
            // The trap's `jmp $` and the stubs' `ret` stand for the host's own code,
            // which a module's count leaves out.
            if (address - kTrampolines < kTrampolineSize) return;
            m.block_address = static_cast<uint32_t>(address);
            m.block_size = size;
            m.executed += m.instructions_of(static_cast<uint32_t>(address), size);
            if (g_stop_calls.load(std::memory_order_relaxed) && m.depth > 0) {
                m.stopped = true;
                uc_emu_stop(m.uc);
                return;
            }
            if (m.executed - m.outermost_start > m.options.instruction_budget && !m.pending && m.depth > 0) {
                const auto at = static_cast<uint32_t>(address);
                m.raise(GuestFault(Kind::kBudget, at, at,
                                   "ran past its budget of " + std::to_string(m.options.instruction_budget) +
                                       " instructions, at " + hex(at) + " (" + m.where(at) +
                                       "): a loop that never ends?"));
            }
        } catch (...) {
            m.stop_for_host_error("counting instructions");
        }
    }

    static bool on_invalid_memory(uc_engine*, uc_mem_type type, uint64_t address, int, int64_t, void* data) {
        auto& m = *static_cast<Impl*>(data);
        try {
            const uint32_t pc = m.reg(UC_X86_REG_EIP);
            if (!m.pending) m.pending.emplace(m.memory_fault(kind_of(type), static_cast<uint32_t>(address), pc));
        } catch (...) {
            m.stop_for_host_error("reporting a memory fault");
        }
        return false;  // not handled: the emulation stops
    }

    static void on_interrupt(uc_engine*, uint32_t number, void* data) {
        auto& m = *static_cast<Impl*>(data);
        try {
            const uint32_t eip = m.reg(UC_X86_REG_EIP);
            if (m.probe.active) {
                m.end_probe(number, eip);
            } else if (number == kPageFault && !m.pending) {
                m.page_fault(m.reg(UC_X86_REG_CR2), eip);
            } else {
                m.raise(m.interrupt_fault(number, eip));
            }
        } catch (...) {
            m.stop_for_host_error("reporting a processor exception");
        }
    }

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

    static void on_stub(uc_engine* uc, uint64_t address, uint32_t, void* data) {
        auto& m = *static_cast<Impl*>(data);
        if (address == kReturnTrap) {
            uc_emu_stop(uc);
            return;
        }
        const auto offset = static_cast<uint32_t>(address) - kStubs;
        if (address < kStubs || offset % kStubSize != 0 || offset / kStubSize >= m.routines.size()) return;
        m.serve(m.routines[offset / kStubSize]);
    }

    void stop_for_host_error(const char* doing) {
        try {
            raise(GuestFault(Kind::kOther, 0, 0, std::string("the host failed while ") + doing));
        } catch (...) {
            uc_emu_stop(uc);
        }
    }

    // Runs a host routine: its arguments from the guest stack, its result in
    // EAX; the stub's own `ret` then returns to module code.
    void serve(const Routine& routine) {
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
            const uint32_t result = routine.serve(std::span<const uint32_t>(args.data(), routine.arg_words));
            if (pending || broken) {  // module code it called failed, and it went on
                uc_emu_stop(uc);
                return;
            }
            set_reg(UC_X86_REG_EAX, result);
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
            raise(GuestFault(Kind::kOther, 0, return_address,
                             "host routine " + routine.name + " failed: " + error.what()));
        } catch (...) {
            raise(GuestFault(Kind::kOther, 0, return_address, "host routine " + routine.name + " failed"));
        }
    }

    // --- Calls --------------------------------------------------------------------------

    struct Result {
        uint32_t eax = 0;
        double value = 0.0;
    };

    Result call(uint32_t code, std::span<const uint32_t> args, Convention convention, bool floating);
    void start_thread_state();
};

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
    } else {
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
    if (error != UC_ERR_OK) return fail(error_fault(error, eip));
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
    m.trampolines = map(kTrampolines, kTrampolineSize, kRead | kExecute, "host routines");
    std::memset(m.trampolines, 0xCC, kTrampolineSize);  // int3 wherever no routine is
    m.trampolines[kReturnTrap - kTrampolines] = 0xEB;   // jmp $
    m.trampolines[kReturnTrap - kTrampolines + 1] = 0xFE;
    uint8_t* gdt = map(kGdt, kPage, kRead, "descriptor table");
    m.set_pages(kGdt, kPage, kRead, false);  // the processor's, not the module's
    m.tib = map(kTib, kPage, kRead | kWrite, "thread information block");
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

EmulatedMachine::~EmulatedMachine() = default;

uint32_t EmulatedMachine::call(uint32_t code, std::span<const uint32_t> args, Convention convention) {
    return impl_->call(code, args, convention, false).eax;
}

double EmulatedMachine::call_double(uint32_t code, std::span<const uint32_t> args, Convention convention) {
    return impl_->call(code, args, convention, true).value;
}

const CallReport& EmulatedMachine::last_call() const { return impl_->report; }

void EmulatedMachine::stop_all_calls() { g_stop_calls = true; }

void EmulatedMachine::allow_calls() { g_stop_calls = false; }

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

uint8_t* EmulatedMachine::map(uint32_t base, uint32_t size, uint8_t protection, const std::string& name) {
    Impl& m = *impl_;
    const uint64_t bytes = round_up(size, kPage);
    if (base % kPage != 0 || bytes == 0 || base + bytes > kUserEnd)
        throw std::invalid_argument("map: " + hex(base) + " + " + std::to_string(size) + " is no page range");
    auto next = m.mappings.lower_bound(base);
    if ((next != m.mappings.end() && base + bytes > next->first) ||
        (next != m.mappings.begin() && uint64_t{std::prev(next)->first} + std::prev(next)->second.size > base)) {
        throw std::invalid_argument("map: " + hex(base) + " is mapped already");
    }
    if (m.mapped_bytes + bytes > m.memory_limit) {
        throw MemoryLimitError("map: " + std::to_string(bytes) + " bytes at " + hex(base) + " would pass the " +
                               std::to_string(m.memory_limit >> 20) + " MiB the machine may map");
    }
    if (m.reservation_of(base, bytes) == m.reservations.end()) m.reservations.emplace(base, bytes);
    Mapping mapping;
    mapping.size = static_cast<uint32_t>(bytes);
    mapping.protection = protection;
    mapping.name = name;
    m.add_region(base, mapping);
    m.mappings.emplace(base, std::move(mapping));
    m.mapped_bytes += bytes;
    m.set_pages(base, bytes, protection);
    if (protection & kExecute) m.set_executable(base, bytes, true);
    m.flush_translations();
    m.forget_code(base, bytes);
    return m.arena + base;
}

void EmulatedMachine::protect(uint32_t base, uint32_t size, uint8_t protection, const std::string& name) {
    Impl& m = *impl_;
    const uint64_t end = base + round_up(size, kPage);
    if (base % kPage != 0 || end > kUserEnd) throw std::invalid_argument("protect: " + hex(base) + " is no page range");
    if (end == base) return;
    m.split_at_edges(base, end, true);
    bool was_executable = false;
    for (auto mapping = m.mappings.lower_bound(base); mapping != m.mappings.end() && mapping->first < end; ++mapping) {
        memory_.remove(mapping->first);
        was_executable = was_executable || (mapping->second.protection & kExecute) != 0;
        mapping->second.protection = protection;
        if (!name.empty()) mapping->second.name = name;
        m.add_region(mapping->first, mapping->second);
    }
    m.set_pages(base, end - base, protection);
    // (Unicorn splits its regions on every change: only where execution rights change.)
    if (was_executable || (protection & kExecute) != 0)
        m.set_executable(base, end - base, (protection & kExecute) != 0);
    m.flush_translations();
    m.forget_code(base, end - base);
}

void EmulatedMachine::unmap(uint32_t base, uint32_t size) {
    Impl& m = *impl_;
    const uint64_t end = base + round_up(size, kPage);
    if (base % kPage != 0 || end > kUserEnd) throw std::invalid_argument("unmap: " + hex(base) + " is no page range");
    m.split_at_edges(base, end, false);
    for (auto mapping = m.mappings.lower_bound(base); mapping != m.mappings.end() && mapping->first < end;) {
        memory_.remove(mapping->first);
        m.set_pages(mapping->first, mapping->second.size, 0);
        if (mapping->second.protection & kExecute) m.set_executable(mapping->first, mapping->second.size, false);
        madvise(m.arena + mapping->first, mapping->second.size, MADV_DONTNEED);  // zeroes when mapped again
        m.mapped_bytes -= mapping->second.size;
        mapping = m.mappings.erase(mapping);
    }
    for (auto reservation = m.reservations.lower_bound(base);
         reservation != m.reservations.end() && uint64_t{reservation->first} + reservation->second <= end;) {
        reservation = m.reservations.erase(reservation);
    }
    m.flush_translations();
    m.forget_code(base, end - base);
}

uint64_t EmulatedMachine::mapped_bytes() const { return impl_->mapped_bytes; }

void EmulatedMachine::set_memory_limit(uint64_t bytes) { impl_->memory_limit = bytes; }

uint64_t EmulatedMachine::memory_room() const {
    return impl_->memory_limit - std::min(impl_->mapped_bytes, impl_->memory_limit);
}

void EmulatedMachine::discard(uint32_t base, uint32_t size) {
    Impl& m = *impl_;
    const uint64_t end = base + round_up(size, kPage);
    if (base % kPage != 0 || end > kUserEnd) throw std::invalid_argument("discard: " + hex(base) + " is no page range");
    madvise(m.arena + base, end - base, MADV_DONTNEED);
    m.forget_code(base, end - base);
}

uint32_t EmulatedMachine::reserve(uint32_t size, uint32_t preferred) {
    if (const auto base = try_reserve(size, preferred)) return *base;
    const uint64_t bytes = round_up(std::max<uint32_t>(size, 1), kPage);
    throw std::runtime_error("emulator: no free range of " + std::to_string(bytes) + " bytes left");
}

std::optional<uint32_t> EmulatedMachine::try_reserve(uint32_t size, uint32_t preferred) {
    Impl& m = *impl_;
    const uint64_t bytes = round_up(std::max<uint32_t>(size, 1), kPage);
    for (uint64_t from : {round_up(std::max<uint64_t>(preferred, kLowest), kGranularity), kLowest}) {
        uint64_t candidate = from;
        while (candidate + bytes <= kUserEnd) {
            if (m.reservable(candidate, bytes)) {
                m.reservations.emplace(static_cast<uint32_t>(candidate), static_cast<uint32_t>(bytes));
                return static_cast<uint32_t>(candidate);
            }
            // Past the reservation in the way.
            auto after = m.reservations.upper_bound(static_cast<uint32_t>(candidate + bytes - 1));
            if (after == m.reservations.begin()) break;
            const auto blocking = std::prev(after);
            candidate = std::max(candidate + kGranularity,
                                 round_up(uint64_t{blocking->first} + blocking->second, kGranularity));
        }
    }
    return std::nullopt;
}

std::optional<uint8_t> EmulatedMachine::protection(uint32_t address) const {
    const Impl& m = *impl_;
    auto after = m.mappings.upper_bound(address);
    if (after == m.mappings.begin()) return std::nullopt;
    const auto mapping = std::prev(after);
    if (address - mapping->first >= mapping->second.size) return std::nullopt;
    return mapping->second.protection;
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

}  // namespace emulator
