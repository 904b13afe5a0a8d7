// Progress of long work on stderr without flooding it: on a terminal one
// status line rewritten in place (at most a few times a second); elsewhere,
// only when asked, a line at most every two seconds.
#pragma once

#include <chrono>
#include <cstdio>
#include <string>

namespace CLI {
class App;
}

namespace gaugebench {

class Progress {
public:
    enum class Mode {
        kAuto,    // on a terminal only
        kAlways,  // --progress
        kNever,   // --no-progress
    };

    explicit Progress(Mode mode, std::FILE* out = stderr);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // The work's current state; shown when the last one is old enough, or
    // at once when `now` (a new stage of the work).
    void status(const std::string& text, bool now = false);
    // A line that stays (a picture written), whatever the mode.
    void line(const std::string& text);
    // Removes the status line, so that other output starts on a clean line.
    void clear();

private:
    using Clock = std::chrono::steady_clock;

    std::FILE* out_;
    bool shown_;     // whether status lines are shown at all
    bool terminal_;  // rewritten in place
    bool on_screen_ = false;
    bool ever_ = false;
    Clock::time_point last_{};
};

// "<what>: <done> / <total> s, about <left> left": the work's share done
// and the time left at the pace so far (`elapsed` seconds of wall time);
// no estimate before any work is done.
std::string seconds_done(const std::string& what, double done, double total, double elapsed);

// --progress and --no-progress on `command`, setting `mode`.
void add_progress_options(CLI::App& command, Progress::Mode& mode);

}  // namespace gaugebench
