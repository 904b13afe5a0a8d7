// The calculator as the host's execute_calculator_code: refusals are kept in
// order and change nothing, and removal uninstalls it.
#include "runtime/host_calculator.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "runtime/guest_helpers.h"
#include "support/test_paths.h"

namespace {

using Names = std::map<std::string, double>;

// Programs come as a module sends them: in its memory, through its table.
class HostCalculator : public ::testing::Test {
protected:
    runtime::Host host;
    runtime::Module module{host, test_paths::module("BenchFixture.gau")};

    void run(const char* program) {
        const uint32_t args[] = {guest_helpers::place_string(module, program).address, 0, 0, 0};
        guest_helpers::call_service(module, service_slot::execute_calculator_code, args);
    }
};

TEST_F(HostCalculator, RefusalsAreKeptInOrder) {
    runtime::HostCalculator calculator(host);
    const char* programs[] = {"1 +", "2 (>L:x)", "1 0 /", "oops"};
    for (const char* program : programs) run(program);
    ASSERT_EQ(calculator.errors().size(), 3u);
    EXPECT_EQ(calculator.errors()[0].word(), "+");
    EXPECT_EQ(calculator.errors()[1].word(), "/");
    EXPECT_EQ(calculator.errors()[2].word(), "oops");
    EXPECT_EQ(host.vars().names(), (Names{{"L:x", 2}}));
}

TEST_F(HostCalculator, RemovedCalculatorRunsNothing) {
    std::optional<runtime::HostCalculator> calculator;
    calculator.emplace(host);
    run("1 (>L:a)");
    calculator.reset();
    run("2 (>L:a)");
    EXPECT_EQ(host.vars().get("L:a"), 1);
    EXPECT_EQ(host.calculator_log().size(), 2u);  // still logged by the host
}

}  // namespace
