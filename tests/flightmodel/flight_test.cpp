// The panel flown by JSBSim: each instrument shows the model's state through
// its own calibration, through the whole take-off. Needs JSBSim (install-deps.sh);
// without it the tests say so and skip.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "flightmodel/coupling.h"
#include "flightmodel/jsbsim.h"
#include "frame/records.h"
#include "frame/vocabulary.h"
#include "host/host.h"
#include "host/instance.h"
#include "host/module.h"
#include "support/test_paths.h"

namespace {

namespace fs = std::filesystem;
using flightmodel::Coupling;
using flightmodel::FlightModelError;
using flightmodel::FlightRun;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A scratch JSBSim root holding the project's aircraft and a copy of the
// take-off, so that no output lands in the source tree.
class Flying : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        jsbsim_ = environment("KORVANE_JSBSIM");
        const fs::path fdm = environment("KORVANE_FDM_ROOT");
        if (fdm.empty() || !fs::is_regular_file(fdm / "scripts" / "takeoff.xml")) {
            jsbsim_.clear();  // no aircraft to fly: every test skips
            return;
        }
        root_ = fs::temp_directory_path() / ("korvane_fly_" + std::to_string(getpid()));
        fs::create_directories(root_ / "scripts");
        fs::create_directory_symlink(fs::absolute(fdm / "aircraft"), root_ / "aircraft");
        fs::copy_file(fdm / "scripts" / "takeoff.xml", root_ / "scripts" / "takeoff.xml");
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        if (!root_.empty()) fs::remove_all(root_, ignored);
    }
    void SetUp() override {
        if (jsbsim_.empty() || access(jsbsim_.c_str(), X_OK) != 0) {
            GTEST_SKIP()
                << "JSBSim or the aircraft not found (scripts/install-deps.sh puts JSBSim in build/jsbsim/bin)";
        }
    }

    FlightRun run(const std::string& script) const {
        FlightRun run;
        run.jsbsim = jsbsim_;
        run.root = root_.string();
        run.script = (root_ / "scripts" / script).string();
        run.work_dir = (root_ / "out").string();
        run.timeout_seconds = 120.0;
        return run;
    }

    static void write(const std::string& script, const std::string& text) {
        std::ofstream(root_ / "scripts" / script) << text;
    }

    static inline std::string jsbsim_;
    static inline fs::path root_;
};

// The index-th needle of a gauge, in drawing order.
const bench::ElementState& needle(const bench::GaugeInstance& gauge, int index) {
    for (const bench::ElementState& element : gauge.elements()) {
        if (element.type == kNeedle && index-- == 0) return element;
    }
    throw std::out_of_range("no such needle");
}

bool shown_at(const bench::GaugeInstance& gauge, int depth) {
    for (const bench::ElementState& element : gauge.elements()) {
        if (element.depth == depth) return element.visible;
    }
    return false;
}

