// The PE32 loader on the real deliverables and the emulator fixture modules
// (tests/fixtures/emulator): loading with every import trapped, exports,
// section protections, relocation when the preferred base is taken, each
// fixture's misbehaviour as a GuestFault, and malformed files refused by name.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "emulator/pe/pe_image.h"
#include "emulator/pe/pe_module.h"
#include "fault_of.h"
#include "frame/linkage.h"
#include "frame/records.h"
#include "support/test_paths.h"

namespace {

using emulator::Convention;
using emulator::EmulatedMachine;
using emulator::GuestFault;
using emulator::LoadError;
using emulator::PeModule;
using Kind = emulator::GuestFault::Kind;
using frame::GuestPtr;

// Binds what the test provides ("dll!name", the DLL in lower case); every
// other import is a trap that stops the call naming it.
class TestResolver : public emulator::ImportResolver {
public:
    explicit TestResolver(EmulatedMachine& machine) : machine_(machine) {}

    std::optional<uint32_t> resolve(std::string_view dll, std::string_view name) override {
        const auto found = provided.find(key(dll, name));
        if (found == provided.end()) return std::nullopt;
        return found->second;
    }
    uint32_t trap(std::string_view dll, std::string_view name, std::string_view) override {
        const std::string what = std::string(dll) + "!" + std::string(name);
        trapped.push_back(what);
        return machine_.host_routine(what, 0, Convention::kStdcall, [what](auto) -> uint32_t {
            throw GuestFault(Kind::kUnboundImport, 0, 0, what + " is not provided");
        });
    }
    void module_mapped(const std::string& name, uint32_t base, uint32_t size,
                       std::function<std::optional<uint32_t>(std::string_view)> exports) override {
        mapped[name] = base;
        sizes[name] = size;
        lookups[name] = std::move(exports);
    }
    void module_unmapped(uint32_t base) override { unmapped.push_back(base); }

    static std::string key(std::string_view dll, std::string_view name) {
        std::string lower(dll);
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return lower + "!" + std::string(name);
    }

    std::map<std::string, uint32_t> provided;
    std::vector<std::string> trapped;
    std::map<std::string, uint32_t> mapped;
    std::map<std::string, uint32_t> sizes;
    std::vector<uint32_t> unmapped;
    std::map<std::string, std::function<std::optional<uint32_t>(std::string_view)>> lookups;

private:
    EmulatedMachine& machine_;
};

std::vector<uint8_t> file_bytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

std::string module_path(const std::string& name) {
    const std::string path = test_paths::module(name);
    if (!std::ifstream(path)) ADD_FAILURE() << path << " is missing: build it in the PE tree (KORVANE_MODULE_DIR)";
    return path;
}

// A loaded module's records, reached as the host reaches them.
struct Records {
    const EmulatedMachine& machine;
    uint32_t linkage;

