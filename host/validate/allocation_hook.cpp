// The allocation hook of the validating executable: every heap allocation it
// can see goes to AllocationWatch, which counts those made while module code
// runs. Linked into the executable only (never into the host library), since
// it replaces the process's allocation functions.
//
// Linux: the executable interposes malloc, calloc, realloc, the aligned
// allocators, strdup and strndup for the whole process (the executable comes
// first in symbol lookup, so the module's calls and the C++ runtime's land
// here), forwarding to the next definition (the C library, or the address
// sanitizer's allocator). Global operator new and delete are replaced too.
//
// Windows: a DLL's imports are bound to their DLLs, not to the executable;
// the hook patches the loaded module's import address table for the C
// runtime's allocators (msvcrt) and kernel32's heap, local, global and
// virtual allocation. A statically linked C++ runtime's operator new inside
// the module reaches malloc through that table too. The executable's own
// operator new is replaced as well.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "host/validate/probe.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#endif

// The hook runs before the sanitizers' own start-up is complete (the loader
// allocates early): no function here may be instrumented, hence the
// attributes on each.

namespace {

using bench::validate::AllocationWatch;

#ifdef _WIN32
// The host's own malloc is not hooked on Windows: operator new counts itself.
constexpr bool kNewCounts = true;
#else
// malloc, which operator new calls, counts it.
constexpr bool kNewCounts = false;
#endif

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

#ifndef _WIN32

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

std::string attach_nothing(const void*) { return {}; }

constexpr AllocationWatch::Hook kHook{
    "process-wide: malloc, calloc, realloc, memalign, aligned_alloc, posix_memalign, valloc, strdup, strndup, "
    "operator new and new[]",
    attach_nothing,
};

#else

// --- Windows: the module's import address table ----------------------------------

using MallocFn = void*(__cdecl*)(std::size_t);
using CallocFn = void*(__cdecl*)(std::size_t, std::size_t);
using ReallocFn = void*(__cdecl*)(void*, std::size_t);
using StrdupFn = char*(__cdecl*)(const char*);
using WcsdupFn = wchar_t*(__cdecl*)(const wchar_t*);
using AlignedMallocFn = void*(__cdecl*)(std::size_t, std::size_t);
using AlignedReallocFn = void*(__cdecl*)(void*, std::size_t, std::size_t);
using RecallocFn = void*(__cdecl*)(void*, std::size_t, std::size_t);
using HeapAllocFn = LPVOID(WINAPI*)(HANDLE, DWORD, SIZE_T);
using HeapReAllocFn = LPVOID(WINAPI*)(HANDLE, DWORD, LPVOID, SIZE_T);
using LocalAllocFn = HLOCAL(WINAPI*)(UINT, SIZE_T);
using LocalReAllocFn = HLOCAL(WINAPI*)(HLOCAL, SIZE_T, UINT);
using GlobalAllocFn = HGLOBAL(WINAPI*)(UINT, SIZE_T);
using GlobalReAllocFn = HGLOBAL(WINAPI*)(HGLOBAL, SIZE_T, UINT);
using VirtualAllocFn = LPVOID(WINAPI*)(LPVOID, SIZE_T, DWORD, DWORD);

// The originals, as found in the first module patched.
struct Originals {
    MallocFn malloc;
    CallocFn calloc;
    ReallocFn realloc;
    StrdupFn strdup;
    WcsdupFn wcsdup;
    AlignedMallocFn aligned_malloc;
    AlignedReallocFn aligned_realloc;
    RecallocFn recalloc;
    HeapAllocFn heap_alloc;
    HeapReAllocFn heap_realloc;
    LocalAllocFn local_alloc;
    LocalReAllocFn local_realloc;
    GlobalAllocFn global_alloc;
    GlobalReAllocFn global_realloc;
    VirtualAllocFn virtual_alloc;
};
Originals g_original{};

void* __cdecl counting_malloc(std::size_t n) {
    note();
    return g_original.malloc(n);
}
void* __cdecl counting_calloc(std::size_t a, std::size_t b) {
    note();
    return g_original.calloc(a, b);
}
void* __cdecl counting_realloc(void* p, std::size_t n) {
    note();
    return g_original.realloc(p, n);
}
char* __cdecl counting_strdup(const char* s) {
    note();
    return g_original.strdup(s);
}
wchar_t* __cdecl counting_wcsdup(const wchar_t* s) {
    note();
    return g_original.wcsdup(s);
}
void* __cdecl counting_aligned_malloc(std::size_t n, std::size_t a) {
    note();
    return g_original.aligned_malloc(n, a);
}
void* __cdecl counting_aligned_realloc(void* p, std::size_t n, std::size_t a) {
    note();
    return g_original.aligned_realloc(p, n, a);
}
void* __cdecl counting_recalloc(void* p, std::size_t n, std::size_t s) {
    note();
    return g_original.recalloc(p, n, s);
}
LPVOID WINAPI counting_heap_alloc(HANDLE h, DWORD f, SIZE_T n) {
    note();
    return g_original.heap_alloc(h, f, n);
}
LPVOID WINAPI counting_heap_realloc(HANDLE h, DWORD f, LPVOID p, SIZE_T n) {
    note();
    return g_original.heap_realloc(h, f, p, n);
}
HLOCAL WINAPI counting_local_alloc(UINT f, SIZE_T n) {
    note();
    return g_original.local_alloc(f, n);
}
HLOCAL WINAPI counting_local_realloc(HLOCAL p, SIZE_T n, UINT f) {
    note();
    return g_original.local_realloc(p, n, f);
}
HGLOBAL WINAPI counting_global_alloc(UINT f, SIZE_T n) {
    note();
    return g_original.global_alloc(f, n);
}
HGLOBAL WINAPI counting_global_realloc(HGLOBAL p, SIZE_T n, UINT f) {
    note();
    return g_original.global_realloc(p, n, f);
}
LPVOID WINAPI counting_virtual_alloc(LPVOID p, SIZE_T n, DWORD t, DWORD f) {
    note();
    return g_original.virtual_alloc(p, n, t, f);
}

struct Patchable {
    const char* dll;  // lower case
    const char* name;
    void* original_slot;  // where the original goes (a member of g_original)
    void* replacement;
};

template <typename Function>
void* as_pointer(Function function) {
    void* pointer = nullptr;
    std::memcpy(&pointer, &function, sizeof pointer);
    return pointer;
}

const Patchable kPatchable[] = {
    {"msvcrt.dll", "malloc", &g_original.malloc, as_pointer(&counting_malloc)},
    {"msvcrt.dll", "calloc", &g_original.calloc, as_pointer(&counting_calloc)},
    {"msvcrt.dll", "realloc", &g_original.realloc, as_pointer(&counting_realloc)},
    {"msvcrt.dll", "_strdup", &g_original.strdup, as_pointer(&counting_strdup)},
    {"msvcrt.dll", "_wcsdup", &g_original.wcsdup, as_pointer(&counting_wcsdup)},
    {"msvcrt.dll", "_aligned_malloc", &g_original.aligned_malloc, as_pointer(&counting_aligned_malloc)},
    {"msvcrt.dll", "_aligned_realloc", &g_original.aligned_realloc, as_pointer(&counting_aligned_realloc)},
    {"msvcrt.dll", "_recalloc", &g_original.recalloc, as_pointer(&counting_recalloc)},
    {"kernel32.dll", "HeapAlloc", &g_original.heap_alloc, as_pointer(&counting_heap_alloc)},
    {"kernel32.dll", "HeapReAlloc", &g_original.heap_realloc, as_pointer(&counting_heap_realloc)},
    {"kernel32.dll", "LocalAlloc", &g_original.local_alloc, as_pointer(&counting_local_alloc)},
    {"kernel32.dll", "LocalReAlloc", &g_original.local_realloc, as_pointer(&counting_local_realloc)},
    {"kernel32.dll", "GlobalAlloc", &g_original.global_alloc, as_pointer(&counting_global_alloc)},
    {"kernel32.dll", "GlobalReAlloc", &g_original.global_realloc, as_pointer(&counting_global_realloc)},
    {"kernel32.dll", "VirtualAlloc", &g_original.virtual_alloc, as_pointer(&counting_virtual_alloc)},
};

std::string lower(const char* text) {
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

// Points the module's import slots for the allocators at the counting
// wrappers; returns the functions it found imported and patched.
std::string attach_module(const void* address) {
    HMODULE handle = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &handle)) {
        return "the module's imports could not be found";
    }
    auto* base = reinterpret_cast<unsigned char*>(handle);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return "the module imports nothing";
    std::string patched;
    for (auto* descriptor = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         descriptor->Name != 0; ++descriptor) {
        const std::string dll = lower(reinterpret_cast<const char*>(base + descriptor->Name));
        if (descriptor->OriginalFirstThunk == 0) continue;  // names unknown: nothing to match
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + descriptor->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA32*>(base + descriptor->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if ((names->u1.Ordinal & IMAGE_ORDINAL_FLAG32) != 0) continue;
            const auto* by_name = reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            const char* name = reinterpret_cast<const char*>(by_name->Name);
            for (const Patchable& entry : kPatchable) {
                if (dll != entry.dll || std::strcmp(name, entry.name) != 0) continue;
                void* current = reinterpret_cast<void*>(static_cast<std::uintptr_t>(slots->u1.Function));
                if (current == entry.replacement) break;
                void* saved = nullptr;
                std::memcpy(&saved, entry.original_slot, sizeof saved);
                if (saved == nullptr) {
                    std::memcpy(entry.original_slot, &current, sizeof current);
                } else if (saved != current) {
                    break;  // bound to another copy than the one the wrappers call
                }
                DWORD protection = 0;
                if (!VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &protection)) break;
                slots->u1.Function = static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(entry.replacement));
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, protection, &protection);
                patched += patched.empty() ? "" : ", ";
                patched += entry.name;
                break;
            }
        }
    }
    return patched.empty() ? "the module imports none of the heap functions"
                           : "the module's imports counted: " + patched;
}

constexpr AllocationWatch::Hook kHook{
    "the module's imported allocators (msvcrt malloc, calloc, realloc, _strdup, _wcsdup, _aligned_malloc, "
    "_aligned_realloc, _recalloc; kernel32 HeapAlloc, HeapReAlloc, LocalAlloc, LocalReAlloc, GlobalAlloc, "
    "GlobalReAlloc, VirtualAlloc) and the host's operator new",
    attach_module,
};

#endif

struct Installer {
    Installer() { AllocationWatch::install(&kHook); }
};
const Installer g_installer;

}  // namespace

#ifndef _WIN32

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

#endif

// --- Global operator new and delete (both platforms) ----------------------------------

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
