// The service table each module is handed, called as module code calls it:
// every served slot reaches the module's host with its arguments, every other
// slot is a trap of its own, the variable and key-event services have the
// effects modules rely on, key-event routines run in the module that
// registered them with the C convention, and what the host raises never
// reaches the module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/vocabulary.h"
#include "runtime/guest_helpers.h"
#include "runtime/host.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "support/test_paths.h"
#include "tests/fixtures/bench_fixture/fixture_ids.h"

namespace {

using frame::GuestPtr;
using guest_helpers::call_service;
using guest_helpers::place;
using guest_helpers::place_string;
using runtime::Host;

class Services : public ::testing::Test {
protected:
    Host host;
    runtime::Module module{host, test_paths::module("BenchFixture.gau")};

    void call(uint32_t slot, std::initializer_list<uint32_t> args) {
        call_service(module, slot, std::span<const uint32_t>(args.begin(), args.size()));
    }
};

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
            const runtime::Module module(host, test_paths::module("BenchFixture.gau"));
            if (!std::isnan(c.stored)) host.vars().set(c.token, c.stored);
            const auto var = place(module, guest::MODULE_VAR{.token = c.token, .value = 77.0});
            const uint32_t slot = initialize ? service_slot::initialize_var : service_slot::lookup_var;
            const uint32_t args[] = {var.address};
            call_service(module, slot, args);
            EXPECT_EQ(module.memory().read(var).value, c.expected);
            EXPECT_EQ(host.is_bound(module, var), initialize);
            const auto calls = host.calls_to(slot);
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].args[0], uint32_t{var.address});
            host.vars().set(c.token, 3.5);
            call_service(module, service_slot::lookup_var, args);
            EXPECT_EQ(module.memory().read(var).value, 3.5);
        }
    }
}

// A null record is left alone; one the module cannot write ends the module's
// call with a fault of its own, as the module's own write there would.
TEST_F(Services, VariableRecordsTheModuleCannotWriteFault) {
    const uint32_t read_only = module.memory().read(module.gauge(bench_fixture::kDialsName)).gauge_name.address;
    const struct {
        const char* name;
        uint32_t address;
        bool faults;
    } cases[] = {{"null", 0, false}, {"nowhere", 0x10, true}, {"read-only data", read_only, true}};
    for (const auto& c : cases) {
        for (const uint32_t slot : {service_slot::lookup_var, service_slot::initialize_var}) {
            SCOPED_TRACE(std::string(c.name) + ", slot " + std::to_string(slot));
            host.clear_service_log();
            if (c.faults) {
                EXPECT_THROW(call(slot, {c.address}), emulator::GuestFault);
            } else {
                call(slot, {c.address});
            }
            EXPECT_EQ(host.calls_to(slot).size(), 1u);
            EXPECT_FALSE(host.is_bound(module, GuestPtr<guest::MODULE_VAR>(c.address)));
        }
    }
    EXPECT_EQ(host.service_fault_count(), 0u);
}

// --- Key events and key-event routines ---------------------------------------

struct Delivery {
    int routine;
    uint32_t event;
    uint32_t value;
    uint32_t user_data;
    bool operator==(const Delivery&) const = default;
};

class KeyEventRoutines : public Services {
protected:
    std::vector<Delivery> deliveries;

    // A key-event routine in the module's memory (called with the C
    // convention, as the host must) that records its deliveries, then does
    // `more`.
    guest::KeyEventHandler routine(int number, std::function<void(uint32_t event)> more = {}) {
        const uint32_t address =
            module.machine().host_routine("routine " + std::to_string(number), 3, emulator::Convention::kCdecl,
                                          [this, number, more](std::span<const uint32_t> args) {
                                              deliveries.push_back({number, args[0], args[1], args[2]});
                                              if (more) more(args[0]);
                                              return 0u;
                                          });
        return guest::KeyEventHandler(address);
    }
    void register_routine(guest::KeyEventHandler handler, uint32_t user_data) {
        call(service_slot::register_key_event_handler, {handler.address, user_data});
    }
    void unregister_routine(guest::KeyEventHandler handler, uint32_t user_data) {
        call(service_slot::unregister_key_event_handler, {handler.address, user_data});
    }
};

