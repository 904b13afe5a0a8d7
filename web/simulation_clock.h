// The simulation behind the live page, on its own thread at the panel's
// rate, and what it shares with the transport's thread: the pages' inputs
// one way, the newest picture and status the other.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "render/image.h"
#include "web/live_panel.h"

namespace web {

// Pictures are numbered from 1 as drawn; a status without a new picture
// publishes the last one again.
struct Published {
    std::shared_ptr<const render::Image> image;
    uint64_t picture = 0;
    std::string status;
    uint64_t serial = 0;
    std::string layout;  // layout_message of the panel the picture is of
    uint64_t layout_generation = 0;
};

// Where a picture may differ from the one numbered before it: the renderer's
// own rectangles, so a page's frame need not compare whole pictures.
struct Change {
    uint64_t picture = 0;
    std::vector<render::PixelRect> rects;
};

// What the frames cost: whole pictures (a page's first) apart from the
// changed rectangles, and the comparisons that found nothing changed.
struct Figures {
    struct Kind {
        uint64_t frames = 0, rects = 0, bytes = 0;
        double seconds = 0.0;  // comparing and encoding
        bool operator==(const Kind&) const = default;
    } whole, changes, unchanged;
    bool operator==(const Figures&) const = default;
};

class Exchange {
public:
    // From the pages: queued for the simulation's next pass.
    void push(const Input& input);
    std::deque<Input> take_inputs();
    // To the pages: answers for one page each (what lies under its pointer),
    // taken by the transport's thread when woken; one `newest_only` takes
    // the place of that page's answer still waiting, if any (a save's does not).
    void answer(uint64_t page, std::string message, bool newest_only = true);
    std::vector<std::pair<uint64_t, std::string>> take_answers();

    std::mutex published_mutex;
    Published published;
    std::deque<Change> changes;  // the newest pictures', under published_mutex
    // The newest publication any page has been sent; the simulation draws
    // the next picture only then.
    std::atomic<uint64_t> consumed{0};
    std::atomic<int> pages{0};  // pages connected
    // Called after each publication, on the simulation's thread.
    std::function<void()> published_hook;

    std::mutex figures_mutex;
    Figures figures;
    std::FILE* out = nullptr;
    bool figures_periodically = true;   // the period's report prints at all
    bool figures_every_period = false;  // ... even when nothing changed since the last
    // Prints the figures on `out`; a period's report (`period`) only as the
    // two flags say.
    void report(bool period);

private:
    Figures reported_;  // as last printed, under figures_mutex
    bool ever_reported_ = false;
    std::mutex input_mutex_;
    std::deque<Input> inputs_;
    std::vector<std::pair<uint64_t, std::string>> answers_;       // under input_mutex_
    std::vector<std::pair<uint64_t, std::string>> kept_answers_;  // every one goes out; under input_mutex_
};

// Where the pictures after `from` up to `to` changed, if all are kept.
std::optional<std::vector<render::PixelRect>> changed_since(const std::deque<Change>& changes, uint64_t from,
                                                            uint64_t to);

// Steps `panel` in real time until `stop`, applying the pages' inputs and
// publishing a picture whenever a page has taken the last one.
void run_simulation(LivePanel& panel, Exchange& exchange, const std::atomic<bool>& stop);

}  // namespace web
