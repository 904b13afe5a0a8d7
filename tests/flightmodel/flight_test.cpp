// The panel flown by JSBSim: each instrument shows the model's state through
// its own calibration, and only the panel's switches start an engine. Needs JSBSim (install-deps.sh);
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
#include <numbers>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "flightmodel/coupling.h"
#include "flightmodel/jsbsim.h"
#include "flightmodel/session.h"
#include "frame/records.h"
#include "frame/vocabulary.h"
#include "runtime/host.h"
#include "runtime/instance.h"
#include "runtime/module.h"
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
        for (const char* script : {"takeoff.xml", "cruise.xml", "free_runway.xml", "belly_landing.xml"}) {
            fs::copy_file(fdm / "scripts" / script, root_ / "scripts" / script);
        }
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
        run.timeout_seconds = 10.0;
        return run;
    }

    static void write(const std::string& script, const std::string& text) {
        std::ofstream(root_ / "scripts" / script) << text;
    }

    static inline std::string jsbsim_;
    static inline fs::path root_;
};

// The index-th needle of a gauge, in drawing order.
const runtime::ElementState& needle(const runtime::GaugeInstance& gauge, int index) {
    for (const runtime::ElementState& element : gauge.elements()) {
        if (element.type == kNeedle && index-- == 0) return element;
    }
    throw std::out_of_range("no such needle");
}

bool shown_at(const runtime::GaugeInstance& gauge, int depth) {
    for (const runtime::ElementState& element : gauge.elements()) {
        if (element.depth == depth) return element.visible;
    }
    return false;
}

TEST_F(Flying, EveryInstrumentReadsTheModelThroughItsCalibration) {
    runtime::Host host;
    FlightRun cruise = run("cruise.xml");
    cruise.end_seconds = 30.0;
    flightmodel::CoupledFlight flight(cruise, host);
    const Coupling& coupling = flight.coupling();
    // Angles and lamps need no bitmaps: the build without art has the same records.
    runtime::Module module(host, test_paths::module("KorvaneArtless.gau"));
    std::vector<std::unique_ptr<runtime::GaugeInstance>> gauges;
    auto open = [&](const char* name) -> runtime::GaugeInstance& {
        gauges.push_back(std::make_unique<runtime::GaugeInstance>(host, module, module.gauge(name)));
        gauges.back()->setup();
        return *gauges.back();
    };
    runtime::GaugeInstance& airspeed = open("Airspeed");
    runtime::GaugeInstance& altimeter = open("Altimeter");
    runtime::GaugeInstance& vsi = open("VSI");
    runtime::GaugeInstance& attitude = open("Attitude");
    runtime::GaugeInstance& turn = open("Turn");
    runtime::GaugeInstance& accelerometer = open("Accelerometer");
    runtime::GaugeInstance& gear = open("Gear_Indicator");
    runtime::GaugeInstance& tachometer = open("Tachometer3");
    runtime::GaugeInstance& boost = open("Boost3");
    runtime::GaugeInstance& oil_pressure = open("Oil_Pressure3");

    auto column = [&](const char* property) { return static_cast<size_t>(coupling.property_index(property)); };
    const size_t kt = column("velocities/vc-kts"), altitude = column("atmosphere/pressure-altitude"),
                 climb = column("velocities/h-dot-fps"), bank = column("attitude/phi-deg"),
                 turn_rate = column("velocities/psidot-rad_sec"), g = column("accelerations/Nz"),
                 legs = column("gear/gear-pos-norm"), rpm2 = column("propulsion/engine[2]/engine-rpm"),
                 manifold2 = column("propulsion/engine[2]/map-inhg"),
                 oil2 = column("propulsion/engine[2]/oil-pressure-psi");

    int airspeed_checks = 0, turn_checks = 0, gear_changes = 0;
    bool gear_was_down = true;
    double previous_heading = 0.0;
    for (int update = 0;; ++update) {
        // The altimeter pushes its knob's setting at each update: the model's
        // altitude is converted with the setting of the update before.
        double setting = host.vars().get(sim::token::kPressureSetting);
        if (update == 0) setting = flightmodel::kStandardSettingMb;
        if (!flight.update()) break;
        host.tick();
        for (auto& gauge : gauges) gauge->update();
        const std::vector<double>& m = flight.frame();
        // Half-way, the crew sets the altimeter to 1009 mb: four clicks on
        // the knob's left half.
        for (int click = 0; click < 4 && update == 270; ++click) {
            altimeter.press(130, 296);
            altimeter.release();
        }
        SCOPED_TRACE(::testing::Message() << "at " << flight.time() << " s");

        // The dial's 120-220 kt band spreads 2.25 degrees a knot from 220.
        if (m[kt] > 120.5 && m[kt] < 219.5) {
            EXPECT_NEAR(needle(airspeed, 0).value, 220.0 + 2.25 * (m[kt] - 120.0), 1e-6);
            ++airspeed_checks;
        }
        const double indicated = m[altitude] + (setting - flightmodel::kStandardSettingMb) * 27.31;
        EXPECT_NEAR(needle(altimeter, 2).value, 270.0 + 0.36 * indicated, 0.05);
        EXPECT_NEAR(needle(vsi, 0).value, std::clamp(m[climb] * 60.0, -4000.0, 4000.0), 0.01);
        EXPECT_NEAR(needle(attitude, 0).value, 90.0 - m[bank], 1e-9);
        const double rate_one_turns = m[turn_rate] * 180.0 / std::numbers::pi / 3.0;
        EXPECT_NEAR(needle(turn, 1).value, std::clamp(rate_one_turns, -4.0, 4.0), 1e-3);
        EXPECT_NEAR(needle(accelerometer, 0).value, std::clamp(m[g], -2.0, 5.0), 1e-3);
        // Engine 3: hundreds hand a turn per 1,000 rpm; boost over the dial's
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
        if (HasFailure()) break;  // the first update that disagrees says enough
    }
    EXPECT_GT(flight.time(), 29.9);
    EXPECT_GT(airspeed_checks, 18 * 25);
    EXPECT_GT(turn_checks, 18 * 10);
    EXPECT_EQ(gear_changes, 1);
    EXPECT_EQ(host.vars().get(sim::token::kPressureSetting), 1009.0);
}

