// Loading modules: files that are no gauge module, and modules whose code
// faults while loading, are refused with a message that names the file; a
// module loads with its service table in its ImportTable, and its bitmaps
// come from its own PE file or the resource file given.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/host.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "support/test_paths.h"

namespace {

namespace fs = std::filesystem;

// A scratch directory with a text file named like a module, and copies of
// the fixture module whose code faults while loading.
class ScratchFiles {
public:
    ScratchFiles() : dir_(fs::temp_directory_path() / ("korvane_loader_" + std::to_string(counter_++))) {
        fs::create_directories(dir_);
        std::ofstream(text_file()) << "This is a text file, not a gauge module.\n";
    }
    ~ScratchFiles() {
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    std::string text_file() const { return (dir_ / "not_a_library.gau").string(); }
    std::string missing_file() const { return (dir_ / "missing_module.gau").string(); }

    // BenchFixture.gau with one 32-bit word replaced: the entry point or
    // module_init now points at the module's Linkage, data that cannot run;
    // or the Linkage's module id is another.
    enum class Patch { kEntryPoint, kModuleInit, kModuleId };
    std::string patched_fixture(const std::string& name, Patch patch) const {
        const emulator::PeImage image = emulator::PeImage::read_file(test_paths::module("BenchFixture.gau"));
        std::vector<uint8_t> bytes(image.file().begin(), image.file().end());
        const uint32_t linkage = image.export_rvas().at("Linkage");
        uint32_t file_offset = 0;
        uint32_t value = 0;
        if (patch == Patch::kEntryPoint) {
            uint32_t pe_header = 0;
            std::memcpy(&pe_header, &bytes[0x3C], 4);
            file_offset = pe_header + 4 + 20 + 16;  // AddressOfEntryPoint, an RVA
            value = linkage;
        } else {
            const uint32_t field = linkage + (patch == Patch::kModuleId ? offsetof(guest::LINKAGE_HEADER, module_id)
                                                                        : offsetof(guest::LINKAGE_HEADER, module_init));
            for (const emulator::PeSection& section : image.sections()) {
                if (field >= section.virtual_address && field - section.virtual_address < section.raw_size) {
                    file_offset = section.raw_offset + (field - section.virtual_address);
                }
            }
            // module_init: an address, relocated with the image.
            value = patch == Patch::kModuleId ? 0x12345678 : image.image_base() + linkage;
        }
        EXPECT_NE(file_offset, 0u);
        std::memcpy(&bytes[file_offset], &value, 4);
        const fs::path path = dir_ / name;
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        return path.string();
    }

private:
    static inline int counter_ = 0;
    fs::path dir_;
};

using Kind = runtime::ModuleError::Kind;
using Patch = ScratchFiles::Patch;

struct LoadErrorCase {
    const char* name;
    std::string path;
    std::string resource_path;
    std::string named;   // what the message must name
    const char* reason;  // and a word of the reason
    Kind kind;           // the part of the module at fault
};

TEST(ModuleLoaderErrors, RefusedFilesAreNamed) {
    ScratchFiles files;
    const std::string korvane = test_paths::module("KorvaneArtless.gau");
    const std::string no_exports = test_paths::module("NoExports.gau");
    const std::string linkage_only = test_paths::module("LinkageOnly.gau");
    const std::string bad_import_id = test_paths::module("BadImportId.gau");
    const std::string bad_import_end = test_paths::module("BadImportEnd.gau");
    // Its Linkage fills a section of its own, which bounds the table.
    const std::string unended_table = test_paths::module("FaultyGaugeTable.gau");
    const LoadErrorCase cases[] = {
        {"missing file", files.missing_file(), "", files.missing_file(), "not found", Kind::kFile},
        {"text file", files.text_file(), "", files.text_file(), "DOS", Kind::kFile},
        {"library without the exports", no_exports, "", no_exports, "Linkage", Kind::kExports},
        {"library without ImportTable", linkage_only, "", linkage_only, "no exported ImportTable", Kind::kExports},
        {"ImportTable for another entry", bad_import_id, "", bad_import_id, "0x0F", Kind::kExports},
        {"ImportTable without its end", bad_import_end, "", bad_import_end, "(0, null) end", Kind::kExports},
        {"gauge table filling its record", unended_table, "", unended_table, "null end", Kind::kGaugeTable},
        {"missing resource file", korvane, files.missing_file(), files.missing_file(), "not found", Kind::kResources},
        {"text resource file", korvane, files.text_file(), files.text_file(), "DOS", Kind::kResources},
        {"entry routine faults", files.patched_fixture("EntryFaults.gau", Patch::kEntryPoint), "", "EntryFaults.gau",
         "entry routine", Kind::kCode},
        {"module_init faults", files.patched_fixture("InitFaults.gau", Patch::kModuleInit), "", "InitFaults.gau",
         "module_init", Kind::kCode},
        {"another module id", files.patched_fixture("OtherId.gau", Patch::kModuleId), "", "OtherId.gau",
         "Linkage.module_id is 0x12345678, the host expects 0x13", Kind::kExports},
    };
    for (const LoadErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        runtime::Host host;
        try {
            runtime::Module module(host, c.path, c.resource_path);
            ADD_FAILURE() << "loaded " << c.path;
        } catch (const runtime::ModuleError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.named), std::string::npos) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
            EXPECT_EQ(error.kind(), c.kind) << message;
        }
        EXPECT_TRUE(host.service_log().empty());
        EXPECT_TRUE(host.key_event_handlers().empty());
    }
}

TEST(ModuleLoader, ImportTableHoldsTheModulesOwnServiceTable) {
    runtime::Host host;
    runtime::Module module(host, test_paths::module("KorvaneArtless.gau"));
    ASSERT_TRUE(module.panels());
    EXPECT_EQ(module.memory().read(module.import_table()).panels, module.panels());
    EXPECT_EQ(module.path(), test_paths::module("KorvaneArtless.gau"));
    EXPECT_FALSE(module.gauge("No_Such_Gauge"));
    EXPECT_EQ(module.gauge_name(module.gauges().front()), "Accelerometer");
    EXPECT_TRUE(host.unexpected_slots().empty());
}

// A module's bitmaps are its PE file's, or those of the file given in their
// place (the build without art drawn with the deliverable's).
TEST(ModuleLoader, BitmapsComeFromTheResourceFile) {
    const struct {
        const char* module;
        const char* resources;  // "": the module's own
    } cases[] = {{"Dropwatch.gau", ""}, {"Korvane.gau", ""}, {"KorvaneArtless.gau", "Korvane.gau"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.module);
        const std::string file = test_paths::module(*c.resources != '\0' ? c.resources : c.module);
        const emulator::PeImage image = emulator::PeImage::read_file(file);
        ASSERT_FALSE(image.bitmaps().empty());
        runtime::Host host;
        runtime::Module module(host, test_paths::module(c.module), *c.resources != '\0' ? file : std::string());
        for (const auto& [id, stored] : image.bitmaps()) {
            SCOPED_TRACE(id);
            const auto served = module.bitmap(id);
            ASSERT_TRUE(served.has_value());
            EXPECT_EQ(served->width, stored.width);
            EXPECT_EQ(served->height, stored.height);
            EXPECT_TRUE(std::ranges::equal(served->dib(), stored.dib()));
        }
        EXPECT_FALSE(module.bitmap(99).has_value());
    }
}

}  // namespace
