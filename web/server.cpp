#include "web/server.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <thread>
#include <unordered_map>

#include <nlohmann/json.hpp>

#include "platform/net_address.h"
#include "render/changed_rects.h"
#include "render/png.h"
#include "web/simulation_clock.h"
#include "web/transport.h"
#include "web/websocket.h"

namespace web {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::shared_ptr<const std::string>;

// A page says it has drawn a frame before it is sent the next: a socket
// drained says only that the bytes left, and a page decoding slower than
// frames come would fall ever further behind the status it is sent.
constexpr std::string_view kDrawn = R"({"t":"drawn"})";
// Frames kept encoded for the pages that follow: one per page keeping up.
constexpr size_t kFramesKept = 8;

// The message taking a page from one picture to another, the same for every
// page making that step, so encoded once (as its whole WebSocket frame).
struct Frame {
    uint64_t from = 0, to = 0;
    size_t rects = 0;
    Bytes message;
};

void put_u32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// How a part's pixels travel: small changes (a knob turned, a lamp lit) as
// the pixels themselves, which the page draws the moment they arrive, since
// decoding a PNG in the browser takes longer than the whole trip; larger ones
// as PNG, which keeps a moving panel's frames small.
enum class PartFormat : uint32_t { kPng = 0, kRgba = 1 };
constexpr size_t kMostRgbaBytes = 64 * 1024;

Frame encode(const render::Image* before, const render::Image& now, const std::vector<render::PixelRect>* within) {
    const std::vector<render::PixelRect> rects = render::changed_rects(before, now, within);
    size_t rgba_bytes = 0;
    for (const render::PixelRect& rect : rects) rgba_bytes += 4 * static_cast<size_t>(rect.width) * rect.height;
    const PartFormat format = rgba_bytes <= kMostRgbaBytes ? PartFormat::kRgba : PartFormat::kPng;
    std::string message;
    put_u32(message, static_cast<uint32_t>(rects.size()));
    std::vector<unsigned char> pixels;
    for (const render::PixelRect& rect : rects) {
        pixels.clear();
        if (format == PartFormat::kRgba) {
            render::append_rgba(now, rect, pixels);
        } else {
            render::encode_png(now, rect, render::PngEffort::kFast, pixels);
        }
        for (int value : {rect.x, rect.y, rect.width, rect.height}) put_u32(message, static_cast<uint32_t>(value));
        put_u32(message, static_cast<uint32_t>(format));
        put_u32(message, static_cast<uint32_t>(pixels.size()));
        message.append(pixels.begin(), pixels.end());
    }
    Frame frame;
    frame.rects = rects.size();
    frame.message = std::make_shared<const std::string>(web::frame(kBinary, message));
    return frame;
}

// The pages, on the transport's thread: each is sent the newest picture and
// status once everything sent before has been written to its socket, so a
// slow page skips pictures instead of queueing them, and one that stops
// reading holds up no other (the transport closes it after the time-out).
class Pages final : public TransportHandler {
public:
    Pages(Exchange& exchange, bool edit) : exchange_(exchange), edit_(edit) {}
    void attach(Transport& transport) { transport_ = &transport; }

    void opened(uint64_t id) override {
        pages_.emplace(id, Page{});
        ++exchange_.pages;
        feed(id);
    }
    void text(uint64_t id, std::string_view message) override {
        if (message == kDrawn) {
            if (const auto it = pages_.find(id); it != pages_.end()) it->second.drawing = false;
            feed(id);
            return;
        }
        try {
            std::optional<Input> input = parse_input(message);
            if (!input) return;
            if ((input->kind == Input::kEdit || input->kind == Input::kSave) && !(edit_ && transport_->own_page(id))) {
                refuse_edit(id);
                return;
            }
            input->page = id;
            exchange_.push(*input);
        } catch (const std::exception&) {
            // An input that cannot be queued is lost; the page goes on.
        }
    }
    void drained(uint64_t id) override { feed(id); }
    void closed(uint64_t id) override {
        if (pages_.erase(id) == 0) return;
        --exchange_.pages;
        // Its pixel ratio no longer counts for the picture's scale.
        try {
            Input gone;
            gone.kind = Input::kPageClosed;
            gone.page = id;
            exchange_.push(gone);
        } catch (const std::exception&) {
            // Not queued: the picture stays at the scale that page asked for.
        }
    }
    void woken() override {
        for (auto& [id, answer] : exchange_.take_answers()) {
            if (pages_.count(id) != 0) transport_->send(id, std::make_shared<const std::string>(frame(kText, answer)));
        }
        for (const auto& [id, page] : pages_) {
            if (transport_->idle(id)) feed(id);
        }
    }

private:
    struct Page {
        std::shared_ptr<const render::Image> last;  // the picture the page now shows
        uint64_t last_picture = 0;                  // its number (0: none yet)
        uint64_t sent_serial = 0;
        uint64_t layout = 0;   // the layout's generation it was sent
        bool drawing = false;  // sent a frame it has not said it drew
    };

    void feed(uint64_t id);
    void refuse_edit(uint64_t id);
    const Frame& frame_between(const Page& page, const Published& now,
                               const std::optional<std::vector<render::PixelRect>>& within);
    void count(const Page& page, const Frame* frame, Clock::time_point start);