// The panel's key events, as the magneto switches and held starter buttons
// send them, are all that starts an engine: engine 0 is cranked with its
// magnetos off, engine 2 started properly, engines 1 and 3 left alone.
TEST_F(Flying, OnlyTheEnginesThePanelStartsRun) {
    runtime::Host host;
    FlightRun ground = run("takeoff.xml");
    ground.end_seconds = 14.0;
    flightmodel::CoupledFlight flight(ground, host);

    namespace event = sim::event;
    const auto rpm = [&](int engine) { return host.vars().get(sim::token::engine_speed(engine)); };
    const auto running = [&](int engine) { return host.vars().get(sim::token::engine_running(engine)); };
    double cranked_dark = 0.0;
    for (int update = 0; flight.update(); ++update) {
        host.tick();
        const double t = flight.time();
        if (t >= 2.0 && t < 7.0) host.send_key_event(event::engine_start(0), 0);  // held, magnetos off
        if (update == 9 * 18) {
            host.send_key_event(event::first_magneto_toggle(2), 0);
            host.send_key_event(event::second_magneto_toggle(2), 0);
        }
        if (t >= 10.0 && t < 13.0) host.send_key_event(event::engine_start(2), 0);
        if (t > 3.0 && t < 7.0) cranked_dark = std::max(cranked_dark, rpm(0));
        EXPECT_EQ(running(0), 0.0) << "at " << t << " s";
        EXPECT_EQ(rpm(1), 0.0) << "at " << t << " s";
        EXPECT_EQ(rpm(3), 0.0) << "at " << t << " s";
        if (HasFailure()) break;
    }
    EXPECT_GT(flight.time(), 13.9);
    // A starter turns the engine at cranking speed, well below its idle.
    EXPECT_GE(cranked_dark, 100.0);
    EXPECT_LE(cranked_dark, 150.0);
    EXPECT_EQ(running(2), 1.0);
    EXPECT_GT(rpm(2), 300.0);
    EXPECT_EQ(host.vars().get(sim::token::first_magneto(2)), 1.0);
}

