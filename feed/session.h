// A simulator beside the panel for a whole session: the feed read before
// each of the panel's updates (the newest packet's values applied; none
// come, the last ones held), the pilot's controls sent after it, and the
// link's changes told once each (live, stopped, a new kind of malformed
// packet).
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "feed/controls_out.h"
#include "feed/link.h"
#include "feed/panel_values.h"

namespace feed {

struct FeedOptions {
    std::string feed;      // flightgear:[HOST:]PORT
    std::string controls;  // jsbsim:HOST:PORT or flightgear:HOST:PORT (empty: none)
    bool anywhere = false;
    FeedSettings settings;
};

class FeedSession {
public:
    // Throws std::invalid_argument for an option that names no link (or
    // one other machines reach, not allowed), std::runtime_error for one
    // that cannot be opened.
    explicit FeedSession(const FeedOptions& options);

    // Applies the newest packet since the last call; false when none came.
    bool update(runtime::VariableStore& vars);
    // Sends the pilot's controls, once a packet has come (the levers not
    // yet moved take the aircraft's own from it).
    void send_controls(const runtime::VariableStore& vars, const runtime::KeyModel& keys,
                       const flightmodel::PilotControls& pilot);

    LinkStatus status() const { return receiver_->status(); }
    bool sends_controls() const { return sender_ != nullptr; }
    // "jsbsim at 127.0.0.1:5600, 120 sent"; empty without --controls.
    std::string controls_text() const;
    // A line for the terminal when the link changed since the last call, else empty.
    std::string change_line();
    uint16_t port() const { return receiver_->port(); }
    const Endpoint& feed_endpoint() const { return feed_; }
    const Endpoint& controls_endpoint() const { return controls_; }

private:
    FeedOptions options_;
    Endpoint feed_;
    std::unique_ptr<FeedReceiver> receiver_;
    Endpoint controls_;
    std::unique_ptr<ControlsSender> sender_;
    std::optional<FdmPacket> first_, newest_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::string told_state_;
    uint64_t told_malformed_ = 0, told_refused_ = 0, told_failed_ = 0;
    std::chrono::steady_clock::time_point told_at_{};
};

}  // namespace feed