TEST_F(Flying, EveryInstrumentReadsTheModelThroughItsCalibration) {
    const Coupling coupling;
    const flightmodel::Flight flight = flightmodel::fly(run("takeoff.xml"), coupling);
    ASSERT_GT(flight.times.back(), 299.0);

    bench::Host host;
    bench::Module module(host, test_paths::module("Korvane.gau"), test_paths::pe("Korvane.gau"));
    std::vector<std::unique_ptr<bench::GaugeInstance>> gauges;
    auto open = [&](const char* name) -> bench::GaugeInstance& {
        gauges.push_back(std::make_unique<bench::GaugeInstance>(host, module, module.gauge(name)));
        gauges.back()->setup();
        return *gauges.back();
    };
    bench::GaugeInstance& airspeed = open("Airspeed");
    bench::GaugeInstance& altimeter = open("Altimeter");
    bench::GaugeInstance& vsi = open("VSI");
    bench::GaugeInstance& attitude = open("Attitude");
    bench::GaugeInstance& turn = open("Turn");
    bench::GaugeInstance& accelerometer = open("Accelerometer");
    bench::GaugeInstance& gear = open("Gear_Indicator");
    bench::GaugeInstance& tachometer = open("Tachometer3");
    bench::GaugeInstance& boost = open("Boost3");
    bench::GaugeInstance& oil_pressure = open("Oil_Pressure3");

    auto column = [&](const char* property) { return static_cast<size_t>(coupling.property_index(property)); };
    const size_t kt = column("velocities/vc-kts"), altitude = column("atmosphere/pressure-altitude"),
                 climb = column("velocities/h-dot-fps"), bank = column("attitude/phi-deg"),
                 turn_rate = column("velocities/psidot-rad_sec"), g = column("accelerations/Nz"),
                 legs = column("gear/gear-pos-norm"), running0 = column("propulsion/engine[0]/set-running"),
                 rpm0 = column("propulsion/engine[0]/engine-rpm"), rpm2 = column("propulsion/engine[2]/engine-rpm"),
                 manifold2 = column("propulsion/engine[2]/map-inhg"),
                 oil2 = column("propulsion/engine[2]/oil-pressure-psi");

    int lift_off_checks = 0, turn_checks = 0, gear_changes = 0;
    bool gear_was_down = true;
    double previous_heading = 0.0;
    for (size_t i = 0; i < flight.frames.size(); ++i) {
        const std::vector<double>& m = flight.frames[i];
        const double t = flight.times[i];
        // The altimeter pushes its knob's setting at each update: the model's
        // altitude is converted with the setting of the update before.
        double setting = host.vars().get(sim::token::kPressureSetting);
        if (i == 0) setting = flightmodel::kStandardSettingMb;
        coupling.apply(m, host.vars());
        host.tick();
        for (auto& gauge : gauges) gauge->update();
        SCOPED_TRACE(::testing::Message() << "at " << t << " s");

        // The dial's 100-120 kt band spreads 2 degrees a knot from 180.
        if (m[kt] > 100.5 && m[kt] < 119.5) {
            EXPECT_NEAR(needle(airspeed, 0).value, 180.0 + 2.0 * (m[kt] - 100.0), 1e-6);
            ++lift_off_checks;
        }
        const double indicated = m[altitude] + (setting - flightmodel::kStandardSettingMb) * 27.31;
        EXPECT_NEAR(needle(altimeter, 2).value, 270.0 + 0.36 * indicated, 0.05);
        EXPECT_NEAR(needle(vsi, 0).value, std::clamp(m[climb] * 60.0, -4000.0, 4000.0), 0.01);
        EXPECT_NEAR(needle(attitude, 0).value, 90.0 - m[bank], 1e-9);
        const double rate_one_turns = m[turn_rate] * 180.0 / M_PI / 3.0;
        EXPECT_NEAR(needle(turn, 1).value, std::clamp(rate_one_turns, -4.0, 4.0), 1e-3);
        EXPECT_NEAR(needle(accelerometer, 0).value, std::clamp(m[g], -2.0, 5.0), 1e-3);
        // Engine 2: hundreds hand a turn per 1,000 rpm; boost over the dial's
        // 2073 psf datum; oil pressure in pounds per square inch.
        EXPECT_NEAR(needle(tachometer, 1).value, 270.0 + 0.36 * m[rpm2], 1e-6);
        EXPECT_NEAR(needle(boost, 0).value, std::clamp((m[manifold2] * 70.7262 - 2073.0) / 144.0, -5.0, 24.0), 1e-6);
        EXPECT_NEAR(needle(oil_pressure, 0).value, std::clamp(m[oil2], 0.0, 120.0), 1e-9);
        // Lamps: green (port day lamp, depth 5) only with the legs locked down.
        const bool down = m[legs] * sim::event::kLeverMaximum > 16372.0;
        EXPECT_EQ(shown_at(gear, 5), down);
        if (down != gear_was_down) ++gear_changes;
        gear_was_down = down;

        // In the left turn, horizon, turn needle and compass all say left.
        if (m[bank] < -10.0) {
            EXPECT_LT(needle(turn, 1).value, 0.0);
            EXPECT_GT(needle(attitude, 0).value, 90.0);  // the bank pointer swings clockwise, to port
            EXPECT_LT(std::remainder(host.vars().get(sim::token::kHeading) - previous_heading, 360.0), 0.0);
            ++turn_checks;
        }
        previous_heading = host.vars().get(sim::token::kHeading);

        // Engine 0 is cranked with its magnetos off from 2 to 7 s: it turns,
        // but neither the model nor the panel ever sees it run.
        if (t < 33.0) {
            EXPECT_EQ(m[running0], 0.0);
            EXPECT_EQ(host.vars().get(sim::token::engine_running(0)), 0.0);
            if (t > 3.0 && t < 7.0) {
                EXPECT_GT(m[rpm0], 200.0);
            }
            if (t > 16.0) {
                EXPECT_EQ(m[rpm0], 0.0);
            }
        }
        if (HasFailure()) break;  // the first frame that disagrees says enough
    }
    EXPECT_GT(lift_off_checks, 18);
    EXPECT_GT(turn_checks, 18 * 20);
    EXPECT_EQ(gear_changes, 1);
    EXPECT_EQ(host.vars().get(sim::token::engine_running(0)), 1.0);
}

TEST_F(Flying, AScriptErrorNamesTheFileAndTheReason) {
    write("broken.xml",
          "<?xml version=\"1.0\"?>\n<runscript name=\"broken\">\n  <use aircraft=\"nosuch\" initialize=\"runway\"/>\n"
          "  <run start=\"0\" end=\"1\" dt=\"0.01\"/>\n</runscript>\n");
    try {
        flightmodel::fly(run("broken.xml"), Coupling());
        FAIL() << "a script naming no aircraft flew";
    } catch (const FlightModelError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("broken.xml"), std::string::npos) << message;
        EXPECT_NE(message.find("aircraft/nosuch/nosuch.xml"), std::string::npos) << message;
        EXPECT_NE(message.find("status 255"), std::string::npos) << message;
    }
}

TEST_F(Flying, AHungModelIsKilledAfterItsTimeOut) {
    const fs::path hung = root_ / "hung.sh";
    std::ofstream(hung) << "#!/bin/sh\nexec sleep 60\n";
    fs::permissions(hung, fs::perms::owner_all);
    FlightRun hanging = run("takeoff.xml");
    hanging.jsbsim = hung.string();
    hanging.timeout_seconds = 1.0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(
        {
            try {
                flightmodel::fly(hanging, Coupling());
            } catch (const FlightModelError& error) {
                EXPECT_NE(std::string(error.what()).find("killed"), std::string::npos) << error.what();
                throw;
            }
        },
        FlightModelError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

// Relative bearing of a beacon: clockwise from the nose, in (-180, 180].
TEST(Coupling, BeaconBearingIsClockwiseFromTheNose) {
    struct Case {
        double beacon_lat, beacon_lon, heading, bearing;
    } cases[] = {
        {53.0, 0.0, 0.0, 0.0},   {53.0, 0.0, 90.0, -90.0}, {53.0, 0.0, 270.0, 90.0},
        {51.0, 0.0, 0.0, 180.0}, {52.0, 1.0, 0.0, 89.6},   {52.0, -1.0, 350.0, -79.6},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(flightmodel::relative_bearing(52.0, 0.0, c.heading, c.beacon_lat, c.beacon_lon), c.bearing, 0.1)
            << c.beacon_lat << "," << c.beacon_lon << " heading " << c.heading;
    }
}

}  // namespace
