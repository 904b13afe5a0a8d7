#include "flightmodel/jsbsim.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char** environ;

namespace flightmodel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// JSBSim colours its messages with ANSI escapes.
std::string without_escapes(const std::string& text) {
    std::string plain;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\x1b' && i + 1 < text.size() && text[i + 1] == '[') {
            i += 2;
            while (i < text.size() && !(text[i] >= '@' && text[i] <= '~')) ++i;
            continue;
        }
        plain += text[i];
    }
    return plain;
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

}  // namespace

std::string model_error_reasons(const std::string& raw_output) {
    const std::string output = without_escapes(raw_output);
    std::istringstream lines(output);
    std::string found;
    for (std::string line_text; std::getline(lines, line_text);) {
        const bool telling =
            line_text.find("rror") != std::string::npos || line_text.find("ould not") != std::string::npos ||
            line_text.find("not successfully") != std::string::npos ||
            line_text.find("not found") != std::string::npos || line_text.find("failed") != std::string::npos ||
            line_text.find("nknown") != std::string::npos || line_text.find("nvalid") != std::string::npos;
        if (telling) found += "  " + line_text + "\n";
    }
    if (found.empty()) {
        // No line names the fault: the last few say most.
        const size_t keep = output.size() > 600 ? output.size() - 600 : 0;
        found = output.substr(keep);
    }
    return found;
}

ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          double timeout_seconds) {
    // A missing program would only show as the child's status 127.
    if (access(program.c_str(), X_OK) != 0) {
        throw FlightModelError("cannot run " + program + ": " + std::strerror(errno));
    }
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) throw FlightModelError("cannot make a pipe: " + std::string(std::strerror(errno)));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipe_ends[1]);
    if (spawned != 0) {
        close(pipe_ends[0]);
        throw FlightModelError("cannot run " + program + ": " + std::strerror(spawned));
    }

    ProcessResult result;
    std::string raw;
    const Clock::time_point start = Clock::now();
    bool open = true;
    while (open) {
        const double left = timeout_seconds - seconds_since(start);
        if (left <= 0.0) {
            result.timed_out = true;
            break;
        }
        pollfd reader{pipe_ends[0], POLLIN, 0};
        const int ready = poll(&reader, 1, static_cast<int>(left * 1000.0) + 1);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        char buffer[4096];
        const ssize_t got = read(pipe_ends[0], buffer, sizeof buffer);
        if (got > 0) {
            raw.append(buffer, static_cast<size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            open = false;
        }
    }
    close(pipe_ends[0]);
    // Output closed early does not mean the program ended: wait out the rest
    // of the time, then kill it.
    int status = 0;
    while (!result.timed_out) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) break;
        if (seconds_since(start) >= timeout_seconds) {
            result.timed_out = true;
            break;
        }
        usleep(2000);
    }
    if (result.timed_out) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
        result.exit_status = WEXITSTATUS(status);
    }
    result.output = without_escapes(raw);
    return result;
}

void read_csv(const std::string& path, const std::vector<std::string>& captions, Flight& flight) {
    std::ifstream file(path);
    if (!file) throw FlightModelError(path + ": the model wrote no output");
    std::string header;
    std::getline(file, header);
    std::vector<std::string> labels;
    {
        std::istringstream cells(header);
        for (std::string cell; std::getline(cells, cell, ',');) {
            while (!cell.empty() && (cell.back() == '\r' || cell.back() == ' ')) cell.pop_back();
            while (!cell.empty() && cell.front() == ' ') cell.erase(cell.begin());
            labels.push_back(cell);
        }
    }
    std::vector<size_t> columns;
    for (const std::string& caption : captions) {
        size_t column = 0;
        while (column < labels.size() && labels[column] != caption) ++column;
        if (column == labels.size()) {
            throw FlightModelError(path + ": no column '" + caption +
                                   "' (the model lacks that property, or JSBSim could not write it)");
        }
        columns.push_back(column);
    }
    std::vector<double> row;
    size_t line_number = 1;
    for (std::string line; std::getline(file, line);) {
        ++line_number;
        if (line.empty() || line == "\r") continue;
        row.clear();
        const char* text = line.c_str();
        while (*text != '\0') {
            char* end = nullptr;
            row.push_back(std::strtod(text, &end));
            if (end == text) throw FlightModelError(path + ":" + std::to_string(line_number) + ": not a number");
            text = end;
            while (*text == ',' || *text == ' ' || *text == '\r') ++text;
        }
        if (row.size() != labels.size()) {
            throw FlightModelError(path + ":" + std::to_string(line_number) + ": " + std::to_string(row.size()) +
                                   " values under " + std::to_string(labels.size()) + " labels");
        }
        flight.times.push_back(row[0]);
        std::vector<double> frame;
        frame.reserve(columns.size());
        for (size_t column : columns) frame.push_back(row[column]);
        flight.frames.push_back(std::move(frame));
    }
}

Flight fly(const FlightRun& run, const Coupling& coupling) {
    std::error_code error;
    const fs::path root = fs::absolute(run.root);
    const fs::path script = fs::absolute(run.script);
    const fs::path work = fs::absolute(run.work_dir);
    if (!fs::is_directory(root / "aircraft")) {
        throw FlightModelError(run.root + ": not a JSBSim root (no aircraft folder in it)");
    }
    if (!fs::is_regular_file(script)) throw FlightModelError(run.script + ": no such script");
    fs::create_directories(work, error);
    if (error) throw FlightModelError(work.string() + ": " + error.message());

    // This JSBSim joins the script's and the outputs' paths to its root, even
    // absolute ones: both go relative to it.
    const fs::path csv = work / "flight.csv";
    fs::remove(csv, error);
    const fs::path directive = work / "coupling_output.xml";
    {
        std::ofstream out(directive);
        out << coupling.output_directive(fs::relative(csv, root).string(), run.rate_hz);
        if (!out) throw FlightModelError(directive.string() + ": cannot write");
    }
    std::vector<std::string> arguments = {"--root=" + root.string(), "--script=" + fs::relative(script, root).string(),
                                          "--logdirectivefile=" + directive.string()};
    if (run.end_seconds > 0.0) arguments.push_back("--end=" + std::to_string(run.end_seconds));

    const Clock::time_point start = Clock::now();
    if (access(run.jsbsim.c_str(), X_OK) != 0) {
        throw FlightModelError("no JSBSim at " + run.jsbsim + " (scripts/install-deps.sh installs it in " +
                               "build/jsbsim/bin)");
    }
    const ProcessResult result = run_process(run.jsbsim, arguments, run.timeout_seconds);
    if (result.timed_out) {
        throw FlightModelError(run.script + ": the model did not finish within " +
                               std::to_string(static_cast<int>(run.timeout_seconds)) + " s and was killed");
    }
    if (result.exit_status != 0) {
        throw FlightModelError(run.script + ": the model stopped with status " + std::to_string(result.exit_status) +
                               ":\n" + model_error_reasons(result.output));
    }
    Flight flight;
    flight.model_seconds = seconds_since(start);
    read_csv(csv.string(), coupling.captions(), flight);
    if (flight.frames.empty()) throw FlightModelError(csv.string() + ": the model wrote no frame");
    return flight;
}

}  // namespace flightmodel
