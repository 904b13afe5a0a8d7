// Inside Win32Environment: the state the Windows functions share and the
// declarations of the routines that implement the rows of
// win32_functions.h, one each, named DLL_name.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "emulator/pe/pe_format.h"
#include "emulator/win32/win32_budgets.h"
#include "emulator/win32/win32_functions.h"
#include "emulator/win32/win32_heap.h"

namespace emulator::win32 {

enum class Shape : uint8_t { kEax, kEdxEax, kSt0, kVarargs, kSt0ToSt0, kSt1St0ToSt0, kSt0ToEdxEax, kCode };

// A parameter that is a guest address: a word, shown in hex where calls
// are traced.
struct Address {
    uint32_t value = 0;
    constexpr explicit Address(uint32_t word) : value(word) {}
    constexpr operator uint32_t() const { return value; }
};

// Where a Varargs routine's variable arguments begin on the guest's stack,
// after the row's parameters.
struct Varargs {
    uint32_t address = 0;
};

// What a routine of each shape hands back: EDX:EAX as 64 bits, ST(0) as a
// double, the routine's own x86 code (made once when it is bound), or EAX.
template <Shape S>
struct ShapeResult {
    using type = std::conditional_t<
        S == Shape::kCode, std::vector<uint8_t>,
        std::conditional_t<S == Shape::kEdxEax || S == Shape::kSt0ToEdxEax, uint64_t,
                           std::conditional_t<S == Shape::kSt0 || S == Shape::kSt0ToSt0 || S == Shape::kSt1St0ToSt0,
                                              double, uint32_t>>>;
};

// The Windows numbers the routines take and hand out, by name from the
// schema header.
using enum pe::MemoryFlags;
using enum pe::PageProtection;
using enum pe::HeapFlags;
using enum pe::WaitNumbers;
using enum pe::PseudoHandle;
using enum pe::ErrorCode;
using enum pe::CrtErrno;
using enum pe::CrtSignal;
using enum pe::CrtCharacterClass;
using pe::kAllOnes;
using pe::kAllocationGranularity;
using pe::kIntResourceLimit;
using pe::kCriticalSectionFree;
using pe::kCrtEof;
using pe::kCrtStreams;
using pe::kSigErr;

inline constexpr uint32_t kProcessId = 0x1000;
inline constexpr uint32_t kThreadId = 0x1004;
inline constexpr const char* kCommandLine = "gaugebench";

// The DLL a module names as this environment's name for it ("KERNEL32",
// "USER32", "msvcrt"), or nullopt for one it does not provide.
std::optional<std::string> provided_dll(std::string_view dll);
// "KERNEL32.dll!GetTickCount": how calls() and errors name a function.
std::string function_name(std::string_view provided, std::string_view name);

struct Context {
    explicit Context(EmulatedMachine& machine);

    EmulatedMachine& machine;
    GuestMemory& memory;

    // The thread's last error and errno.
    uint32_t last_error = kErrorSuccess;
    uint32_t errno_cell();
    void set_errno(int32_t value);
    // Stops the call: the module asked for something that ends it.
    [[noreturn]] void stop(const std::string& why) const;

