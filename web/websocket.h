// RFC 6455 for the live panel's pages: the handshake's accept key and the
// framing, read from untrusted bytes. A page's messages are small, so every
// length is checked against the limit before anything is kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace web {

// Opcodes and the close codes this server sends.
enum Opcode : uint8_t { kContinuation = 0, kText = 1, kBinary = 2, kClose = 8, kPing = 9, kPong = 10 };
inline constexpr uint16_t kCloseNormal = 1000, kCloseGoingAway = 1001, kCloseProtocol = 1002, kCloseBadData = 1007,
                          kCloseTooBig = 1009;

// SHA-1 of `data` (20 bytes) and base64, which the handshake needs and no more.
std::string sha1(std::string_view data);
std::string base64(std::string_view data);
// Sec-WebSocket-Accept for a client's Sec-WebSocket-Key.
std::string accept_key(std::string_view client_key);
bool valid_utf8(std::string_view text);

// One server frame: final, unmasked.
std::string frame(Opcode opcode, std::string_view payload);
// A close frame carrying `code`.
std::string close_frame(uint16_t code);

struct WsEvent {
    enum Kind { kNeedMore, kMessage, kPing, kPong, kClose, kFail } kind = kNeedMore;
    Opcode opcode = kText;  // a message's: kText or kBinary
    std::string payload;    // a message's, a ping's or pong's, a close's reason
    uint16_t code = 0;      // kClose: the peer's code (1005: none); kFail: the code to close with
};

// Reads a client's frames: masked, RSV bits clear, known opcodes, control
// frames short and whole, messages reassembled from their fragments up to
// `max_message` bytes, text valid UTF-8. After a kFail it reads nothing more.
class WsReader {
public:
    explicit WsReader(size_t max_message) : max_message_(max_message) {}
    // The next event in `in`, whose bytes it consumes; kNeedMore when `in`
    // holds no whole frame yet.
    WsEvent next(std::string& in);

private:
    WsEvent fail(uint16_t code);
    size_t max_message_;
    std::string message_;      // the fragments so far
    int message_opcode_ = -1;  // the fragmented message's, -1 when none is open
    bool failed_ = false;
};

}  // namespace web
