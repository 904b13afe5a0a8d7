#include "web/simulation_clock.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <exception>
#include <thread>

#include "runtime/debugging.h"
#include "web/page_messages.h"

namespace web {
namespace {

using Clock = std::chrono::steady_clock;

// Inputs waiting for the simulation; beyond this the oldest go (a page that
// floods the socket loses its own oldest moves, the server stays bounded).
constexpr size_t kMaxQueuedInputs = 512;
// Seconds between the figures the server prints about its frames.
constexpr double kReportEverySeconds = 30.0;
// Pictures whose changed rectangles are kept: a page further behind is
// compared whole.
constexpr size_t kChangesKept = 64;

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
            if (it->image.use_count() == 1 &&
                (it->image->width() != width || it->image->height() != height || ++free > 2))
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

Clock::duration seconds(double value) {
    return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(value));
}

// One pass a period: the inputs, the updates due, a picture when a page
// has taken the last one, and its publication.
class SimulationClock {
public:
    SimulationClock(LivePanel& panel, Exchange& exchange) : panel_(panel), exchange_(exchange) {}

    void run(const std::atomic<bool>& stop) {
        // A debugger's stop holds this thread inside a step: the page is told
        // where, and the clock takes up again from the moment it goes on.
        runtime::observe_debugger(
            [this](const std::string& where) {
                Published stopped;
                stopped.status = nlohmann::json{{"type", "status"}, {"debugger", "stopped in " + where}}.dump();
                publish(stopped);
            },
            [this] { due_ = Clock::now(); });
        struct Unobserve {
            ~Unobserve() { runtime::observe_debugger({}, {}); }
        } unobserve;
        Clock::time_point next_report = Clock::now() + seconds(kReportEverySeconds);
        while (!stop) {
            if (Clock::now() >= next_report) {
                exchange_.report(true);
                next_report += seconds(kReportEverySeconds);
            }
            Published now;
            try {
                pass(now);
            } catch (const std::exception& error) {
                // The panel stops where it failed; the page says why, and a
                // reset builds it anew.
                failure_ = std::string("the panel stopped: ") + error.what();
                now.status = error_status(failure_);
            }
            if (!now.status.empty()) publish(now);
            std::this_thread::sleep_until(due_);
        }
    }

private:
    // Updates and pictures over the last second: the share of real time the
    // updates keep, and the pictures a second drawing allows.
    static void recent(std::deque<Clock::time_point>& times, Clock::time_point now) {
        times.push_back(now);
        while (now - times.front() > std::chrono::seconds(1)) times.pop_front();
    }

    void pass(Published& now) {
        bool answered = false;
        for (const Input& input : exchange_.take_inputs()) {
            if (input.kind == Input::kPointer) {
                exchange_.answer(input.page, pointer_message(panel_, input.x, input.y));
                answered = true;
                continue;
            }
            if (input.kind == Input::kSave) {
                exchange_.answer(input.page, panel_.save(input.overwrite), false);
                answered = true;
                continue;
            }
            panel_.apply(input);
            // A reset makes the panel anew, a new flight runs it on: what
            // stopped it is shown again only if it stops again.
            if (input.kind == Input::kReset || input.kind == Input::kFly) failure_.clear();
        }
        // Answers go out now, not with the next picture.
        if (answered && exchange_.published_hook) exchange_.published_hook();
        if (panel_.layout_generation() != layout_generation_) {
            layout_ = layout_message(panel_);
            layout_generation_ = panel_.layout_generation();
        }
        // The updates due since the last pass, at most a second's worth:
        // drawing is what a slow machine cannot keep up with, so the model
        // keeps real time and pictures are skipped instead.
        const Clock::time_point at = Clock::now();
        // A flight starts with the first page, so that nobody misses its start.
        started_ = started_ || !panel_.flies() || exchange_.pages > 0;
        for (int i = 0; i < LivePanel::kRateHz && started_ && due_ <= at && failure_.empty(); ++i) {
            panel_.step();
            recent(updates_, Clock::now());
            due_ += seconds(1.0 / LivePanel::kRateHz);
        }
        if (due_ <= at) due_ = at + seconds(1.0 / LivePanel::kRateHz);
        // A picture only when a page has been sent the last one.
        if (exchange_.pages == 0 || exchange_.consumed != serial_) return;
        const render::Image& frame = panel_.render();
        // Nothing moved: the pages keep the picture they have.
        if (picture_ == 0 || !panel_.changed().empty()) {
            changed_ = panel_.changed();
            // The simulation alone writes exchange_.changes: reading needs no lock.
            now.image = copies_.take(frame, picture_ + 1, changed_, exchange_.changes);
            now.picture = ++picture_;
        }
        recent(pictures_, Clock::now());
        now.layout = layout_;
        now.layout_generation = layout_generation_;
        now.status = failure_.empty()
                         ? status_message(panel_, std::min(1.0, static_cast<double>(updates_.size()) / LivePanel::kRateHz),
                                              static_cast<double>(pictures_.size()))
                         : error_status(failure_);
    }

