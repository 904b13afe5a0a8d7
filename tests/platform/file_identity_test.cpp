// One file under many names, and the guard of the files a process read.
#include "platform/file_identity.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/input_file.h"
#include "platform/output_file.h"
#include "platform/process_heap.h"

namespace {

namespace fs = std::filesystem;

class FileIdentityTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::path(testing::TempDir()) / ("file_identity_" + std::to_string(getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "sub");
        std::ofstream(dir_ / "a.cfg") << "kept";
        std::ofstream(dir_ / "b.cfg") << "kept";
        fs::create_symlink(dir_ / "a.cfg", dir_ / "link.cfg");
        fs::create_hard_link(dir_ / "a.cfg", dir_ / "sub" / "hard.cfg");
        fs::create_directory_symlink(dir_ / "sub", dir_ / "linked");
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string at(const std::string& name) const { return (dir_ / name).string(); }
    std::string contents(const std::string& name) const {
        std::ostringstream text;
        text << std::ifstream(dir_ / name).rdbuf();
        return text.str();
    }

    fs::path dir_;
};

TEST_F(FileIdentityTest, OneFileWhateverItsSpelling) {
    const struct {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"a.cfg", "./a.cfg", true},
        {"a.cfg", "sub/../a.cfg", true},
        {"a.cfg", "link.cfg", true},
        {"a.cfg", "sub/hard.cfg", true},
        {"a.cfg", "linked/hard.cfg", true},
        {"a.cfg", "b.cfg", false},
        {"new.png", "./sub/../new.png", true},  // neither exists yet
        {"sub/new.png", "linked/new.png", true},
        {"new.png", "sub/new.png", false},
        {"a.cfg", "a.cfg.png", false},  // one exists, one does not
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(platform::file_identity(at(c.a)) == platform::file_identity(at(c.b)), c.same);
    }
}

// A file the process read is never replaced by one it writes, under any of
// its names; the output's temporary file goes with the refusal.
TEST_F(FileIdentityTest, AFileReadIsNotWrittenOver) {
    platform::read_input_file(at("link.cfg"), 100);
    EXPECT_TRUE(platform::file_was_read(at("sub/hard.cfg")));
    EXPECT_FALSE(platform::file_was_read(at("b.cfg")));
    for (const char* name : {"a.cfg", "sub/hard.cfg"}) {
        SCOPED_TRACE(name);
        platform::OutputFile out(at(name));
        std::fputs("written", out.file());
        EXPECT_THROW(out.commit(), platform::OutputPathError);
        EXPECT_EQ(contents(name), "kept");
    }
    platform::OutputFile other(at("b.cfg"));
    std::fputs("written", other.file());
    other.commit();
    EXPECT_EQ(contents("b.cfg"), "written");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()), 5);
}

// A binary file is read as the same bytes a text file is, under the same limit.
TEST_F(FileIdentityTest, BytesAsTextIsRead) {
    const std::vector<uint8_t> bytes = platform::read_input_bytes(at("a.cfg"), 100);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()), platform::read_input_file(at("a.cfg"), 100));
    EXPECT_THROW(platform::read_input_bytes(at("a.cfg"), 3), platform::InputFileError);
    EXPECT_THROW(platform::read_input_bytes(at("sub"), 100), platform::InputFileError);
}

// Once a one-shot command has laid out its heap, a picture-sized block is
// not a mapping of its own, and freeing it leaves the heap as large.
TEST(ProcessHeapTest, LargeBuffersStayInTheHeap) {
    platform::keep_large_buffers_in_heap();
    const struct mallinfo2 before = mallinfo2();
    void* volatile block = std::malloc(32u << 20);
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(mallinfo2().hblks, before.hblks);
    std::free(block);
    EXPECT_GE(mallinfo2().arena, before.arena);
}

}  // namespace
