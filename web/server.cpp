#include "web/server.h"

#include <civetweb.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "frame/numbers.h"

namespace web {
namespace {

using Clock = std::chrono::steady_clock;

// Inputs waiting for the simulation; beyond this the oldest go (a page that
// floods the socket loses its own oldest moves, the server stays bounded).
constexpr size_t kMaxQueuedInputs = 512;
constexpr size_t kMaxMessageBytes = 1024;
// Seconds between the figures the server prints about its frames.
constexpr double kReportEverySeconds = 30.0;
// Pictures whose changed rectangles are kept: a page further behind is
// compared whole.
constexpr size_t kChangesKept = 64;
// Frames kept encoded for the pages that follow: one per page keeping up.
constexpr size_t kFramesKept = 8;

struct Client {
    mg_connection* connection = nullptr;
    std::mutex writing;  // held by the client's sender for each write, and by the close handler once
    bool closed = false;
    bool layout_sent = false;
    std::shared_ptr<const render::Image> last;  // the picture the page now shows
    uint64_t last_picture = 0;                  // its number (0: none yet)
    bool gone = false;                          // set by the close handler, under published_mutex
    std::thread sender;
};

// Pictures are numbered from 1 as drawn; a status without a new picture
// publishes the last one again.
struct Published {
    std::shared_ptr<const render::Image> image;
    uint64_t picture = 0;
    std::string status;
    uint64_t serial = 0;
};

// Where a picture may differ from the one numbered before it: the renderer's
// own rectangles, so a page's frame need not compare whole pictures.
struct Change {
    uint64_t picture = 0;
    std::vector<render::PixelRect> rects;
};

// The message taking a page from one picture to another, the same for every
// page making that step, so encoded once.
struct Frame {
    uint64_t from = 0, to = 0;
    std::mutex making;
    bool made = false;  // under `making`; the message is not changed after
    size_t rects = 0;
    std::vector<unsigned char> message;
};

// What the frames cost: whole pictures (a page's first) apart from the
// changed rectangles, and the comparisons that found nothing changed.
struct Figures {
    struct Kind {
        uint64_t frames = 0, rects = 0, bytes = 0;
        double seconds = 0.0;  // comparing and encoding
    } whole, changes, unchanged;
};

// Where the pictures after `from` up to `to` changed, if all are kept.
std::optional<std::vector<render::PixelRect>> changed_since(const std::deque<Change>& changes, uint64_t from,
                                                            uint64_t to) {
    if (from == 0 || changes.empty() || changes.front().picture > from + 1) return std::nullopt;
    std::vector<render::PixelRect> rects;
    for (const Change& change : changes) {
        if (change.picture > from && change.picture <= to)
            rects.insert(rects.end(), change.rects.begin(), change.rects.end());
    }
    return rects;
}

class Shared {
public:
    std::mutex input_mutex;
    std::deque<Input> inputs;

    std::mutex clients_mutex;
    std::vector<std::shared_ptr<Client>> clients;

    std::mutex published_mutex;
    std::condition_variable published_changed;
    Published published;
    std::deque<Change> changes;  // the newest pictures', under published_mutex

    std::mutex frames_mutex;
    std::deque<std::shared_ptr<Frame>> frames;  // newest last

    std::string layout;
    // The newest publication any client's sender has taken; the simulation
    // draws the next picture only then. Written under published_mutex.
    std::atomic<uint64_t> consumed{0};
    const std::atomic<bool>* stop = nullptr;
    std::FILE* out = nullptr;

    std::mutex figures_mutex;
    Figures figures;

    void push(const Input& input) {
        const std::lock_guard lock(input_mutex);
        // Consecutive moves: only the newest matters.
        if (input.kind == Input::kMove && !inputs.empty() && inputs.back().kind == Input::kMove) {
            inputs.back() = input;
            return;
        }
        if (inputs.size() >= kMaxQueuedInputs) inputs.pop_front();
        inputs.push_back(input);
    }

