// The calculator as the host's execute_calculator_code: refusals are kept in
// order and change nothing, and removal uninstalls it.
#include "host/host_calculator.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

namespace {

using Names = std::map<std::string, double>;

TEST(HostCalculator, RefusalsAreKeptInOrder) {
    bench::Host host;
    bench::HostCalculator calculator(host);
    const char* programs[] = {"1 +", "2 (>L:x)", "1 0 /", "oops"};
    for (const char* program : programs) host.on_execute_calculator_code(program, nullptr, nullptr, nullptr);
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
    host.on_execute_calculator_code("1 (>L:a)", nullptr, nullptr, nullptr);
    calculator.reset();
    host.on_execute_calculator_code("2 (>L:a)", nullptr, nullptr, nullptr);
    EXPECT_EQ(host.vars().get("L:a"), 1);
    EXPECT_EQ(host.calculator_log().size(), 2u);  // still logged by the host
}

}  // namespace
