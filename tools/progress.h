// Progress of long work on stderr without flooding it: on a terminal one
// status line rewritten in place (at most a few times a second); elsewhere,
// only when asked, a line at most every two seconds. Whatever else the work
// prints while the status line is shown goes through here, so that on a
// terminal the two never share a line.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

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
    // A line that stays (a picture written, a scenario's print), whatever
    // the mode, on `to` (default: the progress stream): a status line on the
    // screen is taken away first and drawn again after it.
    void line(const std::string& text, std::FILE* to = nullptr);
    // A stdio stream whose complete lines go out as line(text, to) does, for
    // code that prints as it goes (the scenario runner); or to `sink`. Each
    // lasts as long as this object.
    std::FILE* lines_to(std::FILE* to);
    std::FILE* lines_to(std::function<void(const std::string&)> sink);
    // Removes the status line, so that other output starts on a clean line;
    // the lines after it no longer bring it back.
    void clear();

    class LineStream;

private:
    using Clock = std::chrono::steady_clock;

    void draw();

    std::FILE* out_;
    bool shown_;     // whether status lines are shown at all
    bool terminal_;  // rewritten in place
    bool on_screen_ = false;
    bool ever_ = false;
    std::string last_;  // the status shown, drawn again after a line
    Clock::time_point last_time_{};
    std::vector<std::unique_ptr<LineStream>> streams_;
};

// "<what>: <done> / <total> s, about <left> left": the work's share done
// and the time left at the pace so far (`elapsed` seconds of wall time);
// no estimate before any work is done.
std::string seconds_done(const std::string& what, double done, double total, double elapsed);

// --progress and --no-progress on `command`, setting `mode`.
void add_progress_options(CLI::App& command, Progress::Mode& mode);

}  // namespace gaugebench
