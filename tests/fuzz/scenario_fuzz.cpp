// Scenarios, parsed only (nothing runs): any text gives a scenario or
// ScenarioError; settings come once each, before the first action.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "scenariorun/scenario.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    scenario::Scenario scenario;
    try {
        scenario = scenario::Scenario::parse(text, "fuzz/scenario.txt");
    } catch (const scenario::ScenarioError& error) {
        FUZZ_CHECK(error.line() > 0, "a parse error names its line");
        return 0;
    }
    int line = 0;
    bool acted = false;
    for (const scenario::ScenarioCommand& command : scenario.commands) {
        FUZZ_CHECK(command.line > line, "commands in rising line order");
        line = command.line;
        const bool setting = std::holds_alternative<scenario::command::Panel>(command.action) ||
                             std::holds_alternative<scenario::command::Scale>(command.action);
        FUZZ_CHECK(!(setting && acted), "settings before the first action");
        acted = acted || !setting;
        if (const auto* update = std::get_if<scenario::command::Update>(&command.action))
            FUZZ_CHECK(update->count >= 1, "updates advance");
        if (const auto* set = std::get_if<scenario::command::Set>(&command.action))
            FUZZ_CHECK(std::isfinite(set->value), "values are finite");
    }
    const double scale = scenario.scale();
    FUZZ_CHECK(scale > 0.0 && scale <= runtime::GaugeInstance::kMaxScale, "scale within the instance's range");
    (void)scenario.panel_path();
    return 0;
}
