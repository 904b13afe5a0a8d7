// Loopback, the one rule: on addresses as a socket would bind or meet them,
// on the lists a name resolves to (a hosts file cannot be written from a
// test, the lists it would give can), and on names never resolved.
#include "platform/net_address.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

platform::SocketAddress numeric(const char* text) {
    const std::optional<platform::SocketAddress> address = platform::numeric_address(text, 7);
    EXPECT_TRUE(address) << text;
    return address.value_or(platform::SocketAddress{});
}

TEST(Loopback, OnlyThisMachineReachesIt) {
    const struct {
        std::vector<const char*> resolved;  // what a name stands for
        bool loopback;
    } cases[] = {
        {{"127.0.0.1"}, true},
        {{"127.255.255.254"}, true},  // all of 127/8
        {{"::1"}, true},
        {{"::ffff:127.0.0.1"}, true},  // 127.0.0.1 as a dual-stack socket sees it
        {{"127.0.0.1", "::1"}, true},  // localhost, as hosts files have it
        {{"0.0.0.0"}, false},          // every interface
        {{"::"}, false},
        {{"128.0.0.1"}, false},
        {{"10.0.0.1"}, false},
        {{"::2"}, false},
        {{"::ffff:10.0.0.1"}, false},
        {{"::127.0.0.1"}, false},              // IPv4-compatible: no loopback of either family
        {{"fe80::1"}, false},                  // link-local: the neighbours reach it
        {{"127.0.0.1", "0.0.0.0"}, false},     // a name with one loopback address among others
        {{"::1", "192.168.1.4"}, false},       //
        {{}, false},                           // a name that stands for nothing
    };
    for (const auto& c : cases) {
        std::vector<platform::SocketAddress> addresses;
        std::string listed;
        for (const char* text : c.resolved) {
            addresses.push_back(numeric(text));
            listed += std::string(text) + " ";
        }
        EXPECT_EQ(platform::is_loopback(addresses), c.loopback) << listed;
    }
}

TEST(Loopback, NamesAreNotJudgedBySpelling) {
    const struct {
        const char* host;
        bool loopback;
    } cases[] = {
        {"localhost", true},   {"LocalHost", true},          {"127.0.0.1", true},     {"127.1.2.3", true},
        {"[::1]", true},       {"::1", true},                {"[::ffff:127.0.0.1]", true},
        {"127.lan", false},  // a name, whatever it begins with
        {"127.0.0.1.example", false}, {"localhost.", false},  {"localhost.lan", false}, {"[127.0.0.1]", false},
        {"0.0.0.0", false},  {"[::]", false},              {"", false},             {"::1x", false},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::names_loopback(c.host), c.loopback) << c.host;
}

TEST(Loopback, EveryInterfaceHoweverSpelt) {
    const struct {
        const char* host;
        bool every;
    } cases[] = {
        {"0.0.0.0", true},   {"::", true},         {"[::]", true},       {"0:0:0:0:0:0:0:0", true},
        {"127.0.0.1", false}, {"::1", false},       {"0.0.0.1", false},   {"localhost", false},
        {"", false},         {"[0.0.0.0]", false},  // brackets hold IPv6 only
    };
    for (const auto& c : cases) EXPECT_EQ(platform::names_every_interface(c.host), c.every) << c.host;
}

TEST(Loopback, ListenAddressesResolveNumbersAsThemselves) {
    const struct {
        const char* host;
        const char* bound;
    } cases[] = {{"127.0.0.1", "127.0.0.1"}, {"::1", "::1"}, {"[::1]", "::1"}, {"0.0.0.0", "0.0.0.0"}};
    for (const auto& c : cases) {
        const std::vector<platform::SocketAddress> addresses = platform::listen_addresses(c.host, 9, SOCK_STREAM);
        ASSERT_EQ(addresses.size(), 1u) << c.host;
        EXPECT_EQ(addresses[0].host(), c.bound);
        EXPECT_EQ(addresses[0].port(), 9) << c.host;
    }
    // A scope no interface has: refused without asking any name server.
    EXPECT_THROW(platform::listen_addresses("fe80::1%no-such-interface", 9, SOCK_STREAM), platform::AddressError);
}

}  // namespace
