// A GDB remote stub over the emulator: a debugger (i686-w64-mingw32-gdb,
// gdb-multiarch) attached to the machines running one module stops, steps
// and inspects its code there while the host goes on around it. The stub
// serves whatever byte stream it is handed (whoever listens hands it each
// connection, and words its own messages about the listening). One
// debugger at a time: another stream is refused while one is attached; one
// that goes away, even mid-stop, leaves module code running as if it had
// never been there, and the next may attach. Everything runs on the thread
// that runs module code: the debugger's bytes are read while module code is
// stopped, and polled for its interrupt (Ctrl-C) while it runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "emulator/machine/debugger.h"
#include "emulator/gdb/gdb_packets.h"
#include "platform/listener.h"

namespace emulator::gdb {

// A module loaded in a debugged machine, as GDB places its symbols: the
// file and the address of its first section.
struct Library {
    std::string path;
    uint32_t first_section = 0;
};

class Stub : public Debugger {
public:
    Stub() = default;
    ~Stub() override;
    Stub(const Stub&) = delete;
    Stub& operator=(const Stub&) = delete;

    // A debugger connected over `stream`: it is attached, and module code
    // stops for it at the next instruction it runs; while one is attached,
    // the new one is refused (its stream closed).
    void connect(std::unique_ptr<platform::ByteStream> stream);
    bool attached() const { return stream_ != nullptr; }
    // Asked between reads, while module code runs or waits at a stop, for a
    // debugger that connected since (to refuse it, or to attach it after one
    // went away); null when none did. Unset: none ever does.
    std::function<std::unique_ptr<platform::ByteStream>()> next_connection;

    // A machine running the debugged module: the breakpoints and watches
    // asked for are set in it, and the first one adopted after a debugger
    // connects stops at its first instruction. `libraries` lists what the
    // machine holds (asked when the debugger asks).
    void adopt(DebugTarget& machine, std::function<std::vector<Library>()> libraries);

    // What the host says where module code stopped ("Korvane!Altimeter,
    // gauge_callback (update), altimeter.cpp:42"); the address alone when unset.
    std::function<std::string(DebugTarget& machine, uint32_t pc)> describe;
    // Told each stop (with describe's text) and each resumption, on this thread.
    std::function<void(const std::string& where)> on_stop;
    std::function<void()> on_resume;
    // Messages for the user: a debugger attached, refused, gone.
    std::function<void(const std::string& line)> say;

    // The program ends with `status`: a debugger waiting for module code to
    // stop hears that it exited with that code, and the connection closes.
    void end(int status);

    Resume stopped(DebugTarget& machine, const DebugStop& stop) noexcept override;
    bool interrupted() noexcept override;
    void forget(DebugTarget& machine) noexcept override;

private:
    struct Machine {
        DebugTarget* machine;
        std::function<std::vector<Library>()> libraries;
    };
    struct Watch {
        uint32_t address, length;
        WatchKind kind;
        auto operator<=>(const Watch&) const = default;
    };
    enum class Outcome { kServe, kContinue, kStep, kDetach };

    void take_connections();
    bool read_available(bool wait);
    void drop_connection(const char* why);
    void send(const std::string& data);
    void send_raw(const std::string& bytes);
    Outcome serve(const Command& command, DebugTarget& machine);
    // The reply to a command that neither runs nor ends the session.
    std::string reply(const Command& command, DebugTarget& machine);
    std::string stop_reply(const DebugStop& stop) const;
    std::string libraries_xml() const;
    std::string read_memory(const DebugTarget& machine, uint32_t address, uint32_t length) const;
    // Z and z: false when refused (beyond the module's memory, or past the cap).
    bool set_point(const Command& command, bool set, DebugTarget& machine);
    void clear_points();
    void tell(const std::string& line) const;

    std::unique_ptr<platform::ByteStream> stream_;
    PacketReader reader_;
    std::deque<ReadEvent> events_;
    std::string last_sent_;
    bool running_ = false;     // the debugger was told module code runs: a stop is news to it
    bool stop_first_ = false;  // the next machine adopted stops at its first block
    std::optional<DebugStop> last_stop_;
    std::vector<Machine> machines_;
    DebugTarget* current_ = nullptr;
    std::set<uint32_t> breakpoints_;
    std::set<Watch> watches_;
};

}  // namespace emulator::gdb
