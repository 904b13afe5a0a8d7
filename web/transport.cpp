#include "web/transport.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <exception>
#include <optional>
#include <span>

#include "platform/listener.h"
#include "platform/net_address.h"
#include "web/http.h"
#include "web/websocket.h"

namespace web {
namespace {

// A request's head, whole; beyond this the client is answered 431.
constexpr size_t kMaxHead = 8192;
// A closed connection lingers this long, reading what the client still
// sends, so that its last response is not cut off by a reset.
constexpr auto kLinger = std::chrono::seconds(2);
// Pongs waiting behind a frame a page does not read: more and it gets none.
constexpr size_t kMaxControlBytes = 4096;
constexpr size_t kReadChunk = 16384;

std::string errno_text() { return std::strerror(errno); }

}  // namespace

struct Transport::Connection {
    enum State { kHead, kWebSocket, kLingering };
    int fd = -1;
    uint64_t id = 0;
    std::string address;  // the peer's, numeric
    bool loopback = false;
    bool origin = false;  // its handshake named the page it came from (refusal() let only the server's own in)
    State state = kHead;
    Clock::time_point opened, last_read, last_progress, last_ping, linger_until;
    std::string in;
    struct Chunk {
        std::shared_ptr<const std::string> bytes;
        size_t offset = 0;
        bool control = false;  // a ping or pong
    };
    std::deque<Chunk> out;
    size_t control_bytes = 0;  // pongs and pings queued
    bool close_after_write = false;
    bool counted = false;  // in pages_per_address_
    std::optional<WsReader> reader;
};

Transport::Transport(const TransportOptions& options, TransportHandler& handler)
    : options_(options), handler_(handler) {
    const std::optional<platform::SocketAddress> address =
        platform::numeric_address(options.host == "localhost" ? "127.0.0.1" : options.host,
                                  static_cast<uint16_t>(options.port));
    if (!address) throw AddressError("--host " + options.host + ": not an IPv4 or IPv6 address");
    url_host_ = address->family() == AF_INET6 ? "[" + options.host + "]" : options.host;
    if (options.host.front() == '[') url_host_ = options.host;
    root_fd_ = ::open(options.web_root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (root_fd_ < 0) throw ServerError("cannot open the web root " + options.web_root + ": " + errno_text());
    try {
        // An address others reach was asked for by name: its peers are welcome.
        listener_.emplace(std::span(&*address, 1), !platform::is_loopback(*address), 128);
    } catch (const platform::ListenError& error) {
        close_all();
        throw ServerError(error.what());
    }
    // Port 0: the kernel's choice, which requests' Host then names.
    options_.port = listener_->address().port();
    wake_fd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (wake_fd_ < 0) {
        const std::string why = errno_text();
        close_all();
        throw ServerError("cannot make an eventfd: " + why);
    }
}

Transport::~Transport() { close_all(); }

void Transport::close_all() {
    for (const auto& [id, connection] : connections_) ::close(connection->fd);
    connections_.clear();
    listener_.reset();
    for (int* fd : {&wake_fd_, &root_fd_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

std::string Transport::url_host() const { return url_host_; }

int Transport::port() const { return options_.port; }

void Transport::wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wake_fd_, &one, sizeof one);
}

void Transport::run(const std::atomic<bool>& stop) {
    std::vector<pollfd> polled;
    std::vector<uint64_t> ids;
    while (!stop) {
        polled.assign({{listener_->fd(), POLLIN, 0}, {wake_fd_, POLLIN, 0}});
        ids.clear();
        for (const auto& [id, connection] : connections_) {
            short events = POLLIN;
            if (!connection->out.empty()) events |= POLLOUT;
            polled.push_back({connection->fd, events, 0});
            ids.push_back(id);
        }
        if (::poll(polled.data(), polled.size(), 100) < 0 && errno != EINTR) throw ServerError("poll: " + errno_text());
        const Clock::time_point now = Clock::now();
        if (polled[1].revents != 0) {
            uint64_t count = 0;
            [[maybe_unused]] const ssize_t got = ::read(wake_fd_, &count, sizeof count);
            handler_.woken();
        }
        for (size_t i = 0; i < ids.size(); ++i) {
            const short revents = polled[i + 2].revents;
            auto it = connections_.find(ids[i]);
            if (revents == 0 || it == connections_.end()) continue;
            try {
                if (revents & (POLLIN | POLLHUP | POLLERR)) read_from(*it->second, now);
                it = connections_.find(ids[i]);
                if (it != connections_.end() && (revents & POLLOUT)) write_to(*it->second, now);
            } catch (const std::exception&) {
                drop(ids[i]);  // memory ran out serving it: that connection goes, the rest stay
            }
        }
        if (polled[0].revents != 0) accept_all(now);
        check_times(now);
    }
}

void Transport::accept_all(Clock::time_point now) {
    for (int i = 0; i < 64; ++i) {
        std::optional<platform::Listener::Accepted> accepted = listener_->accept(0);
        if (!accepted) return;
        if (!make_room()) continue;
        auto connection = std::make_unique<Connection>();
        connection->fd = accepted->socket.release();
        connection->id = next_id_++;
        connection->address = accepted->peer.host();
        connection->loopback = platform::is_loopback(accepted->peer);
        connection->opened = connection->last_read = connection->last_progress = now;
        connections_.emplace(connection->id, std::move(connection));
    }
}

// Room for one more connection: at the limit, the oldest connection still
// waiting for its request head, or closed and lingering, makes way, so that
// silent sockets cannot keep a page out; a page's WebSocket never does.
bool Transport::make_room() {
    if (connections_.size() < options_.max_connections) return true;
    for (const auto& [id, connection] : connections_) {  // oldest first: ids grow
        if ((connection->state == Connection::kHead && connection->out.empty()) ||
            connection->state == Connection::kLingering) {
            drop(id);
            return true;
        }
    }
    return false;
}

// A new page of an address at its limit closes the address's oldest page,
// an idle one (nothing queued) first: the newest tab is the one looked at.
void Transport::count_page(Connection& connection, Clock::time_point now) {
    const size_t limit =
        connection.loopback ? options_.max_pages_per_loopback : options_.max_pages_per_address;
    if (pages_per_address_[connection.address] >= limit) {
        Connection* oldest = nullptr;
        for (const auto& [id, other] : connections_) {  // oldest first: ids grow
            if (!other->counted || other->address != connection.address) continue;
            if (other->out.empty()) {
                oldest = other.get();
                break;
            }
            if (oldest == nullptr) oldest = other.get();
        }
        if (oldest != nullptr) finish(*oldest, close_frame(kCloseGoingAway), now);
    }
    ++pages_per_address_[connection.address];
    connection.counted = true;
}

// A page is released as soon as it closes: one lingering to finish its last
// bytes keeps no new page out.
void Transport::release_page(Connection& connection) {
    if (!connection.counted) return;
    connection.counted = false;
    if (--pages_per_address_[connection.address] == 0) pages_per_address_.erase(connection.address);
}

void Transport::read_from(Connection& connection, Clock::time_point now) {
    char buffer[kReadChunk];
    // A few chunks at a time: one flooding client does not hold up the rest.
    for (int i = 0; i < 4; ++i) {
        const ssize_t got = ::recv(connection.fd, buffer, sizeof buffer, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            drop(connection.id);
            return;
        }
        if (got < 0) return;
        connection.last_read = now;
        if (connection.state == Connection::kLingering || connection.close_after_write) continue;
        connection.in.append(buffer, static_cast<size_t>(got));
        if (connection.state == Connection::kHead)
            take_head(connection, now);
        else
            take_frames(connection, now);
        // take_head or take_frames may have dropped it.
        if (connections_.find(connection.id) == connections_.end()) return;
    }
}

void Transport::take_head(Connection& connection, Clock::time_point now) {
    const std::optional<std::pair<size_t, size_t>> end = head_end(connection.in);
    if (!end) {
        if (connection.in.size() > kMaxHead) finish(connection, error_response(431, "Connection: close\r\n"), now);
        return;
    }
    const std::optional<Request> request = parse_request_head(std::string_view(connection.in).substr(0, end->first));
    connection.in.erase(0, end->second);
    if (!request) return finish(connection, error_response(400, "Connection: close\r\n"), now);
    if (std::optional<std::string> refused =
            refusal(*request, {options_.host, options_.port, options_.allow_no_origin}))
        return finish(connection, std::move(*refused), now);
    const std::string_view path = std::string_view(request->target).substr(0, request->target.find('?'));
    if (path == "/ws") return upgrade(connection, *request, now);
    if (request->method != "GET" && request->method != "HEAD")
        return finish(connection, error_response(405, "Allow: GET, HEAD\r\nConnection: close\r\n"), now);
    StaticFile file = read_static(root_fd_, request->target);
    if (file.status != 200) return finish(connection, error_response(file.status, "Connection: close\r\n"), now);
    std::string response = response_head(200, file.content_type, file.body.size(), "Connection: close\r\n");
    if (request->method == "GET") response += file.body;
    finish(connection, std::move(response), now);
}

// `request` is a WebSocket handshake refusal() let through.
void Transport::upgrade(Connection& connection, const Request& request, Clock::time_point now) {
    const std::string_view key = request.header("Sec-WebSocket-Key");
    const std::string head = response_head(
        101, {}, 0, "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: " + accept_key(key) + "\r\n");
    count_page(connection, now);
    connection.origin = request.count("Origin") == 1;
    connection.state = Connection::kWebSocket;
    connection.reader.emplace(options_.max_message);
    connection.last_ping = now;
    queue(connection, std::make_shared<const std::string>(head), now);
    handler_.opened(connection.id);
    take_frames(connection, now);  // any the page sent at once
}

void Transport::take_frames(Connection& connection, Clock::time_point now) {
    for (;;) {
        WsEvent event = connection.reader->next(connection.in);
        switch (event.kind) {
            case WsEvent::kNeedMore: return;
            case WsEvent::kMessage:
                // Binary messages are none of the page's: dropped.
                if (event.opcode == kText) handler_.text(connection.id, event.payload);
                break;
            case WsEvent::kPing:
                if (connection.control_bytes < kMaxControlBytes) {
                    auto pong = std::make_shared<const std::string>(frame(kPong, event.payload));
                    connection.control_bytes += pong->size();
                    queue(connection, std::move(pong), now, true);
                }
                break;
            case WsEvent::kPong: break;
            case WsEvent::kClose:
                return finish(connection, close_frame(event.code == 1005 ? kCloseNormal : event.code), now);
            case WsEvent::kFail: return finish(connection, close_frame(event.code), now);
        }
    }
}

void Transport::queue(Connection& connection, std::shared_ptr<const std::string> bytes, Clock::time_point now,
                      bool control) {
    if (connection.out.empty()) connection.last_progress = now;
    connection.out.push_back({std::move(bytes), 0, control});
}

void Transport::send(uint64_t page, std::shared_ptr<const std::string> frame) {
    const auto it = connections_.find(page);
    if (it == connections_.end() || it->second->state != Connection::kWebSocket || it->second->close_after_write)
        return;
    queue(*it->second, std::move(frame), Clock::now());
}

bool Transport::own_page(uint64_t page) const {
    const auto it = connections_.find(page);
    return it != connections_.end() && it->second->loopback && it->second->origin;
}

bool Transport::idle(uint64_t page) const {
    const auto it = connections_.find(page);
    return it != connections_.end() && it->second->out.empty() && !it->second->close_after_write;
}

// Sends `last_bytes` (a response, or a close frame) after what is queued,
// then closes; nothing more is read from the client meanwhile.
void Transport::finish(Connection& connection, std::string last_bytes, Clock::time_point now) {
    release_page(connection);
    connection.in.clear();
    connection.close_after_write = true;
    queue(connection, std::make_shared<const std::string>(std::move(last_bytes)), now);
}

void Transport::write_to(Connection& connection, Clock::time_point now) {
    while (!connection.out.empty()) {
        Connection::Chunk& chunk = connection.out.front();
        const ssize_t sent = ::send(connection.fd, chunk.bytes->data() + chunk.offset,
                                    chunk.bytes->size() - chunk.offset, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return;
            return drop(connection.id);
        }
        connection.last_progress = now;
        chunk.offset += static_cast<size_t>(sent);
        if (chunk.offset < chunk.bytes->size()) continue;
        if (chunk.control) connection.control_bytes -= std::min(connection.control_bytes, chunk.bytes->size());
        connection.out.pop_front();
    }
    if (connection.close_after_write) {
        if (connection.state == Connection::kLingering) return;
        ::shutdown(connection.fd, SHUT_WR);
        connection.state = Connection::kLingering;
        connection.linger_until = now + kLinger;
        return;
    }
    if (connection.state == Connection::kWebSocket) handler_.drained(connection.id);
}

void Transport::check_times(Clock::time_point now) {
    const auto timeout = std::chrono::milliseconds(options_.socket_timeout_ms);
    const auto head_timeout = std::chrono::milliseconds(std::min(options_.head_timeout_ms, options_.socket_timeout_ms));
    // A quiet page is pinged a few times before the time-out: a browser
    // answers by itself, so only a page that is gone is closed.
    const auto ping_every = std::max(timeout / 6, std::chrono::milliseconds(100));
    std::vector<uint64_t> late;
    for (const auto& [id, connection] : connections_) {
        const Connection& c = *connection;
        const bool stalled = !c.out.empty() && now - c.last_progress > timeout;
        if (stalled || (c.state == Connection::kHead && !c.close_after_write && now - c.opened > head_timeout) ||
            (c.state == Connection::kWebSocket && now - c.last_read > timeout) ||
            (c.state == Connection::kLingering && now > c.linger_until)) {
            late.push_back(id);
        } else if (c.state == Connection::kWebSocket && !c.close_after_write && now - c.last_ping > ping_every &&
                   now - c.last_read > ping_every) {
            connection->last_ping = now;
            connection->control_bytes += 2;
            queue(*connection, std::make_shared<const std::string>(frame(kPing, {})), now, true);
        }
    }
    for (uint64_t id : late) drop(id);
}

void Transport::drop(uint64_t id) {
    const auto it = connections_.find(id);
    if (it == connections_.end()) return;
    std::unique_ptr<Connection> connection = std::move(it->second);
    connections_.erase(it);
    ::close(connection->fd);
    release_page(*connection);
    if (connection->reader) handler_.closed(id);
}

}  // namespace web
