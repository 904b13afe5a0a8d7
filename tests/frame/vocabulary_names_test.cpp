// The vocabulary's names: each name stands for one number and each number
// has one name, engines counted as the crew counts them and tanks by their
// gauges; readings convert to the units the dials are read in and back.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "frame/vocabulary_names.h"

namespace {

struct NameAndNumber {
    const char* name;
    uint32_t number;
};

const NameAndNumber kVariables[] = {
    {"airspeed", 61},
    {"bank", 80},
    {"normal_acceleration", 351},
    {"engine_speed.1", 390},
    {"engine_speed.4", 507},
    {"magneto_1.3", 477},
    {"oil_temperature.2", 455},
    {"throttle.2", 163},
    {"propeller.4", 234},
    {"fuel_level.port_1", 291},
    {"fuel_capacity.stbd_3", 302},
    {"undercarriage.stbd", 334},
};

const NameAndNumber kEvents[] = {
    {"bomb_released", 66658},
    {"release_sequence_start", 66587},
    {"throttle_set.1", 65820},
    {"propeller_set.4", 65926},
    {"magneto_1_toggle.2", 65935},
    {"engine_start.3", 65944},
    {"engine_start_alternate.4", 66303},
};

TEST(VocabularyNames, NamesAndNumbersRoundTrip) {
    for (const NameAndNumber& known : kVariables) {
        SCOPED_TRACE(known.name);
        ASSERT_TRUE(sim::find_variable(known.name));
        EXPECT_EQ(sim::find_variable(known.name)->number, known.number);
        EXPECT_EQ(sim::variable_of(known.number)->name, known.name);
    }
    for (const NameAndNumber& known : kEvents) {
        SCOPED_TRACE(known.name);
        ASSERT_TRUE(sim::find_event(known.name));
        EXPECT_EQ(sim::find_event(known.name)->number, known.number);
        EXPECT_EQ(sim::event_of(known.number)->name, known.name);
    }
    EXPECT_FALSE(sim::find_variable("engine_speed.0"));
    EXPECT_FALSE(sim::variable_of(62));
}

// Two names for one number would make a listing name the wrong one.
TEST(VocabularyNames, EveryNumberHasOneName) {
    for (const auto& names : {sim::variable_names(), sim::event_names()}) {
        std::set<uint32_t> numbers;
        for (const std::string& name : names) {
            const uint32_t number =
                sim::find_variable(name) ? sim::find_variable(name)->number : sim::find_event(name)->number;
            EXPECT_TRUE(numbers.insert(number).second) << name << " shares " << number;
        }
    }
}

struct Shown {
    const char* name;
    double host;
    double shown;
    const char* text;
};

const Shown kReadings[] = {
    {"airspeed", 180.0, 180.0, "180 kt"},
    {"boost.1", 3081.0, 7.0, "7 lb/in\u00B2"},
    {"oil_pressure.1", 8640.0, 60.0, "60 lb/in\u00B2"},
    {"oil_temperature.1", 492.0, 0.0, "0 \u00B0C"},
    {"fuel_level.port_2", 2097152.0, 0.25, "0.25 full"},
    {"normal_acceleration", 617.0, 1.0, "1 g"},
    {"throttle.1", 16383.0, 100.0, "100%"},
    {"heading", 95.0, 95.0, "95\u00B0"},
    {"running.1", 1.0, 1.0, "1"},
    {"altitude", 12000.0, 12000.0, "12000 ft"},
    {"throttle.2", 8191.5, 50.0, "50%"},
};

TEST(VocabularyNames, ReadingsConvertBothWays) {
    for (const Shown& row : kReadings) {
        SCOPED_TRACE(row.name);
        const sim::unit::Reading& reading = sim::find_variable(row.name)->entry->reading;
        EXPECT_NEAR(reading.from_host(row.host), row.shown, 1e-9);
        EXPECT_NEAR(reading.to_host(row.shown), row.host, 1e-6);
        EXPECT_EQ(sim::reading_text(row.shown, reading), row.text);
    }
    EXPECT_EQ(sim::reading_text(71.5803, sim::unit::kPercentOfLever), "71.58%");
    EXPECT_EQ(sim::describe_token(62, 3.5), "62 = 3.5");
}

TEST(VocabularyNames, HelpIdsHaveTheirTooltips) {
    EXPECT_STREQ(sim::help::text_of(0xA001), "Altimeter");
    EXPECT_EQ(sim::help::text_of(0), nullptr);
}

}  // namespace
