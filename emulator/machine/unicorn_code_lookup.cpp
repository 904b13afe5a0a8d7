// Unicorn 2.0 finds where a page of guest code lies in its RAM (for each
// lookup of translated code that misses its small cache by address: most
// returns, every call through a pointer) by walking its list of RAM blocks
// from the largest down. A module's code lies in a small block at the
// list's end, behind the machine's 64 MiB pieces of memory: some 600
// instructions a lookup, a tenth of a panel update. The library calls the
// function through its procedure linkage table, so this definition in the
// executable takes its place (the build exports it): the library's own
// answer, kept by host page until any machine's map of memory changes
// (map_generation), which is the only thing that moves a page's RAM offset.
#include "emulator/machine/emulated_machine_impl.h"

#include <dlfcn.h>

#if UC_API_MAJOR == 2 && UC_API_MINOR == 0
namespace {

using RamAddress = uint64_t;
constexpr RamAddress kInvalid = ~RamAddress{0};
using Lookup = RamAddress (*)(uc_engine*, void*);

Lookup library_lookup() {
    static const Lookup lookup = [] {
        Lookup found = nullptr;
        void* symbol = dlsym(RTLD_NEXT, "qemu_ram_addr_from_host_x86_64");
        std::memcpy(&found, &symbol, sizeof found);
        return found;
    }();
    return lookup;
}

struct Known {
    const uc_engine* engine = nullptr;
    uintptr_t page = 0;
    uint64_t generation = 0;
    RamAddress ram = 0;  // the page's start
};

}  // namespace

extern "C" __attribute__((visibility("default"))) RamAddress qemu_ram_addr_from_host_x86_64(uc_engine* uc, void* host) {
    constexpr uintptr_t kPageMask = emulator::machine_detail::kPage - 1;
    static thread_local std::array<Known, 256> known{};
    const auto address = reinterpret_cast<uintptr_t>(host);
    const uintptr_t page = address & ~kPageMask;
    const uint64_t generation = emulator::machine_detail::g_map_generation.load(std::memory_order_acquire);
    Known& entry = known[(page >> 12) % known.size()];
    if (entry.engine == uc && entry.page == page && entry.generation == generation) {
        return entry.ram + (address & kPageMask);
    }
    const Lookup lookup = library_lookup();
    if (lookup == nullptr) return kInvalid;
    const RamAddress ram = lookup(uc, host);
    if (ram != kInvalid) entry = {uc, page, generation, ram - (address & kPageMask)};
    return ram;
}
#endif
