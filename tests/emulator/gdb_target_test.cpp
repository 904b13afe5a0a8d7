// The registers a debugger sees: read and written in a call stopped in a
// host routine (as a stop will be), and their bytes in GDB's numbering.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "emulator/gdb/gdb_packets.h"
#include "emulator/gdb/gdb_target.h"

namespace {

using emulator::Convention;
using emulator::EmulatedMachine;
using emulator::gdb::Registers;

TEST(GdbTarget, ReadsAndWritesTheRegistersOfAStoppedCall) {
    EmulatedMachine machine;
    const uint32_t code = machine.reserve(EmulatedMachine::kPageSize, 0x30000000);
    machine.map(code, EmulatedMachine::kPageSize, EmulatedMachine::kRead | EmulatedMachine::kExecute, "test code");
    Registers seen;
    const uint32_t stop = machine.host_routine("stop", 0, Convention::kStdcall, [&](auto) -> uint32_t {
        seen = machine.registers();
        Registers changed = seen;
        changed.edi = 0x2222;
        machine.set_registers(changed);
        Registers bad = machine.registers();
        bad.ds = 0x1234;  // no such descriptor
        bad.edi = 0x3333;
        EXPECT_THROW(machine.set_registers(bad), std::invalid_argument);
        EXPECT_EQ(machine.registers().ds, seen.ds);
        EXPECT_EQ(machine.registers().edi, 0x2222u) << "nothing written after a refusal";
        return 0;
    });
    // push edi; mov edi, 0x1111; mov ecx, edi; mov eax, stop; call eax; mov eax, edi; pop edi; ret
    std::vector<uint8_t> bytes = {0x57, 0xBF, 0x11, 0x11, 0, 0, 0x89, 0xF9, 0xB8};
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(stop >> (8 * i)));
    bytes.insert(bytes.end(), {0xFF, 0xD0, 0x89, 0xF8, 0x5F, 0xC3});
    machine.load(code, bytes);
    // EDI as the stop left it; ECX and EIP as the stopped call had them.
    EXPECT_EQ(machine.call(code, {}, Convention::kStdcall), 0x2222u);
    EXPECT_EQ(seen.ecx, 0x1111u);
    EXPECT_EQ(seen.eip, stop);
    EXPECT_EQ(seen.fs & 3, 3u) << "ring 3's selector";
    EXPECT_EQ(seen.cs & 3, 3u);
}

// Doubles on the x87 stack, as a debugger reads them while a call is
// stopped with two pushed (1, then 0): st0 is the top, whichever physical
// register it is; the words after the stack, then nothing past fop.
TEST(GdbTarget, ReadsTheX87StackFromItsTop) {
    EmulatedMachine machine;
    const uint32_t code = machine.reserve(EmulatedMachine::kPageSize, 0x30000000);
    machine.map(code, EmulatedMachine::kPageSize, EmulatedMachine::kRead | EmulatedMachine::kExecute, "test code");
    EmulatedMachine::FloatRegisters x87;
    const uint32_t stop = machine.host_routine("stop", 0, Convention::kStdcall, [&](auto) -> uint32_t {
        x87 = machine.float_registers();
        return 0;
    });
    // fld1; fldz; mov eax, stop; call eax; fstp st0; fstp st0; ret
    std::vector<uint8_t> bytes = {0xD9, 0xE8, 0xD9, 0xEE, 0xB8};
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(stop >> (8 * i)));
    bytes.insert(bytes.end(), {0xFF, 0xD0, 0xDD, 0xD8, 0xDD, 0xD8, 0xC3});
    machine.load(code, bytes);
    machine.call(code, {}, Convention::kStdcall);

    const std::vector<std::pair<uint32_t, std::optional<std::string>>> rows = {
        {16, "00000000000000000000"},  // st0: 0
        {17, "0000000000000080ff3f"},  // st1: 1
        {18, "00000000000000000000"},  // st2: empty
        {24, "7f020000"},              // fctrl: double precision, as Windows starts a thread
        {25, "00300000"},              // fstat: TOP 6
        {31, "00000000"},              // fop
        {15, std::nullopt},
        {32, std::nullopt},
    };
    for (const auto& [number, hex] : rows) {
        const auto value = emulator::gdb::float_register_value(x87, number);
        EXPECT_EQ(value ? std::optional(emulator::gdb::to_hex(*value)) : std::nullopt, hex) << "register " << number;
    }
}

TEST(GdbTarget, RegisterBytesInGdbsNumbering) {
    Registers registers;
    registers.eax = 0x04030201;
    registers.eip = 0x00401000;
    registers.gs = 0x2b;
    const std::string file = emulator::gdb::register_file(registers);
    ASSERT_EQ(file.size(), 64u);
    EXPECT_EQ(emulator::gdb::to_hex(file.substr(0, 4)), "01020304");
    EXPECT_EQ(emulator::gdb::to_hex(file.substr(8 * 4, 4)), "00104000");
    EXPECT_EQ(emulator::gdb::to_hex(file.substr(15 * 4, 4)), "2b000000");
    const auto back = emulator::gdb::from_register_file(file);
    ASSERT_TRUE(back);
    EXPECT_EQ(emulator::gdb::register_file(*back), file);
    EXPECT_FALSE(emulator::gdb::from_register_file(file.substr(1)));

    EXPECT_EQ(emulator::gdb::register_value(registers, 8), file.substr(32, 4));
    EXPECT_FALSE(emulator::gdb::register_value(registers, 16)) << "st0: not a general register";
    emulator::EmulatedMachine::FloatRegisters x87;
    x87.st[1][9] = 0x3F;
    const std::string all = emulator::gdb::all_registers(registers, x87);
    ASSERT_EQ(all.size(), 64u + 80u + 32u) << "GDB reads each register at its described size";
    EXPECT_EQ(all[64 + 10 + 9], '\x3F');
    EXPECT_TRUE(emulator::gdb::from_register_file(all)) << "G sends back what g gave";
    EXPECT_TRUE(emulator::gdb::set_register_value(registers, 4, std::string("\x78\x56\x34\x12", 4)));
    EXPECT_EQ(registers.esp, 0x12345678u);
    for (const auto& [number, bytes] : std::vector<std::pair<uint32_t, std::string>>{{16, "abcd"}, {4, "abc"}})
        EXPECT_FALSE(emulator::gdb::set_register_value(registers, number, bytes));
    EXPECT_EQ(registers.esp, 0x12345678u);
}

TEST(GdbTarget, DescribesTheI386Core) {
    const auto xml = emulator::gdb::target_description("target.xml");
    ASSERT_TRUE(xml);
    EXPECT_NE(xml->find("org.gnu.gdb.i386.core"), std::string_view::npos);
    // GDB's order: a name out of place would show every register as another.
    size_t at = 0;
    for (const char* name :
         {"\"eax\"", "\"ecx\"", "\"edx\"", "\"ebx\"", "\"esp\"", "\"ebp\"", "\"esi\"", "\"edi\"", "\"eip\"",
          "\"eflags\"", "\"cs\"", "\"ss\"", "\"ds\"", "\"es\"", "\"fs\"", "\"gs\"", "\"st0\"", "\"fop\""}) {
        const size_t found = xml->find(name, at);
        ASSERT_NE(found, std::string_view::npos) << name;
        at = found;
    }
    EXPECT_FALSE(emulator::gdb::target_description("i386.xml"));
}

}  // namespace
