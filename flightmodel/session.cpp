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

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "platform/child_processes.h"
#include "platform/output_file.h"
#include "platform/text_input.h"

extern char** environ;

namespace flightmodel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// JSBSim ends each answer with its prompt.
constexpr std::string_view kPrompt = "JSBSim> ";

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// The first port the kernel hands out to outgoing connections.
int first_ephemeral_port() {
    std::ifstream range("/proc/sys/net/ipv4/ip_local_port_range");
    int low = 0, high = 0;
    return range >> low >> high && low > 0 ? low : 32768;
}

// Binds a probe to `port` on the loopback (0: one the kernel picks) and
// lets it go: the port it got, or -1 when it is taken.
int probe_port(int port) {
    const int probe = socket(AF_INET, SOCK_STREAM, 0);
    if (probe < 0) throw FlightModelError("cannot make a socket: " + std::string(std::strerror(errno)));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    socklen_t size = sizeof address;
    const bool bound = bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
                       getsockname(probe, reinterpret_cast<sockaddr*>(&address), &size) == 0;
    close(probe);
    return bound ? ntohs(address.sin_port) : -1;
}

// A port nothing listens on now, for JSBSim to take: a killed JSBSim keeps
// its port for a minute, so each model gets a fresh one. Below the range the
// kernel hands out to outgoing connections: a port from there was taken, in
// the second before JSBSim bound it, by another program's connection (on a
// busy machine, now and then) or by our own connect's retries, and the model
// never came.
int free_port() {
    constexpr int kLowest = 20000;
    const int above = first_ephemeral_port();
    if (above > kLowest + 100) {
        // Spread by process and time: flights started together seldom try
        // the same ports.
        unsigned seed = static_cast<unsigned>(getpid()) * 2654435761u ^
                        static_cast<unsigned>(Clock::now().time_since_epoch().count());
        for (int tries = 0; tries < 64; ++tries) {
            seed = seed * 1103515245u + 12345u;
            const int port = kLowest + static_cast<int>((seed >> 8) % static_cast<unsigned>(above - kLowest));
            if (probe_port(port) == port) return port;
        }
    }
    // No room below that range: one the kernel picks.
    const int port = probe_port(0);
    if (port < 0) throw FlightModelError("cannot find a free port: " + std::string(std::strerror(errno)));
    return port;
}

// Whether a connection to `port` on the loopback went to itself: with
// nothing listening yet, the kernel may give the connecting socket that very
// port, and TCP then joins the socket to itself.
bool connected_to_itself(int socket, int port) {
    sockaddr_in local{};
    socklen_t size = sizeof local;
    return getsockname(socket, reinterpret_cast<sockaddr*>(&local), &size) == 0 && ntohs(local.sin_port) == port;
}

// Where the next element `<tag` opens from `at`, outside comments; npos
// when none does.
size_t find_element(const std::string& xml, std::string_view tag, size_t at = 0) {
    std::string open("<");
    open += tag;
    while ((at = xml.find('<', at)) != std::string::npos) {
        if (xml.compare(at, 4, "<!--") == 0) {
            const size_t end = xml.find("-->", at + 4);
            if (end == std::string::npos) return std::string::npos;
            at = end + 3;
            continue;
        }
        const size_t after = at + open.size();
        if (xml.compare(at, open.size(), open) == 0 && after < xml.size() &&
            (xml[after] == ' ' || xml[after] == '>' || xml[after] == '\t' || xml[after] == '\n' || xml[after] == '\r' ||
             xml[after] == '/')) {
            return at;
        }
        ++at;
    }
    return std::string::npos;
}

size_t run_element(const std::string& xml) { return find_element(xml, "run"); }

// The value of attribute `name` in the tag opening at `tag`, as [begin, end)
// of `xml`; false when the tag has none.
bool attribute(const std::string& xml, size_t tag, std::string_view name, size_t& begin, size_t& end) {
    const size_t close = xml.find('>', tag);
    for (size_t at = tag; (at = xml.find(name, at + 1)) != std::string::npos && at < close;) {
        const char before = xml[at - 1];
        if (before != ' ' && before != '\t' && before != '\n' && before != '\r') continue;
        size_t equals = at + name.size();
        while (equals < close && (xml[equals] == ' ' || xml[equals] == '\t')) ++equals;
        if (equals >= close || xml[equals] != '=') continue;
        begin = xml.find_first_of("\"'", equals);
        if (begin == std::string::npos || begin > close) return false;
        end = xml.find(xml[begin], begin + 1);
        if (end == std::string::npos || end > close) return false;
        ++begin;
        return true;
    }
    return false;
}