    std::shared_ptr<Frame> frame(uint64_t from, uint64_t to) {
        const std::lock_guard lock(frames_mutex);
        for (const auto& kept : frames) {
            if (kept->from == from && kept->to == to) return kept;
        }
        auto made = std::make_shared<Frame>();
        made->from = from;
        made->to = to;
        frames.push_back(made);
        if (frames.size() > kFramesKept) frames.pop_front();
        return made;
    }
};

std::string layout_json(const LivePanel& panel) {
    nlohmann::json gauges = nlohmann::json::array();
    for (const PageGauge& gauge : panel.layout()) {
        nlohmann::json boxes = nlohmann::json::array();
        for (const PageBox& box : gauge.boxes) {
            boxes.push_back({{"left", box.left},
                             {"top", box.top},
                             {"right", box.right},
                             {"bottom", box.bottom},
                             {"child", box.child},
                             {"cursor", box.cursor},
                             {"help", box.help_id},
                             {"flags", box.mouse_flags}});
        }
        gauges.push_back({{"name", gauge.name},
                          {"left", gauge.left},
                          {"top", gauge.top},
                          {"right", gauge.right},
                          {"bottom", gauge.bottom},
                          {"boxes", std::move(boxes)}});
    }
    return nlohmann::json{{"type", "layout"}, {"width", panel.width()}, {"height", panel.height()}, {"gauges", gauges}}
        .dump();
}

void put_u32(std::vector<unsigned char>& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(value >> (8 * i)));
}

// --- The senders: one thread per client ------------------------------------------
// A page that stops reading blocks only its own writes, until the socket
// time-out fails them; meanwhile it misses the pictures published, and the
// other pages go on at the simulation's rate.

bool write(Client& client, int opcode, const void* data, size_t length) {
    return mg_websocket_write(client.connection, opcode, static_cast<const char*>(data), length) > 0;
}

void encode(const render::Image* before, const render::Image& now, const std::vector<render::PixelRect>* within,
            Frame& frame) {
    const std::vector<render::PixelRect> rects = changed_rects(before, now, within);
    std::vector<unsigned char>& message = frame.message;
    put_u32(message, static_cast<uint32_t>(rects.size()));
    std::vector<unsigned char> png;
    for (const render::PixelRect& rect : rects) {
        png.clear();
        render::encode_png(now, rect, render::PngEffort::kFast, png);
        for (int value : {rect.x, rect.y, rect.width, rect.height}) put_u32(message, static_cast<uint32_t>(value));
        put_u32(message, static_cast<uint32_t>(png.size()));
        message.insert(message.end(), png.begin(), png.end());
    }
    frame.rects = rects.size();
}

// False once the client can take no more. `within`: where the picture may
// have changed since the page's (nullopt: anywhere).
bool send_to(Client& client, const Published& now, const std::optional<std::vector<render::PixelRect>>& within,
             Shared& shared) {
    const std::lock_guard lock(client.writing);
    if (client.closed) return false;
    if (!client.layout_sent) {
        if (!write(client, MG_WEBSOCKET_OPCODE_TEXT, shared.layout.data(), shared.layout.size())) return false;
        client.layout_sent = true;
    }
    const Clock::time_point start = Clock::now();
    std::shared_ptr<Frame> frame;
    if (now.picture != client.last_picture) {
        frame = shared.frame(client.last_picture, now.picture);
        const std::lock_guard making(frame->making);
        if (!frame->made) {
            frame->message.clear();
            encode(client.last.get(), *now.image, within ? &*within : nullptr, *frame);
            frame->made = true;
        }
    }
    const size_t rects = frame ? frame->rects : 0;
    {
        const std::lock_guard counting(shared.figures_mutex);
        Figures& figures = shared.figures;
        Figures::Kind& kind = rects == 0                ? figures.unchanged
                              : client.last == nullptr ? figures.whole
                                                       : figures.changes;
        ++kind.frames;
        kind.rects += rects;
        kind.bytes += rects == 0 ? 4 : frame->message.size();
        kind.seconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    if (rects != 0 && !write(client, MG_WEBSOCKET_OPCODE_BINARY, frame->message.data(), frame->message.size()))
        return false;
    client.last = now.image;
    client.last_picture = now.picture;
    return write(client, MG_WEBSOCKET_OPCODE_TEXT, now.status.data(), now.status.size());
}

void run_client(Shared& shared, Client& client, std::FILE* out) {
    uint64_t sent_serial = 0;
    for (;;) {
        Published now;
        std::optional<std::vector<render::PixelRect>> within;
        {
            std::unique_lock lock(shared.published_mutex);
            shared.published_changed.wait_for(lock, std::chrono::milliseconds(200), [&] {
                return *shared.stop || client.gone || shared.published.serial != sent_serial;
            });
            if (*shared.stop || client.gone) return;
            if (shared.published.serial == sent_serial || !shared.published.image) continue;
            now = shared.published;  // the newest: frames published meanwhile are skipped
            if (shared.consumed < now.serial) shared.consumed = now.serial;
            if (now.picture != client.last_picture) within = changed_since(shared.changes, client.last_picture, now.picture);
        }
        sent_serial = now.serial;
        try {
            if (!send_to(client, now, within, shared)) break;
        } catch (const std::exception& error) {
            std::fprintf(out, "gaugebench: frame not sent: %s\n", error.what());
        }
    }
    // Writes failed (the time-out passed, or the page went): no more for this
    // one; CivetWeb closes the connection once its reads fail too.
    const std::lock_guard lock(client.writing);
    client.closed = true;
}

// --- CivetWeb's callbacks, on its connection threads ----------------------------
// No exception may pass back into CivetWeb's C code: a connection that
// cannot be registered is refused, an input that cannot be queued is lost.

int on_connect(const mg_connection*, void*) { return 0; }

void on_ready(mg_connection* connection, void* data) {
    auto& shared = *static_cast<Shared*>(data);
    try {
        auto client = std::make_shared<Client>();
        client->connection = connection;
        {
            const std::lock_guard lock(shared.clients_mutex);
            shared.clients.push_back(client);
        }
        try {
            client->sender = std::thread(run_client, std::ref(shared), std::ref(*client), shared.out);
        } catch (...) {
            const std::lock_guard lock(shared.clients_mutex);
            shared.clients.pop_back();
            throw;
        }
    } catch (...) {
        mg_websocket_write(connection, MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE, "", 0);
        return;
    }
    shared.published_changed.notify_all();
}

// Returning 0 closes the connection.
int on_data(mg_connection*, int bits, char* data, size_t length, void* user) {
    const int opcode = bits & 0x0f;
    if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) return 0;
    // The page's messages are a few dozen bytes; parsing megabytes would
    // take the CPU the pictures need, so such a client goes.
    if (length > kMaxMessageBytes) return 0;
    if (opcode == MG_WEBSOCKET_OPCODE_TEXT) {
        try {
            if (const std::optional<Input> input = parse_input(std::string_view(data, length)))
                static_cast<Shared*>(user)->push(*input);
        } catch (...) {}
    }
    return 1;
}

void on_close(const mg_connection* connection, void* data) noexcept {
    auto& shared = *static_cast<Shared*>(data);
    std::shared_ptr<Client> gone;
    {
        const std::lock_guard lock(shared.clients_mutex);
        const auto it = std::find_if(shared.clients.begin(), shared.clients.end(),
                                     [&](const auto& client) { return client->connection == connection; });
        if (it == shared.clients.end()) return;
        gone = *it;
        shared.clients.erase(it);
    }
    {
        // Under the waiters' mutex, so no sender misses the wake-up.
        const std::lock_guard lock(shared.published_mutex);
        gone->gone = true;
    }
    shared.published_changed.notify_all();
    // Waits out a write in progress: the connection is freed after this returns.
    gone->sender.join();
}

void report(const Figures& figures, std::FILE* out) {
    const auto line = [out](const char* what, const Figures::Kind& kind) {
        if (kind.frames == 0) return;
        const double frames = static_cast<double>(kind.frames);
        std::fprintf(out, "gaugebench: %s: %llu, %.1f ms, %.1f rectangles and %.0f bytes each\n", what,
                     static_cast<unsigned long long>(kind.frames), 1000.0 * kind.seconds / frames,
                     static_cast<double>(kind.rects) / frames, static_cast<double>(kind.bytes) / frames);
    };
    line("whole pictures", figures.whole);
    line("frames of changes", figures.changes);
    line("pictures unchanged", figures.unchanged);
    std::fflush(out);
}

void report_now(Shared& shared) {
    const std::lock_guard lock(shared.figures_mutex);
    report(shared.figures, shared.out);
}

// --- The simulation ---------------------------------------------------------------

// The renderer keeps drawing into its picture; the pages' senders read
// copies. A fresh copy of the whole picture costs more than drawing it (its
// memory is new to the process, page by page), so a copy no sender holds any
// more is brought up to date instead, over the rectangles changed since.
// Only the simulation thread uses it.
class Copies {
public:
    std::shared_ptr<const render::Image> take(const render::Image& frame, uint64_t picture,
                                              const std::vector<render::PixelRect>& changed,
                                              const std::deque<Change>& changes) {
        const int width = frame.width(), height = frame.height();
        // Copies only this keeps, and too many of them (after pages went), go.
        size_t free = 0;
        for (auto it = copies_.rbegin(); it != copies_.rend(); ++it) {
            if (it->image.use_count() == 1 && (it->image->width() != width || it->image->height() != height || ++free > 2))
                it->image.reset();
        }
        std::erase_if(copies_, [](const Copy& copy) { return !copy.image; });
        Copy* reused = nullptr;
        for (Copy& copy : copies_) {
            if (copy.image.use_count() == 1 && (reused == nullptr || copy.picture > reused->picture)) reused = &copy;
        }
        std::optional<std::vector<render::PixelRect>> rects;
        if (reused != nullptr) {
            // Pairs with the release of the last sender's reference: its reads come first.
            std::atomic_thread_fence(std::memory_order_acquire);
            rects = changed_since(changes, reused->picture, picture - 1);
            if (rects) rects->insert(rects->end(), changed.begin(), changed.end());
        } else {
            copies_.push_back({std::make_shared<render::Image>(width, height), 0});
            reused = &copies_.back();
        }
        copy_rects(frame, *reused->image, rects ? *rects : std::vector<render::PixelRect>{{0, 0, width, height}});
        reused->picture = picture;
        return reused->image;
    }

private:
    static void copy_rects(const render::Image& from, render::Image& to, const std::vector<render::PixelRect>& rects) {
        cairo_surface_flush(to.surface());
        unsigned char* target = cairo_image_surface_get_data(to.surface());
        const size_t from_stride = static_cast<size_t>(from.stride()), to_stride = static_cast<size_t>(to.stride());
        for (const render::PixelRect& rect : rects) {
            const int left = std::max(rect.x, 0), top = std::max(rect.y, 0);
            const int right = static_cast<int>(std::min<int64_t>(int64_t{rect.x} + rect.width, from.width()));
            const int bottom = static_cast<int>(std::min<int64_t>(int64_t{rect.y} + rect.height, from.height()));
            if (left >= right) continue;
            for (int y = top; y < bottom; ++y) {
                std::memcpy(target + y * to_stride + 4 * static_cast<size_t>(left),
                            from.data() + y * from_stride + 4 * static_cast<size_t>(left),
                            4 * static_cast<size_t>(right - left));
            }
        }
        cairo_surface_mark_dirty(to.surface());
    }

