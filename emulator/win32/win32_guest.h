// Strings and byte ranges of guest memory as the Windows functions need them:
// of unknown length, up to a NUL that may lie anywhere in the region. Each
// is checked through GuestMemory; a pointer that runs out of the module's
// memory is a GuestFault naming the address, thrown into the routine that
// was given it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "emulator/machine/guest_memory.h"

namespace emulator::win32 {

// The length of the NUL-terminated string at `address`, or `max` when the
// first `max` characters hold no NUL. A string whose region ends before
// either is a GuestFault.
uint32_t string_length(const GuestMemory& memory, uint32_t address, uint32_t max = UINT32_MAX);
// The string itself, viewed where it lies (valid until the regions change).
std::string_view string_at(const GuestMemory& memory, uint32_t address, uint32_t max = UINT32_MAX);
// The same for UTF-16 strings, counted in characters.
uint32_t wide_length(const GuestMemory& memory, uint32_t address, uint32_t max = UINT32_MAX);
std::u16string wide_at(const GuestMemory& memory, uint32_t address, uint32_t max = UINT32_MAX);

// The string at `address`, or nullopt for a null pointer (an optional argument).
std::optional<std::string> optional_string(const GuestMemory& memory, uint32_t address);
// Writes `text` and its NUL at `address`.
void put_string(GuestMemory& memory, uint32_t address, std::string_view text);

// `size` bytes at `address` as host memory, checked to lie in one region
// (one the module may write, for writable()). Null for size 0.
const uint8_t* readable(const GuestMemory& memory, uint32_t address, uint32_t size);
uint8_t* writable(GuestMemory& memory, uint32_t address, uint32_t size);
// How many bytes from `address` on the module may write: to the end of its
// region. An address it may not write at all is a GuestFault.
uint32_t writable_room(GuestMemory& memory, uint32_t address);

}  // namespace emulator::win32