// The page's stick, rudder, brakes and levers reach the model's own
// properties; a lever the pilot has not moved stays where the script put it.
TEST_F(Flying, ThePilotsControlsSetTheModelsProperties) {
    constexpr double kUnmoved = flightmodel::PilotControls{}.gear;
    struct Row {
        flightmodel::PilotControls pilot;
        std::vector<double> expected;  // in the order of `watched` below
    };
    const Row rows[] = {
        {{0.5, -0.25, 0.75, 1.0, kUnmoved, kUnmoved, kUnmoved, kUnmoved},
         {0.5, -0.25, 0.75, 1.0, 1.0, 1.0, 0.0, 0.0, 0.0}},
        {{-1.0, 1.0, -0.5, 0.25, 0.0, 2.0 / 3.0, 0.35, -1.5},
         {-1.0, 1.0, -0.5, 0.25, 0.25, 0.0, 2.0 / 3.0, 0.35, -1.0}},
        {{0.0, 0.0, 0.0, 0.0, 1.0, 0.0, kUnmoved, 0.1}, {0.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.35, 0.1}},
    };
    runtime::Host host;
    FlightRun runway = run("free_runway.xml");
    runway.watched = {"fcs/elevator-cmd-norm",   "fcs/aileron-cmd-norm",     "fcs/rudder-cmd-norm",
                      "fcs/left-brake-cmd-norm", "fcs/right-brake-cmd-norm", "gear/gear-cmd-norm",
                      "fcs/flap-cmd-norm",       "fcs/pitch-trim-cmd-norm",  "fcs/yaw-trim-cmd-norm"};
    flightmodel::CoupledFlight flight(runway, host);
    ASSERT_TRUE(flight.update());  // the script's set-up
    for (const Row& row : rows) {
        ASSERT_TRUE(flight.update(&row.pilot));
        for (size_t i = 0; i < row.expected.size(); ++i)
            EXPECT_NEAR(flight.watched()[i], row.expected[i], 1e-6) << runway.watched[i];
        EXPECT_NEAR(flight.state().pitch_trim, row.expected[7], 1e-6);
        EXPECT_NEAR(flight.state().rudder_trim, row.expected[8], 1e-6);
    }
}

// Wheels up onto the runway: level, the belly scrapes to a stop and no
// crash; a wing held down, its tip strikes first and the crash names it;
// the engines started on the way and the belly taking only 5 ft/s, the
// crash says how fast it came down and stops the engines.
TEST_F(Flying, TheModelSaysWhatStruckTheGround) {
    std::string belly;
    std::getline(std::ifstream(root_ / "scripts" / "belly_landing.xml"), belly, '\0');
    const std::string hold = "<set name=\"korvane/pilot/roll-hold\" value=\"1\"/>";
    const std::string let_go = "<event name=\"down: hands off\">";
    ASSERT_NE(belly.find(hold), std::string::npos);
    ASSERT_NE(belly.find(let_go), std::string::npos);
    std::string engines = "<set name=\"korvane/pilot/pitch-deg\" value=\"9\"/>"
                          "<set name=\"korvane/belly-limit-fps\" value=\"5\"/>";
    std::string all_running, let_go_starters;
    for (int n = 0; n < sim::kEngineCount; ++n) {
        const std::string engine = "[" + std::to_string(n) + "]";
        for (const char* set : {"korvane/engine#/magneto-1", "korvane/engine#/magneto-2", "korvane/engine#/booster-pump",
                                "korvane/engine#/starter", "fcs/mixture-cmd-norm#"}) {
            std::string name = set;
            name.replace(name.find('#'), 1, engine);
            engines += "<set name=\"" + name + "\" value=\"1\"/>";
        }
        engines += "<set name=\"fcs/throttle-cmd-norm" + engine + "\" value=\"0.6\"/>";
        all_running += " propulsion/engine" + engine + "/set-running ge 1\n";
        let_go_starters += "<set name=\"korvane/engine" + engine + "/starter\" value=\"0\"/>";
    }
    const std::string down = "<event name=\"running: down\"><condition>" + all_running + "</condition>" +
                             let_go_starters + "<set name=\"korvane/pilot/pitch-deg\" value=\"0\"/></event>";
    const struct {
        const char* script;
        const char* bank;  // the bank held on the way down; null: the script's level
        bool engines;      // started on the way down, the belly taking 5 ft/s
        const char* sentence;  // null: no crash
    } cases[] = {
        {"belly_landing.xml", nullptr, false, nullptr},
        {"port_wing_down.xml", "-40", false, "^the port wing tip struck the ground$"},
        {"starboard_wing_down.xml", "40", false, "^the starboard wing tip struck the ground$"},
        {"hard_belly.xml", nullptr, true, "^the belly struck the ground at [0-9.]+ ft/s \\(more than 5 ft/s\\)$"},
    };
    for (const auto& c : cases) {
        std::string script = belly;
        if (c.bank != nullptr)
            script.insert(script.find(hold), std::string("<set name=\"korvane/pilot/bank-deg\" value=\"") + c.bank + "\"/>");
        if (c.engines) {
            script.insert(script.find(let_go), down);
            script.insert(script.find(hold) + hold.size(), engines);
        }
        if (script != belly) write(c.script, script);
        runtime::Host host;
        flightmodel::CoupledFlight flight(run(c.script), host);
        int ran = 0;
        const auto running = [&] {
            int count = 0;
            for (int n = 0; n < sim::kEngineCount; ++n) count += host.vars().get(sim::token::engine_running(n)) != 0.0;
            return count;
        };
        while (flight.update() && !flight.state().crashed) ran = std::max(ran, running());
        const flightmodel::FlightState state = flight.state();
        const std::string sentence = flightmodel::crash_sentence(state);
        EXPECT_EQ(state.crashed, c.sentence != nullptr) << c.script << " at " << flight.time() << " s: " << sentence;
        if (c.sentence == nullptr) {
            EXPECT_TRUE(state.on_belly && state.stopped) << c.script;
        } else {
            EXPECT_TRUE(std::regex_search(sentence, std::regex(c.sentence))) << sentence;
        }
        if (!c.engines) continue;
        // Running as it struck, stopped and winding down 3 s after.
        EXPECT_EQ(ran, sim::kEngineCount);
        const double struck_rpm = host.vars().get(sim::token::engine_speed(0));
        for (int update = 0; update < 3 * runtime::Host::kUpdatesPerSecond; ++update) ASSERT_TRUE(flight.update());
        EXPECT_EQ(running(), 0);
        EXPECT_LT(host.vars().get(sim::token::engine_speed(0)), struck_rpm);
    }
}

