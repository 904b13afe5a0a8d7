// The UDP link to a simulator: where it is (--feed flightgear:[HOST:]PORT,
// --controls jsbsim:HOST:PORT or flightgear:HOST:PORT), the packets read
// from it, never blocking, of which only the newest counts, and what is
// honest to say of it: live at a rate, silent for so long (the panel holds
// the last values), packets malformed and refused. Loopback peers only,
// unless allowed: a packet drives the panel and the controls fly an
// aircraft.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "feed/fdm_packet.h"
#include "platform/net_address.h"

namespace feed {

enum class Peer { kFlightGear, kJsbsim };

// Its host resolved once, and judged on what it resolved to.
struct Endpoint : platform::ResolvedAddress {
    Peer peer = Peer::kFlightGear;
};

// "flightgear:[HOST:]PORT" (HOST default 127.0.0.1): the address to listen
// on. Throws std::invalid_argument naming --feed and what was expected; an
// address other machines reach takes `anywhere`.
Endpoint parse_feed(const std::string& text, bool anywhere);
// "jsbsim:HOST:PORT" or "flightgear:HOST:PORT": where the controls go.
Endpoint parse_controls(const std::string& text, bool anywhere);

// A link's state as the page and the terminal say it.
struct LinkStatus {
    std::string listening;  // where packets are taken
    uint64_t packets = 0;   // read and applied
    uint64_t malformed = 0;
    uint64_t refused = 0;  // from a peer not allowed
    double rate = 0.0;     // packets a second, over the last two seconds
    // Since the newest packet, seconds; negative before the first.
    double silent_seconds = -1.0;
    std::string peer;        // the newest packet's sender
    std::string last_error;  // why the newest malformed one was
};
// A link silent this long is said to have stopped.
inline constexpr double kSilentAfterSeconds = 1.0;
// "live, 18.0 packets/s from 127.0.0.1:40000", "no data for 3 s (holding the
// last values)", "waiting for packets on 127.0.0.1:5500"; with the
// malformed and refused counts after.
std::string status_text(const LinkStatus& status);
// "live", "stopped", "waiting".
const char* state_name(const LinkStatus& status);

class FeedReceiver {
public:
    using Clock = std::chrono::steady_clock;
    // Binds the endpoint's first address. Throws std::runtime_error.
    FeedReceiver(const Endpoint& endpoint, bool anywhere);
    ~FeedReceiver();
    FeedReceiver(const FeedReceiver&) = delete;
    FeedReceiver& operator=(const FeedReceiver&) = delete;

    // Reads every datagram waiting, never blocking: the newest good packet
    // since the last call (a burst is taken as its newest), if any.
    std::optional<FdmPacket> poll();
    // Waits up to `seconds` for a datagram to read.
    bool wait(double seconds) const;
    LinkStatus status() const;
    uint16_t port() const { return port_; }

private:
    int fd_ = -1;
    bool anywhere_ = false;
    uint16_t port_ = 0;
    std::string listening_;
    uint64_t packets_ = 0, malformed_ = 0, refused_ = 0;
    std::optional<Clock::time_point> last_;
    std::deque<Clock::time_point> recent_;
    std::string peer_, last_error_;
};

// Datagrams to a peer; a peer not listening (a refused send) is counted, not thrown.
class ControlsSender {
public:
    explicit ControlsSender(const Endpoint& endpoint);  // throws std::runtime_error
    ~ControlsSender();
    ControlsSender(const ControlsSender&) = delete;
    ControlsSender& operator=(const ControlsSender&) = delete;
    void send(std::span<const uint8_t> datagram);
    uint64_t sent() const { return sent_; }
    uint64_t failed() const { return failed_; }
    const std::string& last_error() const { return last_error_; }

private:
    int fd_ = -1;
    uint64_t sent_ = 0, failed_ = 0;
    std::string last_error_;
};

}  // namespace feed
