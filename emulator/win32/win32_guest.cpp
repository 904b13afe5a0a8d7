#include "emulator/win32/win32_guest.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace emulator::win32 {
namespace {

using Kind = GuestFault::Kind;

// The bytes from `address` to the end of its region, of which at most `max`
// are wanted.
uint32_t room_from(const GuestMemory& memory, uint32_t address, uint64_t max, const char* what) {
    const Region* region = memory.find(address, 1);
    if (region == nullptr) {
        throw GuestFault(Kind::kRead, address, 0,
                         std::string(what) + " at " + hex(address) + " lies outside the module's memory");
    }
    return static_cast<uint32_t>(std::min<uint64_t>(uint64_t{region->base} + region->size - address, max));
}

[[noreturn]] void runs_out(const GuestMemory& memory, uint32_t address, const char* what) {
    const Region* region = memory.find(address, 1);
    throw GuestFault(Kind::kRead, address, 0,
                     std::string(what) + " at " + hex(address) + " runs out of " + region->name + " before its end");
}

}  // namespace

uint32_t string_length(const GuestMemory& memory, uint32_t address, uint32_t max) {
    return memory.find_byte(address, 0, max).value_or(max);
}

std::string_view string_at(const GuestMemory& memory, uint32_t address, uint32_t max) {
    const uint32_t length = string_length(memory, address, max);
    return {reinterpret_cast<const char*>(readable(memory, address, length)), length};
}

uint32_t wide_length(const GuestMemory& memory, uint32_t address, uint32_t max) {
    if (max == 0) return 0;
    const uint32_t room = room_from(memory, address, uint64_t{max} * 2, "UTF-16 string") / 2;
    const uint8_t* bytes = readable(memory, address, room * 2);
    for (uint32_t i = 0; i < room; ++i) {
        if (bytes[2 * i] == 0 && bytes[2 * i + 1] == 0) return i;
    }
    if (room == max) return max;
    runs_out(memory, address, "UTF-16 string");
}

std::u16string wide_at(const GuestMemory& memory, uint32_t address, uint32_t max) {
    const uint32_t length = wide_length(memory, address, max);
    const uint8_t* bytes = readable(memory, address, length * 2);
    std::u16string text(length, u'\0');
    for (uint32_t i = 0; i < length; ++i) text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return text;
}

std::optional<std::string> optional_string(const GuestMemory& memory, uint32_t address) {
    if (address == 0) return std::nullopt;
    return std::string(string_at(memory, address));
}

void put_string(GuestMemory& memory, uint32_t address, std::string_view text) {
    uint8_t* bytes = writable(memory, address, static_cast<uint32_t>(text.size()) + 1);
    std::memcpy(bytes, text.data(), text.size());
    bytes[text.size()] = 0;
}

const uint8_t* readable(const GuestMemory& memory, uint32_t address, uint32_t size) {
    if (size == 0) return nullptr;
    return memory.read_array(GuestPtr<uint8_t>(address), size).data();
}

uint8_t* writable(GuestMemory& memory, uint32_t address, uint32_t size) {
    if (size == 0) return nullptr;
    uint8_t* first = &memory.write(GuestPtr<uint8_t>(address));
    if (!memory.writable(address, size)) {
        throw GuestFault(Kind::kWrite, address, 0,
                         std::to_string(size) + " bytes at " + hex(address) +
                             " run past the end of the memory the module may write");
    }
    return first;
}

uint32_t writable_room(GuestMemory& memory, uint32_t address) {
    writable(memory, address, 1);
    const Region* region = memory.find(address, 1);
    return static_cast<uint32_t>(uint64_t{region->base} + region->size - address);
}

}  // namespace emulator::win32
