// Addresses a listening socket takes, and the one rule for whether only this
// machine reaches them (platform/listener.h listens on them). Every option that listens (--gdb, serve --host, a
// feed's port) and every check of a peer or a named host asks is_loopback():
// a name is judged by what it resolves to, never by how it is spelt, so that
// "127.lan" mapped to 0.0.0.0 in a hosts file is every interface, as the
// socket bound to it would be.
#pragma once

#include <sys/socket.h>

#include <cstdint>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// An IPv4 or IPv6 socket address.
struct SocketAddress {
    sockaddr_storage storage{};
    socklen_t length = 0;

    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    int family() const { return storage.ss_family; }
    uint16_t port() const;
    // Numeric, without brackets: "127.0.0.1", "::1".
    std::string host() const;
    // With the port, an IPv6 host in brackets: "127.0.0.1:5500", "[::1]:5500".
    std::string text() const;
};

// 127.0.0.0/8, ::1, and 127.0.0.0/8 as a dual-stack socket sees it
// (::ffff:127.x.y.z). Anything else is reached from other machines, the
// unspecified 0.0.0.0 and :: (every interface) most of all.
bool is_loopback(const SocketAddress& address);
// A name's addresses: loopback only when there are some and every one is
// (a socket may take any of them).
bool is_loopback(std::span<const SocketAddress> addresses);
// 0.0.0.0 and :: (however spelt): a socket bound there is reached on every
// interface the machine has.
bool is_every_interface(const SocketAddress& address);
// `host` as a refusal names it: with the first of its addresses that is not
// loopback where that is spelt otherwise (the hosts file may not say what
// its spelling does).
std::string reached_as(const std::string& host, std::span<const SocketAddress> addresses);

// `host` when it is a numeric IPv4 or IPv6 address (brackets allowed), with
// `port`; nullopt for a name.
std::optional<SocketAddress> numeric_address(std::string_view host, uint16_t port);

// For hosts named by others and never resolved (a request's Host header:
// resolving it would ask whoever answers for the name): "localhost" (any
// case) or a numeric address that is_loopback(). Any other name is not.
bool names_loopback(std::string_view host);
// A numeric address (brackets allowed) that is_every_interface().
bool names_every_interface(std::string_view host);

// "[HOST:]PORT" taken apart: HOST without its brackets ("[::1]:7" is
// "::1"), empty when none; nullopt unless PORT is a number from 0 to 65535.
struct HostPort {
    std::string host;
    uint16_t port = 0;
};
std::optional<HostPort> parse_host_port(std::string_view text);

// What `host` stands for, numeric or a name (resolved through the system's
// resolver, with its own time-outs), for a listening socket of `type`
// (SOCK_STREAM, SOCK_DGRAM) on `port`.
class AddressError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};
// Throws AddressError ("no such address: ...") when it stands for none.
std::vector<SocketAddress> listen_addresses(const std::string& host, uint16_t port, int type);

// A host and port resolved once, for a socket of `type`, and judged on what
// they resolved to: what is judged is what the socket binds.
struct ResolvedAddress {
    std::string host;  // as given (without brackets)
    uint16_t port = 0;
    std::vector<SocketAddress> addresses;  // listen_addresses(host, port, type)
    bool loopback = true;                  // only this machine reaches it
    // For a refusal: reached_as(host, addresses).
    std::string reached_as() const;
};
// Throws AddressError as listen_addresses().
ResolvedAddress resolve(const std::string& host, uint16_t port, int type);

}  // namespace platform
