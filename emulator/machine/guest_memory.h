// The one way from a guest address to host memory. A module's memory is a set
// of regions (its image's sections, its stack, what the host handed it), each
// backed by host memory; every view is checked to lie wholly inside one
// region, so a pointer a module got wrong is a GuestFault naming the address,
// never a read of the host's own memory.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "frame/record_schema.h"
#include "platform/fault_kind.h"

namespace emulator {

using frame::GuestPtr;

// Module code that went wrong, or a record the host could not reach. The
// message names the fault and the guest address; the host adds which module,
// gauge and callback it was in.
class GuestFault : public platform::CodeFault {
public:
    using CodeFault::CodeFault;
};

// Module code cut short because the program is ending
// (EmulatedMachine::stop_all_calls()): no fault of the module, so no
// GuestFault, and none of the host's fault handling takes it for one.
class CallStopped : public std::runtime_error {
public:
    CallStopped() : std::runtime_error("stopped: the program is ending") {}
};

using platform::fault_kind_name;

// An address as every message writes it: "0x0040A000".
std::string hex(uint64_t value);

struct Region {
    uint32_t base = 0;
    uint32_t size = 0;
    uint8_t* host = nullptr;  // base's byte in host memory
    bool writable = false;    // by the module (the host's views follow the same rule)
    std::string name;         // ".data of Korvane.gau", "stack", "host memory"
};

class GuestMemory {
public:
    // Regions must not overlap; the host memory behind one must outlive it.
    void add(Region region);
    void remove(uint32_t base);
    const std::vector<Region>& regions() const { return regions_; }

    // The region holding [address, address + size), or null when none holds
    // all of it.
    const Region* find(uint32_t address, uint32_t size) const;
    bool readable(uint32_t address, uint32_t size) const { return find(address, size) != nullptr; }
    bool writable(uint32_t address, uint32_t size) const {
        const Region* region = find(address, size);
        return region != nullptr && region->writable;
    }

    // A copy of the record where a guest pointer points: a copy, so that no
    // view of guest memory outlives a change of the regions. Guest views have
    // no alignment, so any address is a valid place for one.
    template <typename T>
    std::remove_cv_t<T> read(GuestPtr<T> pointer) const {
        std::remove_cv_t<T> value;
        std::memcpy(static_cast<void*>(&value), checked(pointer.address, sizeof(T), false), sizeof(T));
        return value;
    }
    template <typename T>
    T& write(GuestPtr<T> pointer) {
        return *reinterpret_cast<T*>(checked(pointer.address, sizeof(T), true));
    }
    // `count` records from `pointer` on.
    template <typename T>
    std::span<const T> read_array(GuestPtr<T> pointer, uint32_t count) const {
        const uint64_t bytes = uint64_t{count} * sizeof(T);
        if (count == 0) return {};
        return {reinterpret_cast<const T*>(checked(pointer.address, bytes, false)), count};
    }
    // The records from `pointer` on that lie whole in its region, at most
    // `max` of them: a list whose length its contents tell, read with one
    // check rather than one a record. Empty when the first lies in none.
    template <typename T>
    std::span<const T> read_run(GuestPtr<T> pointer, uint32_t max) const {
        const Region* region = find(pointer.address, sizeof(T));
        if (region == nullptr) return {};
        const uint64_t room = (uint64_t{region->base} + region->size - pointer.address) / sizeof(T);
        return {reinterpret_cast<const T*>(region->host + (pointer.address - region->base)),
                static_cast<size_t>(std::min<uint64_t>(room, max))};
    }
    // A NUL-terminated string of at most `max` characters; one that runs out
    // of its region or past `max` before its NUL is a fault.
    std::string read_string(GuestPtr<const char> pointer, size_t max = 4096) const;
    // Where the first byte `value` lies among the `max` bytes from `address`,
    // or nullopt when none of them is it: the one scan every reader of a
    // NUL-terminated string goes by. Running out of the region before either
    // is a GuestFault naming `what` ("string").
    std::optional<uint32_t> find_byte(uint32_t address, uint8_t value, uint64_t max, const char* what = "string") const;
    // Raw bytes, copied in and out.
    void copy_out(uint32_t address, void* destination, uint32_t size) const {
        std::memcpy(destination, checked(address, size, false), size);
    }
    void copy_in(uint32_t address, const void* source, uint32_t size) {
        std::memcpy(checked(address, size, true), source, size);
    }

private:
    // Host memory behind a view; the region found last for its page answers
    // most views without a call.
    uint8_t* checked(uint32_t address, uint64_t size, bool write) const {
        if (const uint32_t hint = found_[(address >> 12) % found_.size()]; hint != 0) {
            const Region& region = regions_[hint - 1];
            if (address >= region.base && uint64_t{address} - region.base + size <= region.size &&
                (!write || region.writable))
                return region.host + (address - region.base);
        }
        return checked_anew(address, size, write);
    }
    uint8_t* checked_anew(uint32_t address, uint64_t size, bool write) const;

    std::vector<Region> regions_;
    // The region found last for each of a few pages (an index, + 1; 0:
    // none): an update reads its records, tables and variables from a
    // handful of regions in turn.
    mutable std::array<uint32_t, 64> found_{};
};

}  // namespace emulator
