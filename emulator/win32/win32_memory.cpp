// The KERNEL32 rows of win32_functions.h for memory: virtual memory and
// the heaps.
#include <algorithm>
#include <cstring>
#include <utility>

#include "emulator/pe/pe_format.h"
#include "emulator/win32/win32_context.h"
#include "emulator/win32/win32_guest.h"

namespace emulator::win32 {
namespace {

// --- Virtual memory --------------------------------------------------------

constexpr uint32_t kScanPages = 0x10000;  // how far VirtualQuery looks for the end of a range

// The machine's protection for a PAGE_* value, or nullopt for none.
std::optional<uint8_t> machine_protection(uint32_t page_protection) {
    using M = EmulatedMachine;
    switch (page_protection & kPageAccessMask) {  // PAGE_GUARD, PAGE_NOCACHE... change nothing here
        case kPageNoAccess: return 0;
        case kPageReadOnly: return M::kRead;
        case kPageReadWrite:
        case kPageWriteCopy: return M::kRead | M::kWrite;
        case kPageExecute:
        case kPageExecuteRead: return M::kRead | M::kExecute;
        case kPageExecuteReadWrite:
        case kPageExecuteWriteCopy: return M::kRead | M::kWrite | M::kExecute;
        default: return std::nullopt;
    }
}

// The PAGE_* value for the machine's protection (any makes a page readable).
uint32_t page_protection(uint8_t protection) {
    using M = EmulatedMachine;
    if (protection == 0) return kPageNoAccess;
    if (protection & M::kExecute) return (protection & M::kWrite) ? kPageExecuteReadWrite : kPageExecuteRead;
    return (protection & M::kWrite) ? kPageReadWrite : kPageReadOnly;
}

uint64_t page_up(uint64_t address) { return (address + kPageSize - 1) & ~uint64_t{kPageSize - 1}; }

// The end of the pages from `page` on, up to `limit`, whose protection is
// `protection` (nullopt: unmapped).
uint64_t same_protection_end(const EmulatedMachine& machine, uint32_t page, std::optional<uint8_t> protection,
                             uint64_t limit) {
    uint64_t end = uint64_t{page} + kPageSize;
    for (uint32_t scanned = 1; end < limit && scanned < kScanPages; ++scanned, end += kPageSize) {
        if (machine.protection(static_cast<uint32_t>(end)) != protection) break;
    }
    return std::min(end, limit);
}

// The VirtualAlloc block holding [start, end), if one does.
std::map<uint32_t, Context::VirtualBlock>::iterator virtual_block(Context& context, uint32_t start, uint64_t end) {
    auto it = context.virtual_blocks.upper_bound(start);
    if (it == context.virtual_blocks.begin()) return context.virtual_blocks.end();
    --it;
    return end <= uint64_t{it->first} + it->second.size ? it : context.virtual_blocks.end();
}

// The block's pages of [start, end) (page-aligned, inside it), by index.
struct PageSpan {
    size_t first, last;  // [first, last)
};
PageSpan pages_of(const std::pair<const uint32_t, Context::VirtualBlock>& block, uint32_t start, uint64_t end) {
    return {(start - block.first) / kPageSize, static_cast<size_t>((end - block.first) / kPageSize)};
}

bool all_committed(const Context::VirtualBlock& block, PageSpan span) {
    for (size_t page = span.first; page < span.last; ++page)
        if (!block.committed[page]) return false;
    return true;
}

// Commits [start, end) of `block` with `protection`: pages not committed
// yet come zeroed, those committed already keep what they hold.
void commit(Context& context, std::pair<const uint32_t, Context::VirtualBlock>& block, uint32_t start, uint64_t end,
            uint8_t protection) {
    const PageSpan span = pages_of(block, start, end);
    std::vector<bool>& committed = block.second.committed;
    for (size_t page = span.first; page < span.last;) {
        if (committed[page]) {
            ++page;
            continue;
        }
        // Each run of uncommitted pages given back at once.
        const size_t first = page;
        while (page < span.last && !committed[page]) committed[page++] = true;
        context.machine.discard(block.first + static_cast<uint32_t>(first * kPageSize),
                                static_cast<uint32_t>((page - first) * kPageSize));
    }
    context.machine.protect(start, static_cast<uint32_t>(end - start), protection);
}

// --- Heaps -----------------------------------------------------------------

uint32_t process_heap(Context& context) {
    if (context.process_heap == 0) {
        context.process_heap = context.add_object(std::make_shared<Context::Object>(Context::ObjectKind::kHeap), false);
    }
    return context.process_heap;
}

void check_heap(Context& context, const char* routine, uint32_t handle) {
    const Context::Object* object = context.object(handle);
    if (object == nullptr || object->kind != Context::ObjectKind::kHeap) {
        throw GuestFault(GuestFault::Kind::kOther, handle, 0,
                         std::string(routine) + " on " + hex(handle) + ", which is no heap handle");
    }
}

}  // namespace

// --- Virtual memory --------------------------------------------------------

uint32_t KERNEL32_VirtualQuery(Context& context, Address address, Address buffer, uint32_t buffer_size) {
    constexpr uint32_t kInfoSize = sizeof(pe::MemoryBasicInformation);
    if (buffer_size < kInfoSize) return fail(context, kErrorBadLength);
    const uint32_t page = address & ~(kPageSize - 1);
    const auto protection = context.machine.protection(page);
    pe::MemoryBasicInformation info{.base_address = page, .state = kMemCommit, .type = kMemPrivate};
    uint64_t limit = uint64_t{1} << 32;
    uint64_t end = 0;
    if (!protection) {
        info.state = kMemFree;
        info.protect = kPageNoAccess;
        info.type = 0;
    } else {
        info.protect = page_protection(*protection);
        if (const Context::Module* module = context.module_at(page)) {
            info.allocation_base = module->base;
            info.allocation_protect = kPageExecuteWriteCopy;
            info.type = kMemImage;
            limit = uint64_t{module->base} + module->size;
        } else if (const auto block = virtual_block(context, page, page + 1); block != context.virtual_blocks.end()) {
            info.allocation_base = block->first;
            info.allocation_protect = block->second.protection;
            limit = uint64_t{block->first} + block->second.size;
            // A run of pages in one state: reserved ones have no protection of their own.
            const std::vector<bool>& committed = block->second.committed;
            size_t index = pages_of(*block, page, page + kPageSize).first;
            const bool state = committed[index];
            if (!state) {
                info.state = kMemReserve;
                info.protect = 0;
            }
            end = page;
            do {
                end += kPageSize;
                ++index;
            } while (end < limit && committed[index] == state &&
                     (!state || context.machine.protection(static_cast<uint32_t>(end)) == protection));
        } else {
            const Region* region = context.memory.find(page, 1);
            info.allocation_base = region != nullptr ? region->base & ~(kPageSize - 1) : page;
            info.allocation_protect = info.protect;
            if (region != nullptr) limit = page_up(uint64_t{region->base} + region->size);
        }
    }
    if (end == 0) end = same_protection_end(context.machine, page, protection, limit);
    info.region_size = static_cast<uint32_t>(end - page);
    put(context, buffer, info);
    return kInfoSize;
}
uint32_t KERNEL32_VirtualProtect(Context& context, Address address, uint32_t size, uint32_t protect,
                                 Address old_protect) {
    const uint32_t start = address & ~(kPageSize - 1);
    const uint64_t end = page_up(uint64_t{address} + size);
    if (old_protect == 0) return fail(context, kErrorNoAccess);
    const auto protection = machine_protection(protect);
    if (!protection || size == 0) return fail(context, kErrorInvalidParameter);
    // Only memory the module owns: its own image, or pages VirtualAlloc
    // committed (reserved ones have no protection to change).
    const Context::Module* module = context.module_at(start);
    const bool in_image = module != nullptr && end <= uint64_t{module->base} + module->size;
    if (!in_image) {
        const auto block = virtual_block(context, start, end);
        if (block == context.virtual_blocks.end() || !all_committed(block->second, pages_of(*block, start, end)))
            return fail(context, kErrorInvalidAddress);
    }
    const uint32_t old = page_protection(context.machine.protection(start).value_or(0));
    context.machine.protect(start, static_cast<uint32_t>(end - start), *protection);
    set_u32(context, old_protect, old);
    return kTrue;
}
uint32_t KERNEL32_VirtualAlloc(Context& context, Address address, uint32_t length, uint32_t type, uint32_t protect) {
    const auto protection = machine_protection(protect);
    // Committing or reserving (top-down is a hint); nothing else is asked of a gauge.
    const bool known_type =
        (type & (kMemCommit | kMemReserve)) != 0 && (type & ~(kMemCommit | kMemReserve | kMemTopDown)) == 0;
    if (length == 0 || !protection || !known_type) return fail(context, kErrorInvalidParameter);
    const bool committing = (type & kMemCommit) != 0;
    if (address != 0 && (type & kMemReserve) == 0) {
        // Committing (again) pages a reservation holds: the address rounds down to its page.
        const uint32_t start = address & ~(kPageSize - 1);
        const uint64_t end = page_up(uint64_t{address} + length);
        const auto block = virtual_block(context, start, end);
        if (block == context.virtual_blocks.end()) return fail(context, kErrorInvalidAddress);
        commit(context, *block, start, end, *protection);
        return start;
    }
    // Reserving: at the address rounded down to 64 KiB, else wherever there is room.
    const uint32_t base_asked = address & ~(kAllocationGranularity - 1);
    const uint64_t size = address != 0 ? page_up(uint64_t{address} + length) - base_asked : page_up(length);
    if (size > UINT32_MAX) return fail(context, kErrorNotEnoughMemory);
    if (!context.within(Budget::kVirtualMemory, size) || !context.within(Budget::kGuestMemory, size)) return 0;
    uint32_t base = base_asked;
    if (address != 0) {
        if (!context.machine.try_reserve_at(base, static_cast<uint32_t>(size)))
            return fail(context, kErrorInvalidAddress);
    } else {
        const auto reserved = context.machine.try_reserve(static_cast<uint32_t>(size));
        if (!reserved) return fail(context, kErrorNotEnoughMemory);
        base = *reserved;
    }
    context.machine.map(base, static_cast<uint32_t>(size), 0, "VirtualAlloc " + hex(base));
    auto& block = *context.virtual_blocks
                       .insert_or_assign(base, Context::VirtualBlock{static_cast<uint32_t>(size), protect & kPageAccessMask,
                                                                     std::vector<bool>(size / kPageSize, false)})
                       .first;
    if (committing) {
        const uint32_t start = address != 0 ? address & ~(kPageSize - 1) : base;
        commit(context, block, start, address != 0 ? page_up(uint64_t{address} + length) : base + size, *protection);
    }
    return base;
}
uint32_t KERNEL32_VirtualFree(Context& context, Address address, uint32_t size, uint32_t type) {
    if (type != kMemRelease && type != kMemDecommit) return fail(context, kErrorInvalidParameter);
    const uint32_t start = address & ~(kPageSize - 1);
    const uint64_t end = page_up(uint64_t{address} + std::max(size, 1u));
    const auto block = virtual_block(context, start, end);
    if (block == context.virtual_blocks.end()) return fail(context, kErrorInvalidAddress);
    if (type == kMemRelease) {
        if (size != 0 || block->first != address) return fail(context, kErrorInvalidParameter);
        context.machine.unmap(block->first, block->second.size);
        context.virtual_blocks.erase(block);
        return kTrue;
    }
    // Decommitted pages stay reserved, out of reach until committed again,
    // zeroed then as on Windows; the host has their memory back meanwhile.
    const uint64_t decommit_end = size == 0 ? uint64_t{block->first} + block->second.size : end;
    const PageSpan span = pages_of(*block, start, decommit_end);
    std::fill(block->second.committed.begin() + static_cast<std::ptrdiff_t>(span.first),
              block->second.committed.begin() + static_cast<std::ptrdiff_t>(span.last), false);
    context.machine.protect(start, static_cast<uint32_t>(decommit_end - start), 0);
    context.machine.discard(start, static_cast<uint32_t>(decommit_end - start));
    return kTrue;
}

// --- Heaps -----------------------------------------------------------------

uint32_t KERNEL32_GetProcessHeap(Context& context) { return process_heap(context); }
uint32_t KERNEL32_HeapCreate(Context& context, uint32_t /*options*/, uint32_t /*initial_size*/,
                             uint32_t /*maximum_size*/) {
    return context.add_object(std::make_shared<Context::Object>(Context::ObjectKind::kHeap));
}
uint32_t KERNEL32_HeapDestroy(Context& context, uint32_t heap) {
    const Context::Object* object = context.object(heap);
    if (object == nullptr || object->kind != Context::ObjectKind::kHeap || heap == context.process_heap) {
        return fail(context, kErrorInvalidHandle);
    }
    if (context.heap) context.heap->release_owner(heap);
    context.close_handle(heap);
    return kTrue;
}
uint32_t KERNEL32_HeapAlloc(Context& context, uint32_t heap, uint32_t flags, uint32_t size) {
    check_heap(context, "HeapAlloc", heap);
    const uint32_t address = context.heap_allocate(size, heap, flags & 0x8);  // HEAP_ZERO_MEMORY
    return address != 0 ? address : fail(context, kErrorNotEnoughMemory);
}
uint32_t KERNEL32_HeapReAlloc(Context& context, uint32_t heap, uint32_t flags, Address block, uint32_t size) {
    check_heap(context, "HeapReAlloc", heap);
    if (block == 0) return fail(context, kErrorInvalidParameter);
    const uint32_t address = context.heap_reallocate(block, size, heap, flags & kHeapReallocInPlaceOnly, flags & kHeapZeroMemory);
    return address != 0 ? address : fail(context, kErrorNotEnoughMemory);
}
uint32_t KERNEL32_HeapFree(Context& context, uint32_t heap, uint32_t /*flags*/, Address block) {
    check_heap(context, "HeapFree", heap);
    if (block != 0) context.heap_free(block);
    return kTrue;
}
uint32_t KERNEL32_HeapSize(Context& context, uint32_t heap, uint32_t /*flags*/, Address block) {
    check_heap(context, "HeapSize", heap);
    return context.heap_size(block).value_or(kAllOnes);
}
uint32_t KERNEL32_LocalAlloc(Context& context, uint32_t flags, uint32_t size) {
    const uint32_t address = context.heap_allocate(size, process_heap(context), flags & kLocalZeroInit);
    return address != 0 ? address : fail(context, kErrorNotEnoughMemory);
}
uint32_t KERNEL32_LocalFree(Context& context, Address block) {
    if (block != 0) context.heap_free(block);
    return 0;
}
uint32_t KERNEL32_GlobalAlloc(Context& context, uint32_t flags, uint32_t size) {
    return KERNEL32_LocalAlloc(context, flags, size);
}
uint32_t KERNEL32_GlobalFree(Context& context, Address block) { return KERNEL32_LocalFree(context, block); }

WIN32_SIGNATURES_CHECKED();

}  // namespace emulator::win32