    Exchange& exchange_;
    bool edit_ = false;
    Transport* transport_ = nullptr;
    Bytes layout_;
    uint64_t layout_generation_ = 0;
    std::unordered_map<uint64_t, Page> pages_;
    std::deque<Frame> frames_;  // newest last
    Bytes status_;              // the newest status's frame
    uint64_t status_serial_ = 0;
};

void Pages::refuse_edit(uint64_t id) {
    const std::string why = edit_ ? "only a page on this machine, served by this server, may change the panel file"
                                  : "editing is off (serve --edit turns it on)";
    const nlohmann::json answer = {{"type", "saved"}, {"ok", false}, {"why", why}};
    transport_->send(id, std::make_shared<const std::string>(frame(kText, answer.dump())));
}

void Pages::feed(uint64_t id) {
    const auto it = pages_.find(id);
    if (it == pages_.end() || !transport_->idle(id) || it->second.drawing) return;
    Page& page = it->second;
    Published now;
    std::optional<std::vector<render::PixelRect>> within;
    {
        const std::lock_guard lock(exchange_.published_mutex);
        if (exchange_.published.serial == page.sent_serial || !exchange_.published.image) return;
        // A panel made again (a reset, changed files) may differ in size and
        // boxes: the page takes its layout before the picture.
        if (exchange_.published.layout_generation != layout_generation_) {
            layout_ = std::make_shared<const std::string>(frame(kText, exchange_.published.layout));
            layout_generation_ = exchange_.published.layout_generation;
        }
        if (page.layout != layout_generation_) {
            transport_->send(id, layout_);
            page.layout = layout_generation_;
            page.last.reset();
            page.last_picture = 0;
        }
        now = exchange_.published;  // the newest: those published meanwhile are skipped
        if (exchange_.consumed < now.serial) exchange_.consumed = now.serial;
        if (now.picture != page.last_picture) within = changed_since(exchange_.changes, page.last_picture, now.picture);
    }
    page.sent_serial = now.serial;
    const Clock::time_point start = Clock::now();
    const Frame* frame = nullptr;
    try {
        if (now.picture != page.last_picture) frame = &frame_between(page, now, within);
    } catch (const std::exception& error) {
        std::fprintf(exchange_.out, "gaugebench: frame not sent: %s\n", error.what());
        return;
    }
    count(page, frame, start);
    if (frame != nullptr && frame->rects != 0) {
        transport_->send(id, frame->message);
        page.drawing = true;
    }
    page.last = now.image;
    page.last_picture = now.picture;
    if (status_serial_ != now.serial) {
        status_ = std::make_shared<const std::string>(web::frame(kText, now.status));
        status_serial_ = now.serial;
    }
    transport_->send(id, status_);
}

const Frame& Pages::frame_between(const Page& page, const Published& now,
                                  const std::optional<std::vector<render::PixelRect>>& within) {
    for (const Frame& kept : frames_) {
        if (kept.from == page.last_picture && kept.to == now.picture) return kept;
    }
    Frame made = encode(page.last.get(), *now.image, within ? &*within : nullptr);
    made.from = page.last_picture;
    made.to = now.picture;
    frames_.push_back(std::move(made));
    if (frames_.size() > kFramesKept) frames_.pop_front();
    return frames_.back();
}

void Pages::count(const Page& page, const Frame* frame, Clock::time_point start) {
    const size_t rects = frame ? frame->rects : 0;
    const std::lock_guard counting(exchange_.figures_mutex);
    Figures& figures = exchange_.figures;
    Figures::Kind& kind = rects == 0 ? figures.unchanged : page.last == nullptr ? figures.whole : figures.changes;
    ++kind.frames;
    kind.rects += rects;
    kind.bytes += rects == 0 ? 4 : frame->message->size();
    kind.seconds += std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

void serve(const std::function<std::unique_ptr<LivePanel>()>& make_panel, const ServerOptions& options,
           const std::atomic<bool>& stop, std::FILE* out) {
    Exchange exchange;
    exchange.out = out;
    exchange.figures_every_period = options.verbose;
    exchange.figures_periodically = !options.quiet;
    Pages pages(exchange, options.edit);
    TransportOptions transport_options;
    transport_options.host = options.host;
    transport_options.port = options.port;
    transport_options.web_root = options.web_root;
    transport_options.socket_timeout_ms = options.socket_timeout_ms;
    transport_options.allow_no_origin = options.allow_no_origin;
    // A layout names every gauge: some kilobytes, where the page's other messages are a few dozen bytes.
    if (options.edit) transport_options.max_message = 1 << 20;
    Transport transport(transport_options, pages);
    pages.attach(transport);
    exchange.published_hook = [&transport] { transport.wake(); };
    if (platform::names_every_interface(options.host))
        std::fprintf(out,
                     "gaugebench: warning: listening on every interface: anyone who can reach this machine "
                     "can see and operate the panel\n");
    std::fprintf(out, "gaugebench: the panel is live at http://%s:%d/ (Ctrl-C ends)\n",
                 platform::names_every_interface(options.host) ? "localhost" : transport.url_host().c_str(),
                 transport.port());
    std::fflush(out);
    const std::unique_ptr<LivePanel> panel = make_panel();

    // The transport's thread ends when `stop` turns, or when the transport
    // fails; either way the simulation, on this thread, stops after it.
    std::atomic<bool> halt{false};
    std::exception_ptr failure;
    std::thread serving([&] {
        try {
            transport.run(stop);
        } catch (...) {
            failure = std::current_exception();
        }
        halt = true;
    });
    run_simulation(*panel, exchange, halt);
    serving.join();
    if (!options.quiet) exchange.report(false);
    if (failure) std::rethrow_exception(failure);
}

}  // namespace web
