#include "emulator/gdb/gdb_packets.h"

#include <optional>

namespace emulator::gdb {

namespace {

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

constexpr char kDigits[] = "0123456789abcdef";

// A hex number of at most `max`; leading zeros allowed, nothing else.
std::optional<uint64_t> hex_number(std::string_view text, uint64_t max = UINT32_MAX) {
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (const char c : text) {
        const int digit = hex_digit(c);
        if (digit < 0 || value > (max - static_cast<uint64_t>(digit)) / 16) return std::nullopt;
        value = value * 16 + static_cast<uint64_t>(digit);
    }
    return value;
}

std::optional<uint32_t> hex32(std::string_view text) {
    const std::optional<uint64_t> value = hex_number(text);
    if (!value) return std::nullopt;
    return static_cast<uint32_t>(*value);
}

std::optional<std::string> hex_bytes(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::string bytes;
    bytes.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = hex_digit(text[i]), low = hex_digit(text[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<char>(high * 16 + low));
    }
    return bytes;
}

// `text` cut at the first `separator`: what is before it, and `text` left
// with what follows; nullopt when there is none.
std::optional<std::string_view> take_until(std::string_view& text, char separator) {
    const size_t at = text.find(separator);
    if (at == std::string_view::npos) return std::nullopt;
    const std::string_view head = text.substr(0, at);
    text.remove_prefix(at + 1);
    return head;
}

// "address,length" as m, M, X and qXfer have it (qXfer: offset,length).
bool address_length(std::string_view text, Command& command) {
    const std::optional<std::string_view> first = take_until(text, ',');
    if (!first) return false;
    const std::optional<uint32_t> address = hex32(*first), length = hex32(text);
    if (!address || !length) return false;
    command.address = *address;
    command.length = *length;
    return true;
}

Command of(Command::Kind kind) {
    Command command;
    command.kind = kind;
    return command;
}

Command malformed() { return of(Command::kMalformed); }

// c and s: an optional address to resume at.
Command resume(Command::Kind kind, std::string_view address) {
    Command command = of(kind);
    if (address.empty()) return command;
    const std::optional<uint32_t> at = hex32(address);
    if (!at) return malformed();
    command.address = *at;
    command.has_address = true;
    return command;
}

// C sig[;addr] and S sig[;addr]: a resume that hands the thread a signal.
// Module code has no handlers to deliver one to: going on after a fault is
// the fault's delivery, so the signal changes nothing but must be a signal.
Command resume_with_signal(Command::Kind kind, std::string_view arguments) {
    std::string_view address = arguments;
    const std::optional<std::string_view> signal = take_until(address, ';');
    const std::string_view number = signal ? *signal : arguments;
    if (number.size() != 2 || !hex32(number)) return malformed();
    return resume(kind, signal ? address : std::string_view{});
}

Command memory(std::string_view arguments, bool binary) {
    Command command = of(Command::kWriteMemory);
    const std::optional<std::string_view> head = take_until(arguments, ':');
    if (!head || !address_length(*head, command)) return malformed();
    if (binary) {
        command.bytes = std::string(arguments);
    } else {
        std::optional<std::string> bytes = hex_bytes(arguments);
        if (!bytes) return malformed();
        command.bytes = std::move(*bytes);
    }
    // The debugger says how many bytes it sends; a packet that disagrees was
    // cut or garbled, and writing part of it would be worse than refusing.
    if (command.bytes.size() != command.length) return malformed();
    return command;
}

Command breakpoint(Command::Kind kind, std::string_view arguments) {
    Command command = of(kind);
    // Conditions and commands after ';' are not offered (qSupported), so
    // none is acted on; the breakpoint itself stands.
    arguments = arguments.substr(0, arguments.find(';'));
    const std::optional<std::string_view> type = take_until(arguments, ',');
    if (!type || type->size() != 1 || (*type)[0] < '0' || (*type)[0] > '4') return malformed();
    if (!address_length(arguments, command)) return malformed();
    command.breakpoint = static_cast<Command::Breakpoint>((*type)[0] - '0');
    return command;
}

Command vcont(std::string_view actions) {
    if (actions == "?") return of(Command::kVContQuery);
    if (actions.empty() || actions[0] != ';') return Command{};
    actions.remove_prefix(1);
    // One thread: the first action is the one for it; each action may name
    // a thread after ':', which must be a number.
    const std::string_view first = actions.substr(0, actions.find(';'));
    const std::string_view action = first.substr(0, first.find(':'));
    if (first.size() > action.size()) {
        const std::string_view thread = first.substr(action.size() + 1);
        if (thread != "-1" && !hex32(thread)) return malformed();
    }
    if (action == "c") return of(Command::kContinue);
    if (action == "s") return of(Command::kStep);
    if (action.size() == 3 && (action[0] == 'C' || action[0] == 'S') && hex32(action.substr(1)))
        return of(action[0] == 'C' ? Command::kContinue : Command::kStep);
    return malformed();
}

Command xfer(std::string_view arguments) {
    std::string_view rest = arguments;
    const std::optional<std::string_view> object = take_until(rest, ':');
    const std::optional<std::string_view> operation = take_until(rest, ':');
    const std::optional<std::string_view> annex = take_until(rest, ':');
    if (!object || !operation || !annex || *operation != "read") return Command{};
    Command command;
    if (*object == "libraries" && annex->empty())
        command.kind = Command::kReadLibraries;
    else if (*object == "features")
        command.kind = Command::kReadFeatures;
    else
        return Command{};
    if (!address_length(rest, command)) return malformed();
    command.offset = command.address;
    command.address = 0;
    command.annex = std::string(*annex);
    return command;
}

Command query(std::string_view packet) {
    if (packet == "qC") return of(Command::kCurrentThread);
    if (packet == "qfThreadInfo") return of(Command::kFirstThreads);
    if (packet == "qsThreadInfo") return of(Command::kNextThreads);
    if (packet == "qAttached" || packet.starts_with("qAttached:")) return of(Command::kAttached);
    if (packet.starts_with("qGetTIBAddr:")) return of(Command::kThreadBlock);
    if (packet == "qSupported" || packet.starts_with("qSupported:")) {
        Command command = of(Command::kSupported);
        std::string_view list = packet.substr(packet.size() > 10 ? 11 : 10);
        while (!list.empty()) {
            const size_t at = list.find(';');
            command.features.emplace_back(list.substr(0, at));
            list = at == std::string_view::npos ? std::string_view() : list.substr(at + 1);
        }
        return command;
    }
    if (packet.starts_with("qXfer:")) return xfer(packet.substr(6));
    return Command{};
}

}  // namespace

void PacketReader::start() {
    state_ = kData;
    data_.clear();
    sum_ = 0;
    bad_ = false;
    too_long_ = false;
}

void PacketReader::put(char c) {
    if (data_.size() >= kMaxPacket) {
        too_long_ = true;
        return;
    }
    data_.push_back(c);
}

// The byte after '}' (escaped) or '*' (a run's count).
void PacketReader::escaped_or_run(char c) {
    sum_ = static_cast<uint8_t>(sum_ + static_cast<uint8_t>(c));
    if (state_ == kEscape) {
        put(static_cast<char>(c ^ 0x20));
    } else if (data_.empty() || static_cast<uint8_t>(c) < 29 + 3 || static_cast<uint8_t>(c) > 126) {
        // A run repeats the byte before it n - 29 times, n printable.
        bad_ = true;
    } else {
        const char repeated = data_.back();
        for (int i = static_cast<uint8_t>(c) - 29; i > 0 && !too_long_; --i) put(repeated);
    }
    state_ = kData;
}

void PacketReader::checksum_digit(char c, std::vector<ReadEvent>& out) {
    const int digit = hex_digit(c);
    if (digit < 0) bad_ = true;
    if (state_ == kSum1) {
        received_ = static_cast<uint8_t>(digit < 0 ? 0 : digit);
        state_ = kSum2;
        return;
    }
    received_ = static_cast<uint8_t>(received_ * 16 + (digit < 0 ? 0 : digit));
    state_ = kIdle;
    if (bad_ || received_ != sum_)
        out.push_back({ReadEvent::kBadChecksum, {}});
    else if (too_long_)
        out.push_back({ReadEvent::kTooLong, {}});
    else
        out.push_back({ReadEvent::kPacket, std::move(data_)});
    data_ = std::string();
}

void PacketReader::feed(std::string_view bytes, std::vector<ReadEvent>& out) {
    for (const char c : bytes) {
        switch (state_) {
            case kIdle:
                if (c == '$')
                    start();
                else if (c == '+')
                    out.push_back({ReadEvent::kAck, {}});
                else if (c == '-')
                    out.push_back({ReadEvent::kNak, {}});
                else if (c == '\x03')
                    out.push_back({ReadEvent::kInterrupt, {}});
                break;
            case kData:
                if (c == '$') {
                    start();
                } else if (c == '#') {
                    state_ = kSum1;
                } else {
                    sum_ = static_cast<uint8_t>(sum_ + static_cast<uint8_t>(c));
                    if (c == '}')
                        state_ = kEscape;
                    else if (c == '*')
                        state_ = kRun;
                    else
                        put(c);
                }
                break;
            case kEscape:
            case kRun:
                if (c == '$') {
                    start();
                } else if (c == '#') {
                    // Cut off: an escape or a run with nothing after it.
                    bad_ = true;
                    state_ = kSum1;
                } else {
                    escaped_or_run(c);
                }
                break;
            case kSum1:
            case kSum2: checksum_digit(c, out); break;
        }
    }
}

std::string frame(std::string_view data) {
    std::string out = "$";
    uint8_t sum = 0;
    const auto add = [&](char c) {
        out.push_back(c);
        sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
    };
    for (const char c : data) {
        if (c == '$' || c == '#' || c == '}' || c == '*') {
            add('}');
            add(static_cast<char>(c ^ 0x20));
        } else {
            add(c);
        }
    }
    out.push_back('#');
    out.push_back(kDigits[sum >> 4]);
    out.push_back(kDigits[sum & 15]);
    return out;
}

std::string to_hex(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        out.push_back(kDigits[static_cast<uint8_t>(c) >> 4]);
        out.push_back(kDigits[static_cast<uint8_t>(c) & 15]);
    }
    return out;
}

