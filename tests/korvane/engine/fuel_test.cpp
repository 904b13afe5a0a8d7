// Fuel contents gauges and fuel pressure warning lights: gallons from fill and
// capacity with their limits, the lamp's threshold and running interlock,
// service ids, the tokens of every tank and engine, and the angles and lamps
// the host draws.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "fuel_tanks.h"
#include "support/korvane_bench.h"

namespace {

using namespace korvane_bench;
using fuel_tanks::kTanks;
using fuel_tanks::TablePoint;
using fuel_tanks::Tank;

constexpr double kFull = 8388608.0;  // level 2^23: a full tank

class FuelContents : public KorvaneModule {
protected:
    // The contents callback with the host holding `capacity` for the tank.
    double contents(const Tank& tank, double level, double capacity) {
        host.vars().set(tank.capacity_token, capacity);
        return needle_value(element_as<ELEMENT_NEEDLE>(gauge(tank.name), 1), level);
    }
};

struct ContentsCase {
    double level;
    double capacity;
    double gallons;
    bool pinned_on_last_mark;  // expected: the tank's upper limit instead
};

const ContentsCase kEveryTankCases[] = {
    {kFull / 2, 100, 50, false}, {kFull, 1e6, 0, true},       {-kFull, 580, 0, false},  // a negative product
    {kFull, -50, 0, false},      {kFull / 2, kNaN, 0, false}, {kNaN, 580, 0, false},
    {kInf, 580, 0, true},        {-kInf, 580, 0, false},      {kInf, 0, 0, false},  // no product at all
    {kFull, kInf, 0, true},
};

TEST_F(FuelContents, EveryTankGivesGallonsWithinItsDial) {
    for (const Tank& tank : kTanks) {
        for (const ContentsCase& c : kEveryTankCases) {
            SCOPED_TRACE(std::string(tank.name) + " level " + std::to_string(c.level) + " capacity " +
                         std::to_string(c.capacity));
            EXPECT_NEAR(contents(tank, c.level, c.capacity), c.pinned_on_last_mark ? tank.upper : c.gallons, 1e-9);
        }
    }
}

TEST_F(FuelContents, DialsStopAtTheirLastMarkBelowTheStatedCapacity) {
    const struct {
        int tank;
        double level, capacity, gallons;
    } cases[] = {{0, kFull, 580, 500}, {1, kFull / 2, 580, 290}, {3, kFull, 363, 310}, {4, kFull, 114, 90}};
    for (const auto& c : cases) {
        SCOPED_TRACE(kTanks[c.tank].name);
        EXPECT_EQ(contents(kTanks[c.tank], c.level, c.capacity), c.gallons);
    }
}

// Every tank gets a different fill and capacity; each gauge must show the
// product of its own two, the capacity looked up once per update from the
// gauge's own stand-alone record and never bound.
TEST_F(FuelContents, EachGaugeReadsItsOwnLevelAndCapacity) {
    const double shown[] = {8, 18, 30, 44, 60, 78};
    for (int i = 0; i < 6; ++i) {
        host.vars().set(kTanks[i].level_token, kFull * (i + 1) / 8);
        host.vars().set(kTanks[i].capacity_token, 64 + 8 * i);
    }
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(kTanks[i].name);
        GAUGEHDR* header = gauge(kTanks[i].name);
        runtime::GaugeInstance instance(host, module, guest_of(header));
        instance.setup();
        host.clear_service_log();
        instance.update();
        ASSERT_EQ(instance.elements().size(), 2u);
        EXPECT_NEAR(instance.elements()[1].value, shown[i], 1e-9);
        MODULE_VAR* capacity = standalone_var(header, 0);
        EXPECT_EQ(service_calls(),
                  (std::vector<std::pair<uint32_t, uint32_t>>{{service_slot::lookup_var, address(capacity)}}));
        EXPECT_FALSE(host.is_bound(module, guest_of(capacity)));
    }
}

TEST_F(FuelContents, NeedlesPointAtTheirTablePoints) {
    for (const Tank& tank : kTanks) {
        for (const TablePoint& point : {tank.table->at(2), tank.table->back()}) {
            SCOPED_TRACE(std::string(tank.name) + " at " + std::to_string(point.value) + " gallons");
            host.vars().set(tank.capacity_token, 1000);
            host.vars().set(tank.level_token, point.value / 1000 * kFull);
            runtime::GaugeInstance instance(host, module, guest_of(gauge(tank.name)));
            instance.update();
            ASSERT_EQ(instance.elements().size(), 2u);
            EXPECT_LT(angle_gap(instance.elements()[1].angle, direction(70, 70, point.x, point.y)), 0.01);
        }
    }
}

// --- Fuel pressure warning lights -----------------------------------------------

struct Engine {
    const char* name;
    uint32_t pressure_token;
    uint32_t running_token;
};

