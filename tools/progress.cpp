#include "tools/progress.h"

#include <sys/types.h>
#include <unistd.h>

#include <CLI/CLI.hpp>

#include <cmath>
#include <stdexcept>
#include <utility>

#include "tools/command_line.h"

namespace gaugebench {
namespace {

// A terminal redraws often enough to look alive; a log gets a line now and
// then, so that a long run shows it is moving without burying the results.
constexpr std::chrono::milliseconds kTerminalEvery{200};
constexpr std::chrono::milliseconds kLogEvery{2000};

}  // namespace

// A stdio stream whose complete lines go to a function.
class Progress::LineStream {
public:
    explicit LineStream(std::function<void(const std::string&)> sink) : sink_(std::move(sink)) {
        cookie_io_functions_t functions{};
        functions.write = &LineStream::write;
        file_ = fopencookie(this, "w", functions);
        if (file_ == nullptr) throw std::runtime_error("cannot make an output stream");
        setvbuf(file_, nullptr, _IOLBF, 0);
    }
    ~LineStream() {
        std::fclose(file_);
        if (!pending_.empty()) sink_(pending_);
    }
    LineStream(const LineStream&) = delete;
    LineStream& operator=(const LineStream&) = delete;

    std::FILE* file() const { return file_; }

private:
    static ssize_t write(void* cookie, const char* data, size_t size) {
        auto* self = static_cast<LineStream*>(cookie);
        self->pending_.append(data, size);
        size_t start = 0;
        for (size_t end; (end = self->pending_.find('\n', start)) != std::string::npos; start = end + 1) {
            self->sink_(self->pending_.substr(start, end - start));
        }
        self->pending_.erase(0, start);
        return static_cast<ssize_t>(size);
    }

    std::function<void(const std::string&)> sink_;
    std::string pending_;
    std::FILE* file_ = nullptr;
};

Progress::Progress(Mode mode, std::FILE* out) : out_(out), terminal_(isatty(fileno(out)) != 0) {
    // --quiet drops the progress a terminal would show; --progress asks for it.
    shown_ = mode == Mode::kAlways || (mode == Mode::kAuto && terminal_ && !console().quiet());
}

Progress::~Progress() {
    streams_.clear();  // their last lines first
    clear();
}

void Progress::status(const std::string& text, bool now) {
    if (!shown_) return;
    // Kept though not drawn yet: a line printed next brings back the state of now.
    if (terminal_) last_ = text;
    const Clock::time_point time = Clock::now();
    if (!now && ever_ && time - last_time_ < (terminal_ ? kTerminalEvery : kLogEvery)) return;
    ever_ = true;
    last_time_ = time;
    last_ = text;
    if (terminal_) {
        draw();
    } else {
        std::fprintf(out_, "%s\n", text.c_str());
        std::fflush(out_);
    }
}

void Progress::draw() {
    // Back to the line's start, the text, the rest of the old text erased.
    std::fprintf(out_, "\r%s\033[K", last_.c_str());
    std::fflush(out_);
    on_screen_ = true;
}

void Progress::line(const std::string& text, std::FILE* to) {
    if (to == nullptr) to = out_;
    // Only a line on the status line's screen has to make room for it.
    const bool covered = on_screen_ && (to == out_ || isatty(fileno(to)) != 0);
    if (covered) clear();
    std::fprintf(to, "%s\n", text.c_str());
    std::fflush(to);
    if (covered) draw();
}

std::FILE* Progress::lines_to(std::FILE* to) {
    return lines_to([this, to](const std::string& text) { line(text, to); });
}

std::FILE* Progress::lines_to(std::function<void(const std::string&)> sink) {
    streams_.push_back(std::make_unique<LineStream>(std::move(sink)));
    return streams_.back()->file();
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
