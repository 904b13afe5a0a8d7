// The i386 as GDB's remote protocol sees it: the register file in GDB's
// numbering, as the bytes of `g`, `G`, `p` and `P` (each register four bytes,
// little-endian, segment selectors too), and the target description the
// debugger reads (qXfer:features:read:target.xml). GDB wants the x87
// registers in the core feature (16 to 31) or it refuses the description;
// they are described and read (gauge code keeps its doubles there), never
// written.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "emulator/machine/emulated_machine.h"

namespace emulator::gdb {

using Registers = EmulatedMachine::Registers;

// eax..edi, eip, eflags, cs, ss, ds, es, fs, gs: what `g` carries.
inline constexpr uint32_t kGeneralRegisters = 16;
inline constexpr uint32_t kRegisterBytes = 4;

// The `g` answer's bytes (to_hex() makes its text).
std::string register_file(const Registers& registers);
// `G`: all of them, or nullopt when `bytes` is not exactly the file's size
// (the x87 ones GDB sends back too are taken, not written).
std::optional<Registers> from_register_file(std::string_view bytes);
// `p n`: one general register's bytes; nullopt for another.
std::optional<std::string> register_value(const Registers& registers, uint32_t number);
// `p n` for an x87 one: st0..st7 ten bytes each, the other eight four (the
// instruction and operand pointers and opcode read as zero); nullopt for another.
std::optional<std::string> float_register_value(const EmulatedMachine::FloatRegisters& x87, uint32_t number);
// `P n=v`: false, and `registers` unchanged, for a number not served or
// bytes not four.
bool set_register_value(Registers& registers, uint32_t number, std::string_view bytes);

// The registers GDB numbers after the general ones: the x87 unit's (16 to 31).
inline constexpr uint32_t kFloatRegisters = 16;
// `g`'s whole answer: the general registers, then the x87 ones.
std::string all_registers(const Registers& registers, const EmulatedMachine::FloatRegisters& x87);

// The document named `annex` ("target.xml"), or nullopt for another.
std::optional<std::string_view> target_description(std::string_view annex);

}  // namespace emulator::gdb
