// The allocation hook of the executables that count the host's own heap
// allocations (render_bench: what a panel update allocates). It replaces the
// process's allocation functions, so it is linked into those executables
// only, never into the host library. Module code allocates through its
// imports in the emulator, where the module's Windows counts it
// (ModuleCode::allocations()); this hook sees the host alone.
//
// The executable interposes malloc, calloc, realloc, the aligned allocators,
// strdup and strndup for the whole process (the executable comes first in
// symbol lookup, so the C++ runtime's calls land here), forwarding to the
// next definition (the C library, or the address sanitizer's allocator).
// Global operator new and delete are replaced too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "validate/probe.h"

#include <dlfcn.h>

// The hook runs before the sanitizers' own start-up is complete (the loader
// allocates early): no function here may be instrumented, hence the
// attributes on each.

namespace {

using validate::AllocationWatch;

// malloc, which operator new calls, counts it.
constexpr bool kNewCounts = false;

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void note() { AllocationWatch::note_allocation(); }

// Aligned operator new on top of plain malloc: the block handed out is
// preceded by the pointer malloc returned.
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* aligned_block(std::size_t size, std::size_t alignment) {
    if (alignment < sizeof(void*)) alignment = sizeof(void*);
    void* raw = std::malloc(size + alignment + sizeof(void*));
    if (raw == nullptr) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(raw) + sizeof(void*);
    const std::uintptr_t aligned = (start + alignment - 1) & ~(static_cast<std::uintptr_t>(alignment) - 1);
    std::memcpy(reinterpret_cast<void*>(aligned - sizeof(void*)), &raw, sizeof raw);
    return reinterpret_cast<void*>(aligned);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void free_aligned_block(void* block) {
    if (block == nullptr) return;
    void* raw = nullptr;
    std::memcpy(&raw, static_cast<char*>(block) - sizeof(void*), sizeof raw);
    std::free(raw);
}

// --- Linux: interposed C allocation functions -------------------------------------

using MallocFn = void* (*)(std::size_t);
using CallocFn = void* (*)(std::size_t, std::size_t);
using ReallocFn = void* (*)(void*, std::size_t);
using FreeFn = void (*)(void*);
using MemalignFn = void* (*)(std::size_t, std::size_t);
using PosixMemalignFn = int (*)(void**, std::size_t, std::size_t);
using StrdupFn = char* (*)(const char*);
using StrndupFn = char* (*)(const char*, std::size_t);

struct Next {
    MallocFn malloc;
    CallocFn calloc;
    ReallocFn realloc;
    FreeFn free;
    MemalignFn memalign;
    MemalignFn aligned_alloc;
    PosixMemalignFn posix_memalign;
    MallocFn valloc;
    StrdupFn strdup;
    StrndupFn strndup;
};
constinit Next g_next{};
constinit bool g_resolving = false;
constinit bool g_resolved = false;

// dlsym may allocate while the next functions are being looked up; those
// few early blocks come from here and are never freed.
alignas(16) constinit unsigned char g_early[64 * 1024] = {};
constinit std::size_t g_early_used = 0;

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* early_block(std::size_t size) {
    size = (size + 15) & ~static_cast<std::size_t>(15);
    if (size > sizeof g_early - g_early_used) return nullptr;
    void* block = g_early + g_early_used;
    g_early_used += size;
    return block;
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] bool is_early(const void* block) {
    const auto* p = static_cast<const unsigned char*>(block);
    return p >= g_early && p < g_early + sizeof g_early;
}

template <typename Function>
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] Function next(const char* name) {
    Function function = nullptr;
    void* symbol = dlsym(RTLD_NEXT, name);
    std::memcpy(&function, &symbol, sizeof function);
    return function;
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] bool resolve() {
    if (g_resolved) return true;
    if (g_resolving) return false;
    g_resolving = true;
    g_next.malloc = next<MallocFn>("malloc");
    g_next.calloc = next<CallocFn>("calloc");
    g_next.realloc = next<ReallocFn>("realloc");
    g_next.free = next<FreeFn>("free");
    g_next.memalign = next<MemalignFn>("memalign");
    g_next.aligned_alloc = next<MemalignFn>("aligned_alloc");
    g_next.posix_memalign = next<PosixMemalignFn>("posix_memalign");
    g_next.valloc = next<MallocFn>("valloc");
    g_next.strdup = next<StrdupFn>("strdup");
    g_next.strndup = next<StrndupFn>("strndup");
    g_resolving = false;
    g_resolved =
        g_next.malloc != nullptr && g_next.calloc != nullptr && g_next.realloc != nullptr && g_next.free != nullptr;
    return g_resolved;
}

constexpr AllocationWatch::Hook kHook{
    "process-wide: malloc, calloc, realloc, memalign, aligned_alloc, posix_memalign, valloc, strdup, strndup, "
    "operator new and new[]",
};

struct Installer {
    Installer() { AllocationWatch::install(&kHook); }
};
const Installer g_installer;

}  // namespace

