// Korvane's PE as the host loads it: the Linkage header, the gauge table's
// end, and the standard routines that every header shares. The records are
// the deliverable's; the build without art has the same ones.
#include <gtest/gtest.h>

#include "runtime/host.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "support/test_paths.h"

namespace {

using frame::GuestPtr;

class KorvaneLinkage : public ::testing::Test {
protected:
    runtime::Host host;
    runtime::Module module{host, test_paths::module("KorvaneArtless.gau")};
};

TEST_F(KorvaneLinkage, HeaderFields) {
    const guest::LINKAGE_HEADER& linkage = module.memory().read(module.linkage());
    EXPECT_EQ(linkage.module_id, 0x13u);
    EXPECT_EQ(linkage.module_flags, 0u);
    EXPECT_EQ(linkage.module_priority, 0u);
    EXPECT_EQ(linkage.module_version, 0u);
    EXPECT_TRUE(linkage.module_init);
    EXPECT_EQ(linkage.module_init, linkage.module_deinit);
    // init (called at load) asks nothing of the host.
    EXPECT_TRUE(host.service_log().empty());
}

// Each gauge's place in the table is checked with its records; here, the
// table's length and its terminating null.
TEST_F(KorvaneLinkage, GaugeTableHoldsAll47ThenANull) {
    ASSERT_EQ(module.gauges().size(), 47u);
    const GuestPtr<const runtime::GaugePtr> table(module.linkage().address + sizeof(guest::LINKAGE_HEADER));
    EXPECT_EQ(module.memory().read(table.at(47)), nullptr);
}

// Whichever header they come from, the seven routines act on the first
// gauge's root and pass the host's argument on unchanged (and take exactly
// their arguments off the stack, or the machine reports a broken call).
TEST_F(KorvaneLinkage, StandardRoutinesActOnTheFirstGauge) {
    const emulator::GuestMemory& memory = module.memory();
    ASSERT_FALSE(module.gauges().empty());
    const uint32_t root = memory.read(memory.read(module.gauges().front()).element_list).address;
    struct Routine {
        const char* name;
        guest::StandardRoutine guest::GAUGEHDR::*plain;
        guest::StandardRoutineWithArg guest::GAUGEHDR::*with_argument;
        uint32_t slot;
        uint32_t argument;
    };
    const Routine routines[] = {
        {"query", &guest::GAUGEHDR::query_routine, nullptr, 24, 0},
        {"install", nullptr, &guest::GAUGEHDR::install_routine, 25, 0xCAFEF00D},
        {"initialize", &guest::GAUGEHDR::initialize_routine, nullptr, 26, 0},
        {"update", &guest::GAUGEHDR::update_routine, nullptr, 27, 0},
        {"generate", nullptr, &guest::GAUGEHDR::generate_routine, 28, 12345},
        {"draw", &guest::GAUGEHDR::draw_routine, nullptr, 29, 0},
        {"kill", &guest::GAUGEHDR::kill_routine, nullptr, 31, 0},
    };
    for (const runtime::GaugePtr gauge : module.gauges()) {
        SCOPED_TRACE(module.gauge_name(gauge));
        const guest::GAUGEHDR header = memory.read(gauge);
        for (const Routine& routine : routines) {
            SCOPED_TRACE(routine.name);
            host.clear_service_log();
            if (routine.plain != nullptr) {
                module.machine().call((header.*routine.plain).address, {}, emulator::Convention::kStdcall);
            } else {
                const uint32_t args[] = {routine.argument};
                module.machine().call((header.*routine.with_argument).address, args, emulator::Convention::kStdcall);
            }
            ASSERT_EQ(host.service_log().size(), 1u);
            EXPECT_EQ(host.service_log()[0].slot, routine.slot);
            EXPECT_EQ(host.service_log()[0].args[0], root);
            EXPECT_EQ(host.service_log()[0].args[1], routine.argument);
        }
    }
}

}  // namespace
