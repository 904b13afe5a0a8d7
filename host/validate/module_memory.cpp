#include "host/validate/module_memory.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
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

#ifdef _WIN32

std::vector<ModuleMemory::Range> module_ranges(const void* address) {
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
    std::vector<ModuleMemory::Range> ranges;
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const DWORD size = section->Misc.VirtualSize != 0 ? section->Misc.VirtualSize : section->SizeOfRawData;
        if (size == 0 || (section->Characteristics & IMAGE_SCN_MEM_READ) == 0) continue;
        const uintptr_t begin = reinterpret_cast<uintptr_t>(base) + section->VirtualAddress;
        ranges.push_back({begin, begin + size, (section->Characteristics & IMAGE_SCN_MEM_EXECUTE) != 0});
    }
    return ranges;
}

#else

struct Search {
    uintptr_t address = 0;
    std::vector<ModuleMemory::Range> ranges;
};

int find_object(dl_phdr_info* info, size_t, void* data) {
    auto* search = static_cast<Search*>(data);
    std::vector<ModuleMemory::Range> ranges;
    bool holds_address = false;
    for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
        const ElfW(Phdr)& segment = info->dlpi_phdr[i];
        if (segment.p_type != PT_LOAD || (segment.p_flags & PF_R) == 0 || segment.p_memsz == 0) continue;
        const uintptr_t begin = info->dlpi_addr + segment.p_vaddr;
        const uintptr_t end = begin + segment.p_memsz;
        if (search->address >= begin && search->address < end) holds_address = true;
        ranges.push_back({begin, end, (segment.p_flags & PF_X) != 0});
    }
    if (!holds_address) return 0;
    search->ranges = std::move(ranges);
    return 1;
}

std::vector<ModuleMemory::Range> module_ranges(const void* address) {
    Search search;
    search.address = reinterpret_cast<uintptr_t>(address);
    dl_iterate_phdr(find_object, &search);
    return search.ranges;
}

#endif

}  // namespace

ModuleMemory ModuleMemory::of(const void* address) { return from_ranges(module_ranges(address)); }

ModuleMemory ModuleMemory::from_ranges(std::vector<Range> ranges) {
    ModuleMemory memory;
    memory.ranges_ = std::move(ranges);
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