    struct Copy {
        std::shared_ptr<render::Image> image;
        uint64_t picture = 0;  // the picture it holds
    };
    std::vector<Copy> copies_;
};

std::string error_status(const std::string& what) { return nlohmann::json{{"type", "status"}, {"error", what}}.dump(); }

void run_simulation(LivePanel& panel, Shared& shared, const std::atomic<bool>& stop) {
    const auto period =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / LivePanel::kRateHz));
    Clock::time_point due = Clock::now();
    // Updates and pictures over the last second: the share of real time the
    // updates keep, and the pictures a second drawing allows.
    std::deque<Clock::time_point> updates, pictures;
    const auto recent = [](std::deque<Clock::time_point>& times, Clock::time_point now) {
        times.push_back(now);
        while (now - times.front() > std::chrono::seconds(1)) times.pop_front();
    };
    std::string failure;
    uint64_t serial = 0;
    uint64_t picture = 0;
    std::vector<render::PixelRect> changed;
    Copies copies;
    const auto report_every =
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kReportEverySeconds));
    Clock::time_point next_report = Clock::now() + report_every;
    while (!stop) {
        if (Clock::now() >= next_report) {
            report_now(shared);
            next_report += report_every;
        }
        std::deque<Input> inputs;
        {
            const std::lock_guard lock(shared.input_mutex);
            inputs.swap(shared.inputs);
        }
        bool has_clients = false;
        {
            const std::lock_guard lock(shared.clients_mutex);
            has_clients = !shared.clients.empty();
        }
        Published now;
        try {
            for (const Input& input : inputs) {
                panel.apply(input);
                if (input.kind == Input::kReset) failure.clear();
            }
            // The updates due since the last pass, at most a second's worth:
            // drawing is what a slow machine cannot keep up with, so the
            // model keeps real time and pictures are skipped instead.
            Clock::time_point at = Clock::now();
            for (int i = 0; i < LivePanel::kRateHz && due <= at && failure.empty(); ++i) {
                panel.step();
                recent(updates, Clock::now());
                due += period;
            }
            if (due <= at) due = at + period;
            // A picture only when a client's sender has taken the last one.
            if (has_clients && shared.consumed == serial) {
                const render::Image& frame = panel.render();
                // Nothing moved: the pages keep the picture they have.
                if (picture == 0 || !panel.changed().empty()) {
                    changed = panel.changed();
                    // The simulation alone writes shared.changes: reading needs no lock.
                    now.image = copies.take(frame, picture + 1, changed, shared.changes);
                    now.picture = ++picture;
                }
                recent(pictures, Clock::now());
                now.status =
                    failure.empty()
                        ? panel.status_json(std::min(1.0, static_cast<double>(updates.size()) / LivePanel::kRateHz),
                                            static_cast<double>(pictures.size()))
                        : error_status(failure);
            }
        } catch (const std::exception& error) {
            // The panel stops where it failed; the page says why, and a reset
            // builds it anew.
            failure = std::string("the panel stopped: ") + error.what();
            now.status = error_status(failure);
        }
        if (!now.status.empty()) {
            {
                const std::lock_guard lock(shared.published_mutex);
                if (now.image) {
                    shared.published.image = now.image;
                    shared.published.picture = now.picture;
                    shared.changes.push_back({now.picture, std::move(changed)});
                    if (shared.changes.size() > kChangesKept) shared.changes.pop_front();
                }
                shared.published.status = now.status;
                shared.published.serial = ++serial;
            }
            shared.published_changed.notify_all();
        }
        std::this_thread::sleep_until(due);
    }
}

}  // namespace

