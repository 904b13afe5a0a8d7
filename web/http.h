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
    // How many fields named `name` (any case) it has.
    size_t count(std::string_view name) const;
    // Whether header `name` lists `token` (any case), as Connection: keep-alive, Upgrade.
    bool header_has(std::string_view name, std::string_view token) const;
};

// Where the head in `in` ends: the length of the head before its blank
// line, and of the head with it; nullopt while the blank line has not come.
// Lines may end in CRLF or in LF alone (RFC 9112 2.2).
std::optional<std::pair<size_t, size_t>> head_end(std::string_view in);

// The head up to (without) its blank line; nullopt when it is not HTTP/1.x
// or is malformed (a field name not a token, as `Host : x`; a bare CR). An
// absolute-form target (`http://host:port/path`) becomes its path, and its
// authority the one Host (RFC 9112 3.2.2).
std::optional<Request> parse_request_head(std::string_view head);

// Whom the server answers to: its listening address and port.
struct Listening {
    std::string host;  // as --host gives it: 127.0.0.1, localhost, ::1, [::1], 0.0.0.0, ...
    int port = 8080;
    // Whether a WebSocket without Origin (a script, curl: no browser) may
    // operate the panel; only when the user asks for it.
    bool allow_no_origin = false;
};

// The whole response refusing `request` before anything is served, nullopt
// when it may be served: 400 for an HTTP/1.1 request without exactly one
// valid Host, and for a request to /ws that is no RFC 6455 handshake (over
// HTTP/1.0, a Sec-WebSocket-Key not 16 bytes in base64, ...); 421 for a Host
// the server does not answer to, which a DNS-rebinding page would send: on a
// loopback address only loopback names (platform::names_loopback():
// localhost, 127.x.y.z, [::1], never a name resolved) and the address
// itself, on a given address only that address, with the listening port or
// none; on every interface any; 403 for a WebSocket upgrade whose
// Origin is not http://<Host>, a page of another site's, or missing unless
// allowed.
std::optional<std::string> refusal(const Request& request, const Listening& listening);

struct StaticFile {
    int status = 404;  // 200: `body` holds the file; 400: a path no file may have; 404
    std::string body;
    std::string content_type;
};

// The components of the file `target` names under the web root, its %XX
// decoded ("/" and a path ending in "/" name index.html); nullopt for a
// path no file may have (400): malformed, with a NUL, an empty, `.` or `..`
// component.
std::optional<std::vector<std::string>> static_path(std::string_view target);

// The file `target` names under the directory `root_fd` (static_path),
// following no symbolic link: each component is opened with O_NOFOLLOW.
StaticFile read_static(int root_fd, std::string_view target);

// A response's head; `extra` holds further header lines, each ending in CRLF.
std::string response_head(int status, std::string_view content_type, size_t length, std::string_view extra = {});
// A short text response, the whole of it.
std::string error_response(int status, std::string_view extra = {});

}  // namespace web
