#include "panelhost/faulted_gauges.h"

#include <algorithm>

#include "runtime/module.h"

namespace panels {

bool FaultedGauges::contains(const Panel::Gauge& gauge) const {
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& entry) { return entry.gauge == &gauge; });
}

void FaultedGauges::setup(const Panel& panel) {
    for (const Panel::Gauge& gauge : panel.gauges()) run(gauge, [&] { gauge.instance->setup(); });
}

void FaultedGauges::update(const Panel& panel) {
    runtime::module_calls_together([&] {
        for (const Panel::Gauge& gauge : panel.gauges()) run(gauge, [&] { gauge.instance->update(); });
    });
}

}  // namespace panels