std::vector<render::PixelRect> changed_rects(const render::Image* before, const render::Image& now,
                                             const std::vector<render::PixelRect>* within) {
    const int width = now.width(), height = now.height();
    if (before == nullptr || before->width() != width || before->height() != height) {
        if (width <= 0 || height <= 0) return {};
        return {{0, 0, width, height}};
    }
    const int columns = (width + kTile - 1) / kTile;
    // The tiles worth comparing, row by row (empty: all).
    std::vector<bool> candidate;
    if (within != nullptr) {
        candidate.assign(static_cast<size_t>(columns) * static_cast<size_t>((height + kTile - 1) / kTile), false);
        for (const render::PixelRect& rect : *within) {
            const int64_t left = std::max<int64_t>(rect.x, 0), top = std::max<int64_t>(rect.y, 0);
            const int64_t right = std::min<int64_t>(int64_t{rect.x} + rect.width, width);
            const int64_t bottom = std::min<int64_t>(int64_t{rect.y} + rect.height, height);
            if (left >= right || top >= bottom) continue;
            for (int64_t row = top / kTile; row <= (bottom - 1) / kTile; ++row) {
                for (int64_t column = left / kTile; column <= (right - 1) / kTile; ++column)
                    candidate[static_cast<size_t>(row * columns + column)] = true;
            }
        }
    }
    std::vector<render::PixelRect> rects;
    const unsigned char* a = before->data();
    const unsigned char* b = now.data();
    const int stride_a = before->stride(), stride_b = now.stride();
    for (int top = 0; top < height; top += kTile) {
        const int rows = std::min(kTile, height - top);
        int run_start = -1;
        // One step past the last tile closes a run that reaches the right edge.
        for (int column = 0; column <= columns; ++column) {
            const int left = column * kTile;
            bool changed = false;
            if (column < columns &&
                (candidate.empty() || candidate[static_cast<size_t>(top / kTile) * columns + column])) {
                const size_t bytes = 4 * static_cast<size_t>(std::min(kTile, width - left));
                for (int y = top; y < top + rows && !changed; ++y) {
                    changed =
                        std::memcmp(a + static_cast<size_t>(y) * stride_a + 4 * static_cast<size_t>(left),
                                    b + static_cast<size_t>(y) * stride_b + 4 * static_cast<size_t>(left), bytes) != 0;
                }
            }
            if (changed && run_start < 0) run_start = left;
            if (!changed && run_start >= 0) {
                rects.push_back({run_start, top, std::min(left, width) - run_start, rows});
                run_start = -1;
            }
        }
    }
    return rects;
}

