// The host's small model of the aircraft: which simulator variables follow
// which key events. It stands in for the simulator's own handling, so that a
// panel driven on the bench behaves as in the simulator.
#pragma once

#include <cstdint>
#include <map>

#include "host/variables.h"

namespace bench {

struct KeyEvent {
    uint32_t id = 0;
    uint32_t value = 0;
};

class KeyModel {
public:
    // Applies one key event to the variables; events the model does not know
    // change nothing.
    void apply(const KeyEvent& event, VariableStore& vars);

    // One simulation step: engines whose start event arrived begin running
    // after a few steps.
    void tick(VariableStore& vars);

    // Updates an engine needs after its start event before it runs.
    static constexpr int kStartUpdates = 3;

private:
    std::map<int, int> engines_starting_;  // engine index (0..3) -> updates left
};

}  // namespace bench
