#include "emulator/gdb/gdb_stub.h"

#include <algorithm>
#include <stdexcept>

#include "emulator/gdb/gdb_target.h"

namespace emulator::gdb {
namespace {

// How long a wait looks away from the program's own end.
constexpr int kPollMs = 100;

std::string hex32(uint32_t value) {
    char text[12];
    std::snprintf(text, sizeof text, "%x", value);
    return text;
}

std::string xfer_piece(std::string_view document, uint32_t offset, uint32_t length) {
    if (offset >= document.size()) return "l";
    const std::string_view piece = document.substr(offset, length);
    return (offset + piece.size() < document.size() ? "m" : "l") + std::string(piece);
}

std::string xml_escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

}  // namespace

Stub::~Stub() {
    for (const Machine& m : machines_) m.machine->attach_debugger(nullptr);
}

void Stub::end(int status) {
    if (!stream_) return;
    if (running_) {  // it waits for module code to stop: the exit is its answer
        char reply[8];
        std::snprintf(reply, sizeof reply, "W%02x", static_cast<unsigned>(status) & 0xFF);
        send(reply);
    }
    if (stream_) stream_->close();
    stream_.reset();
    tell("the program ended with status " + std::to_string(status) + ": the debugger was let go");
}

void Stub::tell(const std::string& line) const {
    if (say) say(line);
}

void Stub::connect(std::unique_ptr<platform::ByteStream> stream) {
    if (!stream) return;
    if (stream_) {
        stream->close();
        tell("a second debugger was refused: one is attached");
        return;
    }
    stream_ = std::move(stream);
    reader_ = PacketReader();
    events_.clear();
    last_sent_.clear();
    running_ = false;
    last_stop_.reset();
    tell("a debugger attached from " + stream_->peer());
    // Module code stops for it at the next instruction it runs.
    stop_first_ = true;
    for (const Machine& m : machines_) m.machine->request_debug_stop();
    if (!machines_.empty()) stop_first_ = false;
}

void Stub::take_connections() {
    if (!next_connection) return;
    while (std::unique_ptr<platform::ByteStream> stream = next_connection()) connect(std::move(stream));
}

void Stub::drop_connection(const char* why) {
    if (!stream_) return;
    stream_->close();
    stream_.reset();
    clear_points();
    events_.clear();
    stop_first_ = false;
    tell(std::string("the debugger ") + why + ": the session goes on");
}

void Stub::adopt(DebugTarget& machine, std::function<std::vector<Library>()> libraries) {
    machines_.push_back({&machine, std::move(libraries)});
    machine.attach_debugger(this);
    for (uint32_t address : breakpoints_) machine.set_breakpoint(address, true);
    for (const Watch& w : watches_) machine.set_watchpoint(w.address, w.length, w.kind, true);
    if (stop_first_) {
        machine.request_debug_stop();
        stop_first_ = false;
    }
    if (current_ == nullptr) current_ = &machine;
}

void Stub::forget(DebugTarget& machine) noexcept {
    std::erase_if(machines_, [&](const Machine& m) { return m.machine == &machine; });
    if (current_ == &machine) current_ = machines_.empty() ? nullptr : machines_.back().machine;
}

// Reads what the debugger sent, waiting up to a poll period when `wait`;
// false when the connection ended.
bool Stub::read_available(bool wait) {
    std::string got;
    if (!stream_->read(got, wait ? kPollMs : 0)) return false;
    std::vector<ReadEvent> read;
    reader_.feed(got, read);
    for (ReadEvent& event : read) events_.push_back(std::move(event));
    return true;
}

void Stub::send_raw(const std::string& bytes) {
    if (stream_ && !stream_->write(bytes)) drop_connection("stopped reading");
}

void Stub::send(const std::string& data) {
    last_sent_ = frame(data);
    send_raw(last_sent_);
}

bool Stub::interrupted() noexcept {
    try {
        take_connections();
        if (!stream_) return false;
        if (!read_available(false)) {
            drop_connection("went away");
            return false;
        }
        const auto interrupt = std::find_if(events_.begin(), events_.end(),
                                            [](const ReadEvent& e) { return e.kind == ReadEvent::kInterrupt; });
        if (interrupt == events_.end()) return false;
        events_.erase(interrupt);
        return true;
    } catch (...) {
        return false;
    }
}

std::string Stub::stop_reply(const DebugStop& stop) const {
    char head[8];
    std::snprintf(head, sizeof head, "T%02x", static_cast<unsigned>(stop.signal));
    std::string reply = std::string(head) + "thread:1;";
    if (stop.reason == DebugStop::Reason::kBreakpoint) reply += "swbreak:;";
    if (stop.reason == DebugStop::Reason::kWatch) {
        const char* kind = stop.watch == WatchKind::kWrite  ? "watch"
                           : stop.watch == WatchKind::kRead ? "rwatch"
                                                            : "awatch";
        reply += std::string(kind) + ":" + hex32(stop.watch_address) + ";";
    }
    return reply;
}

Debugger::Resume Stub::stopped(DebugTarget& machine, const DebugStop& stop) noexcept {
    try {
        if (!stream_) return Resume::kContinue;
        current_ = &machine;
        last_stop_ = stop;
        std::string where = describe ? describe(machine, stop.pc) : hex32(stop.pc);
        if (running_) {
            // GDB says where a breakpoint, a step or a watch stopped (and
            // evaluates a condition at every stop, silently); a fault is told
            // why, an interrupt which gauge it found running.
            if (stop.reason == DebugStop::Reason::kFault || stop.reason == DebugStop::Reason::kInterrupt) {
                std::string news = "stopped in " + where;
                if (stop.fault != nullptr) news += ": " + std::string(stop.fault->what());
                send("O" + to_hex(news + "\n"));
            }
            send(stop_reply(stop));
            running_ = false;
        }
        if (on_stop) on_stop(where);
        Outcome outcome = Outcome::kServe;
        while (outcome == Outcome::kServe) {
            if (machine.ending()) break;
            take_connections();
            if (events_.empty() && !read_available(true)) {
                drop_connection("went away");
                break;
            }
            while (!events_.empty() && outcome == Outcome::kServe && stream_) {
                ReadEvent event = std::move(events_.front());
                events_.pop_front();
                switch (event.kind) {
                    case ReadEvent::kPacket:
                        send_raw("+");
                        outcome = serve(parse_command(event.data), machine);
                        break;
                    case ReadEvent::kNak: send_raw(last_sent_); break;
                    case ReadEvent::kBadChecksum: send_raw("-"); break;
                    case ReadEvent::kTooLong:
                        send_raw("+");
                        send("E01");
                        break;
                    default: break;
                }
            }
            if (!stream_) break;
        }
        if (on_resume) on_resume();
        if (outcome == Outcome::kDetach) drop_connection("detached");
        running_ = outcome == Outcome::kContinue || outcome == Outcome::kStep;
        return outcome == Outcome::kStep ? Resume::kStep : Resume::kContinue;
    } catch (...) {
        return Resume::kContinue;
    }
}

std::string Stub::read_memory(const DebugTarget& machine, uint32_t address, uint32_t length) const {
    // As far as it is readable: GDB takes a short answer, and an error only
    // when not even the first byte is.
    length = std::min(length, kMaxMemoryRead);
    std::string bytes;
    while (bytes.size() < length) {
        const uint32_t at = address + static_cast<uint32_t>(bytes.size());
        const uint32_t page_left = DebugTarget::kPageSize - at % DebugTarget::kPageSize;
        const uint32_t take = std::min<uint32_t>(page_left, length - static_cast<uint32_t>(bytes.size()));
        std::string piece(take, '\0');
        try {
            machine.debugger_read(at, std::span(reinterpret_cast<uint8_t*>(piece.data()), piece.size()));
        } catch (const std::exception&) {
            break;
        }
        bytes += piece;
        if (at + take < at) break;  // the top of the address space
    }
    return bytes;
}

bool Stub::set_point(const Command& command, bool set, DebugTarget& machine) {
    // The machine stopped judges where a point may go: every machine runs
    // the same module at the same place, and one that has not loaded it yet
    // takes the point harmlessly.
    const auto refused = [&](size_t count, uint32_t length, DebugTarget::DebuggerReach reach) {
        return count >= DebugTarget::kMaxDebugPoints || !machine.debugger_reaches(command.address, length, reach);
    };
    const bool code = command.breakpoint == Command::kSoftware || command.breakpoint == Command::kHardware;
    if (code) {
        if (set == breakpoints_.contains(command.address)) return true;
        if (set) {
            if (refused(breakpoints_.size(), 1, DebugTarget::DebuggerReach::kCode)) return false;
            breakpoints_.insert(command.address);
        } else {
            breakpoints_.erase(command.address);
        }
        for (const Machine& m : machines_) m.machine->set_breakpoint(command.address, set);
        return true;
    }
    const WatchKind kind = command.breakpoint == Command::kWriteWatch  ? WatchKind::kWrite
                           : command.breakpoint == Command::kReadWatch ? WatchKind::kRead
                                                                       : WatchKind::kAccess;
    const Watch watch{command.address, std::max<uint32_t>(command.length, 1), kind};
    if (set == watches_.contains(watch)) return true;
    if (set) {
        if (refused(watches_.size(), watch.length, DebugTarget::DebuggerReach::kModule)) return false;
        watches_.insert(watch);
    } else {
        watches_.erase(watch);
    }
    for (const Machine& m : machines_) m.machine->set_watchpoint(watch.address, watch.length, watch.kind, set);
    return true;
}

void Stub::clear_points() {
    for (const Machine& m : machines_) m.machine->clear_debug_points();
    breakpoints_.clear();
    watches_.clear();
}

std::string Stub::libraries_xml() const {
    std::string xml = "<library-list>";
    std::vector<std::string> listed;
    for (const Machine& m : machines_) {
        if (m.machine != current_ || !m.libraries) continue;
        for (const Library& library : m.libraries()) {
            if (std::find(listed.begin(), listed.end(), library.path) != listed.end()) continue;
            listed.push_back(library.path);
            xml += "<library name=\"" + xml_escaped(library.path) + "\"><segment address=\"0x" +
                   hex32(library.first_section) + "\"/></library>";
        }
    }
    return xml + "</library-list>";
}

namespace {

// The reply to a register write: refused as E02 when the target will not
// take the registers.
std::string store_registers(DebugTarget& machine, const Registers& registers) {
    try {
        machine.set_registers(registers);
        return "OK";
    } catch (const std::exception&) {
        return "E02";
    }
}

std::string store_memory(DebugTarget& machine, const Command& command) {
    try {
        machine.debugger_write(command.address,
                               std::span(reinterpret_cast<const uint8_t*>(command.bytes.data()), command.bytes.size()));
        return "OK";
    } catch (const std::exception&) {
        return "E14";
    }
}

}  // namespace

std::string Stub::reply(const Command& command, DebugTarget& machine) {
    switch (command.kind) {
        case Command::kMalformed: return "E01";
        case Command::kHaltReason: return stop_reply(last_stop_.value_or(DebugStop{}));
        case Command::kReadRegisters: return to_hex(all_registers(machine.registers(), machine.float_registers()));
        case Command::kWriteRegisters: {
            const std::optional<Registers> registers = from_register_file(command.bytes);
            return registers ? store_registers(machine, *registers) : "E01";
        }
        case Command::kReadRegister: {
            std::optional<std::string> value = register_value(machine.registers(), command.number);
            if (!value) value = float_register_value(machine.float_registers(), command.number);
            return value ? to_hex(*value) : "E01";
        }
        case Command::kWriteRegister: {
            Registers registers = machine.registers();
            if (!set_register_value(registers, command.number, command.bytes)) return "E01";
            return store_registers(machine, registers);
        }
        case Command::kReadMemory: {
            const std::string bytes = read_memory(machine, command.address, command.length);
            return bytes.empty() && command.length != 0 ? "E14" : to_hex(bytes);
        }
        case Command::kWriteMemory: return store_memory(machine, command);
        case Command::kVContQuery: return "vCont;c;C;s;S";
        case Command::kInsertBreakpoint:
        case Command::kRemoveBreakpoint:
            return set_point(command, command.kind == Command::kInsertBreakpoint, machine) ? "OK" : "E01";
        case Command::kSupported:
            return "PacketSize=" + hex32(static_cast<uint32_t>(kMaxPacket)) +
                   ";qXfer:features:read+;qXfer:libraries:read+;swbreak+;hwbreak+;vContSupported+";
        case Command::kReadLibraries: return xfer_piece(libraries_xml(), command.offset, command.length);
        case Command::kReadFeatures: {
            const std::optional<std::string_view> document = target_description(command.annex);
            return document ? xfer_piece(*document, command.offset, command.length) : "E00";
        }
        case Command::kAttached: return "1";
        case Command::kThreadBlock: return hex32(machine.thread_block());
        case Command::kCurrentThread: return "QC1";
        case Command::kFirstThreads: return "m1";
        case Command::kNextThreads: return "l";
        case Command::kSetThread: return "OK";
        default: return "";  // unknown to this stub: gdb falls back
    }
}

Stub::Outcome Stub::serve(const Command& command, DebugTarget& machine) {
    switch (command.kind) {
        case Command::kContinue:
        case Command::kStep:
            if (command.has_address) {
                Registers registers = machine.registers();
                registers.eip = command.address;
                machine.set_registers(registers);
            }
            return command.kind == Command::kStep ? Outcome::kStep : Outcome::kContinue;
        case Command::kKill: return Outcome::kDetach;
        case Command::kDetach: send("OK"); return Outcome::kDetach;
        default: send(reply(command, machine)); return Outcome::kServe;
    }
}

}  // namespace emulator::gdb
