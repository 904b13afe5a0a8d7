#include "emulator/win32/win32_heap.h"

#include "emulator/machine/guest_memory.h"
#include "emulator/win32/win32_guest.h"

namespace emulator::win32 {
namespace {

// The bytes a request takes; nullopt when rounding up would pass 4 GiB.
std::optional<uint32_t> span_for(uint32_t size) {
    const uint64_t span =
        (uint64_t{size == 0 ? 1 : size} + GuestHeap::kAlignment - 1) / GuestHeap::kAlignment * GuestHeap::kAlignment;
    if (span > UINT32_MAX) return std::nullopt;
    return static_cast<uint32_t>(span);
}

}  // namespace

GuestHeap::GuestHeap(uint32_t base, uint32_t size) : base_(base), size_(size / kAlignment * kAlignment) {
    if (size_ > 0) free_[base_] = size_;
}

std::optional<uint32_t> GuestHeap::allocate(uint32_t size, uint32_t owner) {
    const auto span = span_for(size);
    if (!span) return std::nullopt;
    for (auto it = free_.begin(); it != free_.end(); ++it) {
        if (it->second < *span) continue;
        const uint32_t address = it->first;
        const uint32_t rest = it->second - *span;
        free_.erase(it);
        if (rest > 0) free_[address + *span] = rest;
        used_[address] = Block{*span, size, owner};
        return address;
    }
    return std::nullopt;
}

void GuestHeap::release(uint32_t address) {
    const auto it = used_.find(address);
    if (it == used_.end()) {
        std::string why;
        if (!contains(address)) {
            why = "which is not in the heap";
        } else {
            auto holder = used_.upper_bound(address);
            if (holder != used_.begin() && address - std::prev(holder)->first < std::prev(holder)->second.span) {
                why = "inside the block at " + hex(std::prev(holder)->first) + ", not at its start";
            } else {
                why = "which is free already (freed twice?)";
            }
        }
        throw GuestFault(GuestFault::Kind::kOther, address, 0, "heap block " + hex(address) + " freed, " + why);
    }
    const uint32_t span = it->second.span;
    used_.erase(it);
    give_back(address, span);
}

bool GuestHeap::resize(uint32_t address, uint32_t size) {
    const auto it = used_.find(address);
    const auto span = span_for(size);
    if (it == used_.end() || !span) return false;
    Block& block = it->second;
    if (*span <= block.span) {
        give_back(address + *span, block.span - *span);
    } else {
        const auto next = free_.find(address + block.span);
        const uint32_t more = *span - block.span;
        if (next == free_.end() || next->second < more) return false;
        const uint32_t rest = next->second - more;
        free_.erase(next);
        if (rest > 0) free_[address + *span] = rest;
    }
    block.span = *span;
    block.requested = size;
    return true;
}

void GuestHeap::release_owner(uint32_t owner) {
    for (auto it = used_.begin(); it != used_.end();) {
        if (it->second.owner != owner) {
            ++it;
            continue;
        }
        const uint32_t address = it->first;
        const uint32_t span = it->second.span;
        it = used_.erase(it);
        give_back(address, span);
    }
}

std::optional<uint32_t> GuestHeap::size_of(uint32_t address) const {
    const auto it = used_.find(address);
    if (it == used_.end()) return std::nullopt;
    return it->second.requested;
}

std::optional<uint32_t> GuestHeap::owner_of(uint32_t address) const {
    const auto it = used_.find(address);
    if (it == used_.end()) return std::nullopt;
    return it->second.owner;
}

uint32_t GuestHeap::free_bytes() const {
    uint32_t total = 0;
    for (const auto& [address, bytes] : free_) total += bytes;
    return total;
}

void GuestHeap::give_back(uint32_t address, uint32_t span) {
    if (span == 0) return;
    auto next = free_.find(address + span);
    if (next != free_.end()) {
        span += next->second;
        free_.erase(next);
    }
    auto after = free_.upper_bound(address);
    if (after != free_.begin()) {
        auto before = std::prev(after);
        if (before->first + before->second == address) {
            before->second += span;
            return;
        }
    }
    free_[address] = span;
}

}  // namespace emulator::win32