TEST_F(Flying, AScriptErrorNamesTheFileAndTheReason) {
    write("broken.xml",
          "<?xml version=\"1.0\"?>\n<runscript name=\"broken\">\n  <use aircraft=\"nosuch\" initialize=\"runway\"/>\n"
          "  <run start=\"0\" end=\"1\" dt=\"0.01\"/>\n</runscript>\n");
    try {
        runtime::Host host;
        flightmodel::CoupledFlight flight(run("broken.xml"), host);
        FAIL() << "a script naming no aircraft flew";
    } catch (const FlightModelError& error) {
        const std::string message = error.what();
        EXPECT_NE(message.find("broken.xml"), std::string::npos) << message;
        EXPECT_NE(message.find("aircraft/nosuch/nosuch.xml"), std::string::npos) << message;
        EXPECT_NE(message.find("status 255"), std::string::npos) << message;
    }
}

// Whether a process of group `group` is still alive (a zombie is not).
bool group_alive(pid_t group) {
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
        std::istringstream fields(line.substr(line.rfind(')') + 2));
        char state = 0;
        pid_t parent = 0, process_group = 0;
        fields >> state >> parent >> process_group;
        if (process_group == group && state != 'Z') return true;
    }
    return false;
}

// A model that never answers, one that dies in flight, one whose log holds
// terminal controls and a script whose step is too small end in an error
// within the time-out: the bench never hangs on the model, quotes no control
// byte, and leaves nothing of the model's process group nor of a child that
// left it.
TEST_F(Flying, ASilentOrDeadModelEndsInAnErrorWithinItsTimeOut) {
    write("tiny_step.xml",
          "<runscript name=\"tiny\">\n  <use aircraft=\"korvane\" initialize=\"runway\"/>\n"
          "  <run start=\"0\" end=\"300\" dt=\"1e-7\"/>\n</runscript>\n");
    struct Case {
        const char* name;
        const char* program;  // stands in for JSBSim; null: JSBSim itself
        const char* script;
        const char* expected;
    } cases[] = {
        {"silent",
         "#!/bin/sh\necho $$ > \"$0.group\"\nsetsid sleep 60 </dev/null >/dev/null 2>&1 &\necho $! > \"$0.left\"\n"
         "sleep 60 &\nexec sleep 60\n",
         "takeoff.xml", "did not open its command port within"},
        {"dead", "#!/bin/sh\necho 'Segmentation fault in FGPropagate'\nexit 139\n", "takeoff.xml",
         "stopped before it took commands"},
        {"garbled", "#!/bin/sh\nprintf 'Error: \\033]0;owned\\007 \\033[2J gone\\n'\nexit 1\n", "takeoff.xml",
         "Error: \\x1B]0;owned\\x07"},
        {"tiny", nullptr, "tiny_step.xml", "tiny_step.xml: its time step dt=\"1e-07\" gives 555556 model frames"},
    };
    for (const Case& c : cases) {
        const fs::path program = root_ / c.name;
        if (c.program != nullptr) {
            std::ofstream(program) << c.program;
            fs::permissions(program, fs::perms::owner_all);
        }
        FlightRun broken = run(c.script);
        if (c.program != nullptr) broken.jsbsim = program.string();
        broken.timeout_seconds = 1.0;
        const auto start = std::chrono::steady_clock::now();
        try {
            runtime::Host host;
            flightmodel::CoupledFlight flight(broken, host);
            ADD_FAILURE() << c.name << ": the model was taken for running";
        } catch (const FlightModelError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find(c.expected), std::string::npos) << c.name << ": " << message;
            EXPECT_EQ(std::count_if(message.begin(), message.end(), [](char b) { return b == '\x1b' || b == '\a'; }), 0)
                << c.name;
        }
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.name;
        // A setsid child leads a group of its own, which a kill of the model's misses.
        std::ifstream left_file(root_ / (std::string(c.name) + ".left"));
        if (pid_t left = 0; left_file >> left) {
            EXPECT_FALSE(group_alive(left)) << c.name << "'s setsid child outlived it";
        }
    }
    std::ifstream group_file(root_ / "silent.group");
    pid_t group = 0;
    ASSERT_TRUE(group_file >> group) << "the silent model never started";
    EXPECT_FALSE(group_alive(group)) << "the silent model's group outlived the error";
}

