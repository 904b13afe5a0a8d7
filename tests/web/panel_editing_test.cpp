// Saving the panel file from the layout editor: refused over a file changed
// on disk unless told, the file before kept as .bak, nothing lost when the
// write cannot be made.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <string>

#include "web/panel_editing.h"

namespace {

namespace fs = std::filesystem;

std::string read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void write(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(SavePanelFile, KeepsTheFileBeforeAndRefusesOneChangedOnDisk) {
    struct Case {
        const char* what;
        std::string on_disk;  // as the file stands when saved
        bool overwrite;
        bool saved, changed_on_disk;
    };
    const std::string loaded = "[Window00]\r\ngauge00=A!B, 1, 2\r\n", edited = "[Window00]\r\ngauge00=A!B, 9, 2\r\n";
    const Case cases[] = {
        {"as loaded: saved", loaded, false, true, false},
        {"changed on disk: refused", loaded + "; by hand\r\n", false, false, true},
        {"changed on disk, overwrite: saved", loaded + "; by hand\r\n", true, true, false},
    };
    const fs::path dir = fs::temp_directory_path() / ("panel-save-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()));
    fs::create_directories(dir);
    const fs::path panel = dir / "panel.cfg";
    for (const Case& c : cases) {
        fs::remove(fs::path(panel.string() + ".bak"));
        write(panel, c.on_disk);
        const web::SaveResult result = web::save_panel_file(panel.string(), loaded, edited, c.overwrite);
        EXPECT_EQ(result.saved, c.saved) << c.what << ": " << result.why;
        EXPECT_EQ(result.changed_on_disk, c.changed_on_disk) << c.what;
        EXPECT_EQ(read(panel), c.saved ? edited : c.on_disk) << c.what;
        EXPECT_EQ(fs::exists(panel.string() + ".bak"), c.saved) << c.what;
        if (c.saved) {
            EXPECT_EQ(read(panel.string() + ".bak"), c.on_disk) << c.what;
        }
    }
    // A folder that cannot be written: the reason given, the file as it was.
    write(panel, loaded);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    const bool writable = ::access(dir.c_str(), W_OK) == 0;  // root writes anyway
    const web::SaveResult refused = web::save_panel_file(panel.string(), loaded, edited, false);
    fs::permissions(dir, fs::perms::owner_all);
    if (!writable) {
        EXPECT_FALSE(refused.saved);
        EXPECT_NE(refused.why.find("not saved"), std::string::npos) << refused.why;
        EXPECT_EQ(read(panel), loaded);
    }
    fs::remove_all(dir);
}

}  // namespace
