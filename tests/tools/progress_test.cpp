// The progress line on a terminal and the lines printed while it is shown
// (a scenario's print and echo, warnings, pictures written) never share a
// line: read back from a pseudo-terminal as a screen shows it.
#include <gtest/gtest.h>

#include <poll.h>
#include <pty.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "tools/progress.h"

namespace {

// The screen's lines after `bytes`: carriage return, erase to the line's
// end and newline, as a terminal takes them.
std::vector<std::string> screen(const std::string& bytes) {
    std::vector<std::string> lines(1);
    size_t column = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::string& line = lines.back();
        if (bytes.compare(i, 3, "\033[K") == 0) {
            line.resize(std::min(line.size(), column));
            i += 2;
        } else if (bytes[i] == '\r') {
            column = 0;
        } else if (bytes[i] == '\n') {
            lines.emplace_back();
            column = 0;
        } else {
            if (column < line.size()) {
                line[column] = bytes[i];
            } else {
                line += bytes[i];
            }
            ++column;
        }
    }
    if (lines.back().empty()) lines.pop_back();
    return lines;
}

struct Case {
    const char* name;
    std::function<void(gaugebench::Progress&, std::FILE*)> work;
    std::vector<std::string> shown;
};

TEST(Progress, PrintedLinesNeverShareTheProgressLine) {
    const Case cases[] = {
        {"a line while the status is shown",
         [](gaugebench::Progress& progress, std::FILE*) {
             progress.status("fly: 10 / 300 s", true);
             progress.line("  10.0 s: flight_0010.0s.png");
         },
         {"  10.0 s: flight_0010.0s.png", "fly: 10 / 300 s"}},
        {"a printer's lines, written in pieces",
         [](gaugebench::Progress& progress, std::FILE* terminal) {
             std::FILE* printed = progress.lines_to(terminal);
             progress.status("scenario: 40 updates run", true);
             std::fputs("[update 40]  airs", printed);
             std::fflush(printed);
             std::fputs("peed = 180 kt\nhello\n", printed);
             std::fflush(printed);
         },
         {"[update 40]  airspeed = 180 kt", "hello", "scenario: 40 updates run"}},
        {"a status too soon to draw, drawn back after a line",
         [](gaugebench::Progress& progress, std::FILE*) {
             progress.status("scenario: 1 update run", true);
             progress.status("scenario: 300 updates run");
             progress.line("mid");
         },
         {"mid", "scenario: 300 updates run"}},
        {"lines after the status is cleared",
         [](gaugebench::Progress& progress, std::FILE*) {
             progress.status("render: update 1 of 60", true);
             progress.clear();
             progress.line("warning: no bitmap");
         },
         {"warning: no bitmap"}},
    };
    for (const Case& c : cases) {
        int controller = -1, terminal_fd = -1;
        ASSERT_EQ(openpty(&controller, &terminal_fd, nullptr, nullptr, nullptr), 0);
        std::FILE* terminal = fdopen(terminal_fd, "w");
        ASSERT_NE(terminal, nullptr);
        std::string bytes;
        {
            gaugebench::Progress progress(gaugebench::Progress::Mode::kAuto, terminal);
            c.work(progress, terminal);
            // The screen while the work goes on, before the status is taken away.
            std::fflush(terminal);
            char buffer[4096];
            pollfd ready{controller, POLLIN, 0};
            while (poll(&ready, 1, 20) > 0) {
                const ssize_t got = read(controller, buffer, sizeof buffer);
                if (got <= 0) break;
                bytes.append(buffer, static_cast<size_t>(got));
            }
        }
        std::fclose(terminal);
        close(controller);
        EXPECT_EQ(screen(bytes), c.shown) << c.name;
    }
}

}  // namespace