const Engine kEngines[] = {
    {"Fuel_Pressure_Warning1", 425, 406},
    {"Fuel_Pressure_Warning2", 464, 445},
    {"Fuel_Pressure_Warning3", 503, 484},
    {"Fuel_Pressure_Warning4", 542, 523},
};

constexpr uint32_t kLampLit = 0x00000007;
constexpr uint32_t kLampOut = 0x40000007;

struct LampCase {
    double running;
    double pressure;
    bool lit;
};

const LampCase kLampCases[] = {
    {1.0, 1049.99, true},
    {1.0, 1050, false},  // the threshold itself is not low
    {1.0, 0, true},
    {1.0, 5000, false},
    {0.0, 0, false},  // a stopped engine never warns
    {0.5, 0, false},
    {1.5, 0, false},
    {kInf, 0, false},
    {-kInf, 0, false},
    {1.0, kInf, false},
    {1.0, -kInf, true},
    // Unreadable values are not clearly off or clearly high: the lamp warns.
    {kNaN, 0, true},
    {1.0, kNaN, true},
    {kNaN, 1050, false},
};

class FuelPressureWarning : public KorvaneModule {
protected:
    void set(const Engine& engine, double running, double pressure) {
        host.vars().set(engine.running_token, running);
        host.vars().set(engine.pressure_token, pressure);
    }
    static uint32_t lamp_flags(GAUGEHDR* header) {
        ELEMENT_HEADER* lamp = element_at(header, 1);
        return lamp != nullptr ? lamp->image_flags : 0;
    }
};

// Every update rewrites the lamp, whichever state the previous one left.
TEST_F(FuelPressureWarning, LampFollowsRunningFlagAndPressureOnEveryUpdate) {
    for (const Engine& engine : kEngines) {
        runtime::GaugeInstance instance(host, module, guest_of(gauge(engine.name)));
        for (const LampCase& c : kLampCases) {
            for (const bool lit_before : {false, true}) {
                SCOPED_TRACE(std::string(engine.name) + " running " + std::to_string(c.running) + " pressure " +
                             std::to_string(c.pressure) + (lit_before ? " after lit" : " after out"));
                set(engine, 1.0, lit_before ? 0.0 : 2000.0);
                instance.update();
                set(engine, c.running, c.pressure);
                instance.update();
                EXPECT_EQ(visible_depths(instance), c.lit ? (std::vector<int>{0, 1}) : (std::vector<int>{0}));
                EXPECT_EQ(lamp_flags(native(instance.gauge())), c.lit ? kLampLit : kLampOut);
                EXPECT_EQ(element_at(native(instance.gauge()), 0)->image_flags, 0x4001u);
            }
        }
    }
}

// The running flag is looked up first, then the pressure, both by token
// alone from the gauge's own records after its header.
TEST_F(FuelPressureWarning, UpdateLooksUpRunningFlagThenPressure) {
    for (const Engine& engine : kEngines) {
        SCOPED_TRACE(engine.name);
        GAUGEHDR* header = gauge(engine.name);
        runtime::GaugeInstance instance(host, module, guest_of(header));
        instance.setup();
        host.clear_service_log();
        instance.update();
        const std::vector<std::pair<uint32_t, uint32_t>> lookups = {
            {service_slot::lookup_var, address(standalone_var(header, 1))},
            {service_slot::lookup_var, address(standalone_var(header, 0))}};
        EXPECT_EQ(service_calls(), lookups);
        EXPECT_FALSE(host.is_bound(module, guest_of(standalone_var(header, 0))));
        EXPECT_FALSE(host.is_bound(module, guest_of(standalone_var(header, 1))));
    }
}

// Set-up and every id but 6 read nothing and leave the lamp as it was: hidden
// before the first update, lit or out after it.
TEST_F(FuelPressureWarning, OtherServiceIdsChangeNothing) {
    const uint32_t ids[] = {0, 2, 4, 5, 7, 0xFFFFFFFFu};
    for (const Engine& engine : kEngines) {
        SCOPED_TRACE(engine.name);
        GAUGEHDR* header = gauge(engine.name);
        runtime::GaugeInstance instance(host, module, guest_of(header));
        set(engine, 1.0, 0.0);
        host.clear_service_log();
        instance.setup();
        EXPECT_TRUE(host.service_log().empty());
        EXPECT_EQ(lamp_flags(header), kLampOut);

        for (const bool lit : {true, false}) {
            set(engine, 1.0, lit ? 0.0 : 2000.0);
            instance.update();
            set(engine, 1.0, lit ? 2000.0 : 0.0);  // would flip the lamp if read
            host.clear_service_log();
            for (uint32_t id : ids) header->gauge_callback(header, id, 0);
            EXPECT_TRUE(host.service_log().empty());
            EXPECT_EQ(lamp_flags(header), lit ? kLampLit : kLampOut);
        }
    }
}

}  // namespace