namespace {

Command write_registers(std::string_view arguments) {
    std::optional<std::string> bytes = hex_bytes(arguments);
    if (!bytes || bytes->empty()) return malformed();
    Command command = of(Command::kWriteRegisters);
    command.bytes = std::move(*bytes);
    return command;
}

// P<number>=<value, target order>
Command write_register(std::string_view value) {
    const std::optional<std::string_view> name = take_until(value, '=');
    const std::optional<uint32_t> number = name ? hex32(*name) : std::nullopt;
    std::optional<std::string> bytes = hex_bytes(value);
    if (!number || !bytes || bytes->empty()) return malformed();
    Command command = of(Command::kWriteRegister);
    command.number = *number;
    command.bytes = std::move(*bytes);
    return command;
}

// H<g|c><thread>, -1 for every thread.
Command set_thread(std::string_view arguments) {
    if (arguments.size() < 2 || (arguments[0] != 'g' && arguments[0] != 'c')) return malformed();
    const std::string_view thread = arguments.substr(1);
    Command command = of(Command::kSetThread);
    command.operation = arguments[0];
    if (thread == "-1") {
        command.thread = -1;
    } else {
        const std::optional<uint32_t> id = hex32(thread);
        if (!id) return malformed();
        command.thread = *id;
    }
    return command;
}

}  // namespace

