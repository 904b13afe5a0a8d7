// The live panel's web server: CivetWeb serves the page (web/page/) and one
// WebSocket per browser. The simulation runs on its own thread at 18 updates
// a second; each client has its own sender thread, which writes it the
// newest picture as PNG rectangles of what changed since the picture that
// client last received (the first one whole), so a slow client skips frames
// instead of queueing them, and one that stops reading holds up no other.
//
// The protocol, on /ws:
//   server -> page, text:   {"type":"layout", "width", "height", "gauges":[{"name", "left", "top", "right",
//                            "bottom", "boxes":[{"left", "top", "right", "bottom", "child", "cursor", "help",
//                            "flags"}]}]}, once per connection, then {"type":"status", ...} with every frame
//                            (LivePanel::status_json)
//   server -> page, binary: a frame: u32 rectangle count, then per rectangle u32 x, y, width, height,
//                            byte length, and the PNG (all little-endian)
//   page -> server, text:   {"t":"press"|"move", "x", "y"} in panel pixels, {"t":"release"},
//                            {"t":"key", "event"}, {"t":"pause"}, {"t":"reset"}, {"t":"fly"}
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "render/image.h"
#include "render/png.h"
#include "web/live_panel.h"

namespace web {

class ServerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ServerOptions {
    std::string host = "127.0.0.1";
    int port = 8080;
    std::string web_root;  // the page's files (web/page)
    // A write gives up after this long, and a page that answers nothing
    // (not even pings) is closed after about as long.
    int socket_timeout_ms = 10000;
};

// Runs the server and the simulation until `stop` turns true; prints the
// address on `out` once listening. Throws ServerError when it cannot listen.
void serve(LivePanel& panel, const ServerOptions& options, const std::atomic<bool>& stop, std::FILE* out);

// The rectangles of `now` that differ from `before`, in tiles of kTile
// pixels merged along each tile row; the whole picture when there is no
// `before` or its size differs. `within`, when given, holds every pixel
// that may differ: only the tiles it touches are compared.
inline constexpr int kTile = 32;
std::vector<render::PixelRect> changed_rects(const render::Image* before, const render::Image& now,
                                             const std::vector<render::PixelRect>* within = nullptr);

// The page's message as an Input; nullopt for anything malformed.
std::optional<Input> parse_input(std::string_view text);

}  // namespace web
