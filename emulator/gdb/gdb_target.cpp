#include "emulator/gdb/gdb_target.h"

#include <array>
#include <bit>
#include <cstring>

namespace emulator::gdb {

namespace {

using RegisterArray = std::array<uint32_t, kGeneralRegisters>;
static_assert(sizeof(Registers) == sizeof(RegisterArray));

std::string little_endian(uint32_t value) {
    std::string bytes(kRegisterBytes, '\0');
    for (uint32_t i = 0; i < kRegisterBytes; ++i) bytes[i] = static_cast<char>(value >> (8 * i));
    return bytes;
}

uint32_t from_little_endian(std::string_view bytes) {
    uint32_t value = 0;
    for (uint32_t i = 0; i < kRegisterBytes; ++i) value |= uint32_t{static_cast<uint8_t>(bytes[i])} << (8 * i);
    return value;
}

// GDB's own i386 core feature: its names, types and numbering (the x87
// registers follow the general ones; regnum continues implicitly).
constexpr std::string_view kTargetXml = R"(<?xml version="1.0"?>
<!DOCTYPE target SYSTEM "gdb-target.dtd">
<target version="1.0">
  <architecture>i386</architecture>
  <feature name="org.gnu.gdb.i386.core">
    <flags id="i386_eflags" size="4">
      <field name="CF" start="0" end="0"/>
      <field name="" start="1" end="1"/>
      <field name="PF" start="2" end="2"/>
      <field name="AF" start="4" end="4"/>
      <field name="ZF" start="6" end="6"/>
      <field name="SF" start="7" end="7"/>
      <field name="TF" start="8" end="8"/>
      <field name="IF" start="9" end="9"/>
      <field name="DF" start="10" end="10"/>
      <field name="OF" start="11" end="11"/>
      <field name="NT" start="14" end="14"/>
      <field name="RF" start="16" end="16"/>
      <field name="VM" start="17" end="17"/>
      <field name="AC" start="18" end="18"/>
      <field name="VIF" start="19" end="19"/>
      <field name="VIP" start="20" end="20"/>
      <field name="ID" start="21" end="21"/>
    </flags>
    <reg name="eax" bitsize="32" type="int32" regnum="0"/>
    <reg name="ecx" bitsize="32" type="int32"/>
    <reg name="edx" bitsize="32" type="int32"/>
    <reg name="ebx" bitsize="32" type="int32"/>
    <reg name="esp" bitsize="32" type="data_ptr"/>
    <reg name="ebp" bitsize="32" type="data_ptr"/>
    <reg name="esi" bitsize="32" type="int32"/>
    <reg name="edi" bitsize="32" type="int32"/>
    <reg name="eip" bitsize="32" type="code_ptr"/>
    <reg name="eflags" bitsize="32" type="i386_eflags"/>
    <reg name="cs" bitsize="32" type="int32"/>
    <reg name="ss" bitsize="32" type="int32"/>
    <reg name="ds" bitsize="32" type="int32"/>
    <reg name="es" bitsize="32" type="int32"/>
    <reg name="fs" bitsize="32" type="int32"/>
    <reg name="gs" bitsize="32" type="int32"/>
    <reg name="st0" bitsize="80" type="i387_ext"/>
    <reg name="st1" bitsize="80" type="i387_ext"/>
    <reg name="st2" bitsize="80" type="i387_ext"/>
    <reg name="st3" bitsize="80" type="i387_ext"/>
    <reg name="st4" bitsize="80" type="i387_ext"/>
    <reg name="st5" bitsize="80" type="i387_ext"/>
    <reg name="st6" bitsize="80" type="i387_ext"/>
    <reg name="st7" bitsize="80" type="i387_ext"/>
    <reg name="fctrl" bitsize="32" type="int" group="float"/>
    <reg name="fstat" bitsize="32" type="int" group="float"/>
    <reg name="ftag" bitsize="32" type="int" group="float"/>
    <reg name="fiseg" bitsize="32" type="int" group="float"/>
    <reg name="fioff" bitsize="32" type="int" group="float"/>
    <reg name="foseg" bitsize="32" type="int" group="float"/>
    <reg name="fooff" bitsize="32" type="int" group="float"/>
    <reg name="fop" bitsize="32" type="int" group="float"/>
  </feature>
</target>
)";

}  // namespace

std::string register_file(const Registers& registers) {
    std::string bytes;
    for (const uint32_t value : std::bit_cast<RegisterArray>(registers)) bytes += little_endian(value);
    return bytes;
}

std::optional<Registers> from_register_file(std::string_view bytes) {
    // GDB sends back what `g` gave it, the x87 registers too, which the
    // machine takes only from its own instructions.
    constexpr size_t kFloatBytes = 8 * 10 + 8 * kRegisterBytes;
    if (bytes.size() != kGeneralRegisters * kRegisterBytes &&
        bytes.size() != kGeneralRegisters * kRegisterBytes + kFloatBytes)
        return std::nullopt;
    RegisterArray values{};
    for (uint32_t i = 0; i < kGeneralRegisters; ++i) values[i] = from_little_endian(bytes.substr(i * kRegisterBytes));
    return std::bit_cast<Registers>(values);
}

std::string all_registers(const Registers& registers, const EmulatedMachine::FloatRegisters& x87) {
    std::string bytes = register_file(registers);
    for (uint32_t n = kGeneralRegisters; n < kGeneralRegisters + kFloatRegisters; ++n)
        bytes += *float_register_value(x87, n);
    return bytes;
}

std::optional<std::string> register_value(const Registers& registers, uint32_t number) {
    if (number >= kGeneralRegisters) return std::nullopt;
    return little_endian(std::bit_cast<RegisterArray>(registers)[number]);
}

std::optional<std::string> float_register_value(const EmulatedMachine::FloatRegisters& x87, uint32_t number) {
    const uint32_t first = kGeneralRegisters, words = first + static_cast<uint32_t>(x87.st.size());
    if (number >= first && number < words) {
        const auto& st = x87.st[number - first];
        return std::string(st.begin(), st.end());
    }
    const uint32_t values[] = {x87.control, x87.status, x87.tag, 0, 0, 0, 0, 0};
    if (number >= words && number < words + std::size(values)) return little_endian(values[number - words]);
    return std::nullopt;
}

bool set_register_value(Registers& registers, uint32_t number, std::string_view bytes) {
    if (number >= kGeneralRegisters || bytes.size() != kRegisterBytes) return false;
    RegisterArray values = std::bit_cast<RegisterArray>(registers);
    values[number] = from_little_endian(bytes);
    registers = std::bit_cast<Registers>(values);
    return true;
}

std::optional<std::string_view> target_description(std::string_view annex) {
    if (annex == "target.xml") return kTargetXml;
    return std::nullopt;
}

}  // namespace emulator::gdb
