// A record of what module code did, call by call, as JSON Lines: for each
// call into module code its module, gauge and callback, every service it
// called in the vocabulary's names (the variables it read with the values
// it received, the key events it sent), the Windows functions it called
// with their arguments by name, the instructions it ran and the
// time on the simulated clock. The host writes it through the hooks below
// (a CallScope enters and leaves, Host::serve reports services), and only
// when a trace is attached: without one, each hook is a null check.
//
// Each call is one line, written when the call ends; a call nested in
// another (a key-event routine run by an event a mouse handler sent) is a
// line of its own, with its depth, and so comes before the line of the call
// it ran in. Failures the host looks up for a gauge's elements, outside
// module code, are a line of the gauge's "failure check (host)". A call an
// exception left (a fault, a stop) is marked cut short; a fault's line also
// says what the fault was and where in the module's source, once the host
// has told it (fault()).
//
// Lines go to a stdio stream through a buffer the trace fills and writes
// whole; the stream's owner makes the file whole or not at all. What a trace
// holds stays bounded however module code behaves: a line lists a call's
// first services and counts the rest ("services_dropped"), and so for its
// Windows calls ("win32_dropped"), and a file given
// a limit ends, at a whole line, with a last line saying it was cut there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace runtime {

class Module;
struct KeyEvent;

// Which calls are traced: those of the gauges named (every gauge when none
// is) and of the callbacks named (every callback when none is), names
// compared letter case aside. A callback name matches as a whole ("mouse
// handler"), by its first words ("gauge_callback" for every service of
// it) or by its words in parentheses ("update"). A call nested in a traced
// one is traced with it.
struct TraceFilter {
    std::vector<std::string> gauges;
    std::vector<std::string> callbacks;

    bool matches(std::string_view gauge, std::string_view callback) const;
};

class Trace {
public:
    // Lines go to `out`; null writes none and keeps only the recent calls.
    // `recent_per_gauge`: how many of each gauge's latest lines to keep for
    // recent() (0: none). `limit_bytes`: the most `out` receives, the line
    // saying it was cut included (0: no limit).
    explicit Trace(std::FILE* out, TraceFilter filter = {}, size_t recent_per_gauge = 0, uint64_t limit_bytes = 0);
    ~Trace();
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

    // Writes what is buffered to the stream; whether every write so far
    // succeeded.
    bool flush() noexcept;
    // Flushes and writes no more (the stream is about to close); later
    // calls are still kept for recent().
    bool end() noexcept;
    uint64_t lines() const { return lines_; }
    // Whether the limit ended the file; `reached` is told once, when it does.
    bool cut() const { return cut_; }
    void when_cut(std::function<void()> reached) { when_cut_ = std::move(reached); }

    // A gauge's latest lines, oldest first (kept only with recent_per_gauge).
    std::vector<std::string> recent(std::string_view gauge) const;

    // --- The host's hooks. None throws: they run around module code. ---
    // `event`: the key event a key-event routine is run for, null for any other call.
    void enter(const Module& module, std::string_view gauge, std::string_view callback,
               const KeyEvent* event = nullptr) noexcept;
    void leave() noexcept;
    // The fault that cut the module's latest call short, as the host reports
    // it (`text`), and the source line it lies at ("debuggee.cpp:35"; empty
    // where the module has no line for it). Told after the call has left.
    void fault(const Module& module, std::string_view text, std::string_view source) noexcept;
    // A service call, once served: `args` as the module passed them.
    void service(const Module& caller, uint32_t slot, std::span<const uint32_t> args) noexcept;
    // A Windows function module code called, as it begins: its name
    // ("KERNEL32.dll!Sleep") and its arguments by name, made only for a
    // traced call ("milliseconds=10"). Listed apart from the services, in a
    // line's "win32" as "KERNEL32.dll!Sleep(milliseconds=10)".
    void win32(std::string_view function, const std::function<std::string()>& arguments) noexcept;
    // A failure key the host looked up for one of the gauge's elements.
    void failure(const Module& module, std::string_view gauge, uint32_t failure_key, bool failed) noexcept;
    // One panel update: the simulated clock's step.
    void tick() noexcept;

    // Seconds on the simulated clock: the panel updates counted so far.
    double seconds() const;
    uint64_t updates() const { return updates_; }

private:
    // Lines are written out in pieces of about this size.
    static constexpr size_t kFlushBytes = size_t{1} << 18;
    // A line's services listed before the rest are only counted: a call
    // reading a variable millions of times would otherwise make a line of
    // hundreds of megabytes, held whole until the call ends. The bytes bound
    // the few services whose entries are long (calculator programs).
    static constexpr size_t kServicesListed = 64;
    static constexpr size_t kServiceBytesListed = size_t{1} << 20;
    // The most the line saying the file was cut takes.
    static constexpr size_t kCutLineBytes = 128;

    struct Frame {
        const Module* module = nullptr;
        bool traced = false;
        bool host = false;  // the host's own questions, not module code
        int exceptions = 0;
        uint64_t instructions = 0;
        std::string gauge;
        std::string line;  // the line so far, up to its services' entries
        size_t services = 0;
        uint64_t dropped = 0;  // services beyond those listed
        std::string win32;     // the Windows calls' entries, comma-separated
        size_t win32_calls = 0;
        uint64_t win32_dropped = 0;
    };

    void open(Frame& frame, const Module& module, std::string_view gauge, std::string_view callback, bool host,
              const KeyEvent* event);
    void close(Frame& frame, bool faulted);
    // Writes the line of a call cut short that no fault was told for.
    void settle() noexcept;
    void close_host_line();
    // Whether the frame lists one more service (after its separator); one
    // not listed is counted.
    bool add_service_separator(Frame& frame);
    void cut_here();
    // Whether a line made now goes anywhere: once the file is cut (or
    // ended) only recent() may still want it.
    bool keeps_lines() const { return out_ != nullptr || recent_per_gauge_ != 0; }
    // A line's start: {"t":<seconds>,"update":<count>
    void add_time(std::string& line) const;
    const std::string& module_name(const Module& module);
    void emit(const std::string& gauge, const std::string& line);

    std::FILE* out_;
    TraceFilter filter_;
    size_t recent_per_gauge_;
    uint64_t limit_;
    uint64_t written_ = 0;  // bytes given to out_, buffered ones included
    bool cut_ = false;
    std::function<void()> when_cut_;
    std::string buffer_;
    bool failed_ = false;
    uint64_t lines_ = 0;
    uint64_t updates_ = 0;
    std::vector<Frame> frames_;  // by depth; kept for their buffers
    size_t depth_ = 0;
    Frame host_line_;
    bool host_open_ = false;
    // The line of the call an exception left last, its end still to come:
    // the host tells the fault only once the call's scope has gone.
    Frame cut_short_;
    bool cut_short_open_ = false;
    std::vector<std::pair<const Module*, std::string>> module_names_;
    std::map<std::string, std::deque<std::string>, std::less<>> recent_;
};

}  // namespace runtime
