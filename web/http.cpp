#include "web/http.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "platform/net_address.h"
#include "platform/text_input.h"

namespace web {
namespace {

// The page's files are a few dozen kilobytes; a larger one is not the page's.
constexpr off_t kMaxFileBytes = 16 << 20;

bool same_text(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The path of `target` with its %XX decoded; nullopt when malformed.
std::optional<std::string> decoded_path(std::string_view target) {
    target = target.substr(0, target.find_first_of("?#"));
    if (target.empty() || target.front() != '/') return std::nullopt;
    std::string path;
    for (size_t i = 0; i < target.size(); ++i) {
        if (target[i] != '%') {
            path.push_back(target[i]);
            continue;
        }
        if (i + 2 >= target.size() || hex_digit(target[i + 1]) < 0 || hex_digit(target[i + 2]) < 0) return std::nullopt;
        path.push_back(static_cast<char>(hex_digit(target[i + 1]) * 16 + hex_digit(target[i + 2])));
        i += 2;
    }
    if (path.find('\0') != std::string::npos) return std::nullopt;
    return path;
}

std::string_view content_type(std::string_view name) {
    static constexpr std::pair<std::string_view, std::string_view> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".json", "application/json"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".svg", "image/svg+xml"},
        {".ico", "image/x-icon"},
        {".txt", "text/plain; charset=utf-8"}};
    for (const auto& [ending, type] : kTypes) {
        if (name.size() >= ending.size() && name.substr(name.size() - ending.size()) == ending) return type;
    }
    return "application/octet-stream";
}

std::string_view reason(int status) {
    switch (status) {
        case 101: return "Switching Protocols";
        case 200: return "OK";
        case 400: return "Bad Request";
        case 404: return "Not Found";
        case 403: return "Forbidden";
        case 405: return "Method Not Allowed";
        case 414: return "URI Too Long";
        case 421: return "Misdirected Request";
        case 431: return "Request Header Fields Too Large";
        case 503: return "Service Unavailable";
        default: return "Error";
    }
}

// Opens `path`'s components one by one under `root_fd`; -1 when any is a
// link, missing, or not what it must be (a directory, then a regular file).
int open_beneath(int root_fd, const std::vector<std::string>& parts) {
    int dir = root_fd;
    for (size_t i = 0; i < parts.size(); ++i) {
        const bool last = i + 1 == parts.size();
        const int flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | (last ? 0 : O_DIRECTORY);
        const int fd = ::openat(dir, parts[i].c_str(), flags);
        if (dir != root_fd) ::close(dir);
        if (fd < 0) return -1;
        dir = fd;
    }
    return dir;
}

bool token_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) ||
           std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

// A URI's host and port, the host lowercased (an IPv6 address kept in its
// brackets); port -1 when none is given.
struct Authority {
    std::string host;
    int port = -1;
};

std::optional<Authority> parse_authority(std::string_view text) {
    std::string_view host = text, port;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return std::nullopt;
        host = text.substr(0, close + 1);
        in6_addr v6{};
        if (::inet_pton(AF_INET6, std::string(text.substr(1, close - 1)).c_str(), &v6) != 1) return std::nullopt;
        const std::string_view rest = text.substr(close + 1);
        if (!rest.empty() && rest.front() != ':') return std::nullopt;
        port = rest.substr(std::min<size_t>(1, rest.size()));
    } else {
        const size_t colon = text.find(':');
        host = text.substr(0, colon);
        if (colon != std::string_view::npos) port = text.substr(colon + 1);
        for (char c : host) {
            if (!std::isalnum(static_cast<unsigned char>(c)) &&
                std::string_view("-._~%!$&'()*+,;=").find(c) == std::string_view::npos)
                return std::nullopt;
        }
    }
    if (port.size() > 5) return std::nullopt;
    Authority authority{platform::lowercase(host), port.empty() ? -1 : 0};
    for (char c : port) {
        if (c < '0' || c > '9') return std::nullopt;
        authority.port = authority.port * 10 + (c - '0');
    }
    if (authority.port > 65535) return std::nullopt;
    return authority;
}

// A host as a URL names it: an IPv6 address in brackets, lowercased.
std::string url_host(std::string_view host) {
    in6_addr v6{};
    if (::inet_pton(AF_INET6, std::string(host).c_str(), &v6) == 1) return "[" + platform::lowercase(host) + "]";
    return platform::lowercase(host);
}