    guest::LINKAGE_HEADER header() const { return machine.memory().read(GuestPtr<guest::LINKAGE_HEADER>(linkage)); }
    uint32_t gauge() const { return machine.memory().read(GuestPtr<uint32_t>(linkage + 24)); }
    guest::GAUGEHDR gauge_header() const { return machine.memory().read(GuestPtr<guest::GAUGEHDR>(gauge())); }
    // The gauge's background is its first element, the needle the next.
    uint32_t needle() const {
        const uint32_t background = machine.memory().read(GuestPtr<uint32_t>(gauge_header().element_list.address));
        const auto& header = machine.memory().read(GuestPtr<guest::ELEMENT_HEADER>(background));
        return machine.memory().read(GuestPtr<uint32_t>(header.next_element_list.address));
    }
    uint32_t needle_callback() const {
        return machine.memory().read(GuestPtr<guest::ELEMENT_NEEDLE>(needle())).update_callback.address;
    }
    uint32_t mouse_handler() const {
        return machine.memory()
            .read(GuestPtr<guest::MOUSERECT>(gauge_header().mouse_rects.address).at(1))
            .handler.address;
    }
};

// The deliverables load with every import a trap: their entry routine runs,
// their Linkage reads as a module's.
TEST(PeModule, DeliverablesLoadWithEveryImportTrapped) {
    for (const char* name : {"Dropwatch.gau", "KorvaneArtless.gau"}) {
        SCOPED_TRACE(name);
        EmulatedMachine machine;
        TestResolver resolver(machine);
        const std::string path = module_path(name);
        const auto module = PeModule::load(machine, resolver, path);
        const emulator::PeImage& image = *module->image();
        EXPECT_EQ(module->base(), image.image_base());
        EXPECT_EQ(resolver.mapped.at(name), module->base());
        EXPECT_EQ(resolver.sizes.at(name), image.size_of_image());
        const std::optional<uint32_t> linkage = module->export_address("Linkage");
        ASSERT_TRUE(linkage.has_value());
        ASSERT_TRUE(module->export_address("ImportTable").has_value());
        EXPECT_FALSE(module->export_address("DllMain").has_value());
        EXPECT_EQ(resolver.lookups.at(name)("Linkage"), linkage);
        EXPECT_EQ(Records({machine, *linkage}).header().module_id, kModuleId);
        EXPECT_GT(machine.last_call().instructions, 0u);  // DllMain ran
        for (const emulator::Import& import : module->imports()) {
            EXPECT_FALSE(import.bound) << import.dll << "!" << import.name;
            EXPECT_NE(machine.memory().read(GuestPtr<uint32_t>(import.slot)), 0u);  // the trap's address
        }
        EXPECT_EQ(resolver.trapped.size(), module->imports().size());
    }
}

TEST(PeModule, ImportsBindThroughTheResolver) {
    EmulatedMachine machine;
    TestResolver resolver(machine);
    const uint32_t find_window = machine.host_routine("FindWindowA", 2, Convention::kStdcall, [](auto) { return 0u; });
    resolver.provided["user32.dll!FindWindowA"] = find_window;
    const auto module = PeModule::load(machine, resolver, module_path("KorvaneArtless.gau"));
    ASSERT_FALSE(module->imports().empty());
    for (const emulator::Import& import : module->imports()) {
        const bool provided = TestResolver::key(import.dll, import.name) == "user32.dll!FindWindowA";
        EXPECT_EQ(import.bound, provided) << import.name;
        if (provided) {
            EXPECT_EQ(machine.memory().read(GuestPtr<uint32_t>(import.slot)), find_window);
        }
    }
}

// Headers and .rdata read-only, .text executable and read-only, .data
// writable: for the module and for the host's views alike.
TEST(PeModule, SectionsKeepTheirProtections) {
    EmulatedMachine machine;
    TestResolver resolver(machine);
    const auto module = PeModule::load(machine, resolver, module_path("EmuReadOnly.gau"));
    const emulator::GuestMemory& memory = machine.memory();
    const uint32_t linkage = *module->export_address("Linkage");
    const uint32_t import_table = *module->export_address("ImportTable");
    const uint32_t entry = module->base() + module->image()->entry_point();
    const struct {
        const char* name;
        uint32_t address;
        const char* region;
        uint8_t protection;
    } cases[] = {
        {"headers", module->base(), "headers of EmuReadOnly.gau", EmulatedMachine::kRead},
        {"Linkage, const", linkage, ".rdata of EmuReadOnly.gau", EmulatedMachine::kRead},
        {"ImportTable", import_table, ".data of EmuReadOnly.gau", EmulatedMachine::kRead | EmulatedMachine::kWrite},
        {"the entry routine", entry, ".text of EmuReadOnly.gau", EmulatedMachine::kRead | EmulatedMachine::kExecute},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NE(memory.find(c.address, 4), nullptr);
        EXPECT_EQ(memory.find(c.address, 4)->name, c.region);
        EXPECT_EQ(machine.protection(c.address), c.protection);
        EXPECT_EQ(memory.writable(c.address, 4), (c.protection & EmulatedMachine::kWrite) != 0);
    }
    EXPECT_THROW(machine.memory().write(GuestPtr<uint32_t>(linkage)), GuestFault);
    // The module's own write into its read-only records faults there.
    const Records records{machine, linkage};
    const uint32_t needle = records.needle();
    const uint32_t arg[] = {needle};
    const GuestFault fault =
        fault_of([&] { machine.call_double(records.needle_callback(), arg, Convention::kStdcall); });
    EXPECT_EQ(fault.kind(), Kind::kWrite) << fault.what();
    EXPECT_EQ(fault.address(), needle + 124) << fault.what();  // reserved_3[0]
    EXPECT_GE(fault.pc(), module->base());
    EXPECT_LT(fault.pc(), module->base() + module->image_size());
    EXPECT_NE(std::string(fault.what()).find("read-only, .rdata of EmuReadOnly.gau"), std::string::npos)
        << fault.what();
}

// Each fixture's routine does what it was built to do, and the machine goes on.
TEST(PeModule, FixturesMisbehaveAsBuilt) {
    EmulatedMachine::Options options;
    options.instruction_budget = 5'000'000;
    EmulatedMachine machine(options);
    TestResolver resolver(machine);
    const struct {
        const char* file;
        const char* routine;  // gauge_callback, module_init, needle, mouse
        Kind kind;
        uint32_t address;  // 0: not checked
    } cases[] = {
        {"EmuCrash.gau", "gauge_callback", Kind::kWrite, 0x0BADF00C},
        {"EmuInitCrash.gau", "module_init", Kind::kWrite, 0x0BADF00C},
        {"EmuLoop.gau", "gauge_callback", Kind::kBudget, 0},
        {"EmuDivide.gau", "gauge_callback", Kind::kDivide, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const auto module = PeModule::load(machine, resolver, module_path(c.file));
        const Records records{machine, *module->export_address("Linkage")};
        const GuestFault fault = fault_of([&] {
            if (std::string(c.routine) == "module_init") {
                machine.call(records.header().module_init.address, {}, Convention::kStdcall);
            } else {
                const uint32_t args[] = {records.gauge(), kServiceUpdate, 0};
                machine.call(records.gauge_header().gauge_callback.address, args, Convention::kStdcall);
            }
        });
        EXPECT_EQ(fault.kind(), c.kind) << fault.what();
        if (c.address != 0) {
            EXPECT_EQ(fault.address(), c.address) << fault.what();
        }
        EXPECT_GE(fault.pc(), module->base()) << fault.what();
        EXPECT_LT(fault.pc(), module->base() + module->image_size()) << fault.what();
        // Other routines of the module still run.
        machine.call(records.header().module_deinit.address, {}, Convention::kStdcall);
    }
}

TEST(PeModule, TheModuleSeesItsThreadThroughFs) {
    EmulatedMachine machine;
    TestResolver resolver(machine);
    const auto module = PeModule::load(machine, resolver, module_path("EmuTib.gau"));
    const Records records{machine, *module->export_address("Linkage")};
    const uint32_t point = machine.allocate(8);
    const uint32_t mouse_args[] = {point, kMouseClick};
    EXPECT_EQ(machine.call(records.mouse_handler(), mouse_args, Convention::kStdcall), machine.thread_block());
    const uint32_t needle_args[] = {records.needle()};
    EXPECT_EQ(machine.call_double(records.needle_callback(), needle_args, Convention::kStdcall),
              static_cast<double>(machine.thread_block()));
}

// A module whose base is taken moves, its relocations applied; it loads
// again at its base once the first copy is gone.
TEST(PeModule, RelocatesWhenItsBaseIsTaken) {
    EmulatedMachine machine;
    TestResolver resolver(machine);
    const std::string path = module_path("EmuTib.gau");
    const emulator::PeImage image = emulator::PeImage::read_file(path);
    ASSERT_FALSE(image.relocations().empty());

    auto first = PeModule::load(machine, resolver, path);
    auto second = PeModule::load(machine, resolver, path);
    EXPECT_EQ(first->base(), image.image_base());
    EXPECT_NE(second->base(), image.image_base());
    EXPECT_EQ(second->base() % 0x10000, 0u);
    for (const auto* module : {first.get(), second.get()}) {
        const Records records{machine, *module->export_address("Linkage")};
        const uint32_t init = records.header().module_init.address;
        EXPECT_GE(init, module->base());
        EXPECT_LT(init, module->base() + module->image_size());
        machine.call(init, {}, Convention::kStdcall);
        const uint32_t needle_args[] = {records.needle()};
        EXPECT_EQ(machine.call_double(records.needle_callback(), needle_args, Convention::kStdcall),
                  static_cast<double>(machine.thread_block()));
    }
    const uint32_t moved = second->base();
    second.reset();
    EXPECT_EQ(resolver.unmapped, std::vector<uint32_t>{moved});
    EXPECT_FALSE(machine.memory().readable(moved, 4));
    first.reset();
    EXPECT_FALSE(machine.memory().readable(image.image_base(), 4));
    EXPECT_EQ(PeModule::load(machine, resolver, path)->base(), image.image_base());
}

// File offsets of the parts damage cases aim at.
struct Layout {
    std::vector<uint8_t> bytes;
    uint32_t pe = 0;
    uint32_t coff = 0;
    uint32_t optional = 0;
    uint32_t sections = 0;
    emulator::PeImage image;

    explicit Layout(const std::string& path) : bytes(file_bytes(path)), image(emulator::PeImage::parse(bytes, path)) {
        pe = get32(0x3C);
        coff = pe + 4;
        optional = coff + 20;
        sections = optional + get16(coff + 16);
    }
    uint32_t get32(uint32_t at) const {
        uint32_t value = 0;
        std::memcpy(&value, &bytes[at], 4);
        return value;
    }
    uint16_t get16(uint32_t at) const {
        uint16_t value = 0;
        std::memcpy(&value, &bytes[at], 2);
        return value;
    }
    void put32(uint32_t at, uint32_t value) { std::memcpy(&bytes[at], &value, 4); }
    void put16(uint32_t at, uint16_t value) { std::memcpy(&bytes[at], &value, 2); }
    uint32_t directory(int index) const { return optional + 96 + 8 * index; }
    uint32_t file_offset(uint32_t rva) const {
        for (const emulator::PeSection& section : image.sections()) {
            if (rva >= section.virtual_address && rva - section.virtual_address < section.raw_size)
                return section.raw_offset + (rva - section.virtual_address);
        }
        ADD_FAILURE() << "RVA " << rva << " is in no section's data";
        return 0;
    }
};

TEST(PeModule, MalformedFilesAreRefusedByName) {
    const std::string dropwatch = module_path("Dropwatch.gau");
    const std::string artless = module_path("KorvaneArtless.gau");
    const struct {
        const char* name;
        const std::string& file;
        std::function<void(Layout&)> damage;
        const char* reason;
    } cases[] = {
        {"cut within the DOS header", dropwatch, [](Layout& l) { l.bytes.resize(0x30); }, "truncated DOS header"},
        {"cut within the section table", dropwatch, [](Layout& l) { l.bytes.resize(l.sections + 20); },
         "truncated section table"},
        {"no DOS signature", dropwatch, [](Layout& l) { l.bytes[0] = 'X'; }, "no DOS signature"},
        {"PE header beyond the file", dropwatch, [](Layout& l) { l.put32(0x3C, 0x7FFFFFF0); }, "truncated PE header"},
        {"no PE signature", dropwatch, [](Layout& l) { l.bytes[l.pe] = 'X'; }, "no PE signature"},
        {"built for x86-64", dropwatch, [](Layout& l) { l.put16(l.coff, 0x8664); }, "not i386"},
        {"not a DLL", dropwatch, [](Layout& l) { l.put16(l.coff + 18, l.get16(l.coff + 18) & ~0x2000); }, "not a DLL"},
        {"PE32+", dropwatch, [](Layout& l) { l.put16(l.optional, 0x20B); }, "not a PE32 image"},
        {"image base off 64 KiB", dropwatch,
         [](Layout& l) { l.put32(l.optional + 28, l.get32(l.optional + 28) + 0x1000); }, "not a multiple of 64 KiB"},
        {"no size of image", dropwatch, [](Layout& l) { l.put32(l.optional + 56, 0); }, "size of image 0x00000000"},
        {"entry point beyond the image", dropwatch, [](Layout& l) { l.put32(l.optional + 16, 0x00FFFFFF); },
         "entry point 0x00FFFFFF outside the image"},
        {"section beyond the image", dropwatch, [](Layout& l) { l.put32(l.sections + 12, 0x01000000); },
         "section .text at RVA 0x01000000 lies outside the image"},
        {"section off the section alignment", dropwatch,
         [](Layout& l) { l.put32(l.sections + 12, l.get32(l.sections + 12) + 0x10); },
         "section .text at RVA 0x00001010 is not a multiple of the section alignment 0x00001000"},
        {"sections overlapping", dropwatch, [](Layout& l) { l.put32(l.sections + 40 + 12, l.get32(l.sections + 12)); },
         "overlaps section .text"},
        {"section data beyond the file", dropwatch, [](Layout& l) { l.put32(l.sections + 20, 0x00FFFFF0); },
         "data beyond the end of the file"},
        {"relocation block of an odd size", dropwatch,
         [](Layout& l) { l.put32(l.file_offset(l.get32(l.directory(5))) + 4, 11); }, "base relocation block"},
        {"relocation outside the image", dropwatch,
         [](Layout& l) { l.put32(l.file_offset(l.get32(l.directory(5))), 0x00FFF000); }, "base relocation of RVA"},
        {"export ordinal beyond the address table", dropwatch,
         [](Layout& l) {
             const uint32_t directory = l.file_offset(l.get32(l.directory(0)));
             l.put16(l.file_offset(l.get32(directory + 36)), 0x7FFF);
         },
         "of an export address table of"},
        {"export outside the image", dropwatch,
         [](Layout& l) {
             const uint32_t directory = l.file_offset(l.get32(l.directory(0)));
             l.put32(l.file_offset(l.get32(directory + 28)), 0x00FFFFFF);
         },
         "outside the image"},
        {"imported name outside the file", artless,
         [](Layout& l) {
             const uint32_t descriptor = l.file_offset(l.get32(l.directory(1)));
             l.put32(l.file_offset(l.get32(descriptor)), 0x00FFFFF0);
         },
         "imported function hint outside the file's sections"},
        {"import without an address table", artless,
         [](Layout& l) { l.put32(l.file_offset(l.get32(l.directory(1))) + 16, 0); }, "without an import address table"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Layout layout(c.file);
        c.damage(layout);
        EmulatedMachine machine;
        TestResolver resolver(machine);
        try {
            PeModule::load(machine, resolver, std::move(layout.bytes), "damaged.gau");
            ADD_FAILURE() << "loaded";
        } catch (const LoadError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("damaged.gau: ", 0), 0u) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        }
        // Nothing of it stays mapped.
        EXPECT_TRUE(resolver.mapped.empty());
    }
    EmulatedMachine machine;
    TestResolver resolver(machine);
    try {
        PeModule::load(machine, resolver, "no_such_directory/Missing.gau");
        ADD_FAILURE() << "loaded a missing file";
    } catch (const LoadError& error) {
        EXPECT_EQ(std::string(error.what()), "no_such_directory/Missing.gau: file not found");
    }
}

// What Windows would refuse to load: an entry routine returning FALSE (it
// gets its detach call), a relocation of a type the loader does not apply
// where the module must move, a module without relocations whose base is
// taken.
TEST(PeModule, LoadsWindowsRefusesAreRefused) {
    const std::string path = module_path("Dropwatch.gau");
    // xor eax, eax; ret 12
    const auto refuse = [](Layout& l) {
        const uint8_t code[] = {0x31, 0xC0, 0xC2, 0x0C, 0x00};
        std::memcpy(&l.bytes[l.file_offset(l.image.entry_point())], code, sizeof code);
    };
    const auto dir64_relocation = [](Layout& l) {
        const uint32_t block = l.file_offset(l.get32(l.directory(5)));
        l.put16(block + 8, static_cast<uint16_t>((l.get16(block + 8) & 0x0FFF) | 0xA000));
    };
    const auto no_relocations = [](Layout& l) {
        l.put32(l.directory(5), 0);
        l.put32(l.directory(5) + 4, 0);
    };
    const struct {
        const char* name;
        std::function<void(Layout&)> damage;
        bool base_taken;
        const char* reason;  // null: it loads
    } cases[] = {
        {"entry routine returning FALSE", refuse, false, "entry routine refused to load (returned FALSE)"},
        {"a DIR64 relocation, not moved", dir64_relocation, false, nullptr},
        {"a DIR64 relocation, moved", dir64_relocation, true, "base relocation of type 10 at RVA"},
        {"no relocations, not moved", no_relocations, false, nullptr},
        {"no relocations, base taken", no_relocations, true, "is taken and it carries no base relocations"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Layout layout(path);
        c.damage(layout);
        EmulatedMachine machine;
        TestResolver resolver(machine);
        if (c.base_taken) {
            ASSERT_EQ(machine.reserve(layout.image.size_of_image(), layout.image.image_base()),
                      layout.image.image_base());
        }
        if (c.reason == nullptr) {
            EXPECT_NO_THROW(PeModule::load(machine, resolver, std::move(layout.bytes), "changed.gau"));
            continue;
        }
        try {
            PeModule::load(machine, resolver, std::move(layout.bytes), "changed.gau");
            ADD_FAILURE() << "loaded";
        } catch (const LoadError& error) {
            EXPECT_EQ(std::string(error.what()).rfind("changed.gau: ", 0), 0u) << error.what();
            EXPECT_NE(std::string(error.what()).find(c.reason), std::string::npos) << error.what();
        }
        // Unloaded: the original loads where the refused one was.
        const auto again = PeModule::load(machine, resolver, path);
        if (!c.base_taken) {
            EXPECT_EQ(again->base(), layout.image.image_base());
        }
    }
}

}  // namespace
