// A panel update allocates nothing once the host's logs have filled: the
// bench panel of both deliverables at cruise, every variable of the cruise
// swinging so that every gauge moves, counted by the process's allocation
// hook.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>

#include "panelhost/panel.h"
#include "runtime/host.h"
#include "support/test_paths.h"
#include "tools/flight_state.h"
#include "validate/probe.h"

namespace {

TEST(SteadyState, TenThousandPanelUpdatesAllocateNothing) {
    const std::string config = test_paths::source("panel/panel.cfg");
    const std::string korvane = test_paths::pe("Korvane.gau");
    if (config.empty() || korvane.empty()) GTEST_SKIP() << "no checkout or PE tree given";
    ASSERT_NE(validate::AllocationWatch::hook(), nullptr) << "the tools' test program links the allocation hook";
    runtime::Host host;
    const std::string modules = std::filesystem::path(korvane).parent_path().string();
    panels::Panel panel(host, panels::PanelConfig::read_file(config), panels::ModulePaths{modules, {}}, 1.0);
    flight_state::apply_cruise(host);
    panel.setup();
    const auto update = [&](int n) {
        const double swing = std::sin(0.7 * n);
        for (const flight_state::Setting& setting : flight_state::cruise())
            host.vars().set(setting.token, setting.value + swing * (0.05 * std::fabs(setting.value) + 0.5));
        host.tick();
        panel.update();
    };
    // The logs of key events and service calls fill to their fixed lengths first.
    int n = 0;
    for (; n < 2'000; ++n) update(n);
    validate::AllocationWatch::arm();
    for (; n < 12'000; ++n) update(n);
    EXPECT_EQ(validate::AllocationWatch::disarm(), 0u);
}

}  // namespace