bool answers_to(const Listening& listening, const Authority& host) {
    if (platform::names_every_interface(listening.host)) return true;
    const std::string listen = url_host(listening.host);
    if (host.port != -1 && host.port != listening.port) return false;
    return host.host == listen || (platform::names_loopback(listen) && platform::names_loopback(host.host));
}

// Whether `origin` is http://<host>, the page the server itself served.
bool same_origin(std::string_view origin, const Authority& host) {
    const size_t scheme_end = origin.find("://");
    if (scheme_end == std::string_view::npos || !same_text(origin.substr(0, scheme_end), "http")) return false;
    const std::optional<Authority> page = parse_authority(origin.substr(scheme_end + 3));
    const auto port = [](int given) { return given == -1 ? 80 : given; };
    return page && !page->host.empty() && page->host == host.host && port(page->port) == port(host.port);
}

// A Sec-WebSocket-Key: 16 bytes in base64 (RFC 6455 4.2.1), so 22
// characters of its alphabet and two of padding.
bool sixteen_bytes_in_base64(std::string_view key) {
    if (key.size() != 24 || key.substr(22) != "==") return false;
    return std::all_of(key.begin(), key.begin() + 22,
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/'; });
}

}  // namespace

std::string_view Request::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (same_text(key, name)) return value;
    }
    return {};
}

size_t Request::count(std::string_view name) const {
    return static_cast<size_t>(
        std::count_if(headers.begin(), headers.end(), [&](const auto& field) { return same_text(field.first, name); }));
}

bool Request::header_has(std::string_view name, std::string_view token) const {
    std::string_view list = header(name);
    while (!list.empty()) {
        const size_t comma = list.find(',');
        if (same_text(trim(list.substr(0, comma)), token)) return true;
        if (comma == std::string_view::npos) break;
        list.remove_prefix(comma + 1);
    }
    return false;
}

std::optional<std::pair<size_t, size_t>> head_end(std::string_view in) {
    for (size_t nl = in.find('\n'); nl != std::string_view::npos; nl = in.find('\n', nl + 1)) {
        if (in.substr(nl + 1, 1) == "\n") return std::pair{nl, nl + 2};
        if (in.substr(nl + 1, 2) == "\r\n") return std::pair{nl, nl + 3};
    }
    return std::nullopt;
}

std::optional<Request> parse_request_head(std::string_view head) {
    std::vector<std::string_view> lines;
    for (size_t at = 0;;) {
        const size_t nl = head.find('\n', at);
        std::string_view line = head.substr(at, nl == std::string_view::npos ? nl : nl - at);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_of(std::string_view("\r\0", 2)) != std::string_view::npos) return std::nullopt;
        lines.push_back(line);
        if (nl == std::string_view::npos) break;
        at = nl + 1;
    }
    Request request;
    const std::string_view line = lines.front();
    const size_t first = line.find(' '), second = line.rfind(' ');
    if (first == std::string_view::npos || second == first) return std::nullopt;
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, second - first - 1);
    request.version = line.substr(second + 1);
    if (request.version != "HTTP/1.1" && request.version != "HTTP/1.0") return std::nullopt;
    if (request.method.empty() || request.target.empty() || request.target.find(' ') != std::string::npos)
        return std::nullopt;
    for (char c : request.method) {
        if (!token_char(c)) return std::nullopt;
    }
    // The absolute form, as a proxy would send it: its authority is the
    // request's Host, whatever Host fields came with it.
    std::optional<std::string> authority;
    if (const size_t scheme_end = request.target.find("://");
        request.target.front() != '/' && scheme_end != std::string::npos) {
        if (!same_text(std::string_view(request.target).substr(0, scheme_end), "http")) return std::nullopt;
        const std::string rest = request.target.substr(scheme_end + 3);
        const size_t path_at = std::min(rest.find_first_of("/?"), rest.size());
        authority = rest.substr(0, path_at);
        if (authority->empty() || authority->find_first_of("@ \t") != std::string::npos) return std::nullopt;
        request.target = (path_at == rest.size() || rest[path_at] == '?' ? "/" : "") + rest.substr(path_at);
    }
    for (size_t i = 1; i < lines.size(); ++i) {
        const std::string_view field = lines[i];
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos || colon == 0) return std::nullopt;
        const std::string_view name = field.substr(0, colon);
        // Whitespace before the colon, or a folded line, is no field name:
        // a server must refuse it rather than guess (RFC 9112 5.1).
        for (char c : name) {
            if (!token_char(c)) return std::nullopt;
        }
        if (authority && same_text(name, "Host")) continue;
        request.headers.emplace_back(name, trim(field.substr(colon + 1)));
    }
    if (authority) request.headers.emplace_back("Host", *authority);
    return request;
}

