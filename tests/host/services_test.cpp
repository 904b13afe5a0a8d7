// The service table the host hands to modules: every served slot reaches the
// active host with its arguments, every other slot is a trap of its own, the
// variable and key-event services have the effects modules rely on, and what
// the host raises never reaches the module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/module.h"
#include "support/test_paths.h"

namespace {

using bench::Host;

uint32_t word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }

// The raw pointer in slot k, as a module sees it at byte offset 4k.
template <typename Service = UnusedService>
Service slot_pointer(const PANELS* table, uint32_t slot) {
    Service service = nullptr;
    std::memcpy(&service, reinterpret_cast<const char*>(table) + 4 * slot, sizeof service);
    return service;
}

// --- Variables ---------------------------------------------------------------

struct VarCase {
    const char* name;
    uint32_t token;
    double stored;  // in the host's store (NaN: never set)
    double expected;
};

const VarCase kVarCases[] = {
    {"reading", 390, -12.5, -12.5},
    {"token never set reads zero", 9999, std::numeric_limits<double>::quiet_NaN(), 0.0},
    {"token zero", 0, std::numeric_limits<double>::quiet_NaN(), 0.0},
};

// Lookup fills a record by its token alone; initialize also binds it, so that
// a later change in the store reaches it at its next lookup.
TEST(HostServicesVariables, LookupFillsAndInitializeAlsoBinds) {
    for (const bool initialize : {false, true}) {
        for (const VarCase& c : kVarCases) {
            SCOPED_TRACE(std::string(c.name) + (initialize ? ", initialize" : ", lookup"));
            Host host;
            if (!std::isnan(c.stored)) host.vars().set(c.token, c.stored);
            MODULE_VAR var{};
            var.token = c.token;
            var.value = 77.0;  // stale value the service must replace
            if (initialize) {
                host.panels()->initialize_var(&var);
            } else {
                host.panels()->lookup_var(&var);
            }
            EXPECT_EQ(var.value, c.expected);
            EXPECT_EQ(host.is_bound(&var), initialize);
            const auto calls = host.calls_to(initialize ? service_slot::initialize_var : service_slot::lookup_var);
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].args[0], word(&var));
            host.vars().set(c.token, 3.5);
            host.panels()->lookup_var(&var);
            EXPECT_EQ(var.value, 3.5);
        }
    }
}

TEST(HostServicesVariables, NullRecordsAreLoggedAndLeftAlone) {
    Host host;
    host.panels()->lookup_var(nullptr);
    host.panels()->initialize_var(nullptr);
    EXPECT_EQ(host.calls_to(service_slot::lookup_var).size(), 1u);
    EXPECT_EQ(host.calls_to(service_slot::initialize_var).size(), 1u);
    EXPECT_FALSE(host.is_bound(nullptr));
}

// --- Key events and key-event routines ---------------------------------------

struct Delivery {
    int routine;
    uint32_t event;
    uint32_t value;
    uint32_t user_data;
};
std::vector<Delivery> g_deliveries;

void routine_a(uint32_t event, uint32_t value, uint32_t user_data) {
    g_deliveries.push_back({1, event, value, user_data});
}
void routine_b(uint32_t event, uint32_t value, uint32_t user_data) {
    g_deliveries.push_back({2, event, value, user_data});
}

struct Registration {
    bool unregister;
    KeyEventHandler routine;
    uint32_t user_data;
};

struct RoutineCase {
    const char* name;
    std::vector<Registration> steps;
    std::vector<std::pair<int, uint32_t>> delivered;  // (routine, user data) in order
};

TEST(HostServicesKeyEvents, RoutinesRunInRegistrationOrderAndUnregisterExactPairs) {
    const RoutineCase cases[] = {
        {"unregister one pair, order kept",
         {{false, routine_a, 7}, {false, routine_b, 9}, {false, routine_a, 11}, {true, routine_a, 11}},
         {{1, 7}, {2, 9}}},
        {"routine with other data is no match", {{false, routine_a, 7}, {true, routine_a, 9}}, {{1, 7}}},
        {"data with other routine is no match", {{false, routine_a, 7}, {true, routine_b, 7}}, {{1, 7}}},
        {"same pair twice leaves one", {{false, routine_b, 3}, {false, routine_b, 3}, {true, routine_b, 3}}, {{2, 3}}},
        {"re-register goes last",
         {{false, routine_a, 1}, {false, routine_b, 2}, {true, routine_a, 1}, {false, routine_a, 1}},
         {{2, 2}, {1, 1}}},
    };
    for (const RoutineCase& c : cases) {
        SCOPED_TRACE(c.name);
        g_deliveries.clear();
        Host host;
        for (const Registration& step : c.steps) {
            if (step.unregister) {
                host.panels()->unregister_key_event_handler(step.routine, step.user_data);
            } else {
                host.panels()->register_key_event_handler(step.routine, step.user_data);
            }
        }
        EXPECT_EQ(host.key_event_handlers().size(), c.delivered.size());
        host.send_key_event(0x11000, 3);
        ASSERT_EQ(g_deliveries.size(), c.delivered.size());
        for (size_t i = 0; i < c.delivered.size(); ++i) {
            EXPECT_EQ(g_deliveries[i].routine, c.delivered[i].first) << "delivery " << i;
            EXPECT_EQ(g_deliveries[i].user_data, c.delivered[i].second) << "delivery " << i;
            EXPECT_EQ(g_deliveries[i].event, 0x11000u);
            EXPECT_EQ(g_deliveries[i].value, 3u);
        }
        EXPECT_EQ(host.calls_to(service_slot::register_key_event_handler).size() +
                      host.calls_to(service_slot::unregister_key_event_handler).size(),
                  c.steps.size());
    }
}

