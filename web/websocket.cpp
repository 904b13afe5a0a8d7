#include "web/websocket.h"

#include <array>
#include <cstring>

namespace web {
namespace {

uint32_t rotl(uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

void sha1_block(std::array<uint32_t, 5>& h, const unsigned char* block) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i)
        w[i] = uint32_t{block[4 * i]} << 24 | uint32_t{block[4 * i + 1]} << 16 | uint32_t{block[4 * i + 2]} << 8 |
               block[4 * i + 3];
    for (int i = 16; i < 80; ++i) w[i] = rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
    for (int i = 0; i < 80; ++i) {
        const uint32_t f = i < 20              ? ((b & c) | (~b & d))
                           : i < 40 || i >= 60 ? (b ^ c ^ d)
                                               : ((b & c) | (b & d) | (c & d));
        const uint32_t k = i < 20 ? 0x5A827999 : i < 40 ? 0x6ED9EBA1 : i < 60 ? 0x8F1BBCDC : 0xCA62C1D6;
        const uint32_t t = rotl(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = rotl(b, 30);
        b = a;
        a = t;
    }
    h[0] += a, h[1] += b, h[2] += c, h[3] += d, h[4] += e;
}

uint64_t big_endian(const std::string& in, size_t at, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | static_cast<unsigned char>(in[at + i]);
    return value;
}

bool known_opcode(int opcode) { return opcode <= kBinary || (opcode >= kClose && opcode <= kPong); }

// The codes a peer may send in a close frame (RFC 6455 7.4).
bool valid_close_code(uint16_t code) {
    return (code >= 1000 && code <= 1003) || (code >= 1007 && code <= 1011) || (code >= 3000 && code <= 4999);
}

}  // namespace

std::string sha1(std::string_view data) {
    std::array<uint32_t, 5> h{0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string padded(data);
    padded.push_back('\x80');
    while (padded.size() % 64 != 56) padded.push_back('\0');
    const uint64_t bits = uint64_t{data.size()} * 8;
    for (int i = 7; i >= 0; --i) padded.push_back(static_cast<char>(bits >> (8 * i)));
    for (size_t at = 0; at < padded.size(); at += 64)
        sha1_block(h, reinterpret_cast<const unsigned char*>(padded.data() + at));
    std::string digest;
    for (uint32_t word : h)
        for (int i = 3; i >= 0; --i) digest.push_back(static_cast<char>(word >> (8 * i)));
    return digest;
}

std::string base64(std::string_view data) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t at = 0; at < data.size(); at += 3) {
        const size_t n = std::min<size_t>(3, data.size() - at);
        uint32_t group = 0;
        for (size_t i = 0; i < 3; ++i) group = group << 8 | (i < n ? static_cast<unsigned char>(data[at + i]) : 0u);
        for (size_t i = 0; i < 4; ++i) out.push_back(i <= n ? kAlphabet[(group >> (18 - 6 * i)) & 63] : '=');
    }
    return out;
}

std::string accept_key(std::string_view client_key) {
    return base64(sha1(std::string(client_key) + "258EAFA5-E914-47DA-95CA-C5AB0DC85B11"));
}

bool valid_utf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const unsigned char lead = s[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : -1;
        if (extra < 0 || lead > 0xF4 || i + static_cast<size_t>(extra) >= n) return false;
        uint32_t code = lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            code = code << 6 | (s[i + k] & 0x3F);
        }
        // Overlong forms, UTF-16 surrogates and beyond U+10FFFF.
        if ((extra == 2 && code < 0x800) || (extra == 3 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

std::string frame(Opcode opcode, std::string_view payload) {
    std::string out;
    out.reserve(payload.size() + 10);
    out.push_back(static_cast<char>(0x80 | opcode));
    const uint64_t length = payload.size();
    if (length < 126) {
        out.push_back(static_cast<char>(length));
    } else if (length < 65536) {
        out.push_back(126);
        for (int i = 1; i >= 0; --i) out.push_back(static_cast<char>(length >> (8 * i)));
    } else {
        out.push_back(127);
        for (int i = 7; i >= 0; --i) out.push_back(static_cast<char>(length >> (8 * i)));
    }
    out.append(payload);
    return out;
}

std::string close_frame(uint16_t code) {
    const char payload[2] = {static_cast<char>(code >> 8), static_cast<char>(code & 0xff)};
    return frame(kClose, std::string_view(payload, 2));
}

WsEvent WsReader::fail(uint16_t code) {
    failed_ = true;
    WsEvent event;
    event.kind = WsEvent::kFail;
    event.code = code;
    return event;
}

WsEvent WsReader::next(std::string& in) {
    for (;;) {
        if (failed_ || in.size() < 2) return {};
        const auto b0 = static_cast<unsigned char>(in[0]), b1 = static_cast<unsigned char>(in[1]);
        const bool fin = (b0 & 0x80) != 0, control = (b0 & 0x08) != 0;
        const int opcode = b0 & 0x0f, short_length = b1 & 0x7f;
        if ((b0 & 0x70) != 0 || !known_opcode(opcode) || (b1 & 0x80) == 0) return fail(kCloseProtocol);
        if (control && (!fin || short_length > 125)) return fail(kCloseProtocol);
        const size_t head = short_length == 126 ? 4 : short_length == 127 ? 10 : 2;
        if (in.size() < head) return {};
        const uint64_t length = head == 2 ? short_length : big_endian(in, 2, static_cast<int>(head - 2));
        if (length >> 63) return fail(kCloseProtocol);
        if (!control) {
            if ((opcode == kContinuation) != (message_opcode_ >= 0)) return fail(kCloseProtocol);
            // Before anything is kept: a length past the limit ends the socket.
            if (length > max_message_ - message_.size()) return fail(kCloseTooBig);
        }
        if (in.size() < head + 4 || in.size() - head - 4 < length) return {};
        std::string payload = in.substr(head + 4, length);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] ^= in[head + (i & 3)];
        in.erase(0, head + 4 + length);
        if (control) {
            WsEvent event;
            event.kind = opcode == kPing ? WsEvent::kPing : opcode == kPong ? WsEvent::kPong : WsEvent::kClose;
            if (event.kind != WsEvent::kClose) {
                event.payload = std::move(payload);
                return event;
            }
            if (payload.size() == 1) return fail(kCloseProtocol);
            event.code = payload.empty() ? 1005 : static_cast<uint16_t>(big_endian(payload, 0, 2));
            if (!payload.empty() && !valid_close_code(event.code)) return fail(kCloseProtocol);
            event.payload = payload.size() > 2 ? payload.substr(2) : std::string();
            if (!valid_utf8(event.payload)) return fail(kCloseBadData);
            return event;
        }
        if (opcode != kContinuation) message_opcode_ = opcode;
        message_ += payload;
        if (!fin) continue;
        WsEvent event;
        event.kind = WsEvent::kMessage;
        event.opcode = static_cast<Opcode>(message_opcode_);
        event.payload = std::move(message_);
        message_.clear();
        message_opcode_ = -1;
        if (event.opcode == kText && !valid_utf8(event.payload)) return fail(kCloseBadData);
        return event;
    }
}

}  // namespace web