std::optional<Input> parse_input(std::string_view text) {
    const nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
    if (message.is_discarded() || !message.is_object()) return std::nullopt;
    const auto kind = message.find("t");
    if (kind == message.end() || !kind->is_string()) return std::nullopt;
    const std::string& name = kind->get_ref<const std::string&>();
    Input input;
    if (name == "press" || name == "move") {
        const auto x = message.find("x"), y = message.find("y");
        if (x == message.end() || y == message.end() || !x->is_number() || !y->is_number()) return std::nullopt;
        input.kind = name == "press" ? Input::kPress : Input::kMove;
        input.x = frame::trunc_to_int32(std::floor(x->get<double>()));
        input.y = frame::trunc_to_int32(std::floor(y->get<double>()));
    } else if (name == "key") {
        const auto event = message.find("event");
        if (event == message.end() || !event->is_number_unsigned() || event->get<uint64_t>() > UINT32_MAX)
            return std::nullopt;
        input.kind = Input::kKey;
        input.event = static_cast<uint32_t>(event->get<uint64_t>());
    } else if (name == "release") {
        input.kind = Input::kRelease;
    } else if (name == "pause") {
        input.kind = Input::kPause;
    } else if (name == "reset") {
        input.kind = Input::kReset;
    } else if (name == "fly") {
        input.kind = Input::kFly;
    } else {
        return std::nullopt;
    }
    return input;
}

