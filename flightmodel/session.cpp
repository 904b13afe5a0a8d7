#include "flightmodel/session.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "host/text_input.h"

extern char** environ;

namespace flightmodel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// JSBSim ends each answer with its prompt.
constexpr std::string_view kPrompt = "JSBSim> ";

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A port nothing listens on now, for JSBSim to take: a killed JSBSim keeps
// its port for a minute, so each model gets a fresh one.
int free_port() {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0) throw FlightModelError("cannot make a socket: " + std::string(std::strerror(errno)));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    const bool found = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    close(probe);
    if (!found) throw FlightModelError("cannot find a free port: " + std::string(std::strerror(errno)));
    return ntohs(address.sin_port);
}

// Where `<run` opens, outside comments; npos when it never does.
size_t run_element(const std::string& xml) {
    size_t at = 0;
    while ((at = xml.find('<', at)) != std::string::npos) {
        if (xml.compare(at, 4, "<!--") == 0) {
            const size_t end = xml.find("-->", at + 4);
            if (end == std::string::npos) return std::string::npos;
            at = end + 3;
            continue;
        }
        if (xml.compare(at, 4, "<run") == 0 && at + 4 < xml.size() &&
            (xml[at + 4] == ' ' || xml[at + 4] == '>' || xml[at + 4] == '\t' || xml[at + 4] == '\n' ||
             xml[at + 4] == '\r' || xml[at + 4] == '/')) {
            return at;
        }
        ++at;
    }
    return std::string::npos;
}

std::string input_element(int port) {
    return "<input port=\"" + std::to_string(port) + "\" action=\"BLOCKING_INPUT\"/>\n  ";
}

bool is_refusal(std::string_view answer) {
    for (const char* refusal :
         {"Unknown property", "Badly formed", "Not a leaf", "No property", "Must be in HOLD", "Unknown command"}) {
        if (answer.find(refusal) != std::string_view::npos) return true;
    }
    return false;
}

// The value of a "name = value" answer.
double answer_value(const std::string& answer) {
    const size_t equals = answer.find(" = ");
    if (equals == std::string::npos) return std::nan("");
    return std::strtod(answer.c_str() + equals + 3, nullptr);
}

}  // namespace

ModelSession::ModelSession(const FlightRun& run, const Coupling& coupling) : run_(run), coupling_(coupling) {
    // The script first: it is what the user named.
    std::string script;
    try {
        script = bench::read_text_file(run_.script);
    } catch (const bench::TextFileError& error) {
        throw FlightModelError(run_.script + ": " + error.what());
    }
    const size_t run_at = run_element(script);
    if (run_at == std::string::npos) throw FlightModelError(run_.script + ": no <run> element: not a JSBSim script");
    std::error_code error;
    const fs::path root = fs::absolute(run_.root);
    const fs::path work = fs::absolute(run_.work_dir);
    if (!fs::is_directory(root / "aircraft")) {
        throw FlightModelError(run_.root + ": not a JSBSim root (no aircraft folder in it)");
    }
    if (access(run_.jsbsim.c_str(), X_OK) != 0) {
        throw FlightModelError("no JSBSim at " + run_.jsbsim + " (scripts/install-deps.sh installs it in " +
                               "build/jsbsim/bin)");
    }
    fs::create_directories(work, error);
    if (error) throw FlightModelError(work.string() + ": " + error.message());

    port_ = free_port();
    script.insert(run_at, input_element(port_));
    const std::string name = fs::path(run_.script).stem().string();
    // This JSBSim joins the script's path to its root, even an absolute one.
    const fs::path copy = work / (name + ".coupled.xml");
    {
        std::ofstream out(copy);
        out << script;
        if (!out) throw FlightModelError(copy.string() + ": cannot write");
    }
    log_path_ = (work / (name + ".jsbsim.log")).string();
    start(fs::relative(copy, root).string());
    connect();
}

