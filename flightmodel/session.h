// JSBSim flown in step with the panel. The model runs as a child process with
// its command port in blocking mode: each of its frames waits for one message
// from us, so the model never runs ahead of the panel and the panel's switches
// act on exactly the frames that follow them, however fast or slow either
// side is. Every wait for the model has a time-out; a dead or silent model is
// an error naming the script and JSBSim's reason.
#pragma once

#include <sys/types.h>

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "flightmodel/coupling.h"
#include "flightmodel/jsbsim.h"
#include "runtime/host.h"

namespace flightmodel {

// A model frame per this many panel updates at most: a script's tiny time
// step would otherwise make each update cost minutes of exchanges.
inline constexpr int kMaxFramesPerUpdate = 1000;

// What a script's <run> element says; 0 where an attribute is missing.
struct ScriptRun {
    double start = 0.0;
    double end = 0.0;
    double dt = 0.0;
};
// Throws FlightModelError naming the script when it cannot be read or has
// no <run> element.
ScriptRun read_script_run(const std::string& script_path);

// The script's copy that JSBSim runs: its command port inserted before
// <run>, and each file <output> renamed to a temporary file in `work_dir`,
// written as seen from `root` (this JSBSim joins output names to its root).
// `outputs` receives each output's final and temporary path.
struct ModelOutput {
    std::string path;
    std::string temporary;
};
std::string coupled_script(std::string script, int port, const std::string& root, const std::string& work_dir,
                           std::vector<ModelOutput>& outputs);

// The files a flight of `run` writes in its work_dir: the script's copy
// JSBSim runs, JSBSim's log, and each file the script's <output> elements
// name (a script that cannot be read names none).
struct ModelFiles {
    std::string copy;
    std::string log;
    std::vector<std::string> outputs;
};
ModelFiles model_files(const FlightRun& run);

class ModelSession {
public:
    // Starts JSBSim on `run.script` in a process group of its own, with
    // `run.work_dir` for its log, the script's copy and the script's output
    // files (renamed to their own names only once the script has ended; the
    // copy and the log removed with the session, the log kept where an error
    // named it), and
    // checks that it has every property the coupling reads and sets.
    // `run.timeout_seconds` bounds each wait for the model. When it throws,
    // JSBSim has been stopped.
    ModelSession(const FlightRun& run, const Coupling& coupling);
    ~ModelSession();
    ModelSession(const ModelSession&) = delete;
    ModelSession& operator=(const ModelSession&) = delete;

    // Sets `controls` (indices into the coupling's control properties), runs
    // the model through one panel update (1/rate_hz s of its frames) and
    // reads every property of the coupling into `frame`. Returns false once
    // the model has ended (its script's end): `frame` is then unchanged.
    // Throws FlightModelError when the model dies or stops answering.
    bool step(std::span<const Control> controls, std::vector<double>& frame);

    // The model's time after the last step, seconds.
    double time() const { return time_; }
    // The model's frames per panel update.
    int frames_per_update() const { return frames_per_update_; }
    bool ended() const { return ended_; }
    // The values of run.watched after the last step.
    const std::vector<double>& watched() const { return watched_; }
    // The script's output files under their own names, once it has ended.
    const std::vector<std::string>& kept_outputs() const { return kept_; }

private:
    void start(const std::string& script_arg);
    // Kills JSBSim with every descendant and reaps it (nothing when it has ended).
    void stop() noexcept;
    void remove_partial_files() noexcept;
    // The script's outputs under their own names, once it has ended.
    void keep_outputs();
    void connect();
    // Sends one message and reads `replies` answers (each ends in JSBSim's
    // prompt) into `answers`; false when the model closed its port.
    bool exchange(const std::string& message, size_t replies, std::vector<std::string>& answers);
    // Waits up to `seconds` for JSBSim to end; its wait status once it has.
    std::optional<int> reap(double seconds);
    [[noreturn]] void fail(const std::string& what);
    std::string log_reasons() const;

    FlightRun run_;
    const Coupling& coupling_;
    std::string log_path_;
    std::string copy_path_;
    int log_slot_ = -1;
    int copy_slot_ = -1;
    bool keep_log_ = false;
    std::vector<ModelOutput> outputs_;
    std::vector<int> output_slots_;
    std::vector<std::string> kept_;
    pid_t pid_ = -1;
    std::optional<int> exit_status_;
    int socket_ = -1;
    int port_ = 0;
    std::string pending_;   // received but not yet read
    std::string read_all_;  // "get" of every property the coupling reads
    std::vector<std::string> answers_;
    std::string message_;
    int frames_per_update_ = 1;
    std::vector<double> watched_;
    double time_ = 0.0;
    bool ended_ = false;
};

// The model and the panel's variables, an update at a time, as the simulator
// couples them: the panel's controls go to the model, the model runs its
// frames for the update, and its state comes back to the variables. From
// then on the model alone decides when an engine runs.
class CoupledFlight {
public:
    // Starts the model (what ModelSession throws).
    CoupledFlight(const FlightRun& run, runtime::Host& host, Surroundings surroundings = {});

    // One update's worth of the model, before the host's step, with the
    // pilot's controls when given; false once the model has ended (the
    // variables then stay as it left them).
    bool update(const PilotControls* pilot = nullptr);
    // The panel made again in a new host, holding the variables and key
    // model the old one had: the flight goes on with it.
    void move_to(runtime::Host& host);

    double time() const { return session_.time(); }
    const std::vector<double>& watched() const { return session_.watched(); }
    const std::vector<std::string>& model_outputs() const { return session_.kept_outputs(); }
    const Coupling& coupling() const { return coupling_; }
    // The model's state after the last update, in the order of
    // coupling().properties().
    const std::vector<double>& frame() const { return frame_; }
    // The trim and the airframe's contact after the last update (neutral,
    // nothing touched, before the first).
    FlightState state() const { return coupling_.state(frame_); }

private:
    runtime::Host* host_;
    Coupling coupling_;
    ControlState state_;
    ModelSession session_;
    std::vector<Control> controls_;
    std::vector<double> frame_;
};

}  // namespace flightmodel
