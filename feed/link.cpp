#include "feed/link.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/listener.h"

namespace feed {
namespace {

// The largest datagram read whole: anything longer is malformed anyway, and
// is read (and counted) as its first bytes.
constexpr size_t kLargestDatagram = 2048;
constexpr double kRateWindowSeconds = 2.0;

Endpoint parse(const char* option, const std::string& text, bool anywhere, bool listening) {
    const std::string expected = listening ? "flightgear:[HOST:]PORT" : "jsbsim:HOST:PORT or flightgear:HOST:PORT";
    const auto refuse = [&](const std::string& why) {
        throw std::invalid_argument(std::string(option) + " " + text + ": " + why);
    };
    Endpoint endpoint;
    const size_t colon = text.find(':');
    const std::string peer = colon == std::string::npos ? std::string() : text.substr(0, colon);
    if (peer == "flightgear") {
        endpoint.peer = Peer::kFlightGear;
    } else if (peer == "jsbsim" && !listening) {
        endpoint.peer = Peer::kJsbsim;
    } else {
        refuse("expected " + expected);
    }
    const std::string rest = text.substr(colon + 1);
    const std::optional<platform::HostPort> at = platform::parse_host_port(rest);
    if (!listening && (rest.find(':') == std::string::npos || (at && at->host.empty())))
        refuse("expected " + expected + " (the peer's host)");
    if (!at || (!listening && at->port == 0))
        refuse("expected " + expected + " with a port from " + (listening ? "0" : "1") + " to 65535");
    try {
        static_cast<platform::ResolvedAddress&>(endpoint) =
            platform::resolve(at->host.empty() ? "127.0.0.1" : at->host, at->port, SOCK_DGRAM);
    } catch (const platform::AddressError& error) {
        refuse(error.what());
    }
    if (!endpoint.loopback && !anywhere) {
        refuse(std::string(listening ? "whoever reaches " + endpoint.reached_as() + " would drive the panel"
                                     : "the controls would fly an aircraft at " + endpoint.reached_as()) +
               "; another machine takes --feed-anywhere");
    }
    return endpoint;
}

std::string system_error(const std::string& what) { return what + ": " + std::strerror(errno); }

double seconds_between(FeedReceiver::Clock::time_point from, FeedReceiver::Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

Endpoint parse_feed(const std::string& text, bool anywhere) { return parse("--feed", text, anywhere, true); }
Endpoint parse_controls(const std::string& text, bool anywhere) { return parse("--controls", text, anywhere, false); }

const char* state_name(const LinkStatus& status) {
    if (status.silent_seconds < 0.0) return "waiting";
    return status.silent_seconds >= kSilentAfterSeconds ? "stopped" : "live";
}

std::string status_text(const LinkStatus& status) {
    char text[160];
    if (status.silent_seconds < 0.0) {
        std::snprintf(text, sizeof text, "waiting for packets on %s", status.listening.c_str());
    } else if (status.silent_seconds >= kSilentAfterSeconds) {
        std::snprintf(text, sizeof text, "no data for %.0f s (holding the last values)",
                      std::floor(status.silent_seconds));
    } else {
        std::snprintf(text, sizeof text, "live, %.1f packets/s from %s", status.rate, status.peer.c_str());
    }
    std::string out = text;
    if (status.malformed > 0)
        out += ", " + std::to_string(status.malformed) + " malformed ignored (latest: " + status.last_error + ")";
    if (status.refused > 0) out += ", " + std::to_string(status.refused) + " from other machines refused";
    return out;
}

FeedReceiver::FeedReceiver(const Endpoint& endpoint, bool anywhere) : anywhere_(anywhere) {
    platform::SocketAddress bound;
    try {
        fd_ = platform::bind_first(std::span(endpoint.addresses).first(1), SOCK_DGRAM, bound).release();
    } catch (const platform::ListenError& error) {
        throw std::runtime_error(std::string("--feed: ") + error.what());
    }
    port_ = bound.port();
    listening_ = bound.text();
}

FeedReceiver::~FeedReceiver() {
    if (fd_ >= 0) ::close(fd_);
}

std::optional<FdmPacket> FeedReceiver::poll() {
    std::optional<FdmPacket> newest;
    uint8_t buffer[kLargestDatagram];
    for (;;) {
        platform::SocketAddress from;
        from.length = sizeof from.storage;
        const ssize_t got = ::recvfrom(fd_, buffer, sizeof buffer, MSG_TRUNC,
                                       reinterpret_cast<sockaddr*>(&from.storage), &from.length);
        if (got < 0) break;  // EAGAIN: nothing more waiting (or an error, read as nothing)
        if (!anywhere_ && !platform::is_loopback(from)) {
            ++refused_;
            continue;
        }
        // MSG_TRUNC gives a longer datagram's real length: read as that size, refused.
        const size_t size = static_cast<size_t>(got);
        FdmRead read = size <= sizeof buffer ? read_fdm_packet({buffer, size}) : FdmRead{};
        if (size > sizeof buffer) read.error = "a datagram of " + std::to_string(size) + " bytes";
        if (!read.packet) {
            ++malformed_;
            last_error_ = read.error;
            continue;
        }
        newest = read.packet;
        ++packets_;
        const Clock::time_point now = Clock::now();
        last_ = now;
        recent_.push_back(now);
        peer_ = from.text();
    }
    const Clock::time_point now = Clock::now();
    while (!recent_.empty() && seconds_between(recent_.front(), now) > kRateWindowSeconds) recent_.pop_front();
    return newest;
}

bool FeedReceiver::wait(double seconds) const {
    pollfd one{fd_, POLLIN, 0};
    return ::poll(&one, 1, static_cast<int>(std::ceil(std::max(0.0, seconds) * 1000.0))) > 0;
}

LinkStatus FeedReceiver::status() const {
    LinkStatus status;
    status.listening = listening_;
    status.packets = packets_;
    status.malformed = malformed_;
    status.refused = refused_;
    status.peer = peer_;
    status.last_error = last_error_;
    const Clock::time_point now = Clock::now();
    if (last_) status.silent_seconds = seconds_between(*last_, now);
    // Between the window's first and last packets: a stream just begun is
    // not under-counted.
    if (recent_.size() >= 2) {
        const double span = seconds_between(recent_.front(), recent_.back());
        if (span > 0.0) status.rate = static_cast<double>(recent_.size() - 1) / span;
    }
    if (status.silent_seconds >= kSilentAfterSeconds) status.rate = 0.0;
    return status;
}

ControlsSender::ControlsSender(const Endpoint& endpoint) {
    const platform::SocketAddress& address = endpoint.addresses.front();
    fd_ = ::socket(address.family(), SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error(system_error("--controls: cannot make a UDP socket"));
    if (::connect(fd_, address.get(), address.length) != 0) {
        const std::string error = system_error("--controls: cannot reach " + address.text());
        ::close(fd_);
        throw std::runtime_error(error);
    }
}

ControlsSender::~ControlsSender() {
    if (fd_ >= 0) ::close(fd_);
}

void ControlsSender::send(std::span<const uint8_t> datagram) {
    if (::send(fd_, datagram.data(), datagram.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(datagram.size())) {
        ++sent_;
        return;
    }
    ++failed_;
    last_error_ = std::strerror(errno);
}

}  // namespace feed
