// Sockets that listen, and the streams they accept, every wait with its
// time-out: the one way the servers (the live panel's, the debugger's) and
// the feed take a port, and the one rule for a peer from another machine:
// closed as it connects unless the listener was opened for anywhere.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>

#include "platform/net_address.h"

namespace platform {

// A port that cannot be taken: "cannot listen on 127.0.0.1:80: Permission denied".
class ListenError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file descriptor owned: closed with it.
class Socket {
public:
    Socket() = default;
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() { reset(); }
    Socket(Socket&& other) noexcept : fd_(other.release()) {}
    Socket& operator=(Socket&& other) noexcept;
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;

    int fd() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Handed over: the caller closes it.
    int release();
    void reset();

private:
    int fd_ = -1;
};

// A socket of `type` (SOCK_STREAM, SOCK_DGRAM) bound to the first of
// `addresses` that takes one, non-blocking and close-on-exec, an IPv6 one
// taking IPv4 peers too (as [::] promises); `bound` says where (the
// kernel's port for port 0). Throws ListenError naming the first address.
Socket bind_first(std::span<const SocketAddress> addresses, int type, SocketAddress& bound);

class Listener {
public:
    // Listens (TCP) as bind_first() binds, `backlog` connections queued.
    // Unless `anywhere`, a peer other than loopback is closed as it
    // connects: on a loopback address none comes, and none that a dual-stack
    // or a misresolved name lets through gets further.
    Listener(std::span<const SocketAddress> addresses, bool anywhere, int backlog);

    // For a poll beside other sockets: readable when a connection waits.
    int fd() const { return socket_.fd(); }
    // As bound: the port the kernel chose for port 0.
    const SocketAddress& address() const { return address_; }

    struct Accepted {
        Socket socket;  // non-blocking, close-on-exec, written without delay (TCP_NODELAY)
        SocketAddress peer;
    };
    // A connection that waits, or arrives within `timeout_ms` (0: only one
    // already waiting); nullopt when none does.
    std::optional<Accepted> accept(int timeout_ms);
    // Peers closed for coming from another machine.
    uint64_t refused() const { return refused_; }

private:
    Socket socket_;
    SocketAddress address_;
    bool anywhere_ = false;
    uint64_t refused_ = 0;
};

// A connected byte stream, each wait with its time-out: what a protocol
// served on one connection reads and writes (a socket, or a test's script).
class ByteStream {
public:
    virtual ~ByteStream() = default;
    // Appends to `into` what arrives within `timeout_ms` (0: what already
    // has); false once the peer has closed or the stream failed.
    virtual bool read(std::string& into, int timeout_ms) = 0;
    // All of `bytes`; false when the peer is gone or takes none of them for
    // the stream's time-out.
    virtual bool write(std::string_view bytes) = 0;
    // Ends it after what was written: what the peer sent and nobody read is
    // discarded first, or the close would be a reset that loses the last reply.
    virtual void close() = 0;
    // Who is at the other end, for messages: "127.0.0.1".
    virtual std::string peer() const = 0;
};

class SocketStream : public ByteStream {
public:
    SocketStream(Listener::Accepted accepted, int write_timeout_ms);
    ~SocketStream() override { close(); }

    bool read(std::string& into, int timeout_ms) override;
    bool write(std::string_view bytes) override;
    void close() override;
    std::string peer() const override { return peer_.host(); }

private:
    Socket socket_;
    SocketAddress peer_;
    int write_timeout_ms_;
};

}  // namespace platform
