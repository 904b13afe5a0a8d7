#include "emulator/machine/guest_memory.h"

#include <algorithm>
#include <cstdio>

namespace emulator {
namespace {

bool holds(const Region& region, uint32_t address, uint64_t size) {
    return address >= region.base && uint64_t{address} - region.base + size <= region.size;
}

}  // namespace

std::string hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%08llX", static_cast<unsigned long long>(value));
    return text;
}

void GuestMemory::add(Region region) {
    for (const Region& other : regions_) {
        const bool apart =
            uint64_t{region.base} + region.size <= other.base || uint64_t{other.base} + other.size <= region.base;
        if (!apart) throw std::logic_error("guest region " + region.name + " overlaps " + other.name);
    }
    regions_.push_back(std::move(region));
    std::sort(regions_.begin(), regions_.end(), [](const Region& a, const Region& b) { return a.base < b.base; });
    found_.fill(0);
}

void GuestMemory::remove(uint32_t base) {
    std::erase_if(regions_, [base](const Region& region) { return region.base == base; });
    found_.fill(0);
}

const Region* GuestMemory::find(uint32_t address, uint32_t size) const {
    uint32_t& hint = found_[(address >> 12) % found_.size()];
    if (hint != 0 && holds(regions_[hint - 1], address, size)) return &regions_[hint - 1];
    // The last region starting at or below the address is the only candidate.
    auto after = std::upper_bound(regions_.begin(), regions_.end(), address,
                                  [](uint32_t a, const Region& region) { return a < region.base; });
    if (after == regions_.begin()) return nullptr;
    const auto candidate = std::prev(after);
    if (!holds(*candidate, address, size)) return nullptr;
    hint = static_cast<uint32_t>(candidate - regions_.begin()) + 1;
    return &*candidate;
}

uint8_t* GuestMemory::checked_anew(uint32_t address, uint64_t size, bool write) const {
    const Region* region = size <= UINT32_MAX ? find(address, static_cast<uint32_t>(size)) : nullptr;
    if (region == nullptr) {
        throw GuestFault(write ? GuestFault::Kind::kWrite : GuestFault::Kind::kRead, address, 0,
                         std::to_string(size) + " bytes at " + hex(address) + " lie outside the module's memory");
    }
    if (write && !region->writable) {
        throw GuestFault(GuestFault::Kind::kWrite, address, 0,
                         std::to_string(size) + " bytes at " + hex(address) + " are read-only (" + region->name + ")");
    }
    return region->host + (address - region->base);
}

std::optional<uint32_t> GuestMemory::find_byte(uint32_t address, uint8_t value, uint64_t max, const char* what) const {
    if (max == 0) return std::nullopt;
    const Region* region = find(address, 1);
    if (region == nullptr) {
        throw GuestFault(GuestFault::Kind::kRead, address, 0,
                         std::string(what) + " at " + hex(address) + " lies outside the module's memory");
    }
    const uint8_t* first = region->host + (address - region->base);
    const uint64_t room = std::min<uint64_t>(uint64_t{region->base} + region->size - address, max);
    if (const void* found = std::memchr(first, value, static_cast<size_t>(room)))
        return static_cast<uint32_t>(static_cast<const uint8_t*>(found) - first);
    if (room == max) return std::nullopt;
    throw GuestFault(GuestFault::Kind::kRead, address, 0,
                     std::string(what) + " at " + hex(address) + " runs out of " + region->name + " before its end");
}

std::string GuestMemory::read_string(GuestPtr<const char> pointer, size_t max) const {
    const auto length = find_byte(pointer.address, 0, uint64_t{max} + 1);
    if (!length) {
        throw GuestFault(
            GuestFault::Kind::kRead, pointer.address, 0,
            "string at " + hex(pointer.address) + " is longer than " + std::to_string(max) + " characters");
    }
    std::string text(*length, '\0');
    copy_out(pointer.address, text.data(), *length);
    return text;
}

}  // namespace emulator
