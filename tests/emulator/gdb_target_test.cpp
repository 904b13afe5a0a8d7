// The registers a debugger sees: read and written in a call stopped in a
// host routine (as a stop will be), and their bytes in GDB's numbering.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/emulated_machine.h"
#include "emulator/gdb_packets.h"
#include "emulator/gdb_target.h"

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
    EXPECT_FALSE(emulator::gdb::register_value(registers, 16)) << "st0: the x87 unit's";
    emulator::EmulatedMachine::FloatingPoint unit;
    unit.stack[1][9] = 0x3F;
    unit.control = 0x027F;
    const std::string all = emulator::gdb::all_registers(registers, unit);
    ASSERT_EQ(all.size(), 64u + 80u + 32u) << "GDB reads each register at its described size";
    EXPECT_EQ(all[64 + 10 + 9], '\x3F');
    EXPECT_EQ(emulator::gdb::float_register_value(unit, 24), std::string("\x7F\x02\0\0", 4));
    EXPECT_FALSE(emulator::gdb::float_register_value(unit, 32));
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
