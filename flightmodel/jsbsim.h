// Running JSBSim as a child process and reading back the flight it wrote.
#pragma once

#include <stdexcept>
#include <string>
#include <vector>

#include "flightmodel/coupling.h"

namespace flightmodel {

// A model that could not be run or did not finish: the message names the
// file and the reason JSBSim gave, or the time-out.
class FlightModelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct ProcessResult {
    int exit_status = -1;  // -1 when killed or ended by a signal
    bool timed_out = false;
    std::string output;  // stdout and stderr together, colour codes removed
};

// Runs `program` with `arguments`, collecting its output, and kills it (and
// says so) once `timeout_seconds` have passed. Throws FlightModelError when it
// cannot be started.
ProcessResult run_process(const std::string& program, const std::vector<std::string>& arguments,
                          double timeout_seconds);

// The lines of JSBSim's output that say what went wrong (or, when none says,
// its last few hundred characters), indented, colour codes removed.
std::string model_error_reasons(const std::string& output);

struct FlightRun {
    std::string jsbsim;        // the executable
    std::string root = "fdm";  // JSBSim's root: aircraft/<name>/ lies beneath
    std::string script;        // path of the script, as given on the command line
    std::string work_dir;      // where the output directive and the CSV go
    double timeout_seconds = 120.0;
    double end_seconds = 0.0;  // > 0: stop the script there
    int rate_hz = 18;
};

// The flight as the coupling reads it: one frame per output step.
struct Flight {
    std::vector<double> times;
    std::vector<std::vector<double>> frames;  // values in the order of Coupling::properties()
    double model_seconds = 0.0;               // wall time JSBSim ran
};

// Flies the script and reads back every property of the coupling. Throws
// FlightModelError for a script or model error (with JSBSim's file and
// reason), a time-out, or an output lacking a property.
Flight fly(const FlightRun& run, const Coupling& coupling);

// Reads a CSV file as JSBSim writes it: a header of captions, then numbers.
// Returns the columns named by `captions`, frame by frame, with the first
// column (time) in `times`.
void read_csv(const std::string& path, const std::vector<std::string>& captions, Flight& flight);

}  // namespace flightmodel
