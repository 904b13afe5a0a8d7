// Korvane.gau as the host loads it: the Linkage header, the gauge table's
// end, and the standard routines that every header shares.
#include <gtest/gtest.h>

#include "host/host.h"
#include "host/module.h"
#include "support/test_paths.h"

namespace {

class KorvaneLinkage : public ::testing::Test {
protected:
    bench::Host host;
    bench::Module module{host, test_paths::module("Korvane.gau")};
};

TEST_F(KorvaneLinkage, HeaderFields) {
    const LINKAGE_HEADER* linkage = module.linkage();
    EXPECT_EQ(linkage->module_id, 0x13u);
    EXPECT_EQ(linkage->module_flags, 0u);
    EXPECT_EQ(linkage->module_priority, 0u);
    EXPECT_EQ(linkage->module_version, 0u);
    EXPECT_NE(linkage->module_init, nullptr);
    EXPECT_EQ(linkage->module_init, linkage->module_deinit);
    // init (called at load) asks nothing of the host.
    EXPECT_TRUE(host.service_log().empty());
}

// Each gauge's place in the table is checked with its records; here, the
// table's length and its terminating null.
TEST_F(KorvaneLinkage, GaugeTableHoldsAll47ThenANull) {
    ASSERT_EQ(module.gauges().size(), 47u);
    auto* const* table =
        reinterpret_cast<GAUGEHDR* const*>(reinterpret_cast<const char*>(module.linkage()) + sizeof(LINKAGE_HEADER));
    EXPECT_EQ(table[47], nullptr);
}

// Whichever header they come from, the seven routines act on the first
// gauge's root and pass the host's argument on unchanged.
TEST_F(KorvaneLinkage, StandardRoutinesActOnTheFirstGauge) {
    const auto& gauges = module.gauges();
    ASSERT_FALSE(gauges.empty());
    const uint32_t root = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(gauges.front()->element_list[0]));
    struct Routine {
        const char* name;
        uint32_t slot;
        uint32_t argument;
    };
    const Routine routines[] = {{"query", 24, 0},  {"install", 25, 0xCAFEF00D}, {"initialize", 26, 0},
                                {"update", 27, 0}, {"generate", 28, 12345},     {"draw", 29, 0},
                                {"kill", 31, 0}};
    for (GAUGEHDR* gauge : gauges) {
        SCOPED_TRACE(gauge->gauge_name);
        host.clear_service_log();
        gauge->query_routine();
        gauge->install_routine(0xCAFEF00D);
        gauge->initialize_routine();
        gauge->update_routine();
        gauge->generate_routine(12345);
        gauge->draw_routine();
        gauge->kill_routine();
        ASSERT_EQ(host.service_log().size(), std::size(routines));
        for (size_t i = 0; i < std::size(routines); ++i) {
            SCOPED_TRACE(routines[i].name);
            EXPECT_EQ(host.service_log()[i].slot, routines[i].slot);
            EXPECT_EQ(host.service_log()[i].args[0], root);
            EXPECT_EQ(host.service_log()[i].args[1], routines[i].argument);
        }
    }
}

}  // namespace
