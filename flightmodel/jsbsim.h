// What a run of JSBSim needs, and how its failures are told.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "flightmodel/coupling.h"
#include "runtime/host.h"

namespace flightmodel {

// A model that could not be run or did not finish: the message names the
// file and the reason JSBSim gave, or the time-out.
class FlightModelError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The lines of JSBSim's output that say what went wrong (or, when none says,
// its last few hundred characters), indented, colour codes removed.
std::string model_error_reasons(const std::string& output);

// `text` fit for a terminal: control bytes other than line ends shown as
// \xNN, so that a model's log cannot move the cursor or change colours.
std::string printable(std::string_view text);

struct FlightRun {
    std::string jsbsim;             // the executable
    std::string root = "fdm";       // JSBSim's root: aircraft/<name>/ lies beneath
    std::string script;             // path of the script, as given on the command line
    std::string work_dir;           // where the output directive and the CSV go
    double timeout_seconds = 10.0;  // the longest wait for any answer of the model
    double end_seconds = 0.0;       // > 0: stop the script there
    int rate_hz = runtime::Host::kUpdatesPerSecond;
    // Properties read after every update besides the coupling's, for the
    // caller's own account of the flight; a model lacking one is refused.
    std::vector<std::string> watched;
};

}  // namespace flightmodel
