// Real PE modules on the emulator's Windows: one linked as MinGW links any
// DLL (C run-time start-up, TLS callbacks, a static constructor, thread-local
// data) loads with every import bound and its callbacks give msvcrt's text;
// one importing a function no host provides loads, and only the call that
// reaches that function stops, naming it.
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "emulator/pe/pe_module.h"
#include "emulator/win32/win32_environment.h"
#include "support/test_paths.h"

namespace {

using emulator::Convention;
using emulator::EmulatedMachine;
using emulator::GuestFault;
using emulator::PeModule;

struct Loaded {
    explicit Loaded(const std::string& file) : windows(machine) {
        module = PeModule::load(machine, windows, test_paths::module(file));
    }
    uint32_t call(const char* name, const std::vector<uint32_t>& args = {}) {
        const auto address = module->export_address(name);
        if (!address) throw std::invalid_argument(std::string(name) + " is not exported");
        return machine.call(*address, args, Convention::kCdecl);
    }
    uint32_t text(std::string_view value) {
        const uint32_t address = machine.allocate(static_cast<uint32_t>(value.size()) + 1);
        machine.memory().copy_in(address, value.data(), static_cast<uint32_t>(value.size()));
        return address;
    }
    std::string string_at(uint32_t address) {
        return machine.memory().read_string(emulator::GuestPtr<const char>(address));
    }

    EmulatedMachine machine;
    emulator::Win32Environment windows;
    std::unique_ptr<PeModule> module;
};

TEST(Win32Modules, ACRuntimeModuleLoadsAndFormatsAsOnWindows) {
    Loaded crt("Win32Crt.gau");
    for (const emulator::Import& import : crt.module->imports()) {
        EXPECT_TRUE(import.bound) << import.dll << "!" << import.name << " is not provided";
    }
    EXPECT_EQ(crt.string_at(crt.call("crt_greeting")), "constructed 42") << "the static constructor ran";

    const uint32_t buffer = crt.machine.allocate(64);
    const auto number = std::bit_cast<uint64_t>(3.14159);
    const size_t blocks = crt.windows.live_blocks();
    const uint64_t allocations = crt.windows.allocations();
    EXPECT_EQ(crt.call("crt_format", {buffer, 42, crt.text("knots"), static_cast<uint32_t>(number),
                                      static_cast<uint32_t>(number >> 32)}),
              14u);
    EXPECT_EQ(crt.string_at(buffer), "42 knots 3.142");
    EXPECT_EQ(crt.windows.calls().at("msvcrt.dll!sprintf"), 1u);
    EXPECT_EQ(crt.windows.allocations(), allocations + 2) << "malloc and realloc";
    EXPECT_EQ(crt.windows.live_blocks(), blocks) << "and freed";

    EXPECT_EQ(crt.call("crt_thread_local"), 1u);
    EXPECT_EQ(crt.call("crt_thread_local"), 2u) << "the thread's own copy kept between calls";
    const uint32_t ticks = crt.call("crt_ticks");
    EXPECT_GE(ticks, 3'600'000u);
    EXPECT_LT(ticks, 3'601'000u);
}

TEST(Win32Modules, ModuleHandlesNameMappedModulesOnly) {
    Loaded crt("Win32Crt.gau");
    const auto kernel = [&](const char* name, const std::vector<uint32_t>& args) {
        return crt.machine.call(*crt.windows.resolve("KERNEL32.dll", name), args, Convention::kStdcall);
    };
    const uint32_t base = crt.module->base();
    EXPECT_EQ(kernel("GetModuleHandleA", {0}), base);
    EXPECT_EQ(kernel("GetModuleHandleA", {crt.text("win32crt.GAU")}), base);
    EXPECT_EQ(kernel("GetProcAddress", {base, crt.text("crt_ticks")}), *crt.module->export_address("crt_ticks"));
    const uint32_t name = crt.text("Win32Crt.gau");
    crt.module.reset();
    EXPECT_EQ(kernel("GetModuleHandleA", {name}), 0u) << "unloaded";
}

TEST(Win32Modules, AMissingImportStopsOnlyTheCallThatReachesIt) {
    Loaded missing("Win32Missing.gau");
    EXPECT_EQ(missing.call("call_present", {1}), 2u);
    try {
        missing.call("call_missing", {1});
        ADD_FAILURE() << "the missing function returned";
    } catch (const GuestFault& fault) {
        EXPECT_EQ(fault.kind(), GuestFault::Kind::kUnboundImport);
        EXPECT_NE(std::string(fault.what()).find("NOSUCH.dll!Function"), std::string::npos) << fault.what();
    }
    EXPECT_EQ(missing.call("call_present", {2}), 3u);
}

}  // namespace
