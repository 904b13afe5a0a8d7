// What module code may hold at once, per module, as a sandbox grants it:
// every row is something a module takes through the Windows functions and
// the host pays for in its own memory. Past a limit the function fails as
// Windows fails it when the system runs short (null or FALSE, the row's last
// error), and the refusal is counted, so the validator can name it. What a
// module holds goes with it: unloading it, or making the panel again, frees
// everything.
//
// X(name, label, limit, Win32 error, functions that take it, what counts)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// clang-format off
#define WIN32_BUDGETS(X) \
    X(kHandles, "handles", 10'000, 1450, "CreateEventA CreateSemaphoreA HeapCreate DuplicateHandle OpenProcess", "kernel objects open at once: events, semaphores, heaps, process and thread handles; ERROR_NO_SYSTEM_RESOURCES") \
    X(kHeaps, "heaps", 64, 8, "HeapCreate", "heaps made and not destroyed; ERROR_NOT_ENOUGH_MEMORY") \
    X(kHeapBlocks, "heap blocks", 65'536, 8, "malloc calloc realloc _strdup HeapAlloc HeapReAlloc LocalAlloc GlobalAlloc", "blocks of the module's heap allocated and not freed; ERROR_NOT_ENOUGH_MEMORY") \
    X(kVirtualMemory, "bytes of VirtualAlloc", uint64_t{128} << 20, 1455, "VirtualAlloc", "what was reserved or committed and not released; ERROR_COMMITMENT_LIMIT") \
    X(kGuestMemory, "bytes of guest memory", uint64_t{256} << 20, 1455, "VirtualAlloc", "the module's memory in all: its image, stack, heap and VirtualAlloc blocks; ERROR_COMMITMENT_LIMIT") \
    X(kRegistrations, "registrations", 1'024, 0, "atexit _onexit __dllonexit AddVectoredExceptionHandler", "exit routines and exception handlers kept; the call returns its failure value")
// clang-format on

namespace emulator {

enum class Budget : uint8_t {
#define WIN32_BUDGET_ENUM(name, label, limit, error, takers, what) name,
    WIN32_BUDGETS(WIN32_BUDGET_ENUM)
#undef WIN32_BUDGET_ENUM
};

struct BudgetInfo {
    Budget budget;
    const char* label;
    uint64_t limit;
    uint32_t error;      // the last error a refused call sets; 0: it sets none
    const char* takers;  // the functions that take it, by name, space-separated
    const char* what;
};

inline constexpr BudgetInfo kBudgets[] = {
#define WIN32_BUDGET_INFO(name, label, limit, error, takers, what) {Budget::name, label, limit, error, takers, what},
    WIN32_BUDGETS(WIN32_BUDGET_INFO)
#undef WIN32_BUDGET_INFO
};
inline constexpr size_t kBudgetCount = std::size(kBudgets);

constexpr const BudgetInfo& budget_info(Budget budget) { return kBudgets[static_cast<size_t>(budget)]; }

// What a module holds now against each budget, and how many calls each one
// refused since the module was loaded.
struct ResourceUse {
    std::array<uint64_t, kBudgetCount> held{};
    std::array<uint64_t, kBudgetCount> refused{};
};

}  // namespace emulator