void serve(LivePanel& panel, const ServerOptions& options, const std::atomic<bool>& stop, std::FILE* out) {
    Shared shared;
    shared.layout = layout_json(panel);
    shared.stop = &stop;
    shared.out = out;

    mg_init_library(0);
    if (mg_check_feature(16) == 0) throw ServerError("this CivetWeb was built without WebSocket support");
    const std::string ports = options.host + ":" + std::to_string(options.port);
    const std::string timeout = std::to_string(options.socket_timeout_ms);
    // A socket quiet this long gets a ping; CivetWeb closes it when five go
    // unanswered, so a page that stopped reading is gone after about the
    // time-out (a browser answers pings by itself, an idle page stays).
    const std::string quiet = std::to_string(std::max(100, options.socket_timeout_ms / 6));
    const char* config[] = {"listening_ports",
                            ports.c_str(),
                            "document_root",
                            options.web_root.c_str(),
                            "request_timeout_ms",
                            timeout.c_str(),
                            "websocket_timeout_ms",
                            quiet.c_str(),
                            "enable_websocket_ping_pong",
                            "yes",
                            "num_threads",
                            "16",
                            "enable_directory_listing",
                            "no",
                            nullptr};
    mg_callbacks callbacks{};
    callbacks.log_message = [](const mg_connection*, const char* message) {
        std::fprintf(stderr, "gaugebench: web server: %s\n", message);
        return 1;
    };
    mg_context* context = mg_start(&callbacks, nullptr, config);
    if (context == nullptr) {
        mg_exit_library();
        throw ServerError("cannot listen on " + ports + " (in use, or not an address of this machine)");
    }
    mg_set_websocket_handler(context, "/ws", on_connect, on_ready, on_data, on_close, &shared);
    std::fprintf(out, "gaugebench: the panel is live at http://%s:%d/ (Ctrl-C ends)\n",
                 options.host == "0.0.0.0" ? "localhost" : options.host.c_str(), options.port);
    std::fflush(out);

    run_simulation(panel, shared, stop);
    shared.published_changed.notify_all();
    // Closes every socket; the close handlers (joining the senders) run before it returns.
    mg_stop(context);
    mg_exit_library();
    // Any sender whose close handler did not run ends here (*stop is set).
    for (const auto& client : shared.clients) {
        if (client->sender.joinable()) client->sender.join();
    }
    report_now(shared);
}

}  // namespace web