// The script's copy JSBSim runs: its file outputs go to the work folder
// under a temporary name (seen from the root, as this JSBSim joins them),
// other outputs and comments stay as they are.
TEST(CoupledScript, FileOutputsGoToTheWorkFolder) {
    const struct {
        std::string output;
        std::string expected;  // the element in the copy
        size_t files;
    } cases[] = {
        {"<output name=\"takeoff.csv\" type=\"CSV\" rate=\"18\">", "<output name=\"../work/.takeoff.csv.partial\"", 1},
        {"<output type='TABULAR' name='deep/log.txt'>", "<output type='TABULAR' name='../work/.log.txt.partial'>", 1},
        {"<output name=\"localhost:5500\" type=\"SOCKET\">", "<output name=\"localhost:5500\" type=\"SOCKET\">", 0},
        {"<!-- <output name=\"old.csv\"> -->", "<!-- <output name=\"old.csv\"> -->", 0},
    };
    for (const auto& c : cases) {
        std::vector<flightmodel::ModelOutput> outputs;
        const std::string copy = flightmodel::coupled_script("<runscript>" + c.output + "</output><run end=\"1\"/>",
                                                             5000, "/tmp/root", "/tmp/work", outputs);
        EXPECT_NE(copy.find(c.expected), std::string::npos) << copy;
        EXPECT_NE(copy.find("<input port=\"5000\""), std::string::npos) << copy;
        ASSERT_EQ(outputs.size(), c.files) << c.output;
        if (c.files == 1) {
            EXPECT_EQ(fs::path(outputs[0].path).parent_path(), "/tmp/work");
        }
    }
}

// The panel's side of the controls: a switch clicked or a lever dragged goes
// to the model once; what the model (its script) moves does not come back; a
// held starter is sent when pressed and when let go.
TEST(Coupling, OnlyThePanelsOwnChangesGoToTheModel) {
    const Coupling coupling;
    flightmodel::ControlState state(coupling);
    runtime::Host host;
    std::vector<double> frame(coupling.properties().size(), 0.0);
    const auto at = [&](const char* property) { return static_cast<size_t>(coupling.property_index(property)); };
    std::vector<flightmodel::Control> sent;
    const auto named = [&](const std::vector<flightmodel::Control>& controls) {
        std::vector<std::string> names;
        for (const flightmodel::Control& control : controls) {
            names.push_back(coupling.control_properties()[static_cast<size_t>(control.property)] + "=" +
                            std::to_string(control.value).substr(0, 4));
        }
        return names;
    };
    using Names = std::vector<std::string>;

    // Before the model has set anything, the panel has nothing to change.
    coupling.controls(host.vars(), host.model(), state, sent);
    EXPECT_EQ(named(sent), Names{});

    frame[at("fcs/throttle-cmd-norm[1]")] = 0.5;
    coupling.apply(frame, host.vars(), &state);
    coupling.controls(host.vars(), host.model(), state, sent);
    EXPECT_EQ(named(sent), Names{}) << "the model's own throttle came back";

    host.send_key_event(sim::event::first_magneto_toggle(3), 0);
    host.send_key_event(sim::event::throttle_set(1), 16383);
    host.send_key_event(sim::event::engine_start(0), 0);
    coupling.controls(host.vars(), host.model(), state, sent);
    EXPECT_EQ(named(sent), (Names{"korvane/engine[3]/magneto-1=1.00", "fcs/throttle-cmd-norm[1]=1.00",
                                  "korvane/engine[0]/starter=1.00"}));
    coupling.controls(host.vars(), host.model(), state, sent);
    EXPECT_EQ(named(sent), Names{}) << "a change was sent twice";

    host.tick();  // the starter button let go: no start event this update
    coupling.controls(host.vars(), host.model(), state, sent);
    EXPECT_EQ(named(sent), Names{"korvane/engine[0]/starter=0.00"});
}

