// Korvane.gau as the host loads it: the Linkage header, the ImportTable the
// host fills, the gauge table in the host's order, and the standard routines
// that every header shares.
#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <string_view>

#include "frame/gauge_table.h"
#include "host/host.h"
#include "host/module.h"
#include "support/test_paths.h"

namespace {

// The host's gauge order; the module lists the gauges built so far in this
// order (a subsequence of it, ending with all 47).
constexpr std::array<std::string_view, 47> kHostOrder = {
    "Accelerometer",         "Attitude",
    "Altimeter",             "Airspeed",
    "Clock",                 "Compass",
    "Fuel_Pressure_Warning1", "Fuel_Pressure_Warning2",
    "Fuel_Pressure_Warning3", "Fuel_Pressure_Warning4",
    "Gear_Indicator",        "Magneto_Switch",
    "Starter_Switch",        "Timer",
    "Turn",                  "Tachometer1",
    "Tachometer2",           "Tachometer3",
    "Tachometer4",           "Boost1",
    "Boost2",                "Boost3",
    "Boost4",                "Oil_Temperature1",
    "Oil_Temperature2",      "Oil_Temperature3",
    "Oil_Temperature4",      "Oil_Pressure1",
    "Oil_Pressure2",         "Oil_Pressure3",
    "Oil_Pressure4",         "Radiator_Temperature1",
    "Radiator_Temperature2", "Radiator_Temperature3",
    "Radiator_Temperature4", "VSI",
    "Fuel_Quantity_Port_1",  "Fuel_Quantity_Stbd_1",
    "Fuel_Quantity_Port_2",  "Fuel_Quantity_Stbd_2",
    "Fuel_Quantity_Port_3",  "Fuel_Quantity_Stbd_3",
    "Flap_Position",         "Throttle",
    "Prop_Control",          "DR_Compass",
    "Direction_Finder",
};

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

TEST_F(KorvaneLinkage, ImportTableKeepsItsFrame) {
    const IMPORT_TABLE* imports = module.import_table();
    EXPECT_EQ(imports->panels_id, 0x0Fu);
    EXPECT_EQ(imports->panels, host.panels());
    EXPECT_EQ(imports->end_id, 0u);
    EXPECT_EQ(imports->end_pointer, nullptr);
}

TEST_F(KorvaneLinkage, GaugeTableFollowsTheHostOrder) {
    const auto& gauges = module.gauges();
    EXPECT_EQ(gauges.size(), kHostOrder.size());
    // The table ends with a null right after the last gauge.
    auto* const* table =
        reinterpret_cast<GAUGEHDR* const*>(reinterpret_cast<const char*>(module.linkage()) + sizeof(LINKAGE_HEADER));
    EXPECT_EQ(table[gauges.size()], nullptr);

    size_t next = 0;  // where in the host order the next name may be
    for (size_t i = 0; i < gauges.size(); ++i) {
        ASSERT_NE(gauges[i], nullptr);
        ASSERT_NE(gauges[i]->gauge_name, nullptr) << "entry " << i;
        const std::string_view name = gauges[i]->gauge_name;
        size_t at = next;
        while (at < kHostOrder.size() && kHostOrder[at] != name) ++at;
        ASSERT_LT(at, kHostOrder.size()) << "entry " << i << ", \"" << name << "\", is not in the host order after \""
                                         << (next > 0 ? kHostOrder[next - 1] : "") << "\"";
        next = at + 1;
    }
    ASSERT_EQ(gauges.size(), kHostOrder.size());
    for (size_t i = 0; i < gauges.size(); ++i) EXPECT_EQ(gauges[i]->gauge_name, kHostOrder[i]);
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
    const Routine routines[] = {{"query", 24, 0},      {"install", 25, 0xCAFEF00D}, {"initialize", 26, 0},
                                {"update", 27, 0},     {"generate", 28, 12345},     {"draw", 29, 0},
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
