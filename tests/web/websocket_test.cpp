// A page's frames come from anywhere: each hostile one must end the socket
// with the right close code before anything of its length is kept, and the
// legal forms a browser may use (fragments, control frames between them)
// must arrive whole.
#include <gtest/gtest.h>

#include <string>

#include "web/websocket.h"

namespace {

// A client frame: `first` is the first byte (FIN, RSV, opcode); the length
// as declared may differ from the payload's.
std::string client_frame(unsigned char first, const std::string& payload, bool masked = true,
                         uint64_t declared = UINT64_MAX) {
    const uint64_t length = declared == UINT64_MAX ? payload.size() : declared;
    std::string out(1, static_cast<char>(first));
    const char mask_bit = masked ? '\x80' : '\0';
    if (length < 126) {
        out.push_back(static_cast<char>(mask_bit | static_cast<char>(length)));
    } else {
        const int bytes = length < 65536 ? 2 : 8;
        out.push_back(static_cast<char>(mask_bit | (bytes == 2 ? 126 : 127)));
        for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<char>(length >> (8 * i)));
    }
    const std::string mask = "\x12\x34\x56\x78";
    if (masked) out += mask;
    for (size_t i = 0; i < payload.size(); ++i) out.push_back(masked ? payload[i] ^ mask[i & 3] : payload[i]);
    return out;
}

// Every event the reader makes of `bytes`, as text.
std::string events(std::string bytes) {
    web::WsReader reader(1024);
    std::string said;
    for (;;) {
        const web::WsEvent event = reader.next(bytes);
        switch (event.kind) {
            case web::WsEvent::kNeedMore: return said;
            case web::WsEvent::kMessage:
                said += (event.opcode == web::kText ? "text:" : "binary:") + event.payload;
                break;
            case web::WsEvent::kPing: said += "ping:" + event.payload; break;
            case web::WsEvent::kPong: said += "pong:" + event.payload; break;
            case web::WsEvent::kClose: said += "close:" + std::to_string(event.code); break;
            case web::WsEvent::kFail: said += "fail:" + std::to_string(event.code); break;
        }
        said += " ";
    }
}

TEST(WsReader, HostileFramesEndTheSocketLegalOnesArriveWhole) {
    const std::string close_1000("\x03\xe8", 2);
    struct Row {
        const char* what;
        std::string bytes;
        std::string expected;
    } rows[] = {
        {"a masked text", client_frame(0x81, "hi"), "text:hi "},
        {"unmasked", client_frame(0x81, "hi", false), "fail:1002 "},
        {"RSV1 set", client_frame(0xC1, "hi"), "fail:1002 "},
        {"RSV3 set", client_frame(0x91, "hi"), "fail:1002 "},
        {"reserved data opcode", client_frame(0x83, "hi"), "fail:1002 "},
        {"reserved control opcode", client_frame(0x8B, "hi"), "fail:1002 "},
        {"a ping of 126 bytes", client_frame(0x89, std::string(126, 'p')), "fail:1002 "},
        {"a fragmented ping", client_frame(0x09, "p"), "fail:1002 "},
        {"overlong UTF-8", client_frame(0x81, "\xc0\x80"), "fail:1007 "},
        {"a UTF-16 surrogate", client_frame(0x81, "\xed\xa0\x80"), "fail:1007 "},
        {"UTF-8 cut short", client_frame(0x81, "ab\xe2\x82"), "fail:1007 "},
        {"1.5 GB declared, nothing sent", client_frame(0x82, "", true, 1'500'000'000), "fail:1009 "},
        {"2^63 declared", client_frame(0x82, "", true, uint64_t{1} << 63), "fail:1002 "},
        {"one byte past 1 KiB", client_frame(0x81, std::string(1025, 'x')), "fail:1009 "},
        {"exactly 1 KiB", client_frame(0x81, std::string(1024, 'x')), "text:" + std::string(1024, 'x') + " "},
        {"fragments with a ping between",
         client_frame(0x01, "he") + client_frame(0x89, "p") + client_frame(0x00, "l") + client_frame(0x80, "lo"),
         "ping:p text:hello "},
        {"a character split across fragments", client_frame(0x01, "\xc3") + client_frame(0x80, "\xa9"),
         "text:\xc3\xa9 "},
        {"fragments past 1 KiB together",
         client_frame(0x01, std::string(1000, 'x')) + client_frame(0x80, std::string(25, 'x')), "fail:1009 "},
        {"a continuation with nothing to continue", client_frame(0x80, "x"), "fail:1002 "},
        {"a new message amid fragments", client_frame(0x01, "a") + client_frame(0x81, "b"), "fail:1002 "},
        {"close with a code", client_frame(0x88, close_1000 + "bye"), "close:1000 "},
        {"close without a code", client_frame(0x88, ""), "close:1005 "},
        {"close with one byte", client_frame(0x88, "\x03"), "fail:1002 "},
        {"close with a reserved code", client_frame(0x88, std::string("\x03\xe7", 2)), "fail:1002 "},
        {"nothing read after a failure", client_frame(0x81, "hi", false) + client_frame(0x81, "hi"), "fail:1002 "},
        {"half a frame", client_frame(0x81, "hello").substr(0, 5), ""},
    };
    for (const Row& row : rows) EXPECT_EQ(events(row.bytes), row.expected) << row.what;
}

TEST(WebSocketHandshake, AcceptKeyAsRfc6455Example) {
    EXPECT_EQ(web::accept_key("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(web::base64(web::sha1("")), "2jmj7l5rSw0yVb/vlWAYkK/YBwk=");
}

}  // namespace