TEST_F(KeyEventRoutines, RunInRegistrationOrderAndUnregisterExactPairs) {
    const guest::KeyEventHandler a = routine(1), b = routine(2);
    struct Step {
        bool unregister;
        guest::KeyEventHandler routine;
        uint32_t user_data;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::pair<int, uint32_t>> delivered;  // (routine, user data) in order
    } cases[] = {
        {"unregister one pair, order kept",
         {{false, a, 7}, {false, b, 9}, {false, a, 11}, {true, a, 11}},
         {{1, 7}, {2, 9}}},
        {"routine with other data is no match", {{false, a, 7}, {true, a, 9}}, {{1, 7}}},
        {"data with other routine is no match", {{false, a, 7}, {true, b, 7}}, {{1, 7}}},
        {"same pair twice leaves one", {{false, b, 3}, {false, b, 3}, {true, b, 3}}, {{2, 3}}},
        {"re-register goes last", {{false, a, 1}, {false, b, 2}, {true, a, 1}, {false, a, 1}}, {{2, 2}, {1, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (const Step& step : c.steps) {
            if (step.unregister) {
                unregister_routine(step.routine, step.user_data);
            } else {
                register_routine(step.routine, step.user_data);
            }
        }
        ASSERT_EQ(host.key_event_handlers().size(), c.delivered.size());
        EXPECT_EQ(host.key_event_handlers()[0].module, &module);
        deliveries.clear();
        host.send_key_event(0x11000, 3);
        std::vector<Delivery> expected;
        for (const auto& [number, user_data] : c.delivered) expected.push_back({number, 0x11000, 3, user_data});
        EXPECT_EQ(deliveries, expected);
        for (const auto& registration : host.key_event_handlers()) {
            unregister_routine(registration.handler, registration.user_data);
        }
        ASSERT_TRUE(host.key_event_handlers().empty());
    }
}

// A routine that unregisters itself while an event is delivered: the event
// still reaches every routine registered when it arrived.
TEST_F(KeyEventRoutines, RoutineMayUnregisterWhileDelivered) {
    guest::KeyEventHandler self;
    self = routine(3, [&](uint32_t) { unregister_routine(self, 1); });
    register_routine(self, 1);
    register_routine(routine(1), 2);
    host.send_key_event(1, 0);
    host.send_key_event(2, 0);
    EXPECT_EQ(deliveries, (std::vector<Delivery>{{3, 1, 0, 1}, {1, 1, 0, 2}, {1, 2, 0, 2}}));
}

// Each event reaches the routines registered when it arrived, nested or not:
// on event 1 a routine registers routine 2, unregisters routine 1 and sends
// event 9 in the middle of event 1's delivery.
TEST_F(KeyEventRoutines, RoutinesChangedDuringADeliveryCountFromTheNextEvent) {
    const guest::KeyEventHandler a = routine(1), b = routine(2);
    register_routine(routine(4,
                             [&](uint32_t event) {
                                 if (event != 1) return;
                                 register_routine(b, 5);
                                 unregister_routine(a, 2);
                                 call(service_slot::trigger_key_event, {9, 0});
                             }),
                     0);
    register_routine(a, 2);
    host.send_key_event(1, 0);
    host.send_key_event(2, 0);
    std::vector<std::pair<int, uint32_t>> seen;
    for (const Delivery& d : deliveries) seen.emplace_back(d.routine, d.event);
    EXPECT_EQ(seen, (std::vector<std::pair<int, uint32_t>>{{4, 1}, {4, 9}, {2, 9}, {1, 1}, {4, 2}, {2, 2}}));
    ASSERT_EQ(host.key_event_handlers().size(), 2u);
    EXPECT_EQ(host.key_event_handlers()[1].handler, b);
}

// Dropwatch's routine, registered by its module_init, is module code that
// takes its arguments C-style: the host calls it in Dropwatch's machine,
// whichever modules were loaded around it, and not once it is unloaded.
// A routine that faults ends the event's delivery. An event sent from
// outside the module comes back as the runtime's fault, naming the module and
// the event; one module code sends ends the module's own call with the
// machine's fault, as a fault of its own code would.
TEST_F(KeyEventRoutines, AFaultingRoutineEndsTheDeliveryInItsCallersWords) {
    register_routine(guest::KeyEventHandler(0x10), 7);  // no code there
    try {
        host.send_key_event(42, 1);
        ADD_FAILURE() << "the routine's fault was lost";
    } catch (const runtime::ModuleFault& fault) {
        EXPECT_EQ(fault.kind(), runtime::ModuleFault::Kind::kFetch) << fault.what();
        EXPECT_EQ(std::string(fault.what()).rfind("BenchFixture.gau: key-event routine (event 42, value 1): ", 0), 0u)
            << fault.what();
        EXPECT_TRUE(runtime::is_module_fault(fault));
    }
    EXPECT_THROW(call(service_slot::trigger_key_event, {42, 1}), emulator::GuestFault);
}

TEST(KeyEventRoutinesOfModules, RunInTheModuleThatRegisteredThem) {
    Host host;
    runtime::Module fixture(host, test_paths::module("BenchFixture.gau"));
    auto dropwatch = std::make_unique<runtime::Module>(host, test_paths::module("Dropwatch.gau"));
    ASSERT_EQ(host.key_event_handlers().size(), 1u);
    EXPECT_EQ(host.key_event_handlers()[0].module, dropwatch.get());
    for (int i = 0; i < 2; ++i) host.send_key_event(sim::event::kBombReleased, 0);
    EXPECT_EQ(host.calculator_log().size(), 2u);
    EXPECT_EQ(host.service_fault_count(), 0u);
    dropwatch.reset();
    EXPECT_TRUE(host.key_event_handlers().empty());
    host.send_key_event(sim::event::kBombReleased, 0);
    EXPECT_EQ(host.calculator_log().size(), 2u);
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
        runtime::RecentLog<std::string> log(3);
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

// A live panel's new host is made beside the running one, which ends first:
// whatever the order hosts end in, the active one is the latest still there.
TEST(HostActive, IsTheLatestStillStandingWhateverOrderHostsEnd) {
    const std::vector<std::vector<int>> orders = {{2, 1, 0}, {0, 1, 2}, {1, 0, 2}, {1, 2, 0}, {0, 2, 1}};
    for (const std::vector<int>& order : orders) {
        std::vector<std::unique_ptr<Host>> hosts;
        for (int i = 0; i < 3; ++i) hosts.push_back(std::make_unique<Host>());
        for (const int ending : order) {
            hosts[static_cast<size_t>(ending)].reset();
            Host* latest = nullptr;
            for (const auto& host : hosts) latest = host ? host.get() : latest;
            EXPECT_EQ(Host::active(), latest) << "ending host " << ending;
        }
    }
}

// --- Calculator programs -------------------------------------------------------

TEST_F(Services, CalculatorProgramsAreReadFromTheModuleAndRun) {
    std::vector<std::string> run;
    host.set_calculator([&](const char* program) { run.emplace_back(program); });
    const std::vector<std::string> programs = {"1 (>L:Bombs_dropped)", "", "(L:Bombs_dropped) 1 + (>L:Bombs_dropped)"};
    for (const std::string& program : programs) {
        const uint32_t code = program.empty() ? 0 : place_string(module, program).address;
        call(service_slot::execute_calculator_code, {code, 0, 0, 0});
    }
    const std::vector<std::string> expected = {programs[0], programs[2]};
    EXPECT_EQ(host.calculator_log(), expected);
    EXPECT_EQ(run, expected);
    EXPECT_EQ(host.calls_to(service_slot::execute_calculator_code).size(), 3u);
    // A program running out of the module's memory ends the module's call.
    EXPECT_THROW(call(service_slot::execute_calculator_code, {0x10, 0, 0, 0}), emulator::GuestFault);
    EXPECT_EQ(run.size(), 2u);
}

// --- Faults inside the host ---------------------------------------------------

// What the host raises while it serves a module's call stops at the table's
// entry the module called: the call returns into the module (Dropwatch's
// key-event routine is on the machine's stack) and the fault is kept under
// that slot.
TEST(HostServicesFaults, RaisedInsideAServiceStopsAtTheTableAndIsKept) {
    const struct {
        Host::CalculatorRunner calculator;
        std::string what;
    } cases[] = {
        {[](const char*) { throw std::length_error("program too long"); }, "program too long"},
        {[](const char*) { throw 7; }, "an exception that is no std::exception"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Host host;
        runtime::Module dropwatch(host, test_paths::module("Dropwatch.gau"));
        host.set_calculator(c.calculator);
        host.send_key_event(sim::event::kBombReleased, 0);  // Dropwatch runs a program
        EXPECT_EQ(host.service_fault_count(), 1u);
        ASSERT_EQ(host.service_faults().size(), 1u);
        EXPECT_EQ(host.service_faults()[0].slot, service_slot::execute_calculator_code);
        EXPECT_EQ(host.service_faults()[0].what, c.what);
        // The machine is fit for the next event.
        host.send_key_event(sim::event::kBombReleased, 0);
        EXPECT_EQ(host.calls_to(service_slot::execute_calculator_code).size(), 2u);
        EXPECT_EQ(host.service_fault_count(), 2u);
    }
}

// --- The table itself ----------------------------------------------------------

// Each served slot takes exactly its arguments off the stack (or the machine
// reports a broken call) and hands them to the host as passed.
TEST_F(Services, ServedSlotsPassTheirArgumentsOn) {
    const uint32_t var = place(module, guest::MODULE_VAR{.token = 1}).address;
    const uint32_t code = place_string(module, "1").address;
    const struct {
        uint32_t slot;
        std::vector<uint32_t> args;
    } cases[] = {
        {service_slot::element_list_query, {0x1000}},
        {service_slot::element_list_install, {0x1004, 0xCAFEF00D}},
        {service_slot::element_list_initialize, {0x1008}},
        {service_slot::element_list_update, {0x100C}},
        {service_slot::element_list_generate, {0x1010, 12345}},
        {service_slot::element_list_plot, {0x1014}},
        {service_slot::element_list_kill, {0x1018}},
        {service_slot::trigger_key_event, {0x11001, 4}},
        {service_slot::initialize_var, {var}},
        {service_slot::lookup_var, {var}},
        {service_slot::execute_calculator_code, {code, 0x2000, 0x2004, 0x2008}},
        {service_slot::register_key_event_handler, {0x3000, 9}},
        {service_slot::unregister_key_event_handler, {0x3000, 9}},
    };
    ASSERT_EQ(std::size(cases), runtime::kServedSlots.size());
    for (const auto& c : cases) {
        SCOPED_TRACE("slot " + std::to_string(c.slot));
        ASSERT_EQ(runtime::service_shape(c.slot)->words, c.args.size());
        host.clear_service_log();
        call_service(module, c.slot, c.args);
        ASSERT_EQ(host.service_log().size(), 1u);
        EXPECT_EQ(host.service_log()[0].slot, c.slot);
        EXPECT_TRUE(std::equal(c.args.begin(), c.args.end(), host.service_log()[0].args));
    }
    EXPECT_EQ(host.unexpected_count(), 0u);
    EXPECT_EQ(host.service_fault_count(), 0u);
}

TEST_F(Services, UnusedSlotsAreTrapsThatReportTheirSlot) {
    std::vector<uint32_t> traps;
    for (uint32_t slot = 0; slot < kPanelsSlotCount; ++slot) {
        if (runtime::service_shape(slot) != nullptr) continue;
        traps.push_back(slot);
        host.clear_service_log();
        call_service(module, slot);
        ASSERT_EQ(host.service_log().size(), 1u);
        EXPECT_EQ(host.service_log()[0].slot, slot);
    }
    EXPECT_EQ(traps.size(), 69u);
    EXPECT_EQ(host.unexpected_slots(), traps);
}

// A module's table serves the host that loaded it, whichever host came last,
// and tells the host which module called.
TEST(HostServicesTable, EachModuleServesItsOwnHost) {
    Host outer;
    runtime::Module first(outer, test_paths::module("BenchFixture.gau"));
    runtime::Module second(outer, test_paths::module("BenchFixture.gau"));
    Host inner;
    runtime::Module other(inner, test_paths::module("BenchFixture.gau"));
    const GuestPtr<guest::MODULE_VAR> var = place(first, guest::MODULE_VAR{.token = 5});
    const uint32_t args[] = {var.address};
    call_service(first, service_slot::initialize_var, args);
    EXPECT_EQ(outer.service_log().size(), 1u);
    EXPECT_TRUE(inner.service_log().empty());
    EXPECT_TRUE(outer.is_bound(first, var));
    EXPECT_FALSE(outer.is_bound(second, var));
}

// --- The main window check -------------------------------------------------------

TEST(HostWindows, NullNamesMatchAny) {
    Host host;
    host.set_window("MSCFSMAIN", "Microsoft Combat Flight Simulator", true);
    EXPECT_TRUE(host.has_window(std::nullopt, "Microsoft Combat Flight Simulator"));
    EXPECT_TRUE(host.has_window("MSCFSMAIN", std::nullopt));
    EXPECT_FALSE(host.has_window("MSCFSMAIN", "Other"));
    EXPECT_FALSE(host.has_window(std::nullopt, "Other"));
    host.set_window("MSCFSMAIN", "Microsoft Combat Flight Simulator", false);
    EXPECT_FALSE(host.has_window(std::nullopt, std::nullopt));
}

}  // namespace
