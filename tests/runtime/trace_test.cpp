// The trace of module code: a traced call names its gauge and callback and
// lists the services it called in the vocabulary's words with what the
// module received; the filters pick calls by gauge and callback, letter case
// aside; a line and the file stay within their bounds.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/machine/guest_memory.h"
#include "frame/vocabulary.h"
#include "runtime/bench_fixture_support.h"
#include "runtime/call_context.h"
#include "runtime/guest_helpers.h"
#include "runtime/module_code.h"
#include "runtime/trace.h"

namespace {

namespace fx = bench_fixture;

// The lines a trace wrote, read back from its stream.
std::vector<std::string> lines_of(std::FILE* file) {
    std::vector<std::string> lines;
    std::rewind(file);
    std::string line;
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) {
        if (c != '\n') {
            line += static_cast<char>(c);
        } else {
            lines.push_back(line);
            line.clear();
        }
    }
    return lines;
}

class Traced : public ::testing::Test {
protected:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    std::unique_ptr<std::FILE, Closer> file{std::tmpfile()};
    runtime::Host host;
    std::unique_ptr<runtime::Trace> trace;
    std::unique_ptr<runtime::Module> module;

    void start(runtime::TraceFilter filter, uint64_t limit = 0) {
        trace = std::make_unique<runtime::Trace>(file.get(), std::move(filter), 0, limit);
        host.set_trace(trace.get());
        module = std::make_unique<runtime::Module>(host, test_paths::module("BenchFixture.gau"));
        module->override_bitmap_size(fx::kDialsBackground, fixture_support::kDialsWidth, fixture_support::kDialsHeight);
        module->override_bitmap_size(fx::kNeedleBitmap, 8, 8);
    }
    std::vector<std::string> written() {
        trace->flush();
        return lines_of(file.get());
    }
};

// One update of the dials gauge, as the trace tells it.
struct FilterCase {
    const char* name;
    runtime::TraceFilter filter;
    size_t update_lines;  // lines of gauge_callback (update) of Fixture_Dials
    size_t other_lines;   // lines of any other call after loading
};

const FilterCase kFilterCases[] = {
    // Setup, after setup, the needle's callback and the host's failure check.
    {"no filter", {}, 1, 4},
    {"the gauge, letter case aside", {{"fixture_dials"}, {}}, 1, 4},
    {"another gauge", {{"Fixture_Panel"}, {}}, 0, 0},
    {"the callback by its words in parentheses", {{}, {"UPDATE"}}, 1, 0},
    {"the callback by its first words", {{"Fixture_Dials"}, {"gauge_callback"}}, 1, 2},
    {"another callback", {{}, {"mouse handler"}}, 0, 0},
    {"the host's failure check", {{}, {"Failure Check (host)"}}, 0, 1},
};

class TraceFilters : public Traced, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(TraceFilters, ListTheServicesOfTheCallsTheyPick) {
    start(GetParam().filter);
    host.vars().set(fx::kTokenDialsStandAlone, 42.5);
    const size_t after_loading = written().size();
    runtime::GaugeInstance instance(host, *module, module->gauge(fx::kDialsName));
    instance.setup();
    instance.update();
    const std::vector<std::string> lines = written();
    size_t updates = 0;
    for (size_t i = after_loading; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        if (line.find("\"callback\":\"gauge_callback (update)\"") == std::string::npos) continue;
        ++updates;
        EXPECT_NE(line.find("\"gauge\":\"Fixture_Dials\""), std::string::npos) << line;
        EXPECT_NE(line.find("{\"service\":\"lookup_var\",\"token\":510,\"value\":42.5}"), std::string::npos) << line;
        EXPECT_NE(line.find("{\"service\":\"trigger_key_event\""), std::string::npos) << line;
        EXPECT_EQ(line.find("\"instructions\":0"), std::string::npos) << line;
    }
    EXPECT_EQ(updates, GetParam().update_lines);
    EXPECT_EQ(lines.size() - after_loading - updates, GetParam().other_lines);
}

INSTANTIATE_TEST_SUITE_P(Trace, TraceFilters, ::testing::ValuesIn(kFilterCases),
                         [](const auto& info) { return std::to_string(info.index); });

// A service the module calls, named from the vocabulary.
struct ServiceCase {
    const char* name;
    uint32_t slot;
    uint32_t number;  // the token or event
    double value;     // what the host holds, or the event's value
    const char* entry;
};

