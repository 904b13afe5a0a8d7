// GDB's Remote Serial Protocol as bytes and packets, without a socket or a
// machine: the stub that lets a debugger attach to module code reads the
// debugger's bytes through PacketReader, answers through frame(), and serves
// what parse_command() makes of each packet. Everything here is total: bytes
// from the network never throw, never grow a buffer past kMaxPacket, and a
// number too long for its field is a malformed command, not an overflow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace emulator::gdb {

// The largest packet taken or sent, its data decoded (escapes and runs
// expanded); the stub offers it to the debugger as PacketSize.
inline constexpr size_t kMaxPacket = 16 * 1024;
// The most memory one `m` asks for: its answer, two hex digits a byte, fits
// a packet. A longer request is shortened; GDB reads the rest in another.
inline constexpr uint32_t kMaxMemoryRead = kMaxPacket / 2 - 16;

struct ReadEvent {
    enum Kind {
        kPacket,       // `data` is a whole packet's, checksum right: answer '+'
        kAck,          // '+': the debugger took the last packet sent
        kNak,          // '-': it asks for the last packet again
        kInterrupt,    // 0x03 between packets: stop the running target
        kBadChecksum,  // answer '-': the debugger sends it again
        kTooLong,      // longer than kMaxPacket, dropped: answer '+' and an error
    };
    Kind kind;
    std::string data;
};

// Takes the debugger's bytes as they arrive, in reads of any size, and yields
// each whole packet once. Bytes outside a packet other than the three single
// ones are line noise and dropped; a '$' inside a packet starts it again (the
// debugger resends after a timeout).
class PacketReader {
public:
    // Appends to `out` what `bytes` completes, in order.
    void feed(std::string_view bytes, std::vector<ReadEvent>& out);

private:
    enum State { kIdle, kData, kEscape, kRun, kSum1, kSum2 };
    void start();
    void put(char c);
    void escaped_or_run(char c);
    void checksum_digit(char c, std::vector<ReadEvent>& out);
    State state_ = kIdle;
    std::string data_;
    uint8_t sum_ = 0;       // of the raw bytes between '$' and '#'
    uint8_t received_ = 0;  // the checksum's first digit, then both
    bool bad_ = false;      // a run with nothing before it, or a bad digit
    bool too_long_ = false;
};

// `data` as a packet: `$`, the data with `$#}*` escaped, `#`, two hex digits.
std::string frame(std::string_view data);
// Bytes as hex, two lower-case digits each (memory, registers).
std::string to_hex(std::string_view bytes);

struct Command {
    enum Kind {
        kUnknown,           // answer the empty packet
        kMalformed,         // a known command whose arguments are not: answer an error
        kHaltReason,        // ?
        kReadRegisters,     // g
        kWriteRegisters,    // G bytes
        kReadRegister,      // p number
        kWriteRegister,     // P number=bytes
        kReadMemory,        // m address,length
        kWriteMemory,       // M address,length:hex (bytes)
        kContinue,          // c [address], C signal[;address], vCont;c, vCont;Csignal
        kStep,              // s [address], S signal[;address], vCont;s, vCont;Ssignal
        kVContQuery,        // vCont?
        kInsertBreakpoint,  // Zt,address,kind
        kRemoveBreakpoint,  // zt,address,kind
        kSupported,         // qSupported[:features] (features)
        kReadLibraries,     // qXfer:libraries:read::offset,length
        kReadFeatures,      // qXfer:features:read:annex:offset,length
        kAttached,          // qAttached
        kThreadBlock,       // qGetTIBAddr:thread (Windows debuggers ask where the thread's block lies)
        kCurrentThread,     // qC
        kFirstThreads,      // qfThreadInfo
        kNextThreads,       // qsThreadInfo
        kSetThread,         // H op thread
        kKill,              // k
        kDetach,            // D
    };
    // Z/z types, as numbered on the wire.
    enum Breakpoint { kSoftware = 0, kHardware = 1, kWriteWatch = 2, kReadWatch = 3, kAccessWatch = 4 };

    Kind kind = kUnknown;
    uint32_t address = 0;  // m M Z z, and c s when has_address
    bool has_address = false;
    uint32_t length = 0;  // m M (bytes), Z z (kind), qXfer (length asked)
    uint32_t offset = 0;  // qXfer
    uint32_t number = 0;  // p P: the register
    Breakpoint breakpoint = kSoftware;
    std::string bytes;                  // G P M X: what to write, decoded
    std::string annex;                  // qXfer:features: the document's name
    char operation = 0;                 // H: 'g' or 'c'
    int64_t thread = 0;                 // H: -1 all, 0 any, else the thread
    std::vector<std::string> features;  // qSupported
};

// What the stub must do for `packet`, a packet's decoded data.
Command parse_command(std::string_view packet);

}  // namespace emulator::gdb
