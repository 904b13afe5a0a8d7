// The live panel's HTTP/1.1 and WebSocket transport: one thread polls every
// socket, all non-blocking, so an idle or hostile connection costs a file
// descriptor and a few hundred bytes, never a thread. It serves the page's
// files and hands the pages' WebSocket messages to a TransportHandler, which
// queues whole frames back; the transport writes them as each socket takes
// them and says when a page's queue has drained, so that a slow page is
// sent fewer frames rather than a growing backlog.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/listener.h"

namespace web {

struct Request;

class ServerError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A listening address that is no IPv4 or IPv6 address.
class AddressError : public ServerError {
public:
    using ServerError::ServerError;
};

struct TransportOptions {
    std::string host = "127.0.0.1";  // a numeric IPv4 or IPv6 address, or "localhost"
    int port = 8080;
    std::string web_root;
    // A write that makes no progress this long, and a page that sends
    // nothing (not even the answer to a ping) this long, end the connection.
    int socket_timeout_ms = 10000;
    // The whole of a request's head must arrive within this.
    int head_timeout_ms = 5000;
    // Every connection, pages and requests alike: what a flood may take.
    size_t max_connections = 512;
    // Open pages (WebSockets) of one address; a new page past it closes the
    // address's oldest. Every tab of the machine itself shares a loopback
    // address, whose pages only the limit of all connections bounds.
    size_t max_pages_per_address = 256;
    size_t max_pages_per_loopback = SIZE_MAX;
    // A page's WebSocket message, reassembled: the page's own are a few dozen
    // bytes; parsing megabytes would take the CPU the pictures need, so a
    // longer one closes the socket.
    size_t max_message = 1024;
    bool allow_no_origin = false;  // Listening::allow_no_origin
};

// Called on the transport's thread only.
class TransportHandler {
public:
    virtual ~TransportHandler() = default;
    virtual void opened(uint64_t page) = 0;  // a page's WebSocket is up
    virtual void text(uint64_t page, std::string_view message) = 0;
    virtual void drained(uint64_t page) = 0;  // everything queued for it is written
    virtual void closed(uint64_t page) = 0;
    virtual void woken() = 0;  // after wake()
};

class Transport {
public:
    // Listens; throws ServerError when the address is no address or cannot
    // be listened on, or the web root cannot be opened.
    Transport(const TransportOptions& options, TransportHandler& handler);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // The address as a URL's host part (an IPv6 one in brackets).
    std::string url_host() const;
    // The port listened on (the kernel's choice for port 0).
    int port() const;
    // Serves until `stop` turns true.
    void run(const std::atomic<bool>& stop);
    // From any thread: the handler's woken() runs soon on the transport's.
    void wake();

    // From the handler: queues a whole WebSocket frame for `page`.
    void send(uint64_t page, std::shared_ptr<const std::string> frame);
    // Whether nothing waits to be written to `page`.
    bool idle(uint64_t page) const;
    // Whether `page` is the server's own page in a browser on this machine:
    // from a loopback address, its handshake's Origin the server's own.
    bool own_page(uint64_t page) const;

    struct Connection;

private:
    using Clock = std::chrono::steady_clock;
    void accept_all(Clock::time_point now);
    bool make_room();
    void count_page(Connection& connection, Clock::time_point now);
    void release_page(Connection& connection);
    void read_from(Connection& connection, Clock::time_point now);
    void take_head(Connection& connection, Clock::time_point now);
    void upgrade(Connection& connection, const Request& request, Clock::time_point now);
    void take_frames(Connection& connection, Clock::time_point now);
    void write_to(Connection& connection, Clock::time_point now);
    void queue(Connection& connection, std::shared_ptr<const std::string> bytes, Clock::time_point now,
               bool control = false);
    void finish(Connection& connection, std::string last_bytes, Clock::time_point now);
    void check_times(Clock::time_point now);
    void drop(uint64_t id);
    void close_all();

    TransportOptions options_;
    TransportHandler& handler_;
    std::optional<platform::Listener> listener_;
    int wake_fd_ = -1, root_fd_ = -1;
    std::string url_host_;
    uint64_t next_id_ = 1;
    std::map<uint64_t, std::unique_ptr<Connection>> connections_;
    std::map<std::string, size_t> pages_per_address_;  // open WebSockets, not closing
};

}  // namespace web
