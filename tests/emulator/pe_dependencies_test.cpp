// The DLLs a module imports, loaded as Windows loads them, on the DLL
// fixtures (tests/fixtures/dlls): bound by name, by ordinal and through a
// forwarder, a cycle of imports, entry routines in Windows' order and
// GetProcAddress agreeing with the binding; then what goes wrong, each in a
// folder of its own: a DLL found elsewhere or under another letter case, one
// that is nowhere, one that is no DLL, and the limits.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/pe/pe_dependencies.h"
#include "emulator/win32/win32_environment.h"
#include "support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using emulator::Convention;
using emulator::DependentDlls;
using emulator::GuestFault;
using emulator::LoadError;

std::string fixture(const std::string& file) { return test_paths::module("dlls/" + file); }

struct Loaded {
    Loaded(const std::string& path, std::vector<std::string> folders, DependentDlls::Limits limits = {})
        : windows(machine), dlls(machine, windows, std::move(folders), limits), module(dlls.load(path)) {}
    uint32_t call(const char* name, const std::vector<uint32_t>& args = {}) {
        return machine.call(*module->export_address(name), args, Convention::kCdecl);
    }

    emulator::EmulatedMachine machine;
    emulator::Win32Environment windows;
    DependentDlls dlls;
    std::unique_ptr<emulator::PeModule> module;
};

TEST(DependentDlls, ImportsBindAsOnWindows) {
    Loaded user(fixture("DllUser.dll"), {});
    for (const emulator::Import& import : user.module->imports())
        EXPECT_TRUE(import.bound) << import.dll << "!" << import.name;
    const struct {
        const char* call;
        std::vector<uint32_t> args;
        uint32_t expected;
    } calls[] = {
        {"user_twice", {21}, 42},  // DepA's by ordinal only
        {"user_cycle", {}, 43},    // DepB's, which calls DepA's
        {"user_lookups", {}, 15},  // GetProcAddress by name, ordinal, forwarder and a forwarder loop
    };
    for (const auto& c : calls) EXPECT_EQ(user.call(c.call, c.args), c.expected) << c.call;
    // Through DepA's forwarder to DepB: DepB's entry routine ran first, then
    // DepA's, whose imports it needed, then the module's.
    const uint32_t log = user.call("user_log");
    EXPECT_EQ(user.machine.memory().read_string(emulator::GuestPtr<const char>(log)), "bau");
    const std::vector<emulator::DependentDll> loaded = user.dlls.loaded();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].path, fixture("DepB.dll"));
    EXPECT_EQ(loaded[0].imported_by, "DepA.dll");
    EXPECT_EQ(loaded[1].path, fixture("DepA.dll"));
    EXPECT_EQ(loaded[1].imported_by, "DllUser.dll");
}

TEST(DependentDlls, WhatGoesWrongIsNamed) {
    char made[] = "/tmp/dependent_dlls_XXXXXX";
    ASSERT_NE(mkdtemp(made), nullptr);
    const fs::path root(made);
    const struct {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;  // {fixture or "" (empty), as}, beside the module
        bool dep_b_elsewhere;                                    // DepB.dll in the folder searched next
        DependentDlls::Limits limits;
        std::string load_error;  // empty: it loads
        std::string call_fault;  // of user_twice; empty: it returns 42
    } cases[] = {
        {"DepB.dll in the next folder", {{"DepA.dll", "DepA.dll"}}, true, {}, "", ""},
        {"another letter case", {{"DepA.dll", "depa.DLL"}, {"DepB.dll", "DEPB.dll"}}, false, {}, "", ""},
        {"DepA.dll nowhere",
         {{"DepB.dll", "DepB.dll"}},
         false,
         {},
         "",
         "call of DepA.dll!#5, which the host does not provide: DepA.dll is in none of the folders searched "
         "(the module's folder {dir}, {next})"},
        {"DepB.dll no DLL",
         {{"DepA.dll", "DepA.dll"}, {"", "DepB.dll"}},
         false,
         {},
         "DllUser.dll imports DepA.dll imports DepB.dll: {dir}/DepB.dll: ",
         ""},
        {"too deep",
         {{"DepA.dll", "DepA.dll"}, {"DepB.dll", "DepB.dll"}},
         false,
         {.depth = 1},
         "DllUser.dll imports DepA.dll imports DepB.dll: DLLs importing DLLs more than 1 deep",
         ""},
        {"too many",
         {{"DepA.dll", "DepA.dll"}, {"DepB.dll", "DepB.dll"}},
         false,
         {.dlls = 1},
         "DllUser.dll imports DepA.dll imports DepB.dll: more than the 1 DLLs the host loads for one module",
         ""},
    };
    int index = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path dir = root / std::to_string(index), next = root / (std::to_string(index) + "_next");
        ++index;
        fs::create_directories(dir);
        fs::create_directories(next);
        fs::copy_file(fixture("DllUser.dll"), dir / "DllUser.dll");
        for (const auto& [file, as] : c.files) {
            if (file.empty()) {
                std::ofstream(dir / as).flush();
            } else {
                fs::copy_file(fixture(file), dir / as);
            }
        }
        if (c.dep_b_elsewhere) fs::copy_file(fixture("DepB.dll"), next / "DepB.dll");
        const auto named = [&](std::string text) {
            for (const auto& [word, path] : {std::pair<std::string, fs::path>{"{dir}", dir}, {"{next}", next}})
                if (const size_t at = text.find(word); at != std::string::npos)
                    text.replace(at, word.size(), path.string());
            return text;
        };
        try {
            Loaded user((dir / "DllUser.dll").string(), {next.string()}, c.limits);
            EXPECT_TRUE(c.load_error.empty()) << "loaded";
            try {
                EXPECT_EQ(user.call("user_twice", {21}), 42u);
                EXPECT_TRUE(c.call_fault.empty()) << "the call returned";
            } catch (const GuestFault& fault) {
                EXPECT_NE(c.call_fault, "");
                EXPECT_NE(std::string(fault.what()).find(named(c.call_fault)), std::string::npos) << fault.what();
            }
        } catch (const LoadError& error) {
            EXPECT_NE(c.load_error, "");
            EXPECT_NE(std::string(error.what()).find(named(c.load_error)), std::string::npos) << error.what();
        }
    }
    fs::remove_all(root);
}

}  // namespace
