#include "tools/progress.h"

#include <CLI/CLI.hpp>

#include <cmath>

#include "tools/command_line.h"

#ifdef _WIN32
#include <io.h>
#define KORVANE_ISATTY _isatty
#define KORVANE_FILENO _fileno
#else
#include <unistd.h>
#define KORVANE_ISATTY isatty
#define KORVANE_FILENO fileno
#endif

namespace gaugebench {
namespace {

// A terminal redraws often enough to look alive; a log gets a line now and
// then, so that a long run shows it is moving without burying the results.
constexpr std::chrono::milliseconds kTerminalEvery{200};
constexpr std::chrono::milliseconds kLogEvery{2000};

}  // namespace

Progress::Progress(Mode mode, std::FILE* out) : out_(out), terminal_(KORVANE_ISATTY(KORVANE_FILENO(out)) != 0) {
    // --quiet drops the progress a terminal would show; --progress asks for it.
    shown_ = mode == Mode::kAlways || (mode == Mode::kAuto && terminal_ && !console().quiet());
}

Progress::~Progress() { clear(); }

void Progress::status(const std::string& text, bool now) {
    if (!shown_) return;
    const Clock::time_point time = Clock::now();
    if (!now && ever_ && time - last_ < (terminal_ ? kTerminalEvery : kLogEvery)) return;
    ever_ = true;
    last_ = time;
    if (terminal_) {
        // Back to the line's start, the text, the rest of the old text erased.
        std::fprintf(out_, "\r%s\033[K", text.c_str());
        on_screen_ = true;
    } else {
        std::fprintf(out_, "%s\n", text.c_str());
    }
    std::fflush(out_);
}

void Progress::line(const std::string& text) {
    clear();
    std::fprintf(out_, "%s\n", text.c_str());
    std::fflush(out_);
}

void Progress::clear() {
    if (!on_screen_) return;
    std::fprintf(out_, "\r\033[K");
    std::fflush(out_);
    on_screen_ = false;
}

std::string seconds_done(const std::string& what, double done, double total, double elapsed) {
    char text[160];
    int size = std::snprintf(text, sizeof text, "%s: %.0f / %.0f s", what.c_str(), done, total);
    if (done > 0.0 && total > done && elapsed > 0.0 && size > 0 && size < static_cast<int>(sizeof text)) {
        const long left = std::lround(elapsed * (total - done) / done);
        if (left >= 60) {
            std::snprintf(text + size, sizeof text - static_cast<size_t>(size), ", about %ld min %02ld s left",
                          left / 60, left % 60);
        } else {
            std::snprintf(text + size, sizeof text - static_cast<size_t>(size), ", about %ld s left", left);
        }
    }
    return text;
}

void add_progress_options(CLI::App& command, Progress::Mode& mode) {
    command.add_flag_callback(
        "--progress", [&mode] { mode = Progress::Mode::kAlways; },
        "show progress on stderr even when it is no terminal (a line at most every 2 s)");
    command.add_flag_callback(
        "--no-progress", [&mode] { mode = Progress::Mode::kNever; }, "show no progress, even on a terminal");
}

}  // namespace gaugebench
