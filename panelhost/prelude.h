// What plays on a freshly made panel before it goes live: the serve
// command's scenario. The live panel knows it only through this, so that the
// floor that serves a panel stands on no scenario.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "panelhost/faulted_gauges.h"
#include "panelhost/panel.h"

namespace panels {

class Prelude {
public:
    virtual ~Prelude() = default;

    // Read again before every (re)start, so that an edited file counts;
    // throws for one that does not read.
    virtual void read() = 0;
    // Whether the modules find the simulator's main window at the start, if
    // the prelude says (none: the caller's own choice).
    virtual std::optional<bool> main_window_at_start() const = 0;

    // A picture of the panel (gauge null) or of one gauge, written to `path`.
    using Snapshot = std::function<void(const Panel::Gauge* gauge, const std::string& path)>;
    struct Ran {
        uint64_t updates = 0;          // the panel's updates it ran
        double absolute_time = 0.0;    // the calculator's clock where it ended, in seconds
    };
    // Plays through once, as fast as it runs; a gauge that faults is kept out
    // in `faulted` and the rest play on.
    virtual Ran run(Panel& panel, const Snapshot& snapshot, FaultedGauges& faulted) = 0;
};

}  // namespace panels