extern "C" {

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* malloc(std::size_t size) {
    if (!resolve()) return early_block(size);
    note();
    return g_next.malloc(size);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* calloc(std::size_t count, std::size_t size) {
    if (!resolve()) {
        if (size != 0 && count > SIZE_MAX / size) return nullptr;
        return early_block(count * size);  // static storage: already zero
    }
    note();
    return g_next.calloc(count, size);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* realloc(void* block, std::size_t size) {
    if (is_early(block)) {
        void* moved = malloc(size);
        if (moved != nullptr) {
            const std::size_t room =
                static_cast<std::size_t>(g_early + sizeof g_early - static_cast<unsigned char*>(block));
            std::memcpy(moved, block, size < room ? size : room);
        }
        return moved;
    }
    if (!resolve()) return early_block(size);
    note();
    return g_next.realloc(block, size);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void free(void* block) {
    if (block == nullptr || is_early(block)) return;
    if (resolve()) g_next.free(block);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* memalign(std::size_t alignment, std::size_t size) {
    if (!resolve() || g_next.memalign == nullptr) return nullptr;
    note();
    return g_next.memalign(alignment, size);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* aligned_alloc(std::size_t alignment, std::size_t size) {
    if (!resolve() || g_next.aligned_alloc == nullptr) return nullptr;
    note();
    return g_next.aligned_alloc(alignment, size);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] int posix_memalign(void** out, std::size_t alignment,
                                                                            std::size_t size) {
    if (!resolve() || g_next.posix_memalign == nullptr) return 12;  // ENOMEM
    note();
    return g_next.posix_memalign(out, alignment, size);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* valloc(std::size_t size) {
    if (!resolve() || g_next.valloc == nullptr) return nullptr;
    note();
    return g_next.valloc(size);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] char* strdup(const char* text) {
    if (!resolve() || g_next.strdup == nullptr) return nullptr;
    note();
    return g_next.strdup(text);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] char* strndup(const char* text, std::size_t size) {
    if (!resolve() || g_next.strndup == nullptr) return nullptr;
    note();
    return g_next.strndup(text, size);
}

}  // extern "C"

// --- Global operator new and delete ----------------------------------

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* operator new(std::size_t size) {
    if (kNewCounts) note();
    if (void* block = std::malloc(size != 0 ? size : 1)) return block;
    throw std::bad_alloc();
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* operator new[](std::size_t size) {
    return ::operator new(size);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* operator new(std::size_t size,
                                                                            const std::nothrow_t&) noexcept {
    if (kNewCounts) note();
    return std::malloc(size != 0 ? size : 1);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* operator new[](std::size_t size,
                                                                              const std::nothrow_t& tag) noexcept {
    return ::operator new(size, tag);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* operator new(std::size_t size,
                                                                            std::align_val_t alignment) {
    if (kNewCounts) note();
    if (void* block = aligned_block(size, static_cast<std::size_t>(alignment))) return block;
    throw std::bad_alloc();
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* operator new[](std::size_t size,
                                                                              std::align_val_t alignment) {
    return ::operator new(size, alignment);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* operator new(std::size_t size,
                                                                            std::align_val_t alignment,
                                                                            const std::nothrow_t&) noexcept {
    if (kNewCounts) note();
    return aligned_block(size, static_cast<std::size_t>(alignment));
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void* operator new[](std::size_t size,
                                                                              std::align_val_t alignment,
                                                                              const std::nothrow_t& tag) noexcept {
    return ::operator new(size, alignment, tag);
}

[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete(void* block) noexcept {
    std::free(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete[](void* block) noexcept {
    std::free(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete(void* block,
                                                                              const std::nothrow_t&) noexcept {
    std::free(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete[](void* block,
                                                                                const std::nothrow_t&) noexcept {
    std::free(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete(void* block, std::align_val_t) noexcept {
    free_aligned_block(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete[](void* block,
                                                                                std::align_val_t) noexcept {
    free_aligned_block(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete(void* block, std::size_t,
                                                                              std::align_val_t) noexcept {
    free_aligned_block(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete[](void* block, std::size_t,
                                                                                std::align_val_t) noexcept {
    free_aligned_block(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete(void* block, std::align_val_t,
                                                                              const std::nothrow_t&) noexcept {
    free_aligned_block(block);
}
[[gnu::no_sanitize_address, gnu::no_sanitize_undefined]] void operator delete[](void* block, std::align_val_t,
                                                                                const std::nothrow_t&) noexcept {
    free_aligned_block(block);
}
