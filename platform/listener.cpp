#include "platform/listener.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

Socket& Socket::operator=(Socket&& other) noexcept {
    if (this != &other) {
        reset();
        fd_ = other.release();
    }
    return *this;
}

int Socket::release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void Socket::reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

Socket bind_first(std::span<const SocketAddress> addresses, int type, SocketAddress& bound) {
    std::string failure = "it names no address";
    for (const SocketAddress& address : addresses) {
        Socket socket(::socket(address.family(), type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (!socket) {
            failure = std::strerror(errno);
            continue;
        }
        const int yes = 1, no = 0;
        if (type == SOCK_STREAM) ::setsockopt(socket.fd(), SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (address.family() == AF_INET6) ::setsockopt(socket.fd(), IPPROTO_IPV6, IPV6_V6ONLY, &no, sizeof no);
        if (::bind(socket.fd(), address.get(), address.length) != 0) {
            failure = std::strerror(errno);
            continue;
        }
        bound.length = sizeof bound.storage;
        if (::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&bound.storage), &bound.length) != 0)
            bound = address;
        return socket;
    }
    const std::string where = addresses.empty() ? "?" : addresses.front().text();
    throw ListenError("cannot listen on " + where + ": " + failure);
}

Listener::Listener(std::span<const SocketAddress> addresses, bool anywhere, int backlog) : anywhere_(anywhere) {
    socket_ = bind_first(addresses, SOCK_STREAM, address_);
    if (::listen(socket_.fd(), backlog) != 0)
        throw ListenError("cannot listen on " + address_.text() + ": " + std::strerror(errno));
}

std::optional<Listener::Accepted> Listener::accept(int timeout_ms) {
    for (;;) {
        Accepted accepted;
        accepted.peer.length = sizeof accepted.peer.storage;
        accepted.socket = Socket(::accept4(socket_.fd(), reinterpret_cast<sockaddr*>(&accepted.peer.storage),
                                           &accepted.peer.length, SOCK_NONBLOCK | SOCK_CLOEXEC));
        if (!accepted.socket) {
            // None waiting (or none to take now: EMFILE and the like pass).
            if (timeout_ms <= 0) return std::nullopt;
            pollfd waiting{socket_.fd(), POLLIN, 0};
            if (::poll(&waiting, 1, timeout_ms) <= 0) return std::nullopt;
            timeout_ms = 0;
            continue;
        }
        if (!anywhere_ && !is_loopback(accepted.peer)) {
            ++refused_;
            continue;
        }
        const int yes = 1;
        ::setsockopt(accepted.socket.fd(), IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        return accepted;
    }
}

SocketStream::SocketStream(Listener::Accepted accepted, int write_timeout_ms)
    : socket_(std::move(accepted.socket)), peer_(accepted.peer), write_timeout_ms_(write_timeout_ms) {}

bool SocketStream::read(std::string& into, int timeout_ms) {
    if (!socket_) return false;
    pollfd readable{socket_.fd(), POLLIN, 0};
    if (::poll(&readable, 1, timeout_ms) <= 0) return true;
    char buffer[4096];
    const ssize_t got = ::recv(socket_.fd(), buffer, sizeof buffer, 0);
    if (got > 0) into.append(buffer, static_cast<size_t>(got));
    return got > 0 || (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR));
}

bool SocketStream::write(std::string_view bytes) {
    size_t sent = 0;
    while (sent < bytes.size() && socket_) {
        const ssize_t wrote = ::send(socket_.fd(), bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (wrote > 0) {
            sent += static_cast<size_t>(wrote);
            continue;
        }
        if (wrote < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
        pollfd writable{socket_.fd(), POLLOUT, 0};
        if (::poll(&writable, 1, write_timeout_ms_) <= 0) return false;
    }
    return sent == bytes.size();
}

void SocketStream::close() {
    if (!socket_) return;
    // A bounded drain: a peer that never stops sending has no claim on its last reply.
    char unread[4096];
    for (int i = 0; i < 16 && ::recv(socket_.fd(), unread, sizeof unread, MSG_DONTWAIT) > 0; ++i) {}
    ::shutdown(socket_.fd(), SHUT_WR);
    socket_.reset();
}

}  // namespace platform
