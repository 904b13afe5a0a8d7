// --gdb's address: loopback unless a host is named, and a host others reach
// (judged on what it resolves to) only when asked for in so many words; a
// host that resolves to nothing is a usage error like a malformed one.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "runtime/debugging.h"

namespace {

struct Case {
    const char* text;
    bool anywhere;
    const char* host;  // null: refused
    uint16_t port;
    bool loopback;
};

class ListenAddress : public testing::TestWithParam<Case> {};

TEST_P(ListenAddress, ParsesOrRefuses) {
    const Case& c = GetParam();
    if (c.host == nullptr) {
        EXPECT_THROW(runtime::parse_listen_address(c.text, c.anywhere), std::invalid_argument) << c.text;
        return;
    }
    const runtime::ListenAddress address = runtime::parse_listen_address(c.text, c.anywhere);
    EXPECT_EQ(address.host, c.host) << c.text;
    EXPECT_EQ(address.port, c.port) << c.text;
    EXPECT_EQ(address.loopback, c.loopback) << c.text;
    EXPECT_FALSE(address.addresses.empty()) << c.text;
}

INSTANTIATE_TEST_SUITE_P(Addresses, ListenAddress,
                         testing::Values(Case{"1234", false, "127.0.0.1", 1234, true},
                                         Case{"0", false, "127.0.0.1", 0, true},
                                         Case{"localhost:9", false, "localhost", 9, true},
                                         Case{"127.0.0.2:65535", false, "127.0.0.2", 65535, true},
                                         Case{"[::1]:7", false, "::1", 7, true},
                                         Case{"[::ffff:127.0.0.1]:7", false, "::ffff:127.0.0.1", 7, true},
                                         Case{":7", false, "127.0.0.1", 7, true},
                                         Case{"0.0.0.0:7", false, nullptr, 0, false},
                                         Case{"0.0.0.0:7", true, "0.0.0.0", 7, false},
                                         Case{"[::]:7", false, nullptr, 0, false},
                                         Case{"[::]:7", true, "::", 7, false},
                                         Case{"192.168.1.4:7", false, nullptr, 0, false},
                                         Case{"[fe80::1%no-such-interface]:7", true, nullptr, 0, false},
                                         Case{"65536", false, nullptr, 0, false}, Case{"", false, nullptr, 0, false},
                                         Case{"host:", false, nullptr, 0, false}, Case{"-1", false, nullptr, 0, false},
                                         Case{"12x", false, nullptr, 0, false}));

}  // namespace