// The flap dial reads the model's flap angle on its own face: UP (0) at 12
// o'clock, a mark each 10 degrees, 30 at 3 o'clock and DOWN (60) at 6.
TEST(Coupling, FlapDialReadsTheModelsFlapAngle) {
    const Coupling coupling;
    runtime::Host host;
    runtime::Module module(host, test_paths::module("KorvaneArtless.gau"));
    runtime::GaugeInstance dial(host, module, module.gauge("Flap_Position"));
    dial.setup();
    std::vector<double> frame(coupling.properties().size(), 0.0);
    for (const double degrees : {0.0, 10.0, 20.0, 30.0, 40.0, 60.0}) {
        frame[static_cast<size_t>(coupling.property_index("fcs/flap-pos-deg"))] = degrees;
        coupling.apply(frame, host.vars());
        for (int update = 0; update < 40; ++update) {  // the needle swings at most 6 degrees an update
            host.tick();
            dial.update();
        }
        const double mark = std::fmod(270.0 + 3.0 * degrees, 360.0);  // clockwise from 3 o'clock
        EXPECT_LT(std::abs(std::remainder(needle(dial, 0).angle - mark, 360.0)), 8.0) << degrees << " degrees";
    }
}

// What struck the ground, by Systems/ground.xml's numbers, told as a
// sentence; the belly, a wheel and standing still apart from a crash.
TEST(Coupling, StateNamesWhatStruckTheGround) {
    const Coupling coupling;
    const auto at = [&](const char* property) { return static_cast<size_t>(coupling.property_index(property)); };
    const struct {
        double cause, belly, wow, ground_fps, sink_fps;
        const char* sentence;  // empty: no crash
        bool on_belly, on_ground, stopped;
    } cases[] = {
        {0.0, 0.0, 0.0, 150.0, 0.0, "", false, false, false},
        {0.0, 0.0, 1.0, 150.0, 0.0, "", false, true, false},
        {0.0, 1.0, 0.0, 0.5, 0.0, "", true, true, true},
        {1.0, 0.0, 1.0, 80.0, 4.0, "the nose struck the ground", false, true, false},
        {3.0, 0.0, 0.0, 80.0, 9.0, "the port wing tip struck the ground", false, false, false},
        {4.0, 1.0, 0.0, 0.0, 2.0, "the starboard wing tip struck the ground", true, true, true},
        {5.0, 1.0, 0.0, 60.0, 23.4, "the belly struck the ground at 23 ft/s (more than 15 ft/s)", true, true, false},
        {5.0, 1.0, 0.0, 60.0, 15.3, "the belly struck the ground at 15.3 ft/s (more than 15 ft/s)", true, true, false},
        {9.0, 0.0, 0.0, 0.0, 0.0, "the airframe struck the ground", false, false, true},
    };
    for (const auto& c : cases) {
        std::vector<double> frame(coupling.properties().size(), 0.0);
        frame[at("korvane/crash-cause")] = c.cause;
        frame[at("korvane/contact/belly")] = c.belly;
        frame[at("gear/wow")] = c.wow;
        frame[at("velocities/vg-fps")] = c.ground_fps;
        frame[at("korvane/crash-sink-fps")] = c.sink_fps;
        frame[at("korvane/belly-limit-fps")] = 15.0;
        const flightmodel::FlightState state = coupling.state(frame);
        EXPECT_EQ(state.crashed, *c.sentence != '\0') << c.cause;
        EXPECT_EQ(flightmodel::crash_sentence(state), c.sentence) << c.cause;
        EXPECT_EQ(state.on_belly, c.on_belly) << c.cause;
        EXPECT_EQ(state.on_ground, c.on_ground) << c.cause;
        EXPECT_EQ(state.stopped, c.stopped) << c.cause;
    }
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