    void publish(const Published& now) {
        {
            const std::lock_guard lock(exchange_.published_mutex);
            if (now.image) {
                exchange_.published.image = now.image;
                exchange_.published.picture = now.picture;
                exchange_.changes.push_back({now.picture, std::move(changed_)});
                changed_.clear();
                if (exchange_.changes.size() > kChangesKept) exchange_.changes.pop_front();
            }
            exchange_.published.status = now.status;
            if (!now.layout.empty()) {
                exchange_.published.layout = now.layout;
                exchange_.published.layout_generation = now.layout_generation;
            }
            exchange_.published.serial = ++serial_;
        }
        if (exchange_.published_hook) exchange_.published_hook();
    }

    LivePanel& panel_;
    Exchange& exchange_;
    Clock::time_point due_ = Clock::now();
    std::deque<Clock::time_point> updates_, pictures_;
    std::string failure_;
    uint64_t serial_ = 0, picture_ = 0;
    bool started_ = false;
    std::string layout_;
    uint64_t layout_generation_ = 0;
    std::vector<render::PixelRect> changed_;
    Copies copies_;
};

}  // namespace

void Exchange::push(const Input& input) {
    const std::lock_guard lock(input_mutex_);
    // Consecutive moves: only the newest matters.
    const bool same_pointer = input.kind == Input::kPointer && !inputs_.empty() &&
                              inputs_.back().kind == Input::kPointer && inputs_.back().page == input.page;
    // Nor of the pilot's controls, which say where each one is.
    const bool same_kind = (input.kind == Input::kMove || input.kind == Input::kControls) && !inputs_.empty() &&
                           inputs_.back().kind == input.kind;
    if (same_pointer || same_kind) {
        inputs_.back() = input;
        return;
    }
    if (inputs_.size() >= kMaxQueuedInputs) inputs_.pop_front();
    inputs_.push_back(input);
}

void Exchange::answer(uint64_t page, std::string message, bool newest_only) {
    const std::lock_guard lock(input_mutex_);
    if (!newest_only) {
        kept_answers_.emplace_back(page, std::move(message));
        return;
    }
    // A page asks again as its pointer moves: its newest answer is enough.
    for (auto& [id, waiting] : answers_) {
        if (id == page) {
            waiting = std::move(message);
            return;
        }
    }
    answers_.emplace_back(page, std::move(message));
}

std::vector<std::pair<uint64_t, std::string>> Exchange::take_answers() {
    std::vector<std::pair<uint64_t, std::string>> taken;
    const std::lock_guard lock(input_mutex_);
    taken.swap(kept_answers_);
    taken.insert(taken.end(), answers_.begin(), answers_.end());
    answers_.clear();
    return taken;
}

std::deque<Input> Exchange::take_inputs() {
    std::deque<Input> taken;
    const std::lock_guard lock(input_mutex_);
    taken.swap(inputs_);
    return taken;
}

void Exchange::report(bool period) {
    const std::lock_guard lock(figures_mutex);
    // An idle server's figures stay as they were: printed again, they bury
    // the lines that say something.
    if (period && (!figures_periodically || (!figures_every_period && ever_reported_ && figures == reported_))) return;
    reported_ = figures;
    ever_reported_ = true;
    const auto line = [this](const char* what, const Figures::Kind& kind) {
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

void run_simulation(LivePanel& panel, Exchange& exchange, const std::atomic<bool>& stop) {
    SimulationClock(panel, exchange).run(stop);
}

}  // namespace web
