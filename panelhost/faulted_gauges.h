#pragma once

#include <string>
#include <vector>

#include "panelhost/panel.h"
#include "runtime/instance.h"

namespace panels {

// Gauges taken out of a running panel after a fault of their module's code,
// or of records leading outside its memory (GaugeFault): no longer set up,
// updated or worked by the pointer, each keeps its fault's message while the
// others run on. The live page runs so; the commands stop at a fault instead.
class FaultedGauges {
public:
    struct Entry {
        const Panel::Gauge* gauge = nullptr;
        std::string message;
    };

    bool contains(const Panel::Gauge& gauge) const;
    const std::vector<Entry>& entries() const { return entries_; }
    void clear() { entries_.clear(); }

    // Runs `action` on the gauge unless it is out; a GaugeFault takes it out.
    // Returns whether the action ran to its end.
    template <typename Action>
    bool run(const Panel::Gauge& gauge, Action&& action) {
        if (contains(gauge)) return false;
        try {
            action();
            return true;
        } catch (const runtime::GaugeFault& fault) {
            entries_.push_back({&gauge, fault.what()});
            return false;
        }
    }
    // Every gauge still in, in panel order.
    void setup(const Panel& panel);
    void update(const Panel& panel);

private:
    std::vector<Entry> entries_;
};

}  // namespace panels