double number_attribute(const std::string& xml, size_t tag, std::string_view name) {
    size_t begin = 0, end = 0;
    if (!attribute(xml, tag, name, begin, end)) return 0.0;
    return std::strtod(xml.substr(begin, end - begin).c_str(), nullptr);
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

ScriptRun read_script_run(const std::string& script_path) {
    std::string script;
    try {
        script = platform::read_text_file(script_path);
    } catch (const platform::TextFileError& error) {
        throw FlightModelError(script_path + ": " + error.what());
    }
    const size_t run_at = run_element(script);
    if (run_at == std::string::npos) throw FlightModelError(script_path + ": no <run> element: not a JSBSim script");
    return ScriptRun{number_attribute(script, run_at, "start"), number_attribute(script, run_at, "end"),
                     number_attribute(script, run_at, "dt")};
}

std::string coupled_script(std::string script, int port, const std::string& root, const std::string& work_dir,
                           std::vector<ModelOutput>& outputs) {
    outputs.clear();
    for (size_t at = 0; (at = find_element(script, "output", at)) != std::string::npos; ++at) {
        size_t begin = 0, end = 0;
        // Sockets and FlightGear's protocol name a host, not a file.
        if (attribute(script, at, "type", begin, end)) {
            const std::string type = script.substr(begin, end - begin);
            if (type != "CSV" && type != "TABULAR") continue;
        }
        if (!attribute(script, at, "name", begin, end)) continue;
        const std::string name = fs::path(script.substr(begin, end - begin)).filename().string();
        if (name.empty()) continue;
        const fs::path work = fs::absolute(work_dir);
        std::string hidden(".");
        hidden += name;
        hidden += ".partial";
        ModelOutput output{(work / name).string(), (work / hidden).string()};
        const std::string seen = fs::relative(output.temporary, fs::absolute(root)).string();
        script.replace(begin, end - begin, seen);
        outputs.push_back(output);
    }
    const size_t run_at = run_element(script);
    if (run_at != std::string::npos) script.insert(run_at, input_element(port));
    return script;
}

ModelFiles model_files(const FlightRun& run) {
    const fs::path work = fs::absolute(run.work_dir);
    const std::string name = fs::path(run.script).stem().string();
    ModelFiles files{(work / (name + ".coupled.xml")).string(), (work / (name + ".jsbsim.log")).string(), {}};
    std::vector<ModelOutput> outputs;
    try {
        coupled_script(platform::read_text_file(run.script), 0, fs::absolute(run.root).string(), work.string(),
                       outputs);
    } catch (const platform::TextFileError&) {}
    for (const ModelOutput& output : outputs) files.outputs.push_back(output.path);
    return files;
}

ModelSession::ModelSession(const FlightRun& run, const Coupling& coupling) : run_(run), coupling_(coupling) {
    // The script first: it is what the user named.
    const ScriptRun script_run = read_script_run(run_.script);
    if (script_run.dt > 0.0 && 1.0 / (script_run.dt * run_.rate_hz) > kMaxFramesPerUpdate + 0.5) {
        char text[200];
        std::snprintf(text, sizeof text,
                      ": its time step dt=\"%g\" gives %.0f model frames per panel update at %d Hz; at most %d are "
                      "run (dt >= %g s)",
                      script_run.dt, std::round(1.0 / (script_run.dt * run_.rate_hz)), run_.rate_hz,
                      kMaxFramesPerUpdate, 1.0 / (kMaxFramesPerUpdate * run_.rate_hz));
        throw FlightModelError(run_.script + text);
    }
    const std::string script = platform::read_text_file(run_.script);
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
    // This JSBSim joins the script's path to its root, even an absolute one.
    const ModelFiles files = model_files(run_);
    copy_path_ = files.copy;
    log_path_ = files.log;
    // Registered before they exist: an interruption removes them, and counts them.
    copy_slot_ = platform::register_partial_file(copy_path_);
    log_slot_ = platform::register_partial_file(log_path_);
    try {
        {
            std::ofstream out(copy_path_);
            out << coupled_script(script, port_, root.string(), work.string(), outputs_);
            if (!out) throw FlightModelError(copy_path_ + ": cannot write");
        }
        for (const ModelOutput& output : outputs_)
            output_slots_.push_back(platform::register_partial_file(output.temporary));
        start(fs::relative(copy_path_, root).string());
        connect();
    } catch (...) {
        stop();
        remove_partial_files();
        throw;
    }
}

ModelSession::~ModelSession() {
    if (socket_ >= 0) close(socket_);
    stop();
    remove_partial_files();
}

void ModelSession::remove_partial_files() noexcept {
    // Outputs of a flight that did not end are partial: not kept.
    for (size_t i = 0; i < outputs_.size(); ++i) {
        unlink(outputs_[i].temporary.c_str());
        if (i < output_slots_.size()) platform::unregister_partial_file(output_slots_[i]);
    }
    outputs_.clear();
    output_slots_.clear();
    // The model's working files; its log stays where an error named it.
    unlink(copy_path_.c_str());
    platform::unregister_partial_file(copy_slot_);
    if (!keep_log_) unlink(log_path_.c_str());
    platform::unregister_partial_file(log_slot_);
    copy_slot_ = log_slot_ = -1;
}

void ModelSession::stop() noexcept {
    if (pid_ <= 0) return;
    platform::kill_process_tree(pid_);
    platform::unregister_child_group(pid_);
    pid_ = -1;
}

void ModelSession::keep_outputs() {
    for (size_t i = 0; i < outputs_.size(); ++i) {
        if (std::rename(outputs_[i].temporary.c_str(), outputs_[i].path.c_str()) == 0) {
            platform::note_kept_file(outputs_[i].path);
            kept_.push_back(outputs_[i].path);
        }
        platform::unregister_partial_file(output_slots_[i]);
    }
    outputs_.clear();
    output_slots_.clear();
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
    // A group of its own: whatever JSBSim (or a wrapper script) starts is
    // stopped with it, and a terminal's Ctrl-C reaches us alone, to clean up.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    // And whatever leaves that group (setsid) still comes back to us once orphaned.
    platform::adopt_orphans();
    const int spawned = posix_spawn(&pid_, run_.jsbsim.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0) platform::register_child_group(pid_);
    if (spawned != 0) {
        pid_ = -1;
        throw FlightModelError("cannot run " + run_.jsbsim + ": " + std::strerror(spawned));
    }
}

std::string ModelSession::log_reasons() const {
    std::ifstream log(log_path_);
    std::stringstream text;
    text << log.rdbuf();
    return model_error_reasons(text.str());  // made printable there
}

std::optional<int> ModelSession::reap(double seconds) {
    const Clock::time_point start = Clock::now();
    while (pid_ > 0) {
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            // Anything it started goes with it: its group, and its
            // descendants wherever they went, orphaned to us now.
            kill(-pid_, SIGKILL);
            platform::kill_process_tree(0);
            platform::unregister_child_group(pid_);
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
    keep_log_ = true;  // the error names it
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
        if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            !connected_to_itself(socket_, port_))
            break;
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
    for (const std::string& property : run_.watched) asked.push_back(property);
    for (const std::string& property : asked) {
        message_ += "get " + property + "\n";
    }
    const std::string questions = message_;
    const Clock::time_point asking = Clock::now();
    for (;;) {
        if (!exchange(questions, asked.size(), answers_)) fail("JSBSim closed its command port");
        // A model still setting its initial conditions holds its time step
        // at 0 while it does; a busy machine's connection came that early.
        if (is_refusal(answers_[0]) || answer_value(answers_[0]) != 0.0 || seconds_since(asking) > run_.timeout_seconds)
            break;
        usleep(20000);
    }
    for (size_t i = 0; i < answers_.size(); ++i) {
        if (is_refusal(answers_[i])) {
            fail("the model has no property " + asked[i] + " (the panel's coupling needs it)");
        }
    }
    const double dt = answer_value(answers_[0]);
    if (!(dt > 0.0 && dt < 1.0)) fail("the model's time step (simulation/dt) reads " + printable(answers_[0]));
    const double frames = std::round(1.0 / (dt * run_.rate_hz));
    if (frames > kMaxFramesPerUpdate) {
        char text[200];
        std::snprintf(text, sizeof text,
                      ": the model's time step simulation/dt=%g s gives %.0f model frames per panel update at %d "
                      "Hz; at most %d are run",
                      dt, frames, run_.rate_hz, kMaxFramesPerUpdate);
        throw FlightModelError(run_.script + text);
    }
    frames_per_update_ = std::max(1, static_cast<int>(frames));
    time_ = answer_value(answers_[1]);

    read_all_ = "get simulation/sim-time-sec\n";
    for (const std::string& property : coupling_.properties()) read_all_ += "get " + property + "\n";
    for (const std::string& property : run_.watched) read_all_ += "get " + property + "\n";
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
        replies += last ? coupling_.properties().size() + run_.watched.size() + 1 : 1;
        if (!exchange(message_, replies, answers_)) {
            // The port closed: the script's end, or the model died.
            const std::optional<int> status = reap(2.0);
            if (status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0) {
                ended_ = true;
                keep_outputs();
                return false;
            }
            fail("the model stopped at " + std::to_string(time_) + " s");
        }
        for (const std::string& answer : answers_) {
            if (is_refusal(answer)) fail("the model refused a command: " + printable(answer));
        }
    }
    const size_t first = answers_.size() - coupling_.properties().size() - run_.watched.size() - 1;
    time_ = answer_value(answers_[first]);
    frame.resize(coupling_.properties().size());
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = answer_value(answers_[first + 1 + i]);
    watched_.resize(run_.watched.size());
    for (size_t i = 0; i < watched_.size(); ++i) watched_[i] = answer_value(answers_[first + 1 + frame.size() + i]);
    return true;
}

CoupledFlight::CoupledFlight(const FlightRun& run, runtime::Host& host, Surroundings surroundings)
    : host_(&host), coupling_(surroundings), state_(coupling_), session_(run, coupling_) {
    host_->model().set_engines_modelled(true);
}

bool CoupledFlight::update(const PilotControls* pilot) {
    coupling_.controls(host_->vars(), host_->model(), state_, controls_, pilot);
    if (!session_.step(controls_, frame_)) return false;
    coupling_.apply(frame_, host_->vars(), &state_);
    return true;
}

void CoupledFlight::move_to(runtime::Host& host) {
    host_ = &host;
    host_->model().set_engines_modelled(true);
}

}  // namespace flightmodel
