// The calculator as the host's execute_calculator_code: programs run on the
// host's variables and clock, refusals are kept, and removal uninstalls it.
#include "host/host_calculator.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace {

using Names = std::map<std::string, double>;

struct ProgramCase {
    const char* program;
    double absolute_time;
    Names after;
    bool refused;
};

TEST(HostCalculator, RunsProgramsOnTheHostsVariablesAndClock) {
    const ProgramCase cases[] = {
        {"(L:a) ++ (>L:a)", 0.0, {{"L:a", 2}}, false},
        {"(P:Absolute Time, seconds) (>L:t)", 86400.25, {{"L:a", 1}, {"L:t", 86400.25}}, false},
        {"(P:Absolute Time, seconds) (L:a) - (>L:a)", 10.0, {{"L:a", 9}}, false},
        {"5 (>L:a) +", 0.0, {{"L:a", 1}}, true},
        {"5 (>L:a) unknown", 0.0, {{"L:a", 1}}, true},
    };
    for (const ProgramCase& c : cases) {
        bench::Host host;
        host.vars().set("L:a", 1);
        bench::HostCalculator calculator(host);
        calculator.set_absolute_time_seconds(c.absolute_time);
        host.on_execute_calculator_code(c.program);
        EXPECT_EQ(host.vars().names(), c.after) << c.program;
        EXPECT_EQ(calculator.errors().size(), c.refused ? 1u : 0u) << c.program;
        EXPECT_EQ(host.calculator_log(), std::vector<std::string>{c.program});
    }
}

TEST(HostCalculator, RefusalsAreKeptInOrder) {
    bench::Host host;
    bench::HostCalculator calculator(host);
    const char* programs[] = {"1 +", "2 (>L:x)", "1 0 /", "oops"};
    for (const char* program : programs) host.on_execute_calculator_code(program);
    ASSERT_EQ(calculator.errors().size(), 3u);
    EXPECT_EQ(calculator.errors()[0].word(), "+");
    EXPECT_EQ(calculator.errors()[1].word(), "/");
    EXPECT_EQ(calculator.errors()[2].word(), "oops");
    EXPECT_EQ(host.vars().names(), (Names{{"L:x", 2}}));
}

TEST(HostCalculator, RemovedCalculatorRunsNothing) {
    bench::Host host;
    std::optional<bench::HostCalculator> calculator;
    calculator.emplace(host);
    host.on_execute_calculator_code("1 (>L:a)");
    calculator.reset();
    host.on_execute_calculator_code("2 (>L:a)");
    EXPECT_EQ(host.vars().get("L:a"), 1);
    EXPECT_EQ(host.calculator_log().size(), 2u);  // still logged by the host
}

}  // namespace
