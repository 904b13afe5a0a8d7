#include "web/transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace web {
namespace {

struct Quiet : TransportHandler {
    void opened(uint64_t) override {}
    void text(uint64_t, std::string_view) override {}
    void drained(uint64_t) override {}
    void closed(uint64_t) override {}
    void woken() override {}
};

// A blocking client of the transport on 127.0.0.1, giving up after 5 s.
class Client {
public:
    explicit Client(int port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        const timeval wait{5, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<const sockaddr*>(&to), sizeof to), 0);
        host_ =
            "Host: 127.0.0.1:" + std::to_string(port) + "\r\nOrigin: http://127.0.0.1:" + std::to_string(port) + "\r\n";
    }
    ~Client() { ::close(fd_); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    // The status line's code of the answer to GET `path` (0: none).
    int get(const std::string& path) {
        put("GET " + path + " HTTP/1.1\r\n" + host_ + "\r\n");
        const std::string head = head_of_answer();
        return head.size() > 12 ? std::stoi(head.substr(9, 3)) : 0;
    }
    bool open_page() {
        put("GET /ws HTTP/1.1\r\n" + host_ +
            "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
            "Sec-WebSocket-Version: 13\r\n\r\n");
        return head_of_answer().starts_with("HTTP/1.1 101");
    }
    // A page still open answers a ping with a pong; a closed one's next
    // frame is its close.
    bool page_open() {
        put(std::string("\x89\x80\0\0\0\0", 6));
        unsigned char first = 0;
        return ::recv(fd_, &first, 1, 0) == 1 && first == 0x8A;
    }
    // Returns once the server has answered the close: the page is closed
    // on its side.
    bool close_page() {
        put(std::string("\x88\x82\0\0\0\0\x03\xE8", 8));
        unsigned char first = 0;
        return ::recv(fd_, &first, 1, 0) == 1 && first == 0x88;
    }

private:
    void put(const std::string& bytes) {
        ASSERT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size()));
    }
    std::string head_of_answer() {
        std::string in;
        char c = 0;
        while (!in.ends_with("\r\n\r\n") && ::recv(fd_, &c, 1, 0) == 1) in += c;
        return in;
    }
    int fd_;
    std::string host_;
};

class Serving {
public:
    explicit Serving(TransportOptions options) {
        root_ = std::filesystem::temp_directory_path() / ("transport_test_" + std::to_string(::getpid()));
        std::filesystem::create_directories(root_);
        std::ofstream(root_ / "index.html") << "<!doctype html>";
        options.host = "127.0.0.1";
        options.port = 0;
        options.web_root = root_.string();
        transport_ = std::make_unique<Transport>(options, handler_);
        thread_ = std::thread([this] { transport_->run(stop_); });
    }
    ~Serving() {
        stop_ = true;
        thread_.join();
        transport_.reset();
        std::filesystem::remove_all(root_);
    }
    int port() const { return transport_->port(); }

private:
    Quiet handler_;
    std::filesystem::path root_;
    std::unique_ptr<Transport> transport_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Every tab of one machine shares its address: past the limit the newest
// page displaces the oldest instead of being refused, a page closed by the
// browser (lingering to finish its close) no longer counts, and the page's
// files are still served with every page open.
TEST(Transport, PagesOfOneAddressDisplaceTheOldestAndAreReleasedOnClose) {
    const struct {
        const char* name;
        size_t limit;
        int opened;
        int closed_by_browser;  // the first ones, before as many more open
        std::vector<bool> open_after;
    } cases[] = {
        {"within the limit", 3, 3, 0, {true, true, true}},
        {"two past the limit", 3, 5, 0, {false, false, true, true, true}},
        {"closed then as many opened", 3, 3, 3, {false, false, false, true, true, true}},
        {"no limit of its own", SIZE_MAX, 40, 0, std::vector<bool>(40, true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TransportOptions options;
        options.max_pages_per_loopback = c.limit;
        Serving serving(options);
        std::vector<std::unique_ptr<Client>> pages;
        const auto open = [&](int count) {
            for (int i = 0; i < count; ++i) {
                pages.push_back(std::make_unique<Client>(serving.port()));
                EXPECT_TRUE(pages.back()->open_page());
            }
        };
        open(c.opened);
        for (int i = 0; i < c.closed_by_browser; ++i) EXPECT_TRUE(pages[i]->close_page());
        open(c.closed_by_browser);
        EXPECT_EQ(Client(serving.port()).get("/"), 200);
        ASSERT_EQ(pages.size(), c.open_after.size());
        for (size_t i = c.closed_by_browser; i < pages.size(); ++i)
            EXPECT_EQ(pages[i]->page_open(), c.open_after[i]) << "page " << i;
    }
}

}  // namespace
}  // namespace web
