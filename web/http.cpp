#include "web/http.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>

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
        case 405: return "Method Not Allowed";
        case 414: return "URI Too Long";
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

}  // namespace

std::string_view Request::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (same_text(key, name)) return value;
    }
    return {};
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

std::optional<Request> parse_request_head(std::string_view head) {
    Request request;
    size_t end = head.find("\r\n");
    const std::string_view line = head.substr(0, end);
    const size_t first = line.find(' '), second = line.rfind(' ');
    if (first == std::string_view::npos || second == first) return std::nullopt;
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, second - first - 1);
    request.version = line.substr(second + 1);
    if (request.version != "HTTP/1.1" && request.version != "HTTP/1.0") return std::nullopt;
    if (request.method.empty() || request.target.empty() || request.target.find(' ') != std::string::npos)
        return std::nullopt;
    while (end != std::string_view::npos) {
        const size_t start = end + 2;
        end = head.find("\r\n", start);
        const std::string_view field = head.substr(start, end == std::string_view::npos ? end : end - start);
        const size_t colon = field.find(':');
        if (colon == std::string_view::npos || colon == 0 || field.front() == ' ' || field.front() == '\t')
            return std::nullopt;
        request.headers.emplace_back(field.substr(0, colon), trim(field.substr(colon + 1)));
    }
    return request;
}

StaticFile read_static(int root_fd, std::string_view target) {
    StaticFile file;
    const std::optional<std::string> path = decoded_path(target);
    if (!path) return {400, {}, {}};
    std::vector<std::string> parts;
    for (size_t at = 1; at <= path->size();) {
        const size_t slash = std::min(path->find('/', at), path->size());
        parts.emplace_back(*path, at, slash - at);
        at = slash + 1;
    }
    if (parts.back().empty()) parts.back() = "index.html";
    for (const std::string& part : parts) {
        if (part.empty() || part == "." || part == "..") return {400, {}, {}};
    }
    const int fd = open_beneath(root_fd, parts);
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
        file.content_type = content_type(parts.back());
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
