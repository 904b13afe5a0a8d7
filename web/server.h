// The live panel's web server: the transport (web/transport.h) serves the
// page (web/page/) and one WebSocket per browser, all on one thread; the
// simulation runs on its own at 18 updates a second. Each page is written
// the newest picture as rectangles of what changed since the picture
// that page last received (the first one whole) once everything sent to it
// before has been written, so a slow page skips frames instead of queueing
// them, and one that stops reading holds up no other.
//
// The protocol, on /ws:
//   server -> page, text:   {"type":"layout", "width", "height", "gauges":[{"name", "left", "top", "right",
//                            "bottom", "boxes":[{"left", "top", "right", "bottom", "child", "cursor", "help",
//                            "flags"}]}], "units": {figure: unit}, "windows":[{"id" ("00" for [Window00]),
//                            "title", "left", "top", "right", "bottom"}]}, once per connection, then
//                            {"type":"status", ...} with every frame (status_message, web/page_messages.h)
//   server -> page, binary: a frame: u32 rectangle count, then per rectangle u32 x, y, width, height,
//                            format, byte length, and the bytes: format 0 a PNG, 1 straight RGBA rows
//                            (a frame of at most 64 KiB of pixels; all little-endian)
//   page -> server, text:   {"t":"drawn"} once it has drawn a frame: until then it is sent nothing more;
//                            {"t":"press"|"move", "x", "y"} in panel pixels, {"t":"release"},
//                            {"t":"key", "event"}, {"t":"pause"}, {"t":"reset"}, {"t":"fly"}, {"t":"night"},
//                            {"t":"pointer", "x", "y"}; the pilot's: {"t":"controls", "elevator", "aileron",
//                            "rudder" (-1..1), "brakes" (0..1), "throttle" (the throttles' rate, -1..1, 0 when
//                            missing)}, sent as they change, {"t":"gear"} (the undercarriage lever to its other
//                            end), {"t":"flaps", "step": 1 (a step down) or -1}, {"t":"trim", "axis":
//                            "elevator"|"rudder", "step": 1 (nose down, to starboard) or -1}, {"t":"ratio",
//                            "ratio"} (device pixels per CSS pixel: the picture is drawn at the finest ratio
//                            of the pages open, a layout message following); with --edit,
//                            {"t":"edit", "layout"} (web/panel_editing.h) makes the panel so laid out, and
//                            {"t":"save", "overwrite"} saves it, answered {"type":"saved", ...}
//                            (LivePanel::save); the layout message then carries "edit" (LivePanel::edit_json)
#pragma once

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "web/live_panel.h"
#include "web/transport.h"

namespace web {

struct ServerOptions {
    std::string host = "127.0.0.1";  // a numeric IPv4 or IPv6 address, or localhost
    int port = 8080;
    std::string web_root;  // the page's files (web/page)
    // A write gives up after this long, and a page that answers nothing
    // (not even pings) is closed after about as long.
    int socket_timeout_ms = 10000;
    // The frames' figures on `out`: every period when verbose, else only
    // when they changed since the last print; once more at the end unless
    // quiet, and never periodically then.
    bool quiet = false;
    bool verbose = false;
    bool allow_no_origin = false;  // a client that sends no Origin (no browser) may operate the panel
    // The page may lay the panel out and save it (LiveOptions::edit): only
    // the server's own page, in a browser on this machine (Transport::own_page).
    bool edit = false;
};

// Listens, prints the address on `out`, then makes the panel with
// `make_panel` (its modules' first calls, which may be long: a page that
// connects meanwhile waits) and runs the server and the simulation until
// `stop` turns true. Throws ServerError when the address is none or cannot
// be listened on, and whatever `make_panel` throws.
void serve(const std::function<std::unique_ptr<LivePanel>()>& make_panel, const ServerOptions& options,
           const std::atomic<bool>& stop, std::FILE* out);

// The page's message as an Input; nullopt for anything malformed.
std::optional<Input> parse_input(std::string_view text);

}  // namespace web
