#include "feed/session.h"

#include <stdexcept>

namespace feed {
namespace {

// Counts of what went wrong are told at most this often.
constexpr double kTellEverySeconds = 5.0;

}  // namespace

FeedSession::FeedSession(const FeedOptions& options) : options_(options) {
    feed_ = parse_feed(options.feed, options.anywhere);
    receiver_ = std::make_unique<FeedReceiver>(feed_, options.anywhere);
    if (!options.controls.empty()) {
        controls_ = parse_controls(options.controls, options.anywhere);
        sender_ = std::make_unique<ControlsSender>(controls_);
    }
}

bool FeedSession::update(runtime::VariableStore& vars) {
    const std::optional<FdmPacket> packet = receiver_->poll();
    if (!packet) return false;
    if (!first_) first_ = packet;
    newest_ = packet;
    feed::apply(driven_by(*packet, vars, options_.settings), vars);
    return true;
}

void FeedSession::send_controls(const runtime::VariableStore& vars, const runtime::KeyModel& keys,
                                const flightmodel::PilotControls& pilot) {
    if (!sender_ || !first_) return;
    const flightmodel::PilotControls flown = with_untouched_levers(pilot, *first_);
    if (controls_.peer == Peer::kJsbsim) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        const std::string line = jsbsim_line(seconds, vars, keys, flown);
        sender_->send({reinterpret_cast<const uint8_t*>(line.data()), line.size()});
    } else {
        const auto packet = write_ctrls_packet(ctrls_packet(vars, keys, flown, newest_->num_engines));
        sender_->send(packet);
    }
}

std::string FeedSession::controls_text() const {
    if (!sender_) return {};
    std::string text = std::string(controls_.peer == Peer::kJsbsim ? "jsbsim" : "flightgear") + " at " +
                       controls_.addresses.front().text() + ", " + std::to_string(sender_->sent()) + " sent";
    if (sender_->failed() > 0)
        text += ", " + std::to_string(sender_->failed()) + " not delivered (" + sender_->last_error() + ")";
    return text;
}

std::string FeedSession::change_line() {
    const LinkStatus now = status();
    const std::string state = state_name(now);
    const auto since = std::chrono::steady_clock::now() - told_at_;
    const bool counts_changed = now.malformed != told_malformed_ || now.refused != told_refused_ ||
                                (sender_ && sender_->failed() != told_failed_);
    if (state == told_state_ && !(counts_changed && std::chrono::duration<double>(since).count() >= kTellEverySeconds))
        return {};
    told_state_ = state;
    told_malformed_ = now.malformed;
    told_refused_ = now.refused;
    if (sender_) told_failed_ = sender_->failed();
    told_at_ = std::chrono::steady_clock::now();
    std::string line = "feed: " + status_text(now);
    if (sender_) line += "; controls to " + controls_text();
    return line;
}

}  // namespace feed