std::optional<std::string> refusal(const Request& request, const Listening& listening) {
    const auto refuse = [](int status, std::string_view extra = {}) {
        return error_response(status, std::string(extra) + "Connection: close\r\n");
    };
    const size_t hosts = request.count("Host");
    std::optional<Authority> host;
    if (hosts > 1 || (hosts == 0 && request.version == "HTTP/1.1")) return refuse(400);
    if (hosts == 1) {
        host = parse_authority(request.header("Host"));
        if (!host) return refuse(400);
        if (!answers_to(listening, *host)) return refuse(421);
    }
    const std::string_view path = std::string_view(request.target).substr(0, request.target.find('?'));
    if (path != "/ws") return std::nullopt;
    if (request.method != "GET" || request.version != "HTTP/1.1" || !request.header_has("Upgrade", "websocket") ||
        !request.header_has("Connection", "upgrade") || request.count("Sec-WebSocket-Key") != 1 ||
        !sixteen_bytes_in_base64(request.header("Sec-WebSocket-Key")))
        return refuse(400);
    if (request.header("Sec-WebSocket-Version") != "13") return refuse(400, "Sec-WebSocket-Version: 13\r\n");
    // A browser names the page that opens a WebSocket, and lets any page
    // open one anywhere: only the panel's own page may operate the panel.
    // A client that is no browser sends no Origin: let in when allowed.
    const size_t origins = request.count("Origin");
    if (origins == 0 ? !listening.allow_no_origin : origins != 1 || !same_origin(request.header("Origin"), *host))
        return refuse(403);
    return std::nullopt;
}

std::optional<std::vector<std::string>> static_path(std::string_view target) {
    const std::optional<std::string> path = decoded_path(target);
    if (!path) return std::nullopt;
    std::vector<std::string> parts;
    for (size_t at = 1; at <= path->size();) {
        const size_t slash = std::min(path->find('/', at), path->size());
        parts.emplace_back(*path, at, slash - at);
        at = slash + 1;
    }
    if (parts.back().empty()) parts.back() = "index.html";
    for (const std::string& part : parts) {
        if (part.empty() || part == "." || part == "..") return std::nullopt;
    }
    return parts;
}

StaticFile read_static(int root_fd, std::string_view target) {
    StaticFile file;
    const std::optional<std::vector<std::string>> parts = static_path(target);
    if (!parts) return {400, {}, {}};
    const int fd = open_beneath(root_fd, *parts);
    if (fd < 0) return file;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxFileBytes) {
        file.body.resize(static_cast<size_t>(info.st_size));
        size_t done = 0;
        while (done < file.body.size()) {
            const ssize_t got = ::read(fd, file.body.data() + done, file.body.size() - done);
            if (got <= 0) break;
            done += static_cast<size_t>(got);
        }
        file.body.resize(done);
        file.status = 200;
        file.content_type = content_type(parts->back());
    }
    ::close(fd);
    return file;
}

std::string response_head(int status, std::string_view content_type, size_t length, std::string_view extra) {
    std::string head = "HTTP/1.1 " + std::to_string(status) + " " + std::string(reason(status)) + "\r\n";
    if (!content_type.empty()) head += "Content-Type: " + std::string(content_type) + "\r\n";
    if (status != 101) head += "Content-Length: " + std::to_string(length) + "\r\nCache-Control: no-cache\r\n";
    head += "X-Content-Type-Options: nosniff\r\n";
    head += extra;
    head += "\r\n";
    return head;
}

std::string error_response(int status, std::string_view extra) {
    const std::string body = std::to_string(status) + " " + std::string(reason(status)) + "\n";
    return response_head(status, "text/plain; charset=utf-8", body.size(), extra) + body;
}

}  // namespace web