// A routine that unregisters itself while an event is delivered: the event
// still reaches every routine registered when it arrived.
void self_removing(uint32_t event, uint32_t value, uint32_t user_data) {
    g_deliveries.push_back({3, event, value, user_data});
    Host::active()->panels()->unregister_key_event_handler(&self_removing, user_data);
}

TEST(HostServicesKeyEvents, RoutineMayUnregisterWhileDelivered) {
    g_deliveries.clear();
    Host host;
    host.panels()->register_key_event_handler(&self_removing, 1);
    host.panels()->register_key_event_handler(&routine_a, 2);
    host.send_key_event(1, 0);
    host.send_key_event(2, 0);
    ASSERT_EQ(g_deliveries.size(), 3u);
    EXPECT_EQ(g_deliveries[0].routine, 3);
    EXPECT_EQ(g_deliveries[1].routine, 1);
    EXPECT_EQ(g_deliveries[2].routine, 1);
    EXPECT_EQ(g_deliveries[2].event, 2u);
}

// A routine that, on event 1, registers routine_b, unregisters routine_a
// (data 2) and sends event 9 in the middle of event 1's delivery.
void meddling(uint32_t event, uint32_t value, uint32_t user_data) {
    g_deliveries.push_back({4, event, value, user_data});
    if (event != 1) return;
    PANELS* services = Host::active()->panels();
    services->register_key_event_handler(&routine_b, 5);
    services->unregister_key_event_handler(&routine_a, 2);
    services->trigger_key_event(9, 0);
}

// Each event reaches the routines registered when it arrived, nested or not.
TEST(HostServicesKeyEvents, RoutinesChangedDuringADeliveryCountFromTheNextEvent) {
    g_deliveries.clear();
    Host host;
    host.panels()->register_key_event_handler(&meddling, 0);
    host.panels()->register_key_event_handler(&routine_a, 2);
    host.send_key_event(1, 0);
    host.send_key_event(2, 0);
    std::vector<std::pair<int, uint32_t>> seen;
    for (const Delivery& d : g_deliveries) seen.emplace_back(d.routine, d.event);
    EXPECT_EQ(seen, (std::vector<std::pair<int, uint32_t>>{{4, 1}, {4, 9}, {2, 9}, {1, 1}, {4, 2}, {2, 2}}));
    ASSERT_EQ(host.key_event_handlers().size(), 2u);
    EXPECT_EQ(host.key_event_handlers()[1].handler, &routine_b);
}

// --- Logs ---------------------------------------------------------------------

// A log keeps its latest entries, in order, in slots it reuses.
TEST(HostLogs, KeepTheirLatestEntries) {
    const struct {
        int added;
        std::vector<std::string> kept;
    } cases[] = {
        {0, {}},
        {2, {"0", "1"}},
        {3, {"0", "1", "2"}},
        {4, {"1", "2", "3"}},
        {7, {"4", "5", "6"}},
        {14, {"11", "12", "13"}},
    };
    for (const auto& c : cases) {
        bench::RecentLog<std::string> log(3);
        for (int i = 0; i < c.added; ++i) log.add(std::to_string(i));
        EXPECT_EQ(log, c.kept) << c.added << " added";
        EXPECT_EQ(log.dropped(), c.added - c.kept.size());
    }
    Host host;
    const uint32_t sent = Host::kKeyLogLength * 2 + 3;
    for (uint32_t i = 0; i < sent; ++i) host.send_key_event(i, 0);
    ASSERT_EQ(host.key_log().size(), Host::kKeyLogLength);
    EXPECT_EQ(host.key_log().front().id, sent - Host::kKeyLogLength);
    EXPECT_EQ(host.key_log().back().id, sent - 1);
}

// --- Calculator programs -------------------------------------------------------