ModelSession::~ModelSession() {
    if (socket_ >= 0) close(socket_);
    if (pid_ > 0) {
        kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

void ModelSession::start(const std::string& script_arg) {
    std::vector<std::string> arguments = {run_.jsbsim, "--root=" + fs::absolute(run_.root).string(),
                                          "--script=" + script_arg, "--suspend", "--nohighlight"};
    if (run_.end_seconds > 0.0) arguments.push_back("--end=" + std::to_string(run_.end_seconds));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    const int spawned = posix_spawn(&pid_, run_.jsbsim.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        pid_ = -1;
        throw FlightModelError("cannot run " + run_.jsbsim + ": " + std::strerror(spawned));
    }
}

std::string ModelSession::log_reasons() const {
    std::ifstream log(log_path_);
    std::stringstream text;
    text << log.rdbuf();
    return model_error_reasons(text.str());
}

std::optional<int> ModelSession::reap(double seconds) {
    const Clock::time_point start = Clock::now();
    while (pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            exit_status_ = status;
            break;
        }
        if (seconds_since(start) >= seconds) break;
        usleep(10000);
    }
    return exit_status_;
}

void ModelSession::fail(const std::string& what) {
    // A model that died says why in its log: let it finish writing.
    const std::optional<int> status = reap(1.0);
    std::string message = run_.script + ": " + what;
    if (status && WIFEXITED(*status)) {
        message += " (JSBSim stopped with status " + std::to_string(WEXITSTATUS(*status)) + ")";
    }
    if (status && WIFSIGNALED(*status)) {
        message += " (JSBSim killed by signal " + std::to_string(WTERMSIG(*status)) + ")";
    }
    throw FlightModelError(message + ":\n" + log_reasons() + "  (JSBSim's log: " + log_path_ + ")");
}

void ModelSession::connect() {
    const Clock::time_point start = Clock::now();
    for (;;) {
        if (reap(0.0)) fail("JSBSim stopped before it took commands");
        socket_ = socket(AF_INET, SOCK_STREAM, 0);
        if (socket_ < 0) throw FlightModelError("cannot make a socket: " + std::string(std::strerror(errno)));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port_));
        if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) break;
        close(socket_);
        socket_ = -1;
        if (seconds_since(start) > run_.timeout_seconds) {
            fail("JSBSim did not open its command port within " + std::to_string(run_.timeout_seconds) + " s");
        }
        usleep(20000);
    }
    const int on = 1;
    setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);

    // The greeting, then every property the coupling needs: one the model
    // lacks would silently drop the rest of a message later.
    if (!exchange("", 1, answers_)) fail("JSBSim closed its command port");
    std::vector<std::string> asked = {"simulation/dt", "simulation/sim-time-sec"};
    for (const std::string& property : coupling_.properties()) asked.push_back(property);
    for (const std::string& property : coupling_.control_properties()) asked.push_back(property);
    for (const std::string& property : asked) {
        message_ += "get " + property + "\n";
    }
    if (!exchange(message_, asked.size(), answers_)) fail("JSBSim closed its command port");
    for (size_t i = 0; i < answers_.size(); ++i) {
        if (is_refusal(answers_[i])) {
            fail("the model has no property " + asked[i] + " (the panel's coupling needs it)");
        }
    }
    const double dt = answer_value(answers_[0]);
    if (!(dt > 0.0 && dt < 1.0)) fail("the model's time step (simulation/dt) reads " + answers_[0]);
    frames_per_update_ = std::max(1, static_cast<int>(std::lround(1.0 / (dt * run_.rate_hz))));
    time_ = answer_value(answers_[1]);

    read_all_ = "get simulation/sim-time-sec\n";
    for (const std::string& property : coupling_.properties()) read_all_ += "get " + property + "\n";
    if (!exchange("resume\n", 1, answers_)) fail("JSBSim closed its command port");
}

bool ModelSession::exchange(const std::string& message, size_t replies, std::vector<std::string>& answers) {
    answers.clear();
    for (size_t sent = 0; sent < message.size();) {
        const ssize_t wrote = send(socket_, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        sent += static_cast<size_t>(wrote);
    }
    const Clock::time_point start = Clock::now();
    while (answers.size() < replies) {
        const size_t prompt = pending_.find(kPrompt);
        if (prompt != std::string::npos) {
            answers.push_back(pending_.substr(0, prompt));
            pending_.erase(0, prompt + kPrompt.size());
            // A refused command drops the rest of its message: no more answers come.
            if (is_refusal(answers.back())) return true;
            continue;
        }
        const double left = run_.timeout_seconds - seconds_since(start);
        if (left <= 0.0) {
            fail("JSBSim did not answer within " + std::to_string(run_.timeout_seconds) + " s");
        }
        // JSBSim sends an answer and its prompt in two pieces; with our
        // acknowledgement delayed, its Nagle wait would cost 40 ms a frame.
        const int on = 1;
        setsockopt(socket_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
        pollfd reader{socket_, POLLIN, 0};
        const int ready = poll(&reader, 1, static_cast<int>(left * 1000.0) + 1);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        char buffer[16384];
        const ssize_t got = recv(socket_, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        pending_.append(buffer, static_cast<size_t>(got));
    }
    return true;
}

bool ModelSession::step(std::span<const Control> controls, std::vector<double>& frame) {
    if (ended_) return false;
    const std::vector<std::string>& names = coupling_.control_properties();
    for (int i = 0; i < frames_per_update_; ++i) {
        message_.clear();
        size_t replies = 0;
        if (i == 0) {
            for (const Control& control : controls) {
                if (control.property < 0 || static_cast<size_t>(control.property) >= names.size()) continue;
                char value[40];
                std::snprintf(value, sizeof value, " %.9g\n", control.value);
                message_ += "set " + names[static_cast<size_t>(control.property)] + value;
                ++replies;
            }
        }
        // Each message lets the model run one frame; the last reads its state.
        const bool last = i + 1 == frames_per_update_;
        message_ += last ? read_all_ : "get simulation/sim-time-sec\n";
        replies += last ? coupling_.properties().size() + 1 : 1;
        if (!exchange(message_, replies, answers_)) {
            // The port closed: the script's end, or the model died.
            const std::optional<int> status = reap(2.0);
            if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) {
                ended_ = true;
                return false;
            }
            fail("the model stopped at " + std::to_string(time_) + " s");
        }
        for (const std::string& answer : answers_) {
            if (is_refusal(answer)) fail("the model refused a command: " + answer);
        }
    }
    const size_t first = answers_.size() - coupling_.properties().size() - 1;
    time_ = answer_value(answers_[first]);
    frame.resize(coupling_.properties().size());
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = answer_value(answers_[first + 1 + i]);
    return true;
}

CoupledFlight::CoupledFlight(const FlightRun& run, bench::Host& host, Surroundings surroundings)
    : host_(host), coupling_(surroundings), state_(coupling_), session_(run, coupling_) {
    host_.model().set_engines_modelled(true);
}

bool CoupledFlight::update() {
    coupling_.controls(host_.vars(), host_.model(), state_, controls_);
    if (!session_.step(controls_, frame_)) return false;
    coupling_.apply(frame_, host_.vars(), &state_);
    return true;
}

}  // namespace flightmodel
