// The name a user probably meant: one rule for the readers' names (gauges,
// variables, scenario words) and the command line's (commands, options).
#include "platform/text_input.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(NearestName, SuggestsSlipsOnly) {
    const std::vector<std::string> commands = {"list", "validate", "render", "scenario", "serve"};
    const std::vector<std::string> options = {"--json", "--out", "--modules", "--scale"};
    const std::vector<std::string> gauges = {"Altimeter", "Airspeed", "Fixture_Dials", "Fuel_Port", "Fuel_Starboard"};
    const std::vector<std::string> none;
    const struct {
        const char* name;
        const std::vector<std::string>& candidates;
        const char* expected;  // empty: no suggestion
    } cases[] = {
        {"lst", commands, "list"},                   // a letter left out
        {"ls", commands, ""},                        // half of a short word is another word
        {"val", commands, "validate"},               // a typed beginning
        {"se", commands, ""},                        // too short to be a beginning
        {"ser", commands, "serve"},                  // a beginning only one name has
        {"--jsn", options, "--json"},                //
        {"--JSON", options, "--json"},               // letter case is no slip
        {"--outt", options, "--out"},                //
        {"Altimetre", gauges, "Altimeter"},          // two neighbours swapped count one
        {"Fixture_Dails", gauges, "Fixture_Dials"},  //
        {"fixture_dialz", gauges, "Fixture_Dials"},  // case aside, one letter
        {"Fual_Strbord", gauges, "Fuel_Starboard"},  // a long name takes a third of it in slips
        {"Compass", gauges, ""},                     // another name, not a slip
        {"Fuel", gauges, ""},                        // begins two names: neither is meant
        {"Altimeter", gauges, ""},                   // the very name: nothing to suggest
        {"x", commands, ""},                         //
        {"", commands, ""},                          //
        {"list", none, ""},                          // nothing to choose from
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::nearest_name(c.name, c.candidates), c.expected) << c.name;
        EXPECT_EQ(platform::did_you_mean(c.name, c.candidates),
                  *c.expected == '\0' ? "" : std::string(" (did you mean '") + c.expected + "'?)")
            << c.name;
    }
}

}  // namespace
