// Only the page's own files may be served: nothing reached through a
// symbolic link or `..`, whatever the request's spelling.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "web/http.h"

namespace {

namespace fs = std::filesystem;

TEST(StaticFiles, OnlyTheRootsOwnFiles) {
    const fs::path base = fs::temp_directory_path() / ("static_files_test_" + std::to_string(::getpid()));
    fs::remove_all(base);
    fs::create_directories(base / "root" / "sub");
    const auto write = [](const fs::path& path, const char* text) { std::ofstream(path) << text; };
    write(base / "root" / "index.html", "<p>page");
    write(base / "root" / "panel.js", "js");
    write(base / "root" / "sub" / "a.css", "css");
    write(base / "secret", "outside");
    fs::create_symlink("/etc/passwd", base / "root" / "passwd");
    fs::create_symlink(base / "secret", base / "root" / "secret.html");
    fs::create_symlink("/etc", base / "root" / "etc");
    fs::create_symlink(base / "root" / "panel.js", base / "root" / "inside.js");
    const int root = ::open((base / "root").c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(root, 0);
    struct Row {
        const char* target;
        int status;
        const char* body;
        const char* type;
    } rows[] = {
        {"/", 200, "<p>page", "text/html; charset=utf-8"},
        {"/panel.js?v=2", 200, "js", "text/javascript; charset=utf-8"},
        {"/sub/a.css", 200, "css", "text/css; charset=utf-8"},
        {"/sub/%61.css", 200, "css", "text/css; charset=utf-8"},
        {"/passwd", 404, "", ""},
        {"/secret.html", 404, "", ""},
        {"/etc/passwd", 404, "", ""},
        {"/inside.js", 404, "", ""},  // a link, even to a file of the page
        {"/../secret", 400, "", ""},
        {"/sub/../../secret", 400, "", ""},
        {"/%2e%2e/secret", 400, "", ""},
        {"/%2E%2E%2fsecret", 400, "", ""},
        {"/index.html%00.js", 400, "", ""},
        {"/%zz", 400, "", ""},
        {"secret", 400, "", ""},
        {"/missing.html", 404, "", ""},
        {"/sub", 404, "", ""},  // a directory
    };
    for (const Row& row : rows) {
        const web::StaticFile file = web::read_static(root, row.target);
        EXPECT_EQ(file.status, row.status) << row.target;
        EXPECT_EQ(file.body, row.body) << row.target;
        EXPECT_EQ(file.content_type, row.type) << row.target;
    }
    ::close(root);
    fs::remove_all(base);
}

}  // namespace
