// The HTTP/1.1 the live panel needs: a request's head, and the page's own
// files, opened so that nothing outside the web root can be reached (no
// `..`, no symbolic link followed).
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace web {

struct Request {
    std::string method, target, version;
    std::vector<std::pair<std::string, std::string>> headers;
    // The value of header `name` (any case), empty when absent.
    std::string_view header(std::string_view name) const;
    // Whether header `name` lists `token` (any case), as Connection: keep-alive, Upgrade.
    bool header_has(std::string_view name, std::string_view token) const;
};

// The head up to (without) its blank line; nullopt when it is not HTTP/1.x.
std::optional<Request> parse_request_head(std::string_view head);

struct StaticFile {
    int status = 404;  // 200: `body` holds the file; 400: a path no file may have; 404
    std::string body;
    std::string content_type;
};

// The file `target` names under the directory `root_fd`, following no
// symbolic link: each component is opened with O_NOFOLLOW. "/" is index.html.
StaticFile read_static(int root_fd, std::string_view target);

// A response's head; `extra` holds further header lines, each ending in CRLF.
std::string response_head(int status, std::string_view content_type, size_t length, std::string_view extra = {});
// A short text response, the whole of it.
std::string error_response(int status, std::string_view extra = {});

}  // namespace web