TEST(HostServicesCalculator, ProgramsAreLoggedAndRun) {
    Host host;
    std::vector<std::string> run;
    host.set_calculator([&](const char* program) { run.emplace_back(program); });
    host.panels()->execute_calculator_code("1 (>L:Bombs_dropped)", nullptr, nullptr, nullptr);
    host.panels()->execute_calculator_code(nullptr, nullptr, nullptr, nullptr);
    host.panels()->execute_calculator_code("(L:Bombs_dropped) 1 + (>L:Bombs_dropped)", nullptr, nullptr, nullptr);
    const std::vector<std::string> expected = {"1 (>L:Bombs_dropped)", "(L:Bombs_dropped) 1 + (>L:Bombs_dropped)"};
    EXPECT_EQ(host.calculator_log(), expected);
    EXPECT_EQ(run, expected);
    EXPECT_EQ(host.calls_to(service_slot::execute_calculator_code).size(), 3u);
}

// --- Faults inside the host ---------------------------------------------------

void refusing_routine(uint32_t, uint32_t, uint32_t) { throw std::runtime_error("routine refused the event"); }

// What the host raises while it serves a module's call stops at the table's
// entry the module called: the call returns into the module (Dropwatch, built
// without exceptions, is on the stack) and the fault is kept under that slot.
TEST(HostServicesFaults, RaisedInsideAServiceStopsAtTheTableAndIsKept) {
    const struct {
        Host::CalculatorRunner calculator;  // none: a key routine raises instead
        uint32_t slot;
        std::string what;
    } cases[] = {
        {[](const char*) { throw std::length_error("program too long"); }, service_slot::execute_calculator_code,
         "program too long"},
        {[](const char*) { throw 7; }, service_slot::execute_calculator_code, "an exception that is no std::exception"},
        {nullptr, service_slot::trigger_key_event, "routine refused the event"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Host host;
        bench::Module dropwatch(host, test_paths::module("Dropwatch.gau"));
        host.set_calculator(c.calculator);
        if (!c.calculator) host.panels()->register_key_event_handler(&refusing_routine, 0);
        host.panels()->trigger_key_event(66658, 0);  // a bomb released: Dropwatch runs a program
        EXPECT_EQ(host.service_fault_count(), 1u);
        ASSERT_EQ(host.service_faults().size(), 1u);
        EXPECT_EQ(host.service_faults()[0].slot, c.slot);
        EXPECT_EQ(host.service_faults()[0].what, c.what);
        EXPECT_EQ(host.calls_to(service_slot::execute_calculator_code).size(), 1u);
    }
}

// --- The table itself ----------------------------------------------------------

TEST(HostServicesTable, UnusedSlotsAreTrapsThatReportTheirSlot) {
    size_t traps = 0;
    for (uint32_t slot = 0; slot < kPanelsSlotCount; ++slot) {
        if (std::ranges::find(bench::kServedSlots, slot) != bench::kServedSlots.end()) continue;
        ++traps;
        SCOPED_TRACE("slot " + std::to_string(slot));
        Host host;
        slot_pointer(host.panels(), slot)();
        ASSERT_EQ(host.unexpected_slots().size(), 1u);
        EXPECT_EQ(host.unexpected_slots()[0], slot);
        ASSERT_EQ(host.service_log().size(), 1u);
        EXPECT_EQ(host.service_log()[0].slot, slot);
    }
    EXPECT_EQ(traps, 69u);
}

TEST(HostServicesTable, WithoutAnActiveHostCallsDoNothing) {
    PANELS table{};
    {
        Host host;
        table = *host.panels();
    }
    ASSERT_EQ(Host::active(), nullptr);
    MODULE_VAR var{};
    var.token = 5;
    var.value = 12.0;
    table.lookup_var(&var);
    table.initialize_var(&var);
    table.trigger_key_event(65820, 1);
    table.register_key_event_handler(&routine_a, 1);
    slot_pointer(&table, 30)();
    EXPECT_EQ(var.value, 12.0);
}

TEST(HostServicesTable, LatestHostIsActiveUntilItGoes) {
    Host outer;
    EXPECT_EQ(Host::active(), &outer);
    {
        Host inner;
        EXPECT_EQ(Host::active(), &inner);
        MODULE_VAR var{};
        outer.panels()->lookup_var(&var);  // any host's table serves the active one
        EXPECT_EQ(inner.service_log().size(), 1u);
        EXPECT_TRUE(outer.service_log().empty());
    }
    EXPECT_EQ(Host::active(), &outer);
}

// --- The main window check -------------------------------------------------------

TEST(HostWindows, NullNamesMatchAny) {
    Host host;
    host.set_window("MSCFSMAIN", "Microsoft Combat Flight Simulator", true);
    EXPECT_TRUE(host.has_window(nullptr, "Microsoft Combat Flight Simulator"));
    EXPECT_TRUE(host.has_window("MSCFSMAIN", nullptr));
    EXPECT_FALSE(host.has_window("MSCFSMAIN", "Other"));
    EXPECT_FALSE(host.has_window(nullptr, "Other"));
}

}  // namespace