Command parse_command(std::string_view packet) {
    if (packet.empty()) return Command{};
    const std::string_view arguments = packet.substr(1);
    switch (packet[0]) {
        case '?': return arguments.empty() ? of(Command::kHaltReason) : Command{};
        case 'g': return arguments.empty() ? of(Command::kReadRegisters) : Command{};
        case 'G': return write_registers(arguments);
        case 'p': {
            const std::optional<uint32_t> number = hex32(arguments);
            if (!number) return malformed();
            Command command = of(Command::kReadRegister);
            command.number = *number;
            return command;
        }
        case 'P': return write_register(arguments);
        case 'm': {
            Command command = of(Command::kReadMemory);
            if (!address_length(arguments, command)) return malformed();
            if (command.length > kMaxMemoryRead) command.length = kMaxMemoryRead;
            return command;
        }
        case 'M': return memory(arguments, false);
        case 'X': return memory(arguments, true);
        case 'c': return resume(Command::kContinue, arguments);
        case 's': return resume(Command::kStep, arguments);
        case 'C': return resume_with_signal(Command::kContinue, arguments);
        case 'S': return resume_with_signal(Command::kStep, arguments);
        case 'Z': return breakpoint(Command::kInsertBreakpoint, arguments);
        case 'z': return breakpoint(Command::kRemoveBreakpoint, arguments);
        case 'H': return set_thread(arguments);
        case 'k': return of(Command::kKill);
        case 'D':
            // D;pid from a debugger that knows several processes: there is one.
            return arguments.empty() || arguments[0] == ';' ? of(Command::kDetach) : Command{};
        case 'q': return query(packet);
        case 'v':
            if (packet.starts_with("vCont")) return vcont(packet.substr(5));
            return Command{};
        default: return Command{};
    }
}

}  // namespace emulator::gdb