const ServiceCase kServiceCases[] = {
    {"a named variable with its reading", service_slot::lookup_var, sim::token::kIndicatedAltitude, 1500.0,
     R"({"service":"lookup_var","variable":"altitude","value":1500,"reads":"1500 ft"})"},
    {"a variable the vocabulary does not name", service_slot::lookup_var, 9999, -2.0,
     R"({"service":"lookup_var","token":9999,"value":-2})"},
    {"a named key event", service_slot::trigger_key_event, sim::event::kAltimeterSetting, 16208.0,
     R"({"service":"trigger_key_event","event":"altimeter_setting","value":16208})"},
    {"an unnamed key event", service_slot::trigger_key_event, 7, 3.0,
     R"({"service":"trigger_key_event","event_id":7,"value":3})"},
};

class TraceServices : public Traced, public ::testing::WithParamInterface<ServiceCase> {};

TEST_P(TraceServices, NameWhatTheModuleReceived) {
    const ServiceCase& c = GetParam();
    start({});
    std::vector<uint32_t> args;
    if (c.slot == service_slot::lookup_var) {
        host.vars().set(c.number, c.value);
        guest::MODULE_VAR var{};
        var.token = c.number;
        args = {guest_helpers::place(*module, var).address};
    } else {
        args = {c.number, static_cast<uint32_t>(c.value)};
    }
    {
        const runtime::CallScope scope(*module, "Fixture_Dials", "mouse handler");
        guest_helpers::call_service(*module, c.slot, args);
    }
    const std::vector<std::string> lines = written();
    ASSERT_FALSE(lines.empty());
    EXPECT_NE(lines.back().find(std::string("\"services\":[") + c.entry + "]"), std::string::npos) << lines.back();
}

INSTANTIATE_TEST_SUITE_P(Trace, TraceServices, ::testing::ValuesIn(kServiceCases),
                         [](const auto& info) { return std::to_string(info.index); });

// How a call's line says what it ran for and how it ended.
struct CallCase {
    const char* name;
    bool key_event;     // a key-event routine's scope, else the mouse handler's
    uint32_t event;     // its event
    const char* fault;  // told once the call has left; null: none
    bool thrown;        // the call ends by an exception
    const char* says;   // in its line
};

const CallCase kCallCases[] = {
    {"a routine names its event and value", true, sim::event::kAltimeterSetting, nullptr, false,
     R"("callback":"key-event routine","event":"altimeter_setting","value":16208,"depth":0,)"},
    {"an event the vocabulary lacks by its number", true, 7, nullptr, false,
     R"("callback":"key-event routine","event_id":7,"value":16208,)"},
    {"a call that faulted says with what", false, 0, "write at 0x00000000", true,
     R"("ended":"cut short","fault":"write at 0x00000000"})"},
    {"a call cut short with no fault told", false, 0, nullptr, true, R"("ended":"cut short"})"},
};

class TraceCalls : public Traced, public ::testing::WithParamInterface<CallCase> {};

TEST_P(TraceCalls, SayWhatTheyRanForAndHowTheyEnded) {
    const CallCase& c = GetParam();
    start({});
    const size_t before = written().size();
    try {
        const runtime::KeyEvent event{c.event, 16208};
        std::optional<runtime::CallScope> scope;
        if (c.key_event) {
            scope.emplace(*module, event);
        } else {
            scope.emplace(*module, "Fixture_Dials", runtime::kMouseHandler);
        }
        if (c.thrown) throw emulator::GuestFault(emulator::GuestFault::Kind::kWrite, 0, 0, c.fault ? c.fault : "");
    } catch (const emulator::GuestFault& fault) {
        if (c.fault != nullptr) runtime::fault_message(*module, "gauge Fixture_Dials, mouse handler", fault);
    }
    const std::vector<std::string> lines = written();
    ASSERT_EQ(lines.size(), before + 1);
    EXPECT_NE(lines.back().find(c.says), std::string::npos) << lines.back();
}

INSTANTIATE_TEST_SUITE_P(Trace, TraceCalls, ::testing::ValuesIn(kCallCases),
                         [](const auto& info) { return std::to_string(info.index); });

