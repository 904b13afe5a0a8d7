// Loading modules: files that are no gauge module are refused with a message
// that names the file; a module loads with the host's table in its
// ImportTable, and its bitmaps come from its resource file.
#include <gtest/gtest.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/module.h"
#include "support/test_paths.h"

namespace {

namespace fs = std::filesystem;

// A scratch directory with a text file named like a module.
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

private:
    static inline int counter_ = 0;
    fs::path dir_;
};

using Kind = bench::ModuleError::Kind;

struct LoadErrorCase {
    const char* name;
    std::string path;
    std::string resource_path;
    std::string named;   // the file the message must name
    const char* reason;  // and a word of the reason
    Kind kind;           // the part of the module at fault
};

TEST(ModuleLoaderErrors, RefusedFilesAreNamed) {
    ScratchFiles files;
    const std::string korvane = test_paths::module("Korvane.gau");
    const std::string no_exports = test_paths::module("NoExports.gau");
    const std::string linkage_only = test_paths::module("LinkageOnly.gau");
    const std::string bad_import_id = test_paths::module("BadImportId.gau");
    const std::string bad_import_end = test_paths::module("BadImportEnd.gau");
    // Its Linkage fills a section of its own: the loader bounds the table by
    // the ELF symbol's size, or by the PE section's end.
    const std::string unended_table = test_paths::module("FaultyGaugeTable.gau");
    const LoadErrorCase cases[] = {
        {"missing file", files.missing_file(), "", files.missing_file(), "not found", Kind::kFile},
        {"text file", files.text_file(), "", files.text_file(), "not a loadable library", Kind::kFile},
        {"library without the exports", no_exports, "", no_exports, "Linkage", Kind::kExports},
        {"library without ImportTable", linkage_only, "", linkage_only, "no exported ImportTable", Kind::kExports},
        {"ImportTable for another entry", bad_import_id, "", bad_import_id, "0x0F", Kind::kExports},
        {"ImportTable without its end", bad_import_end, "", bad_import_end, "(0, null) end", Kind::kExports},
        {"gauge table filling its record", unended_table, "", unended_table, "null end", Kind::kGaugeTable},
        {"missing resource file", korvane, files.missing_file(), files.missing_file(), "not found", Kind::kResources},
        {"text resource file", korvane, files.text_file(), files.text_file(), "DOS", Kind::kResources},
    };
    for (const LoadErrorCase& c : cases) {
        SCOPED_TRACE(c.name);
        bench::Host host;
        try {
            bench::Module module(host, c.path, c.resource_path);
            ADD_FAILURE() << "loaded " << c.path;
        } catch (const bench::ModuleError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.named), std::string::npos) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
            EXPECT_EQ(error.kind(), c.kind) << message;
        }
        EXPECT_TRUE(host.service_log().empty());
    }
}

TEST(ModuleLoader, KorvaneLoadsWithTheHostsTable) {
    bench::Host host;
    bench::Module module(host, test_paths::module("Korvane.gau"));
    ASSERT_NE(module.import_table(), nullptr);
    ASSERT_NE(module.linkage(), nullptr);
    EXPECT_EQ(module.import_table()->panels, host.panels());
    EXPECT_EQ(module.path(), test_paths::module("Korvane.gau"));
    EXPECT_EQ(module.gauge("No_Such_Gauge"), nullptr);
    EXPECT_TRUE(host.unexpected_slots().empty());
}

// Bitmaps come from the PE build, also for the Linux twin.
TEST(ModuleLoader, BitmapsComeFromTheResourceFile) {
    const std::string pe = test_paths::pe("Korvane.gau");
    if (pe.empty()) GTEST_SKIP() << "KORVANE_PE_DIR is not set: the PE build of Korvane.gau is unknown";
    bench::Host host;
    bench::Module module(host, test_paths::module("Korvane.gau"), pe);
    const auto image = bench::PeImage::read_file(pe);
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

}  // namespace
