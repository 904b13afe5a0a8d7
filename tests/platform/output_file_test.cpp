// Output files: refused before any byte is written when the name cannot be
// right, and never seen under their final name until complete.
#include "platform/output_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

class OutputFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("output_file_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "out");
        fs::create_directories(dir_ / "elsewhere");
        std::ofstream(dir_ / "target.png") << "keep";
        fs::create_symlink(dir_ / "target.png", dir_ / "link.png");
        fs::create_symlink(dir_ / "missing.png", dir_ / "dangling.png");
        fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "out" / "away");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string at(const std::string& name) const { return name.empty() ? name : (dir_ / name).string(); }
    size_t entries(const fs::path& folder) const {
        return static_cast<size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    fs::path dir_;
};

TEST_F(OutputFileTest, RefusesNamesThatCannotBeRight) {
    const struct {
        std::string name;
        std::string inside;   // relative to the scratch folder; empty: anywhere
        std::string refusal;  // empty: accepted
    } cases[] = {
        {"", "", "an empty file name"},
        {"out", "", "names a folder"},
        {"out/", "", "names a folder"},
        {"link.png", "", "is a symbolic link: "},
        {"dangling.png", "", "is a symbolic link (dangling)"},
        {"nowhere/x.png", "", "there is no folder"},
        {"out/away/x.png", "out", "lies outside"},
        {"out/x.png", "out", ""},
        {"out/../target.png", "", ""},
        {"target.png", "out", "lies outside"},
    };
    for (const auto& c : cases) {
        const std::string inside = c.inside.empty() ? "" : at(c.inside);
        try {
            platform::check_output_path(at(c.name), inside);
            EXPECT_TRUE(c.refusal.empty()) << c.name << ": accepted";
        } catch (const platform::OutputPathError& error) {
            EXPECT_FALSE(c.refusal.empty()) << c.name << ": " << error.what();
            EXPECT_NE(std::string(error.what()).find(c.refusal), std::string::npos) << error.what();
        }
    }
    std::ifstream target(dir_ / "target.png");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(target), {}), "keep") << "a refused name wrote its target";
}

TEST_F(OutputFileTest, TheFinalNameAppearsOnlyWhenComplete) {
    const fs::path final_name = dir_ / "out" / "picture.png";
    {
        platform::OutputFile abandoned(final_name.string());
        std::fputs("half", abandoned.file());
        EXPECT_FALSE(fs::exists(final_name));
        EXPECT_EQ(fs::path(abandoned.temporary_path()).parent_path(), fs::canonical(dir_ / "out"))
            << "a rename across folders could copy";
    }
    EXPECT_EQ(entries(dir_ / "out"), 1u) << "the abandoned file's temporary is left";

    for (const char* text : {"first", "second"}) {
        platform::OutputFile out(final_name.string());
        std::fputs(text, out.file());
        out.commit();
        std::ifstream in(final_name);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), text);
    }
    EXPECT_EQ(entries(dir_ / "out"), 2u) << "the picture and the link away, nothing else";
    EXPECT_NE(fs::status(final_name).permissions() & fs::perms::owner_read, fs::perms::none);
}

}  // namespace
