#include "host/validate/module_memory.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <unistd.h>
#endif

namespace bench::validate {

// Module data sits between the sanitizers' red zones of its globals; a list
// scanned past its end may cross one. The copy is never instrumented, and
// reads through volatile so that it is not turned into an (intercepted)
// memcpy call.
[[gnu::no_sanitize_address]] [[gnu::no_sanitize_undefined]] void copy_module_bytes(const void* from, void* to,
                                                                                   size_t size) {
    const volatile unsigned char* source = static_cast<const volatile unsigned char*>(from);
    unsigned char* target = static_cast<unsigned char*>(to);
    for (size_t i = 0; i < size; ++i) target[i] = source[i];
}

namespace {

struct Map {
    std::vector<ModuleMemory::Range> ranges;
    std::vector<ModuleMemory::Range> locked;
};

#ifdef _WIN32

bool allows_writing(DWORD protection) {
    if ((protection & (PAGE_GUARD | PAGE_NOACCESS)) != 0) return false;
    switch (protection & 0xFF) {
        case PAGE_READWRITE:
        case PAGE_WRITECOPY:
        case PAGE_EXECUTE_READWRITE:
        case PAGE_EXECUTE_WRITECOPY: return true;
        default: return false;
    }
}

// The pages' protection as it is now, region by region: what the section
// header promised is not what the loader may have left after relocating.
void add_locked_regions(uintptr_t begin, uintptr_t end, std::vector<ModuleMemory::Range>& locked) {
    for (uintptr_t at = begin; at < end;) {
        MEMORY_BASIC_INFORMATION region{};
        if (VirtualQuery(reinterpret_cast<LPCVOID>(at), &region, sizeof region) == 0) {
            locked.push_back({at, end});
            return;
        }
        const uintptr_t region_end =
            std::min(end, reinterpret_cast<uintptr_t>(region.BaseAddress) + static_cast<uintptr_t>(region.RegionSize));
        if (region_end <= at) {
            locked.push_back({at, end});
            return;
        }
        if (region.State != MEM_COMMIT || !allows_writing(region.Protect)) locked.push_back({at, region_end});
        at = region_end;
    }
}

Map module_map(const void* address) {
    HMODULE handle = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(address), &handle) ||
        handle == nullptr) {
        return {};
    }
    const auto* base = reinterpret_cast<const unsigned char*>(handle);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return {};
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return {};
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    Map map;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const DWORD size = section->Misc.VirtualSize != 0 ? section->Misc.VirtualSize : section->SizeOfRawData;
        if (size == 0 || (section->Characteristics & IMAGE_SCN_MEM_READ) == 0) continue;
        const uintptr_t begin = reinterpret_cast<uintptr_t>(base) + section->VirtualAddress;
        const bool writable = (section->Characteristics & IMAGE_SCN_MEM_WRITE) != 0;
        map.ranges.push_back({begin, begin + size, (section->Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0, writable});
        if (writable) add_locked_regions(begin, begin + size, map.locked);
    }
    return map;
}

#else

struct Search {
    uintptr_t address = 0;
    Map map;
};

// The part of a RELRO segment the loader protects once it has relocated it:
// as the dynamic loader does, both ends rounded down to whole pages (the
// last partial page stays writable).
ModuleMemory::Range relro_part(uintptr_t begin, uintptr_t end) {
    const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    return {begin - begin % page, end - end % page};
}

int find_object(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    Map map;
    bool holds_address = false;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
        const uintptr_t end = begin + segment.p_memsz;
        if (segment.p_type == PT_GNU_RELRO) {
            const ModuleMemory::Range part = relro_part(begin, end);
            if (part.begin < part.end) map.locked.push_back(part);
            continue;
        }
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_R) == 0 || segment.p_memsz == 0) continue;
        if (search->address >= begin && search->address < end) holds_address = true;
        map.ranges.push_back({begin, end, (segment.p_flags & PF_X) != 0, (segment.p_flags & PF_W) != 0});
    }
    if (!holds_address) return 0;
    search->map = std::move(map);
    return 1;
}

Map module_map(const void* address) {
    Search search;
    search.address = reinterpret_cast<uintptr_t>(address);
    dl_iterate_phdr(find_object, &search);
    return std::move(search.map);
}

#endif

}  // namespace

ModuleMemory ModuleMemory::of(const void* address) {
    Map map = module_map(address);
    return from_ranges(std::move(map.ranges), std::move(map.locked));
}

ModuleMemory ModuleMemory::from_ranges(std::vector<Range> ranges, std::vector<Range> locked) {
    ModuleMemory memory;
    memory.ranges_ = std::move(ranges);
    memory.locked_ = std::move(locked);
    std::sort(memory.ranges_.begin(), memory.ranges_.end(),
              [](const Range& a, const Range& b) { return a.begin < b.begin; });
    return memory;
}

const ModuleMemory::Range* ModuleMemory::range_of(uintptr_t address, size_t size) const {
    for (const Range& range : ranges_) {
        if (address >= range.begin && address < range.end && size <= range.end - address) return &range;
    }
    return nullptr;
}

bool ModuleMemory::holds(uintptr_t address, size_t size) const { return range_of(address, size) != nullptr; }

bool ModuleMemory::holds_data(uintptr_t address, size_t size) const {
    const Range* range = range_of(address, size);
    return range != nullptr && !range->executable;
}

bool ModuleMemory::is_code(uintptr_t address) const {
    const Range* range = range_of(address, 1);
    return range != nullptr && range->executable;
}

// A record may straddle two adjacent ranges (sections of the same kind);
// each of its bytes must be writable, and none locked.
bool ModuleMemory::writable(uintptr_t address, size_t size) const {
    if (size == 0 || address + size < address) return false;
    const uintptr_t end = address + size;
    for (uintptr_t at = address; at < end;) {
        const Range* range = range_of(at, 1);
        if (range == nullptr || !range->writable) return false;
        at = std::min(end, range->end);
    }
    return std::none_of(locked_.begin(), locked_.end(),
                        [&](const Range& locked) { return locked.begin < end && address < locked.end; });
}

bool ModuleMemory::read(uintptr_t address, void* out, size_t size) const {
    if (!holds(address, size)) return false;
    copy_module_bytes(reinterpret_cast<const void*>(address), out, size);
    return true;
}

std::optional<std::string> ModuleMemory::read_string(uintptr_t address, size_t max_length) const {
    std::string text;
    for (size_t i = 0; i <= max_length; ++i) {
        const std::optional<char> c = read<char>(address + i);
        if (!c) return std::nullopt;
        if (*c == '\0') return text;
        text += *c;
    }
    return std::nullopt;
}

}  // namespace bench::validate
