// A request's head as the live server reads it from the network: whatever
// arrives parses or is answered 400, what parses writes back and reads as
// the same request, every refusal is a whole 4xx response, a server answers
// no more on one address than on every interface, and no file path it
// decodes climbs out of the web root.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "web/http.h"
#include "web/websocket.h"

namespace {

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool token(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
    });
}

bool has_any(std::string_view text, std::string_view chars) { return text.find_first_of(chars) != text.npos; }

const std::string_view kLineBreaks("\r\n\0", 3);

// A directory that is empty for good: removed once opened, nothing can be
// made in it, so read_static finds no file whatever the path.
int empty_root() {
    static const int fd = [] {
        char name[] = "/tmp/http_request_fuzz_XXXXXX";
        FUZZ_CHECK(::mkdtemp(name) != nullptr, "a temporary directory");
        const int opened = ::open(name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ::rmdir(name);
        FUZZ_CHECK(opened >= 0, "the temporary directory opens");
        return opened;
    }();
    return fd;
}

void check_static_path(std::string_view target) {
    const std::optional<std::vector<std::string>> parts = web::static_path(target);
    const web::StaticFile file = web::read_static(empty_root(), target);
    FUZZ_CHECK(file.status == (parts ? 404 : 400) && file.body.empty(), "read_static refuses as static_path does");
    if (!parts) return;
    FUZZ_CHECK(!parts->empty(), "a path names a file");
    std::string joined;
    for (const std::string& part : *parts) {
        FUZZ_CHECK(!part.empty() && part != "." && part != "..", "no empty, . or .. component");
        FUZZ_CHECK(!has_any(part, std::string_view("/\0", 2)), "no slash or NUL inside a component");
        joined += "/" + part;
    }
    const std::string_view path = target.substr(0, target.find_first_of("?#"));
    if (path.find('%') == path.npos) {
        FUZZ_CHECK(joined == path || (path.back() == '/' && joined == std::string(path) + "index.html"),
                   "a path without escapes is its components");
    }
    // Every byte escaped names the same file.
    std::string escaped;
    for (const std::string& part : *parts) {
        escaped += '/';
        for (unsigned char c : part) {
            static constexpr char kHex[] = "0123456789ABCDEF";
            escaped += {'%', kHex[c >> 4], kHex[c & 15]};
        }
    }
    FUZZ_CHECK(web::static_path(escaped) == parts, "escaping every byte names the same file");
}

void check_request(const web::Request& request) {
    FUZZ_CHECK(token(request.method), "the method is a token");
    FUZZ_CHECK(request.version == "HTTP/1.1" || request.version == "HTTP/1.0", "HTTP/1.x");
    FUZZ_CHECK(!request.target.empty() && !has_any(request.target, " ") && !has_any(request.target, kLineBreaks),
               "the target is one word");
    FUZZ_CHECK(request.target.find("://") == std::string::npos || request.target.front() == '/',
               "an absolute-form target becomes its path");
    for (const auto& [name, value] : request.headers) {
        FUZZ_CHECK(token(name), "a field name is a token");
        FUZZ_CHECK(!has_any(value, kLineBreaks), "a field value is one line");
        FUZZ_CHECK(value.empty() || (value.front() != ' ' && value.front() != '\t' && value.back() != ' ' &&
                                     value.back() != '\t'),
                   "a field value is trimmed");
        size_t same = 0;
        std::string_view first;
        for (const auto& [other, other_value] : request.headers) {
            if (lower(other) != lower(name)) continue;
            if (same++ == 0) first = other_value;
        }
        FUZZ_CHECK(request.count(name) == same && request.count(lower(name)) == same, "count finds every field");
        FUZZ_CHECK(request.header(name) == first, "header is the first field of its name");
    }
    if (request.count("Upgrade") == 0) FUZZ_CHECK(!request.header_has("Upgrade", "websocket"), "no field, no token");

    // Written back, it reads as itself.
    std::string text = request.method + " " + request.target + " " + request.version;
    for (const auto& [name, value] : request.headers) text += "\r\n" + name + ": " + value;
    const std::optional<web::Request> again = web::parse_request_head(text);
    FUZZ_CHECK(again && again->method == request.method && again->target == request.target &&
                   again->version == request.version && again->headers == request.headers,
               "a parsed request written back reads the same");
}

// A refusal is a whole response: status line, head, the body its length says.
int refusal_status(const std::optional<std::string>& refused) {
    if (!refused) return 0;
    const std::string& text = *refused;
    FUZZ_CHECK(text.rfind("HTTP/1.1 4", 0) == 0 && text.size() > 12 && text[12] == ' ', "a 4xx status line");
    const int status = std::stoi(text.substr(9, 3));
    FUZZ_CHECK(status == 400 || status == 403 || status == 421, "refused 400, 403 or 421");
    const size_t head_end = text.find("\r\n\r\n");
    FUZZ_CHECK(head_end != std::string::npos, "the head ends in a blank line");
    const std::string head = text.substr(0, head_end + 2);
    FUZZ_CHECK(head.find("\r\nConnection: close\r\n") != std::string::npos, "the connection closes");
    const size_t length_at = head.find("\r\nContent-Length: ");
    FUZZ_CHECK(length_at != std::string::npos, "a length");
    FUZZ_CHECK(std::stoul(head.substr(length_at + 18)) == text.size() - head_end - 4, "the body its length says");
    return status;
}

void check_refusals(const web::Request& request) {
    struct Server {
        const char* host;
        int status[2];  // allow_no_origin false, true
    } servers[] = {{"127.0.0.1", {}}, {"localhost", {}}, {"::1", {}},         {"[::1]", {}},
                   {"0.0.0.0", {}},   {"::", {}},        {"192.168.1.5", {}}, {"fe80::1", {}}};
    for (Server& server : servers) {
        for (const bool allow : {false, true}) {
            const std::optional<std::string> refused = web::refusal(request, {server.host, 8080, allow});
            server.status[allow] = refusal_status(refused);
            if (refused) continue;
            FUZZ_CHECK(request.version == "HTTP/1.0" || request.count("Host") == 1, "HTTP/1.1 has one Host");
            const std::string_view target(request.target);
            if (target.substr(0, target.find('?')) != "/ws") continue;
            FUZZ_CHECK(request.method == "GET" && request.version == "HTTP/1.1" &&
                           request.count("Sec-WebSocket-Key") == 1 && request.header("Sec-WebSocket-Version") == "13",
                       "a WebSocket only by its handshake");
            FUZZ_CHECK(request.count("Origin") == 1 || (allow && request.count("Origin") == 0),
                       "one Origin, or none when allowed");
            FUZZ_CHECK(web::accept_key(request.header("Sec-WebSocket-Key")).size() == 28, "an accept key");
        }
        FUZZ_CHECK(server.status[1] == 0 || server.status[0] != 0, "allowing no Origin refuses nothing more");
    }
    const auto same = [&](int a, int b, const char* what) {
        FUZZ_CHECK(servers[a].status[0] == servers[b].status[0] && servers[a].status[1] == servers[b].status[1], what);
    };
    same(0, 1, "127.0.0.1 and localhost answer the same");
    same(2, 3, "::1 and [::1] answer the same");
    same(4, 5, "0.0.0.0 and :: answer the same");
    // Every interface answers whatever one address does.
    for (int one : {0, 2, 6, 7}) {
        for (int allow : {0, 1})
            FUZZ_CHECK(servers[one].status[allow] != 0 || servers[4].status[allow] == 0,
                       "every interface answers what one address does");
    }
    // A loopback server answers no DNS name but localhost: a rebound name's page is refused.
    if (servers[0].status[0] == 0 && request.count("Host") == 1) {
        const std::string host = lower(request.header("Host"));
        const std::string name = host.substr(0, host.find(':'));
        FUZZ_CHECK(name.empty() || name.front() == '[' || name == "localhost" ||
                       !std::any_of(name.begin(), name.end(), [](unsigned char c) { return std::isalpha(c); }),
                   "a loopback server answers no other name");
        FUZZ_CHECK(!name.empty(), "a loopback server answers no empty host");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    check_static_path(text);

    const std::optional<std::pair<size_t, size_t>> end = web::head_end(text);
    if (end) {
        FUZZ_CHECK(end->first < end->second && end->second <= size, "the head lies within the input");
        const std::string_view blank = text.substr(end->first, end->second - end->first);
        FUZZ_CHECK(blank == "\n\n" || blank == "\n\r\n", "the head ends in a blank line");
        FUZZ_CHECK(!web::head_end(text.substr(0, end->second - 1)), "at the first blank line");
    } else {
        FUZZ_CHECK(text.find("\n\n") == text.npos && text.find("\n\r\n") == text.npos, "a blank line ends a head");
    }
    const std::optional<web::Request> request = web::parse_request_head(end ? text.substr(0, end->first) : text);
    if (!request) return 0;
    check_request(*request);
    check_refusals(*request);
    check_static_path(request->target);
    return 0;
}
