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
#include "host/host.h"

namespace flightmodel {

class ModelSession {
public:
    // Starts JSBSim on `run.script`, with `run.work_dir` for its log and the
    // script's copy, and checks that it has every property the coupling reads
    // and sets. `run.timeout_seconds` bounds each wait for the model.
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

private:
    void start(const std::string& script_arg);
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
    pid_t pid_ = -1;
    std::optional<int> exit_status_;
    int socket_ = -1;
    int port_ = 0;
    std::string pending_;   // received but not yet read
    std::string read_all_;  // "get" of every property the coupling reads
    std::vector<std::string> answers_;
    std::string message_;
    int frames_per_update_ = 1;
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
    CoupledFlight(const FlightRun& run, bench::Host& host, Surroundings surroundings = {});

    // One update's worth of the model, before the host's step; false once
    // the model has ended (the variables then stay as it left them).
    bool update();

    double time() const { return session_.time(); }
    const Coupling& coupling() const { return coupling_; }
    // The model's state after the last update, in the order of
    // coupling().properties().
    const std::vector<double>& frame() const { return frame_; }

private:
    bench::Host& host_;
    Coupling coupling_;
    ControlState state_;
    ModelSession session_;
    std::vector<Control> controls_;
    std::vector<double> frame_;
};

}  // namespace flightmodel
