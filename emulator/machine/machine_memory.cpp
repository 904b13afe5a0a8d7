// EmulatedMachine's mappings: what is mapped where, with which protection,
// and the reservations that keep ranges for one owner.
#include "emulator/machine/emulated_machine_impl.h"

namespace emulator {

void EmulatedMachine::map(uint32_t base, uint32_t size, uint8_t protection, const std::string& name) {
    Impl& m = *impl_;
    const uint64_t bytes = round_up(size, kPage);
    if (base % kPage != 0 || bytes == 0 || base + bytes > kUserEnd)
        throw std::invalid_argument("map: " + hex(base) + " + " + std::to_string(size) + " is no page range");
    auto next = m.mappings.lower_bound(base);
    if ((next != m.mappings.end() && base + bytes > next->first) ||
        (next != m.mappings.begin() && uint64_t{std::prev(next)->first} + std::prev(next)->second.size > base)) {
        throw std::invalid_argument("map: " + hex(base) + " is mapped already");
    }
    if (m.mapped_bytes + bytes > m.memory_limit) {
        throw MemoryLimitError("map: " + std::to_string(bytes) + " bytes at " + hex(base) + " would pass the " +
                               std::to_string(m.memory_limit >> 20) + " MiB the machine may map");
    }
    if (m.reservation_of(base, bytes) == m.reservations.end()) m.reservations.emplace(base, bytes);
    Mapping mapping;
    mapping.size = static_cast<uint32_t>(bytes);
    mapping.protection = protection;
    mapping.name = name;
    m.add_region(base, mapping);
    m.mappings.emplace(base, std::move(mapping));
    m.mapped_bytes += bytes;
    m.set_pages(base, bytes, protection);
    if (protection & kExecute) m.set_executable(base, bytes, true);
    m.flush_translations();
    m.forget_code(base, bytes);
}

void EmulatedMachine::Impl::remove_translations(uint32_t base, uint64_t size) {
    // A page at a time: Unicorn turns only a range's first address into its
    // own RAM offset and takes the rest as following it, which holds within
    // one piece of its map, not across the pieces the map is split into.
    const uint64_t end = std::min<uint64_t>(uint64_t{base} + size, kAddressSpace);
    for (uint64_t page = base / kPage * kPage; page < end; page += kPage) {
        if (!module_page(static_cast<uint32_t>(page))) continue;
        uc_ctl_remove_cache(uc, std::max<uint64_t>(page, base), std::min(page + kPage, end));
    }
}

uint8_t* EmulatedMachine::Impl::mapped_host(uint32_t address, uint64_t size, const char* doing) const {
    const uint64_t end = uint64_t{address} + size;
    for (uint64_t page = address / kPage * kPage; page < end; page += kPage) {
        if (!self.protection(static_cast<uint32_t>(page))) {
            throw std::invalid_argument(std::string(doing) + ": " + hex(address) + " + " + std::to_string(size) +
                                        " is not wholly mapped");
        }
    }
    return arena + address;
}

void EmulatedMachine::load(uint32_t address, std::span<const uint8_t> bytes) {
    if (bytes.empty()) return;
    std::memcpy(impl_->mapped_host(address, bytes.size(), "load"), bytes.data(), bytes.size());
    impl_->forget_code(address, bytes.size());  // it may be code the processor translated already
}

void EmulatedMachine::peek(uint32_t address, std::span<uint8_t> bytes) const {
    if (bytes.empty()) return;
    std::memcpy(bytes.data(), impl_->mapped_host(address, bytes.size(), "peek"), bytes.size());
}

void EmulatedMachine::protect(uint32_t base, uint32_t size, uint8_t protection, const std::string& name) {
    Impl& m = *impl_;
    const uint64_t end = base + round_up(size, kPage);
    if (base % kPage != 0 || end > kUserEnd) throw std::invalid_argument("protect: " + hex(base) + " is no page range");
    if (end == base) return;
    m.split_at_edges(base, end, true);
    m.forget_code(base, end - base);  // while its pages are still reachable
    bool was_executable = false;
    for (auto mapping = m.mappings.lower_bound(base); mapping != m.mappings.end() && mapping->first < end; ++mapping) {
        memory_.remove(mapping->first);
        was_executable = was_executable || (mapping->second.protection & kExecute) != 0;
        mapping->second.protection = protection;
        if (!name.empty()) mapping->second.name = name;
        m.add_region(mapping->first, mapping->second);
    }
    m.set_pages(base, end - base, protection);
    // (Unicorn splits its regions on every change: only where execution rights change.)
    if (was_executable || (protection & kExecute) != 0)
        m.set_executable(base, end - base, (protection & kExecute) != 0);
    m.flush_translations();
}

void EmulatedMachine::unmap(uint32_t base, uint32_t size) {
    Impl& m = *impl_;
    const uint64_t end = base + round_up(size, kPage);
    if (base % kPage != 0 || end > kUserEnd) throw std::invalid_argument("unmap: " + hex(base) + " is no page range");
    m.split_at_edges(base, end, false);
    m.forget_code(base, end - base);  // while its pages are still reachable
    for (auto mapping = m.mappings.lower_bound(base); mapping != m.mappings.end() && mapping->first < end;) {
        memory_.remove(mapping->first);
        m.set_pages(mapping->first, mapping->second.size, 0);
        if (mapping->second.protection & kExecute) m.set_executable(mapping->first, mapping->second.size, false);
        madvise(m.arena + mapping->first, mapping->second.size, MADV_DONTNEED);  // zeroes when mapped again
        m.mapped_bytes -= mapping->second.size;
        mapping = m.mappings.erase(mapping);
    }
    for (auto reservation = m.reservations.lower_bound(base);
         reservation != m.reservations.end() && uint64_t{reservation->first} + reservation->second <= end;) {
        reservation = m.reservations.erase(reservation);
    }
    m.flush_translations();
}

uint64_t EmulatedMachine::mapped_bytes() const { return impl_->mapped_bytes; }

void EmulatedMachine::set_memory_limit(uint64_t bytes) { impl_->memory_limit = bytes; }

uint64_t EmulatedMachine::memory_room() const {
    return impl_->memory_limit - std::min(impl_->mapped_bytes, impl_->memory_limit);
}

void EmulatedMachine::discard(uint32_t base, uint32_t size) {
    Impl& m = *impl_;
    const uint64_t end = base + round_up(size, kPage);
    if (base % kPage != 0 || end > kUserEnd) throw std::invalid_argument("discard: " + hex(base) + " is no page range");
    madvise(m.arena + base, end - base, MADV_DONTNEED);
    m.forget_code(base, end - base);
}

uint32_t EmulatedMachine::reserve(uint32_t size, uint32_t preferred) {
    if (const auto base = try_reserve(size, preferred)) return *base;
    const uint64_t bytes = round_up(std::max<uint32_t>(size, 1), kPage);
    throw std::runtime_error("emulator: no free range of " + std::to_string(bytes) + " bytes left");
}

std::optional<uint32_t> EmulatedMachine::try_reserve(uint32_t size, uint32_t preferred) {
    Impl& m = *impl_;
    const uint64_t bytes = round_up(std::max<uint32_t>(size, 1), kPage);
    for (uint64_t from : {round_up(std::max<uint64_t>(preferred, kLowest), kGranularity), kLowest}) {
        uint64_t candidate = from;
        while (candidate + bytes <= kUserEnd) {
            if (m.reservable(candidate, bytes)) {
                m.reservations.emplace(static_cast<uint32_t>(candidate), static_cast<uint32_t>(bytes));
                return static_cast<uint32_t>(candidate);
            }
            // Past the reservation in the way.
            auto after = m.reservations.upper_bound(static_cast<uint32_t>(candidate + bytes - 1));
            if (after == m.reservations.begin()) break;
            const auto blocking = std::prev(after);
            candidate = std::max(candidate + kGranularity,
                                 round_up(uint64_t{blocking->first} + blocking->second, kGranularity));
        }
    }
    return std::nullopt;
}

bool EmulatedMachine::try_reserve_at(uint32_t base, uint32_t size) {
    Impl& m = *impl_;
    const uint64_t bytes = round_up(std::max<uint32_t>(size, 1), kPage);
    if (base % kGranularity != 0 || !m.reservable(base, bytes)) return false;
    m.reservations.emplace(base, static_cast<uint32_t>(bytes));
    return true;
}

std::optional<uint8_t> EmulatedMachine::protection(uint32_t address) const {
    const Impl& m = *impl_;
    auto after = m.mappings.upper_bound(address);
    if (after == m.mappings.begin()) return std::nullopt;
    const auto mapping = std::prev(after);
    if (address - mapping->first >= mapping->second.size) return std::nullopt;
    return mapping->second.protection;
}

}  // namespace emulator
