// A GDB remote stub over the emulator: a debugger (i686-w64-mingw32-gdb,
// gdb-multiarch) attaches with `target remote HOST:PORT` to the machines
// running one module, and stops, steps and inspects its code there while
// the host goes on around it. One debugger at a time: another connection
// is refused while one is attached; one that goes away, even mid-stop,
// leaves module code running as if it had never been there, and the next
// may attach. Everything runs on the thread that runs module code: the
// debugger's bytes are read while module code is stopped, and polled for
// its interrupt (Ctrl-C) while it runs.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "emulator/debugger.h"
#include "emulator/gdb_packets.h"
#include "platform/net_address.h"

namespace emulator::gdb {

// A module loaded in a debugged machine, as GDB places its symbols: the
// file and the address of its first section.
struct Library {
    std::string path;
    uint32_t first_section = 0;
};

class Stub : public Debugger {
public:
    // Listens on the first of `addresses` it can (port 0: any free one);
    // throws std::runtime_error naming the address and the reason.
    explicit Stub(std::span<const platform::SocketAddress> addresses);
    ~Stub() override;
    Stub(const Stub&) = delete;
    Stub& operator=(const Stub&) = delete;

    // Where it listens: the numeric address bound, the port given or chosen.
    std::string host() const { return host_; }
    uint16_t port() const { return port_; }

    // Waits for a debugger to connect; false when the program is told to
    // end first (EmulatedMachine::stop_all_calls()).
    bool wait_for_debugger();

    // A machine running the debugged module: the breakpoints and watches
    // asked for are set in it, and the first one adopted after a debugger
    // connects stops at its first instruction. `libraries` lists what the
    // machine holds (asked when the debugger asks).
    void adopt(EmulatedMachine& machine, std::function<std::vector<Library>()> libraries);

    // What the host says where module code stopped ("Korvane!Altimeter,
    // gauge_callback (update), altimeter.cpp:42"); the address alone when unset.
    std::function<std::string(EmulatedMachine& machine, uint32_t pc)> describe;
    // Told each stop (with describe's text) and each resumption, on this thread.
    std::function<void(const std::string& where)> on_stop;
    std::function<void()> on_resume;
    // Messages for the user: a debugger attached, refused, gone.
    std::function<void(const std::string& line)> say;

    // The program ends with `status`: a debugger waiting for module code to
    // stop hears that it exited with that code, and the connection closes.
    void end(int status);

    Resume stopped(EmulatedMachine& machine, const DebugStop& stop) noexcept override;
    bool interrupted() noexcept override;
    void forget(EmulatedMachine& machine) noexcept override;

private:
    struct Machine {
        EmulatedMachine* machine;
        std::function<std::vector<Library>()> libraries;
    };
    struct Watch {
        uint32_t address, length;
        WatchKind kind;
        auto operator<=>(const Watch&) const = default;
    };
    enum class Outcome { kServe, kContinue, kStep, kDetach };

    void accept_waiting();
    void refuse_waiting();
    bool read_available(bool wait);
    void drop_connection(const char* why);
    void send(const std::string& data);
    void send_raw(const std::string& bytes);
    Outcome serve(const Command& command, EmulatedMachine* machine);
    std::string stop_reply(const DebugStop& stop) const;
    std::string libraries_xml() const;
    std::string read_memory(EmulatedMachine* machine, uint32_t address, uint32_t length) const;
    // Z and z: false when refused (beyond the module's memory, or past the cap).
    bool set_point(const Command& command, bool set, EmulatedMachine& machine);
    void clear_points();
    void tell(const std::string& line) const;

    int listener_ = -1;
    int connection_ = -1;
    std::string host_;
    uint16_t port_ = 0;
    PacketReader reader_;
    std::deque<ReadEvent> events_;
    std::string last_sent_;
    bool running_ = false;     // the debugger was told module code runs: a stop is news to it
    bool stop_first_ = false;  // the next machine adopted stops at its first block
    std::optional<DebugStop> last_stop_;
    std::vector<Machine> machines_;
    EmulatedMachine* current_ = nullptr;
    std::set<uint32_t> breakpoints_;
    std::set<Watch> watches_;
};

}  // namespace emulator::gdb
