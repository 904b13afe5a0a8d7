// The one listener: it takes a free port and says which, waits no longer
// than asked, will not share a port in use, closes a peer from another
// machine unless opened for anywhere, and its streams carry bytes both ways
// until the peer goes.
#include "platform/listener.h"

#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>

namespace {

// A blocking client connected to `to` (0 when it could not connect).
platform::Socket connect_to(const platform::SocketAddress& to) {
    platform::Socket client(::socket(to.family(), SOCK_STREAM | SOCK_CLOEXEC, 0));
    const timeval wait{5, 0};
    ::setsockopt(client.fd(), SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    if (::connect(client.fd(), to.get(), to.length) != 0) client.reset();
    return client;
}

platform::SocketAddress loopback_any_port() { return *platform::numeric_address("127.0.0.1", 0); }

TEST(Listener, TakesAFreePortAndConnectionsAsTheyCome) {
    const platform::SocketAddress address = loopback_any_port();
    platform::Listener listener(std::span(&address, 1), false, 4);
    ASSERT_NE(listener.address().port(), 0);
    EXPECT_EQ(listener.address().host(), "127.0.0.1");

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(listener.accept(0));
    EXPECT_FALSE(listener.accept(50));  // nobody comes: it gives up
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    platform::Socket client = connect_to(listener.address());
    ASSERT_TRUE(client);
    std::optional<platform::Listener::Accepted> accepted = listener.accept(5000);
    ASSERT_TRUE(accepted);
    EXPECT_TRUE(platform::is_loopback(accepted->peer));

    platform::SocketStream stream(std::move(*accepted), 5000);
    EXPECT_EQ(stream.peer(), "127.0.0.1");
    ASSERT_EQ(::send(client.fd(), "ping", 4, 0), 4);
    std::string got;
    while (got.size() < 4 && stream.read(got, 5000)) {}
    EXPECT_EQ(got, "ping");
    ASSERT_TRUE(stream.write("pong"));
    char answer[8] = {};
    EXPECT_EQ(::recv(client.fd(), answer, 4, MSG_WAITALL), 4);
    EXPECT_EQ(std::string(answer, 4), "pong");
    client.reset();
    EXPECT_FALSE(stream.read(got, 5000));  // the peer went
}

TEST(Listener, RefusesAPortInUseNamingIt) {
    const platform::SocketAddress address = loopback_any_port();
    platform::Listener first(std::span(&address, 1), false, 1);
    try {
        platform::Listener second(std::span(&first.address(), 1), false, 1);
        FAIL() << "listened twice on " << first.address().text();
    } catch (const platform::ListenError& error) {
        EXPECT_NE(std::string(error.what()).find(first.address().text()), std::string::npos) << error.what();
    }
}

// This machine's first IPv4 address other than loopback, if it has one.
std::optional<platform::SocketAddress> outside_address() {
    ifaddrs* interfaces = nullptr;
    if (::getifaddrs(&interfaces) != 0) return std::nullopt;
    std::optional<platform::SocketAddress> found;
    for (const ifaddrs* i = interfaces; i != nullptr && !found; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET) continue;
        platform::SocketAddress address;
        std::memcpy(&address.storage, i->ifa_addr, sizeof(sockaddr_in));
        address.length = sizeof(sockaddr_in);
        if (!platform::is_loopback(address)) found = address;
    }
    ::freeifaddrs(interfaces);
    return found;
}

TEST(Listener, ClosesPeersFromOtherMachinesUnlessOpenForAnywhere) {
    const std::optional<platform::SocketAddress> outside = outside_address();
    if (!outside) GTEST_SKIP() << "this machine has no address but loopback";
    const platform::SocketAddress every = *platform::numeric_address("0.0.0.0", 0);
    for (const bool anywhere : {false, true}) {
        platform::Listener listener(std::span(&every, 1), anywhere, 4);
        platform::SocketAddress there = *outside;
        reinterpret_cast<sockaddr_in*>(&there.storage)->sin_port = htons(listener.address().port());
        platform::Socket client = connect_to(there);
        ASSERT_TRUE(client);
        EXPECT_EQ(listener.accept(200).has_value(), anywhere);  // it has connected already
        EXPECT_EQ(listener.refused(), anywhere ? 0u : 1u);
    }
}

}  // namespace
