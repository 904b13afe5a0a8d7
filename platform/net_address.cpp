#include "platform/net_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>

namespace platform {

uint16_t SocketAddress::port() const {
    if (family() == AF_INET6) return ntohs(reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_port);
    return ntohs(reinterpret_cast<const sockaddr_in*>(&storage)->sin_port);
}

std::string SocketAddress::host() const {
    char text[INET6_ADDRSTRLEN] = "?";
    if (family() == AF_INET)
        inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(&storage)->sin_addr, text, sizeof text);
    else if (family() == AF_INET6)
        inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(&storage)->sin6_addr, text, sizeof text);
    return text;
}

std::string SocketAddress::text() const {
    const std::string numeric = host();
    return (family() == AF_INET6 ? "[" + numeric + "]" : numeric) + ":" + std::to_string(port());
}

bool is_loopback(const SocketAddress& address) {
    if (address.family() == AF_INET) {
        return ntohl(reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_addr.s_addr) >> 24 == 127;
    }
    if (address.family() != AF_INET6) return false;
    const in6_addr& v6 = reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_addr;
    return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

bool is_loopback(std::span<const SocketAddress> addresses) {
    return !addresses.empty() &&
           std::all_of(addresses.begin(), addresses.end(), [](const SocketAddress& a) { return is_loopback(a); });
}

bool is_every_interface(const SocketAddress& address) {
    if (address.family() == AF_INET)
        return reinterpret_cast<const sockaddr_in*>(&address.storage)->sin_addr.s_addr == htonl(INADDR_ANY);
    return address.family() == AF_INET6 &&
           IN6_IS_ADDR_UNSPECIFIED(&reinterpret_cast<const sockaddr_in6*>(&address.storage)->sin6_addr);
}

std::string reached_as(const std::string& host, std::span<const SocketAddress> addresses) {
    for (const SocketAddress& resolved : addresses) {
        if (!is_loopback(resolved) && resolved.host() != host) return host + " (" + resolved.host() + ")";
    }
    return host;
}

std::optional<SocketAddress> numeric_address(std::string_view host, uint16_t port) {
    // Brackets hold an IPv6 address alone, as a URL has it.
    const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
    if (bracketed) host = host.substr(1, host.size() - 2);
    const std::string text(host);
    SocketAddress address;
    auto* v4 = reinterpret_cast<sockaddr_in*>(&address.storage);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&address.storage);
    if (!bracketed && inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        address.length = sizeof(sockaddr_in);
        return address;
    }
    if (inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        address.length = sizeof(sockaddr_in6);
        return address;
    }
    return std::nullopt;
}

bool names_loopback(std::string_view host) {
    constexpr std::string_view kLocalhost = "localhost";
    if (std::equal(host.begin(), host.end(), kLocalhost.begin(), kLocalhost.end(),
                   [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b; }))
        return true;
    const std::optional<SocketAddress> address = numeric_address(host, 0);
    return address && is_loopback(*address);
}

bool names_every_interface(std::string_view host) {
    const std::optional<SocketAddress> address = numeric_address(host, 0);
    return address && is_every_interface(*address);
}

std::optional<HostPort> parse_host_port(std::string_view text) {
    HostPort parsed;
    std::string_view port = text;
    if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
        std::string_view host = text.substr(0, colon);
        if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
        parsed.host = std::string(host);
        port = text.substr(colon + 1);
    }
    if (port.empty() || port.size() > 5 || port.find_first_not_of("0123456789") != std::string_view::npos)
        return std::nullopt;
    const unsigned long number = std::stoul(std::string(port));
    if (number > 65535) return std::nullopt;
    parsed.port = static_cast<uint16_t>(number);
    return parsed;
}

std::vector<SocketAddress> listen_addresses(const std::string& host, uint16_t port, int type) {
    std::string name = host;
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') name = name.substr(1, name.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = type;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const int looked = getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (looked != 0) throw AddressError("no such address: " + std::string(gai_strerror(looked)));
    std::vector<SocketAddress> addresses;
    for (const addrinfo* a = found; a != nullptr; a = a->ai_next) {
        if ((a->ai_family != AF_INET && a->ai_family != AF_INET6) || a->ai_addrlen > sizeof(sockaddr_storage))
            continue;
        SocketAddress address;
        std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
        address.length = a->ai_addrlen;
        addresses.push_back(address);
    }
    freeaddrinfo(found);
    if (addresses.empty()) throw AddressError("no such address: it names no IPv4 or IPv6 address");
    return addresses;
}

std::string ResolvedAddress::reached_as() const { return platform::reached_as(host, addresses); }

ResolvedAddress resolve(const std::string& host, uint16_t port, int type) {
    ResolvedAddress resolved;
    resolved.host = host;
    resolved.port = port;
    resolved.addresses = listen_addresses(host, port, type);
    resolved.loopback = is_loopback(resolved.addresses);
    return resolved;
}

}  // namespace platform
