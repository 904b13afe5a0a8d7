// What the floors above the runtime may see of a module's memory: its
// records, read-only and checked, and the fault of a module whose records or
// code went wrong. The runtime alone reaches the module's machine; these are
// its words for what the floors above take from it.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <type_traits>

#include "frame/record_schema.h"
#include "frame/records.h"
#include "platform/fault_kind.h"

namespace emulator {
class GuestMemory;
}  // namespace emulator

namespace runtime {

class Module;

// Module code that went wrong, or a record the host could not reach. The
// message names the fault and the guest address, and where the host said
// so, which module, gauge and callback it was in.
class ModuleFault : public platform::CodeFault {
public:
    using CodeFault::CodeFault;
};

// Whether `error` is a fault of module code or of its records, in the
// runtime's words or the machine's own (one the runtime passed on as it came).
bool is_module_fault(const std::exception& error);
// Whether `error` is a call of module code cut short because the program is
// ending (stop_all_module_calls()): no fault of the module's.
bool is_stopped_call(const std::exception& error);

// A module's records where they lie in its memory. Every view is checked to
// lie wholly inside the module's memory: one that does not is a ModuleFault
// (kRead) naming the address, never a read of the host's own memory. A
// record read is a copy; an array view points into the module's memory and
// stays valid while the module is loaded and its memory unchanged.
class ModuleMemory {
public:
    // Module::records() gives a module's; the runtime (and tests) may view
    // any guest memory so.
    explicit ModuleMemory(const emulator::GuestMemory& memory) : memory_(&memory) {}

    // A copy of the record where a guest pointer points: module code may
    // change the original, or the module's memory move, after the read.
    template <typename T>
    std::remove_const_t<T> read(frame::GuestPtr<T> pointer) const {
        std::remove_const_t<T> record;
        std::memcpy(&record, bytes(pointer.address, sizeof(T)), sizeof(T));
        return record;
    }
    // `count` records from `pointer` on.
    template <typename T>
    std::span<const T> read_array(frame::GuestPtr<T> pointer, uint32_t count) const {
        if (count == 0) return {};
        return {reinterpret_cast<const T*>(bytes(pointer.address, uint64_t{count} * sizeof(T))), count};
    }
    // A NUL-terminated string of at most `max` characters; one that runs out
    // of the module's memory or past `max` before its NUL is a fault.
    std::string read_string(frame::GuestPtr<const char> pointer, size_t max = 4096) const;
    // Whether [address, address + size) lies in the module's memory.
    bool readable(uint32_t address, uint32_t size) const;

private:
    const uint8_t* bytes(uint32_t address, uint64_t size) const;

    const emulator::GuestMemory* memory_;
};

// What a needle's update callback returns when the variable it reads holds
// `reading`: the reading is lent to the record and the record put back as
// it was, whatever the call did. Throws ModuleFault for a fault of the
// callback's, std::invalid_argument for a needle without a callback.
double needle_callback_value(const Module& module, frame::GuestPtr<guest::ELEMENT_NEEDLE> needle, double reading);

}  // namespace runtime
