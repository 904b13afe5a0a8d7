// Only the page's own files may be served: nothing reached through a
// symbolic link or `..`, whatever the request's spelling. A request's head
// is answered as RFC 9112 and 6455 say, and only the panel's own page, on a
// name the server answers to, may open its WebSocket.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

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

// What the server answers the whole head `text`: 101 or 200 when it goes
// on to the socket or the file, -1 when it waits for more.
int answer(std::string_view text, const web::Listening& listening) {
    const auto end = web::head_end(text);
    if (!end) return -1;
    EXPECT_EQ(end->second, text.size()) << text;
    const std::optional<web::Request> request = web::parse_request_head(text.substr(0, end->first));
    if (!request) return 400;
    if (const std::optional<std::string> refused = web::refusal(*request, listening))
        return std::stoi(refused->substr(9, 3));
    return request->target.rfind("/ws", 0) == 0 ? 101 : 200;
}

TEST(Requests, AnsweredAsTheRfcsSay) {
    const web::Listening loopback{"127.0.0.1", 8080}, v6{"::1", 8080}, everywhere{"0.0.0.0", 8080},
        lan{"192.168.1.5", 8080};
    const std::string ws =
        "GET /ws HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        "Sec-WebSocket-Version: 13\r\n";
    const std::string key = "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";
    struct Row {
        std::string text;
        int status;
        web::Listening listening;
    } rows[] = {
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 200, loopback},
        {"GET / HTTP/1.1\nHost: 127.0.0.1:8080\n\n", 200, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\n\r\n", 200, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n", -1, loopback},
        {"GET / HTTP/1.1\r\n\r\n", 400, loopback},
        {"GET / HTTP/1.0\r\n\r\n", 200, loopback},
        {"GET / HTTP/1.1\r\nHost : 127.0.0.1:8080\r\n\r\n", 400, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nHost: 127.0.0.1:8080\r\n\r\n", 400, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1 8080\r\n\r\n", 400, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:80800\r\n\r\n", 400, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nX-A: a\rb\r\n\r\n", 400, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:8080\r\nX-A: a\r\n folded\r\n\r\n", 400, loopback},
        // The absolute form: its authority is the Host, whatever Host says.
        {"GET http://127.0.0.1:8080/ HTTP/1.1\r\nHost: evil.example\r\n\r\n", 200, loopback},
        {"GET http://127.0.0.1:8080 HTTP/1.1\r\n\r\n", 200, loopback},
        {"GET http://evil.example:8080/ HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 421, loopback},
        {"GET https://127.0.0.1:8080/ HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 400, loopback},
        {"GET http://me@127.0.0.1:8080/ HTTP/1.1\r\n\r\n", 400, loopback},
        // The names each address answers to; others are a rebound DNS name's.
        {"GET / HTTP/1.1\r\nHost: LocalHost:8080\r\n\r\n", 200, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.1.2.3:8080\r\n\r\n", 200, loopback},
        {"GET / HTTP/1.1\r\nHost: [::1]:8080\r\n\r\n", 200, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 200, loopback},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:9090\r\n\r\n", 421, loopback},
        {"GET / HTTP/1.1\r\nHost: evil.example:8080\r\n\r\n", 421, loopback},
        {"GET / HTTP/1.1\r\nHost: 128.0.0.1:8080\r\n\r\n", 421, loopback},
        {"GET / HTTP/1.1\r\nHost: [::1]:8080\r\n\r\n", 200, v6},
        {"GET / HTTP/1.1\r\nHost: [::2]:8080\r\n\r\n", 421, v6},
        {"GET / HTTP/1.1\r\nHost: evil.example:8080\r\n\r\n", 200, everywhere},
        {"GET / HTTP/1.1\r\nHost: 192.168.1.5:8080\r\n\r\n", 200, lan},
        {"GET / HTTP/1.1\r\nHost: localhost:8080\r\n\r\n", 421, lan},
        // The WebSocket handshake, and the pages that may make it.
        {ws + key + "\r\n", 403, loopback},
        {ws + key + "\r\n", 101, {"127.0.0.1", 8080, true}},
        {ws + key + "Origin: http://evil.example\r\n\r\n", 403, {"127.0.0.1", 8080, true}},
        {ws + key + "Origin: http://127.0.0.1:8080\r\n\r\n", 101, loopback},
        {ws + key + "Origin: HTTP://127.0.0.1:8080\r\n\r\n", 101, loopback},
        {ws + key + "Origin: http://evil.example\r\n\r\n", 403, loopback},
        {ws + key + "Origin: null\r\n\r\n", 403, loopback},
        {ws + key + "Origin: file://\r\n\r\n", 403, loopback},
        {ws + key + "Origin: https://127.0.0.1:8080\r\n\r\n", 403, loopback},
        {ws + key + "Origin: http://127.0.0.1:8081\r\n\r\n", 403, loopback},
        {ws + key + "Origin: http://localhost:8080\r\n\r\n", 403, loopback},
        {ws + key + "Origin: http://127.0.0.1:8080\r\nOrigin: http://evil.example\r\n\r\n", 403, loopback},
        // A rebound DNS name's page is of its own origin, but not on a name of the server's.
        {"GET /ws HTTP/1.1\r\nHost: evil.example:8080\r\nOrigin: http://evil.example:8080\r\nUpgrade: websocket\r\n"
         "Connection: Upgrade\r\nSec-WebSocket-Version: 13\r\n" +
             key + "\r\n",
         421, loopback},
        {"GET /ws HTTP/1.0\r\nHost: 127.0.0.1:8080\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
         "Sec-WebSocket-Version: 13\r\n" +
             key + "\r\n",
         400, loopback},
        {ws + "Sec-WebSocket-Key: AAAAAAAAAAAAAAAAAAAA\r\n\r\n", 400, loopback},      // 15 bytes
        {ws + "Sec-WebSocket-Key: AAAAAAAAAAAAAAAAAAAAAAAA\r\n\r\n", 400, loopback},  // 18 bytes
        {ws + "Sec-WebSocket-Key: AAAAAAAAAAAAAAAAAAAAA*==\r\n\r\n", 400, loopback},
        {ws + key + key + "\r\n", 400, loopback},
        {"POST /ws HTTP/1.1\r\nHost: 127.0.0.1:8080\r\n\r\n", 400, loopback},
    };
    for (const Row& row : rows) EXPECT_EQ(answer(row.text, row.listening), row.status) << row.text;
}

}  // namespace
