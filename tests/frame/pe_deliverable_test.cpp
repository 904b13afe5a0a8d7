// The PE deliverables as the simulator's loader sees them: 32-bit x86 DLLs
// exporting exactly Linkage and ImportTable and importing only system DLLs
// that every Windows (and Wine) carries.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include "emulator/pe/pe_image.h"
#include "support/test_paths.h"

namespace {

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

struct Deliverable {
    const char* file;
    std::vector<std::string> exports;       // exactly these, in any order
    std::set<std::string> allowed_imports;  // lower case
    std::set<std::string> needed_imports;   // lower case: the DLLs its code calls into
};

const Deliverable kDeliverables[] = {
    {"Korvane.gau", {"ImportTable", "Linkage"}, {"kernel32.dll", "user32.dll", "msvcrt.dll"}, {"user32.dll"}},
    {"Dropwatch.gau", {"ImportTable", "Linkage"}, {"kernel32.dll", "user32.dll", "msvcrt.dll"}, {}},
};

TEST(PeDeliverable, ExportsImportsAndKind) {
    for (const Deliverable& d : kDeliverables) {
        SCOPED_TRACE(d.file);
        const std::string path = test_paths::pe(d.file);
        if (path.empty()) GTEST_SKIP() << "KORVANE_PE_DIR is not set: the PE build to check is unknown";
        const emulator::PeImage image = emulator::PeImage::read_file(path);

        EXPECT_TRUE(image.is_dll()) << path << " is not marked as a DLL";
        EXPECT_EQ(image.machine(), emulator::pe::kMachineI386) << path << " is not built for i386";

        std::vector<std::string> exports = image.exports();
        std::sort(exports.begin(), exports.end());
        EXPECT_EQ(exports, d.exports);

        std::set<std::string> imports;
        for (const std::string& dll : image.imported_dlls()) {
            EXPECT_EQ(d.allowed_imports.count(lower(dll)), 1u) << path << " imports " << dll;
            imports.insert(lower(dll));
        }
        EXPECT_TRUE(std::includes(imports.begin(), imports.end(), d.needed_imports.begin(), d.needed_imports.end()))
            << path << " lacks an import its code needs";
    }
}

}  // namespace
