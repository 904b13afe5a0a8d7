// A page's WebSocket bytes as the live server reads them, with its limit
// (1 KiB messages): the same events however the bytes are split into reads,
// every message whole, within the limit and, as text, valid UTF-8, nothing
// after a close or a failure, and what the server's own writer frames (masked
// as a browser would) reads back as it was, whole or in fragments. What the
// server hands on, text within the limit, is the page's message: it parses
// (web::parse_input) to an input in range or to none, never an exception.
//
// The input's tail chooses the reads and a mask (FuzzedDataProvider takes
// numbers from the end); the rest is the stream.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fuzz/fuzz_check.h"
#include "web/server.h"
#include "web/websocket.h"

namespace {

constexpr size_t kLimit = 1024;  // the server's (web/server.cpp)

// Well-formed UTF-8 as the Unicode standard tabulates it (its table 3-7),
// written apart from the reader's to check it.
bool well_formed_utf8(std::string_view text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    for (size_t i = 0, n = text.size(); i < n;) {
        const unsigned char b = s[i];
        size_t length = 1;
        unsigned char low = 0x80, high = 0xBF;  // the second byte's range
        if (b <= 0x7F) {
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) length = 2;
        else if (b == 0xE0) length = 3, low = 0xA0;
        else if (b == 0xED) length = 3, high = 0x9F;
        else if (b >= 0xE1 && b <= 0xEF) length = 3;
        else if (b == 0xF0) length = 4, low = 0x90;
        else if (b == 0xF4) length = 4, high = 0x8F;
        else if (b >= 0xF1 && b <= 0xF3) length = 4;
        else return false;
        if (n - i < length || s[i + 1] < low || s[i + 1] > high) return false;
        for (size_t k = 2; k < length; ++k)
            if (s[i + k] < 0x80 || s[i + k] > 0xBF) return false;
        i += length;
    }
    return true;
}

// A server frame as a browser sends it: the mask bit, the key, the payload masked.
std::string masked(const std::string& frame, uint32_t key) {
    const size_t short_length = static_cast<unsigned char>(frame[1]) & 0x7f;
    const size_t head = short_length == 126 ? 4 : short_length == 127 ? 10 : 2;
    const char mask[4] = {static_cast<char>(key >> 24), static_cast<char>(key >> 16), static_cast<char>(key >> 8),
                          static_cast<char>(key)};
    std::string out = frame.substr(0, head);
    out[1] = static_cast<char>(out[1] | 0x80);
    out.append(mask, 4);
    out.append(frame, head);
    if (key != 0)
        for (size_t i = head + 4; i < out.size(); ++i) out[i] = static_cast<char>(out[i] ^ mask[(i - head) & 3]);
    return out;
}

// The frame final or not: the server writes only final ones.
std::string fragment(std::string frame, bool final) {
    if (!final) frame[0] = static_cast<char>(frame[0] & 0x7f);
    return frame;
}

bool same(const web::WsEvent& a, const web::WsEvent& b) {
    return a.kind == b.kind && a.opcode == b.opcode && a.payload == b.payload && a.code == b.code;
}

// The events of one read, as the transport takes them: every whole frame,
// the last a close or failure when one comes (the transport reads no more).
bool take(web::WsReader& reader, std::string& in, std::vector<web::WsEvent>& events) {
    for (;;) {
        web::WsEvent event = reader.next(in);
        if (event.kind == web::WsEvent::kNeedMore) return true;
        events.push_back(std::move(event));
        if (events.back().kind == web::WsEvent::kClose || events.back().kind == web::WsEvent::kFail) return false;
    }
}

void check_message(std::string_view text) {
    const std::optional<web::Input> input = web::parse_input(text);
    if (!input) return;
    if (input->kind == web::Input::kControls) {
        for (const double position : {input->elevator, input->aileron, input->rudder, input->throttle})
            FUZZ_CHECK(position >= -1.0 && position <= 1.0, "controls within -1..1");
        FUZZ_CHECK(input->brakes >= 0.0 && input->brakes <= 1.0, "brakes within 0..1");
    }
    if (input->kind == web::Input::kFlaps) FUZZ_CHECK(input->step == 1 || input->step == -1, "a flap step is one");
}

void check_events(const std::vector<web::WsEvent>& events, size_t stream_size) {
    size_t payload_bytes = 0;
    for (const web::WsEvent& event : events) {
        payload_bytes += event.payload.size();
        switch (event.kind) {
            case web::WsEvent::kMessage:
                FUZZ_CHECK(event.opcode == web::kText || event.opcode == web::kBinary, "a text or binary message");
                FUZZ_CHECK(event.payload.size() <= kLimit, "a message within the limit");
                FUZZ_CHECK(event.opcode != web::kText || well_formed_utf8(event.payload), "text is valid UTF-8");
                if (event.opcode == web::kText) check_message(event.payload);
                break;
            case web::WsEvent::kPing:
            case web::WsEvent::kPong: FUZZ_CHECK(event.payload.size() <= 125, "a control frame is short"); break;
            case web::WsEvent::kClose:
                FUZZ_CHECK(event.code == 1005 ? event.payload.empty()
                                              : (event.code >= 1000 && event.code <= 1003) ||
                                                    (event.code >= 1007 && event.code <= 1011) ||
                                                    (event.code >= 3000 && event.code <= 4999),
                           "a close code a peer may send");
                FUZZ_CHECK(event.payload.size() <= 123 && well_formed_utf8(event.payload), "a close reason is text");
                break;
            case web::WsEvent::kFail:
                FUZZ_CHECK(event.code == web::kCloseProtocol || event.code == web::kCloseBadData ||
                               event.code == web::kCloseTooBig,
                           "a failure closes 1002, 1007 or 1009");
                break;
            case web::WsEvent::kNeedMore: FUZZ_CHECK(false, "no kNeedMore among events"); break;
        }
    }
    FUZZ_CHECK(payload_bytes <= stream_size, "no more payload than bytes came");
}

// Everything `reader` makes of `bytes` read at once, up to a close or failure.
std::vector<web::WsEvent> read_all(std::string bytes, size_t limit = kLimit) {
    web::WsReader reader(limit);
    std::vector<web::WsEvent> events;
    take(reader, bytes, events);
    return events;
}

// `payload` is within the limit.
void check_round_trips(const std::string& payload, const std::vector<size_t>& cuts, uint32_t key, bool large) {
    // A message written whole.
    for (const web::Opcode opcode : {web::kText, web::kBinary}) {
        const std::vector<web::WsEvent> events = read_all(masked(web::frame(opcode, payload), key));
        FUZZ_CHECK(events.size() == 1, "one frame, one event");
        if (opcode == web::kText && !well_formed_utf8(payload)) {
            FUZZ_CHECK(events[0].kind == web::WsEvent::kFail && events[0].code == web::kCloseBadData,
                       "text not UTF-8 fails 1007");
        } else {
            FUZZ_CHECK(events[0].kind == web::WsEvent::kMessage && events[0].opcode == opcode &&
                           events[0].payload == payload,
                       "a message reads back as written");
        }
    }
    // In fragments at the cuts, a ping after each but the last.
    const auto fragments = [&](bool final) {
        std::string bytes;
        size_t at = 0;
        for (size_t i = 0; i <= cuts.size(); ++i) {
            const size_t to = i < cuts.size() ? std::max(at, std::min(cuts[i], payload.size())) : payload.size();
            const web::Opcode opcode = i == 0 ? web::kBinary : web::kContinuation;
            bytes += masked(fragment(web::frame(opcode, payload.substr(at, to - at)), final && i == cuts.size()), key);
            if (i < cuts.size())
                bytes += masked(web::frame(web::kPing, payload.substr(at, std::min<size_t>(to - at, 125))), key);
            at = to;
        }
        return bytes;
    };
    const auto pings_then = [&](const std::vector<web::WsEvent>& events, web::WsEvent::Kind last) {
        if (events.size() != cuts.size() + 1 || events.back().kind != last) return false;
        return std::all_of(events.begin(), events.end() - 1,
                           [](const web::WsEvent& event) { return event.kind == web::WsEvent::kPing; });
    };
    std::vector<web::WsEvent> events = read_all(fragments(true));
    FUZZ_CHECK(pings_then(events, web::WsEvent::kMessage) && events.back().payload == payload,
               "fragments read back as the message");
    // Those fragments, then one to the limit or a byte past it: the limit
    // holds for the message, not each fragment.
    const std::string filler(kLimit - payload.size(), 'f');
    events = read_all(fragments(false) + masked(web::frame(web::kContinuation, filler), key));
    FUZZ_CHECK(pings_then(events, web::WsEvent::kMessage) && events.back().payload == payload + filler,
               "fragments up to the limit make a message");
    events = read_all(fragments(false) + masked(web::frame(web::kContinuation, filler + "f"), key));
    FUZZ_CHECK(pings_then(events, web::WsEvent::kFail) && events.back().code == web::kCloseTooBig,
               "fragments past the limit fail 1009");
    // Control frames and the close codes the server sends.
    const std::string short_payload = payload.substr(0, 125);
    for (const web::Opcode opcode : {web::kPing, web::kPong}) {
        const std::vector<web::WsEvent> control = read_all(masked(web::frame(opcode, short_payload), key));
        FUZZ_CHECK(control.size() == 1 && control[0].payload == short_payload &&
                       control[0].kind == (opcode == web::kPing ? web::WsEvent::kPing : web::WsEvent::kPong),
                   "a ping or pong reads back");
    }
    for (const uint16_t code : {web::kCloseNormal, web::kCloseGoingAway, web::kCloseProtocol, web::kCloseBadData,
                                web::kCloseTooBig}) {
        const std::vector<web::WsEvent> close = read_all(masked(web::close_frame(code), key));
        FUZZ_CHECK(close.size() == 1 && close[0].kind == web::WsEvent::kClose && close[0].code == code &&
                       close[0].payload.empty(),
                   "a close frame reads back its code");
    }
    // Past 64 KiB the length takes eight bytes; a reader with room for it.
    // (The zero mask spares masking it here: the reader unmasks all the same.)
    if (large && !payload.empty()) {
        std::string big;
        while (big.size() <= 65536) big += payload;
        const std::string bytes = masked(web::frame(web::kBinary, big), 0);
        const std::vector<web::WsEvent> whole = read_all(bytes, big.size());
        FUZZ_CHECK(whole.size() == 1 && whole[0].kind == web::WsEvent::kMessage && whole[0].payload == big,
                   "a long message reads back");
        const std::vector<web::WsEvent> cut = read_all(bytes, big.size() - 1);
        FUZZ_CHECK(cut.size() == 1 && cut[0].kind == web::WsEvent::kFail && cut[0].code == web::kCloseTooBig,
                   "a byte past the limit fails 1009");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider provider(data, size);
    std::vector<size_t> reads(provider.ConsumeIntegralInRange<size_t>(0, 8));
    for (size_t& read : reads) read = provider.ConsumeIntegral<uint16_t>();
    const uint32_t key = provider.ConsumeIntegral<uint32_t>();
    // Rare: the long round trip takes as long as a few hundred others.
    const bool large = provider.ConsumeIntegral<uint8_t>() == 0xFF;
    const std::string stream = provider.ConsumeRemainingBytesAsString();

    FUZZ_CHECK(web::valid_utf8(stream) == well_formed_utf8(stream), "valid_utf8 as the Unicode table says");
    // The stream itself as a message, had it come framed.
    if (stream.size() <= kLimit && well_formed_utf8(stream)) check_message(stream);

    // At once, and in reads of the chosen sizes (0: a read that brought
    // nothing), the rest in one: the same events.
    const std::vector<web::WsEvent> whole = read_all(stream);
    check_events(whole, stream.size());
    web::WsReader reader(kLimit);
    std::vector<web::WsEvent> split;
    std::string in;
    size_t at = 0;
    bool open = true;
    for (size_t i = 0; open && i <= reads.size(); ++i) {
        const size_t length = i < reads.size() ? std::min(reads[i] % 64, stream.size() - at) : stream.size() - at;
        const std::string_view piece = std::string_view(stream).substr(at, length);
        FUZZ_CHECK(web::valid_utf8(piece) == well_formed_utf8(piece), "valid_utf8 as the Unicode table says");
        in.append(piece);
        at += length;
        open = take(reader, in, split);
    }
    FUZZ_CHECK(split.size() == whole.size(), "as many events however the bytes are split");
    for (size_t i = 0; i < whole.size(); ++i) FUZZ_CHECK(same(split[i], whole[i]), "the same events however split");
    // A failed reader reads nothing more, however much comes.
    if (!whole.empty() && whole.back().kind == web::WsEvent::kFail) {
        in += web::frame(web::kText, "more");
        in += masked(web::frame(web::kText, "more"), key);
        FUZZ_CHECK(reader.next(in).kind == web::WsEvent::kNeedMore, "nothing after a failure");
    }

    std::vector<size_t> cuts(reads);
    std::sort(cuts.begin(), cuts.end());
    check_round_trips(stream.substr(0, kLimit), cuts, key, large);
    return 0;
}
