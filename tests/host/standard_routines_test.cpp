// The seven standard routines, taken from any gauge header of the fixture,
// act on the first gauge's root and pass the host's argument through.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "host/bench_fixture_support.h"
#include "support/gauge_records.h"

namespace {

namespace fx = bench_fixture;
using fixture_support::FixtureModule;

struct RoutineCase {
    const char* name;
    uint32_t slot;
    bool has_argument;
    std::function<void(const GAUGEHDR&, uint32_t)> call;
};

const RoutineCase kRoutines[] = {
    {"query", bench::kSlotElementListQuery, false, [](const GAUGEHDR& g, uint32_t) { g.query_routine(); }},
    {"install", bench::kSlotElementListInstall, true,
     [](const GAUGEHDR& g, uint32_t arg) { g.install_routine(arg); }},
    {"initialize", bench::kSlotElementListInitialize, false,
     [](const GAUGEHDR& g, uint32_t) { g.initialize_routine(); }},
    {"update", bench::kSlotElementListUpdate, false, [](const GAUGEHDR& g, uint32_t) { g.update_routine(); }},
    {"generate", bench::kSlotElementListGenerate, true,
     [](const GAUGEHDR& g, uint32_t arg) { g.generate_routine(arg); }},
    {"draw", bench::kSlotElementListPlot, false, [](const GAUGEHDR& g, uint32_t) { g.draw_routine(); }},
    {"kill", bench::kSlotElementListKill, false, [](const GAUGEHDR& g, uint32_t) { g.kill_routine(); }},
};

using StandardRoutines = FixtureModule;

TEST_F(StandardRoutines, ActOnTheFirstGaugesRootFromEveryHeader) {
    ASSERT_EQ(module.gauges().size(), fx::kGaugeCount);
    const uint32_t first_root = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(module.gauges()[0]->element_list[0]));
    const uint32_t arguments[] = {0u, 1u, 0xDEADBEEFu, 0xFFFFFFFFu};
    for (const GAUGEHDR* header : module.gauges()) {
        SCOPED_TRACE(header->gauge_name);
        for (const RoutineCase& routine : kRoutines) {
            SCOPED_TRACE(routine.name);
            for (uint32_t argument : arguments) {
                host.clear_service_log();
                routine.call(*header, argument);
                ASSERT_EQ(host.service_log().size(), 1u);
                const bench::ServiceCall& call = host.service_log()[0];
                EXPECT_EQ(call.slot, routine.slot);
                EXPECT_EQ(call.args[0], first_root);
                if (routine.has_argument) {
                    EXPECT_EQ(call.args[1], argument);
                }
                if (!routine.has_argument) break;  // one call says all for these
            }
        }
    }
    EXPECT_TRUE(host.unexpected_slots().empty());
}

TEST_F(StandardRoutines, EveryHeaderHoldsTheSameSeven) {
    const GAUGEHDR* first = module.gauges().front();
    for (const GAUGEHDR* header : module.gauges()) {
        SCOPED_TRACE(header->gauge_name);
        gauge_records::expect_same_standard_routines(*header, *first);
        if (header != first) {
            EXPECT_NE(header->element_list[0], first->element_list[0]);  // each gauge its own root
        }
    }
}

}  // namespace
