// What the host tests do in a module's guest memory: place records and
// strings of their own where the host reads them as it reads the module's,
// and call the host's services the way module code does, through the table
// the module's ImportTable points to.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "frame/services.h"
#include "runtime/module.h"
#include "runtime/module_code.h"

namespace guest_helpers {

using frame::GuestPtr;

// `values` copied into fresh guest memory of `module`.
template <typename T>
GuestPtr<T> place_array(const runtime::Module& module, std::span<const T> values) {
    const auto bytes = static_cast<uint32_t>(values.size_bytes());
    const uint32_t address = module.machine().allocate(bytes == 0 ? 1 : bytes);
    if (bytes != 0) module.memory().copy_in(address, values.data(), bytes);
    return GuestPtr<T>(address);
}

template <typename T>
GuestPtr<T> place(const runtime::Module& module, const T& value) {
    return place_array(module, std::span<const T>(&value, 1));
}

inline GuestPtr<const char> place_string(const runtime::Module& module, std::string_view text) {
    std::vector<char> bytes(text.begin(), text.end());
    bytes.push_back('\0');
    return place_array(module, std::span<const char>(bytes)).cast<const char>();
}

// The routine in slot `slot` of the service table `module` was handed.
inline uint32_t service_routine(const runtime::Module& module, uint32_t slot) {
    const GuestPtr<guest::PANELS> table = module.memory().read(module.import_table()).panels;
    return module.memory().read(table.cast<const uint32_t>().at(slot));
}

// Service `slot` called as module code calls it.
inline void call_service(const runtime::Module& module, uint32_t slot, std::span<const uint32_t> args = {}) {
    module.machine().call(service_routine(module, slot), args, emulator::Convention::kStdcall);
}

}  // namespace guest_helpers