    // The clock: each reading moves it 1 µs, so that code waiting for it to
    // change gets there. Microseconds since the virtual start-up, and the
    // wall clock in microseconds since 1970.
    static constexpr uint64_t kStartUptime = 3'600'000'000;
    static constexpr int64_t kStartWallClock = int64_t{1'704'067'200} * 1'000'000;  // 2024-01-01 00:00 UTC
    uint64_t elapsed = 0;  // µs since the environment was made
    int64_t wall_offset = kStartWallClock;
    uint64_t read_clock() { return ++elapsed + kStartUptime; }
    int64_t wall_clock() const { return wall_offset + static_cast<int64_t>(elapsed); }
    uint64_t file_time() {
        return static_cast<uint64_t>((wall_offset + static_cast<int64_t>(++elapsed)) * 10) + 116'444'736'000'000'000;
    }

    // The heap. Blocks are tagged by heap handle; a failed allocation is 0.
    std::optional<GuestHeap> heap;
    uint32_t process_heap = 0;
    uint64_t allocations = 0;
    uint32_t heap_allocate(uint32_t size, uint32_t owner, bool zero);
    void heap_free(uint32_t address);
    uint32_t heap_reallocate(uint32_t address, uint32_t size, uint32_t owner, bool in_place_only, bool zero);
    std::optional<uint32_t> heap_size(uint32_t address);

    // Handles of kernel objects. Heaps are handles too.
    enum class ObjectKind : uint8_t { kEvent, kSemaphore, kThread, kProcess, kHeap, kLibrary, kWindow };
    struct Object {
        explicit Object(ObjectKind object_kind) : kind(object_kind) {}
        ObjectKind kind;
        bool signalled = false;
        bool manual_reset = false;
        int32_t count = 0;
        int32_t maximum = 0;
    };
    std::map<uint32_t, std::shared_ptr<Object>> objects;  // a duplicated handle shares its object
    uint32_t next_handle = 0x44;
    // The object's new handle, or 0 (the last error set) past the handle
    // budget, or the heap budget for a heap; the process heap is never refused.
    uint32_t add_object(std::shared_ptr<Object> object, bool may_refuse = true);
    Object* object(uint32_t handle);
    bool close_handle(uint32_t handle);  // false: no such handle
    uint32_t heaps = 0;                  // heap objects, the process heap among them

    // The budgets (win32_budgets.h): what the module holds against each, and
    // whether `more` of it fits; a refusal is counted and sets the row's
    // last error.
    uint64_t held(Budget budget) const;
    bool within(Budget budget, uint64_t more = 1);
    std::array<uint64_t, kBudgetCount> refused{};
    uint32_t dllonexit_entries = 0;  // exit routines kept in the module's own tables

    // Data imports and constant strings in guest memory, made once each.
    std::map<std::string, uint32_t, std::less<>> data_imports;
    std::map<std::string, uint32_t, std::less<>> texts;
    uint32_t data(std::string_view name);
    uint32_t text(std::string_view value);

    // What the module wrote: the latest kConsoleKept bytes of its console
    // output, its latest debug strings up to kDebugLinesKept of them and
    // kConsoleKept bytes in all (a module that prints every frame must not
    // fill the host's memory).
    static constexpr size_t kConsoleKept = 1u << 20;
    static constexpr size_t kDebugLinesKept = 10'000;
    std::vector<std::string> debug_output;
    size_t debug_bytes = 0;
    std::string console;
    void print(std::string_view text);
    void debug(std::string text);
    std::map<std::string, uint64_t> calls;
    // Told of every call as it begins (Win32Environment::set_call_observer).
    std::function<void(const std::string& function, const std::function<std::string()>& arguments)> observer;

    // Mapped modules and the provided DLLs' handles.
    struct Module {
        std::string name;  // file name, as mapped
        uint32_t base = 0;
        uint32_t size = 0;  // SizeOfImage
        std::function<std::optional<uint32_t>(std::string_view)> exports;
    };
    std::vector<Module> modules;
    std::map<std::string, uint32_t> dll_handles;  // provided DLL -> handle
    std::function<std::optional<uint32_t>(std::string_view dll, std::string_view name)> resolve;
    uint32_t dll_handle(const std::string& provided);
    // Lookups see only modules still mapped: a resolver standing in front
    // that does not pass module_unmapped on leaves a module's entry behind.
    bool mapped(const Module& module) const { return machine.protection(module.base).has_value(); }
    Module* module_at(uint32_t address);
    Module* module_named(std::string_view name);
    Module* module_based(uint32_t base);  // base 0: the first module mapped
    // What VirtualAlloc reserved, by base. A reserved page is mapped with no
    // access, as a committed PAGE_NOACCESS one is: only `committed` tells
    // them apart (VirtualProtect and VirtualQuery do).
    struct VirtualBlock {
        uint32_t size = 0;
        uint32_t protection = 0;      // PAGE_* asked for when reserving
        std::vector<bool> committed;  // a page each
    };
    std::map<uint32_t, VirtualBlock> virtual_blocks;

    std::bitset<EmulatedMachine::kTlsSlots> tls_in_use;  // indexes TlsAlloc handed out

    // What the module registered, kept and never called.
    std::vector<uint32_t> exit_routines;
    uint32_t unhandled_filter = 0;
    std::set<uint32_t> vectored_handlers;
    std::map<int32_t, uint32_t> signal_handlers;

    std::function<bool(const std::optional<std::string>&, const std::optional<std::string>&)> window_query;

    // Where a routine that returns in EDX or ST(0) leaves that part for its
    // code to load: 8 bytes of guest memory.
    uint32_t result_cell = 0;
};

// What the routines share: TRUE and FALSE, a failure with its last error,
// and words and structures of pe_format.h in guest memory, copied whole.
inline constexpr uint32_t kTrue = 1;
inline constexpr uint32_t kFalse = 0;
inline constexpr uint32_t kPageSize = EmulatedMachine::kPageSize;
inline uint32_t fail(Context& context, uint32_t error, uint32_t result = 0) {
    context.last_error = error;
    return result;
}
inline void set_u32(Context& context, uint32_t address, uint32_t value) {
    context.memory.write(GuestPtr<uint32_t>(address)) = value;
}
template <typename T>
T get(Context& context, uint32_t address) {
    T value;
    context.memory.copy_out(address, &value, sizeof value);
    return value;
}
template <typename T>
void put(Context& context, uint32_t address, const T& value) {
    context.memory.copy_in(address, &value, sizeof value);
}

// A routine's parameters: the row's, then for Varargs where the rest begin;
// a Code routine takes none (it makes code, it does not serve a call).
#define WIN32_WITH_CONTEXT(...) Context& context __VA_OPT__(, ) __VA_ARGS__
#define WIN32_PARAMETERS_Eax(parameters) WIN32_WITH_CONTEXT parameters
#define WIN32_PARAMETERS_EdxEax(parameters) WIN32_WITH_CONTEXT parameters
#define WIN32_PARAMETERS_St0(parameters) WIN32_WITH_CONTEXT parameters
#define WIN32_PARAMETERS_St0ToSt0(parameters) WIN32_WITH_CONTEXT parameters
#define WIN32_PARAMETERS_St1St0ToSt0(parameters) WIN32_WITH_CONTEXT parameters
#define WIN32_PARAMETERS_St0ToEdxEax(parameters) WIN32_WITH_CONTEXT parameters
#define WIN32_PARAMETERS_Varargs(parameters) WIN32_WITH_CONTEXT parameters, Varargs varargs
#define WIN32_PARAMETERS_Code(parameters) Context& context

#define WIN32_DECLARE(dll, name, parameters, convention, shape, note) \
    ShapeResult<Shape::k##shape>::type dll##_##name(WIN32_PARAMETERS_##shape(parameters));
WIN32_FUNCTIONS(WIN32_DECLARE)
#undef WIN32_DECLARE

// Each file of routines ends with WIN32_SIGNATURES_CHECKED(): a routine
// defined with parameters other than its row's is a second overload, whose
// address the check cannot take, so the build stops there.
#define WIN32_SIGNATURE_CHECK(dll, name, parameters, convention, shape, note) \
    static_assert(sizeof(&dll##_##name) != 0, #dll "!" #name " matches its row");
#define WIN32_SIGNATURES_CHECKED() WIN32_FUNCTIONS(WIN32_SIGNATURE_CHECK) static_assert(true)

}  // namespace emulator::win32