// A fault of a module built with DWARF names its source line, in the
// message and in the trace's line of the call.
TEST(TraceOfAFault, NamesTheSourceLine) {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::tmpfile(), std::fclose);
    runtime::Host host;
    runtime::Trace trace(file.get());
    host.set_trace(&trace);
    runtime::Module module(host, test_paths::module("Debuggee.gau"));
    runtime::GaugeInstance probe(host, module, module.gauge("Probe"));
    probe.setup();
    host.vars().set(sim::token::kIndicatedAirspeed, 321.0);  // where the probe writes through null
    try {
        probe.update();
        ADD_FAILURE() << "no fault";
    } catch (const runtime::GaugeFault& fault) {
        EXPECT_TRUE(std::string(fault.what())
                        .ends_with(": write at 0x00000000 (unmapped: a null pointer?) by the "
                                   "instruction at " +
                                   emulator::hex(fault.pc()) +
                                   " (read-only, .text of Debuggee.gau) (debuggee.cpp:35, "
                                   "in probe_callback)"))
            << fault.what();
    }
    trace.flush();
    const std::vector<std::string> lines = lines_of(file.get());
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(lines.back().ends_with(R"x( (debuggee.cpp:35, in probe_callback)","source":"debuggee.cpp:35"})x"))
        << lines.back();
}

// Calls of the mouse handler, each reading a variable `reads` times.
struct BoundCase {
    const char* name;
    size_t calls;
    size_t reads;
    uint64_t limit;
    size_t listed;        // services the first line lists
    const char* dropped;  // its count of the others, or null for none
    bool cut;
};

const BoundCase kBoundCases[] = {
    {"a call within the line's bound", 1, 3, 0, 3, nullptr, false},
    {"a call beyond it lists its first services", 1, 100, 0, 64, R"("services_dropped":36)", false},
    {"the limit ends the file at a whole line", 40, 1, 2048, 1, nullptr, true},
    {"a file within its limit is whole", 3, 1, 2048, 1, nullptr, false},
};

class TraceBounds : public Traced, public ::testing::WithParamInterface<BoundCase> {};

TEST_P(TraceBounds, HoldTheLinesAndTheFile) {
    const BoundCase& c = GetParam();
    start({{}, {"mouse handler"}}, c.limit);
    size_t told = 0;
    trace->when_cut([&] { ++told; });
    guest::MODULE_VAR var{};
    var.token = sim::token::kIndicatedAltitude;
    const std::vector<uint32_t> args{guest_helpers::place(*module, var).address};
    for (size_t call = 0; call < c.calls; ++call) {
        const runtime::CallScope scope(*module, "Fixture_Dials", "mouse handler");
        for (size_t read = 0; read < c.reads; ++read)
            guest_helpers::call_service(*module, service_slot::lookup_var, args);
    }
    ASSERT_TRUE(trace->end());
    const long size = std::ftell(file.get());
    const std::vector<std::string> lines = lines_of(file.get());
    ASSERT_FALSE(lines.empty());
    for (const std::string& line : lines) EXPECT_TRUE(line.starts_with("{") && line.ends_with("}")) << line;
    const std::string& first = lines.front();
    size_t listed = 0;
    for (size_t at = first.find("{\"service\":"); at != std::string::npos; at = first.find("{\"service\":", at + 1))
        ++listed;
    EXPECT_EQ(listed, c.listed) << first;
    if (c.dropped == nullptr) {
        EXPECT_EQ(first.find("services_dropped"), std::string::npos) << first;
    } else {
        EXPECT_NE(first.find(c.dropped), std::string::npos) << first;
    }
    if (c.limit != 0) {
        EXPECT_LE(static_cast<uint64_t>(size), c.limit);
    }
    EXPECT_EQ(trace->cut(), c.cut);
    EXPECT_EQ(told, c.cut ? 1u : 0u);
    const bool cut_line = lines.back().find(R"("trace":"cut at its limit","limit":2048})") != std::string::npos;
    EXPECT_EQ(cut_line, c.cut) << lines.back();
    EXPECT_EQ(lines.size() - (c.cut ? 1 : 0) < c.calls, c.cut);
}

INSTANTIATE_TEST_SUITE_P(Trace, TraceBounds, ::testing::ValuesIn(kBoundCases),
                         [](const auto& info) { return std::to_string(info.index); });

}  // namespace
