// Magneto_Switch and Starter_Switch driven through the loaded module: arming
// interlock, start events and their family, and the magneto switches' events
// and pictures.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "support/korvane_bench.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#endif

namespace {

using korvane_bench::BitmapSize;
using korvane_bench::guest_of;
using korvane_bench::kInf;
using korvane_bench::kNaN;

constexpr char kMainWindowClass[] = "MSCFSMAIN";
constexpr char kMainWindowTitle[] = "Microsoft Combat Flight Simulator";

struct StarterEngine {
    uint32_t running_token;
    uint32_t start_window;     // sent with value 4 once the main window was found
    uint32_t start_no_window;  // sent with value 0 otherwise
    int32_t column_x;          // the engine's column on the panel
};

constexpr StarterEngine kStarterEngines[] = {
    {406, 65932, 66300, 0},
    {445, 65938, 66301, 75},
    {484, 65944, 66302, 150},
    {523, 65950, 66303, 225},
};

struct MagnetoSwitch {
    int32_t x;
    uint32_t event;
};

constexpr MagnetoSwitch kMagnetoSwitches[] = {
    {0, 65929}, {45, 65928}, {90, 65935}, {135, 65934}, {200, 65941}, {245, 65940}, {290, 65947}, {335, 65946},
};

// A top-level window of the given class and title while the object lives: a
// real window under Windows, the host's stand-in on the Linux twin.
class TopLevelWindow {
public:
    TopLevelWindow(runtime::Host& host, const char* window_class, const char* title)
        : host_(host), class_(window_class), title_(title) {
#ifdef _WIN32
        WNDCLASSA description{};
        description.lpfnWndProc = DefWindowProcA;
        description.hInstance = GetModuleHandleA(nullptr);
        description.lpszClassName = window_class;
        // A class registered by an earlier window of this process serves again.
        RegisterClassA(&description);
        window_ = CreateWindowExA(0, window_class, title, WS_OVERLAPPEDWINDOW, 0, 0, 64, 64, nullptr, nullptr,
                                  description.hInstance, nullptr);
        if (window_ == nullptr) error_ = GetLastError();
#else
        host_.set_window(class_, title_, true);
#endif
    }
    ~TopLevelWindow() {
#ifdef _WIN32
        if (window_ != nullptr) DestroyWindow(window_);
#else
        host_.set_window(class_, title_, false);
#endif
    }
    TopLevelWindow(const TopLevelWindow&) = delete;
    TopLevelWindow& operator=(const TopLevelWindow&) = delete;

    bool exists() const {
#ifdef _WIN32
        return window_ != nullptr;
#else
        return true;
#endif
    }
    // Why the window could not be made (Wine without a display makes none).
    std::string failure() const { return "no top-level window (error " + std::to_string(error_) + ")"; }

private:
    runtime::Host& host_;
    std::string class_;
    std::string title_;
    unsigned long error_ = 0;
#ifdef _WIN32
    HWND window_ = nullptr;
#endif
};

constexpr BitmapSize kBitmaps[] = {
    {310, 380, 138}, {315, 45, 138}, {316, 45, 138}, {365, 300, 115}, {370, 54, 111}, {371, 54, 111},
};

class SwitchesTest : public korvane_bench::KorvaneModule {
protected:
    void SetUp() override {
        give_sizes(kBitmaps);
        starter_gauge_ = gauge("Starter_Switch");
        magneto_gauge_ = gauge("Magneto_Switch");
        ASSERT_NE(starter_gauge_, nullptr);
        ASSERT_NE(magneto_gauge_, nullptr);
    }

    // The starter panel, set up and updated once.
    std::unique_ptr<runtime::GaugeInstance> starter() {
        auto instance = open(starter_gauge_);
        instance->update();
        return instance;
    }

    // Engine e's arming icon (elements: the background, then engines 1 to 4).
    static const runtime::ElementState& arming_icon(const runtime::GaugeInstance& instance, size_t engine) {
        return instance.elements().at(1 + engine);
    }

    static void click(runtime::GaugeInstance& instance, int32_t x, int32_t y) {
        instance.press(x, y);
        instance.release();
    }
    static void click_arm(runtime::GaugeInstance& instance, size_t engine) {
        click(instance, kStarterEngines[engine].column_x + 37, 20);
    }
    static void click_start(runtime::GaugeInstance& instance, size_t engine) {
        click(instance, kStarterEngines[engine].column_x + 37, 80);
    }

    // The mouse list's handlers: parents at 0 and 1, then arming and start
    // boxes engine by engine.
    MouseHandler arm_handler(size_t engine) const { return starter_gauge_->mouse_rects[2 + 2 * engine].handler; }
    MouseHandler start_handler(size_t engine) const { return starter_gauge_->mouse_rects[3 + 2 * engine].handler; }

    GAUGEHDR* starter_gauge_ = nullptr;
    GAUGEHDR* magneto_gauge_ = nullptr;
};

// --- Arming ------------------------------------------------------------------

TEST_F(SwitchesTest, ArmingFlipsOnEachClickWhileStoppedAndShowsAtTheNextUpdate) {
    auto instance = starter();
    for (size_t engine = 0; engine < 4; ++engine) {
        SCOPED_TRACE(::testing::Message() << "engine " << engine + 1);
        click_arm(*instance, engine);
        EXPECT_EQ(arming_icon(*instance, engine).frame, 0u) << "the icon changes only at the next update";
        instance->update();
        EXPECT_EQ(arming_icon(*instance, engine).frame, 1u);
        EXPECT_EQ(arming_icon(*instance, engine).resource_id, 371u);
        for (size_t other = 0; other < 4; ++other) {
            if (other != engine) {
                EXPECT_EQ(arming_icon(*instance, other).frame, 0u) << "engine " << other + 1;
            }
        }
        click_arm(*instance, engine);
        instance->update();
        EXPECT_EQ(arming_icon(*instance, engine).frame, 0u);
        EXPECT_EQ(arming_icon(*instance, engine).resource_id, 370u);
    }
    EXPECT_TRUE(host.key_log().empty()) << "arming sends no key event";
}

TEST_F(SwitchesTest, ArmingClickIgnoredUnlessTheEngineReadsExactlyStopped) {
    const double not_stopped[] = {1.0, 1e-300, -1e-300, kNaN, -kInf};
    auto instance = starter();
    for (double running : not_stopped) {
        SCOPED_TRACE(::testing::Message() << "running variable " << running);
        for (size_t engine = 0; engine < 4; ++engine) {
            host.vars().set(kStarterEngines[engine].running_token, running);
            click_arm(*instance, engine);
            instance->update();
            EXPECT_EQ(arming_icon(*instance, engine).frame, 0u) << "engine " << engine + 1;
            click_start(*instance, engine);
        }
        EXPECT_TRUE(host.key_log().empty());
    }
}

TEST_F(SwitchesTest, ArmingHoldsUnlessAnUpdateReadsExactlyRunning) {
    const double not_running[] = {0.0, 0.9999999999, 1.0000000001, kNaN, kInf};
    auto instance = starter();
    for (double running : not_running) {
        SCOPED_TRACE(::testing::Message() << "running variable " << running);
        for (size_t engine = 0; engine < 4; ++engine) {
            host.vars().set(kStarterEngines[engine].running_token, 0.0);
            click_arm(*instance, engine);
            host.vars().set(kStarterEngines[engine].running_token, running);
            instance->update();
            instance->update();
            EXPECT_EQ(arming_icon(*instance, engine).frame, 1u) << "engine " << engine + 1;
            host.clear_key_log();
            click_start(*instance, engine);
            ASSERT_EQ(host.key_log().size(), 1u) << "engine " << engine + 1;
            // Disarm again for the next value.
            host.vars().set(kStarterEngines[engine].running_token, 0.0);
            click_arm(*instance, engine);
            instance->update();
            ASSERT_EQ(arming_icon(*instance, engine).frame, 0u);
        }
    }
}

TEST_F(SwitchesTest, FirstUpdateReadingRunningDisarms) {
    auto instance = starter();
    for (size_t engine = 0; engine < 4; ++engine) {
        SCOPED_TRACE(::testing::Message() << "engine " << engine + 1);
        click_arm(*instance, engine);
        instance->update();
        ASSERT_EQ(arming_icon(*instance, engine).frame, 1u);
        host.vars().set(kStarterEngines[engine].running_token, 1.0);
        instance->update();
        EXPECT_EQ(arming_icon(*instance, engine).frame, 0u);
        // Stopped again, the arming stays out until the switch is worked.
        host.vars().set(kStarterEngines[engine].running_token, 0.0);
        instance->update();
        EXPECT_EQ(arming_icon(*instance, engine).frame, 0u);
        click_start(*instance, engine);
    }
    EXPECT_TRUE(host.key_log().empty());
}

// --- Start button ------------------------------------------------------------

TEST_F(SwitchesTest, HeldStartButtonCranksUntilTheEngineRuns) {
    auto instance = starter();
    for (size_t engine = 0; engine < 4; ++engine) {
        SCOPED_TRACE(::testing::Message() << "engine " << engine + 1);
        const StarterEngine& e = kStarterEngines[engine];
        host.vars().set(399 + 39 * static_cast<uint32_t>(engine), 1.0);  // first magneto on
        click_arm(*instance, engine);
        instance->update();
        host.clear_key_log();

        instance->press(e.column_x + 37, 80);
        ASSERT_EQ(host.key_log().size(), 1u) << "the press sends at once";
        int repeats = 0;
        while (host.vars().get(e.running_token) != 1.0 && repeats < 50) {
            host.tick();
            instance->update();
            instance->repeat();
            ++repeats;
        }
        ASSERT_EQ(host.vars().get(e.running_token), 1.0) << "the engine never caught";
        // Every event so far is this engine's start, one per press or repeat
        // made while armed.
        for (const runtime::KeyEvent& event : host.key_log()) {
            EXPECT_EQ(event.id, e.start_no_window);
            EXPECT_EQ(event.value, 0u);
        }
        EXPECT_GE(host.key_log().size(), 2u) << "repeats keep the starter engaged";
        instance->update();
        EXPECT_EQ(arming_icon(*instance, engine).frame, 0u) << "running drops the arming";
        const size_t sent = host.key_log().size();
        for (int i = 0; i < 3; ++i) instance->repeat();
        EXPECT_EQ(host.key_log().size(), sent) << "later repeats send nothing";
        instance->release();
    }
}

TEST_F(SwitchesTest, StartBeforeTheWindowCheckUsesTheSecondFamily) {
    // No set-up: the gauge has had no call with service id 4.
    for (size_t engine = 0; engine < 4; ++engine) {
        SCOPED_TRACE(::testing::Message() << "engine " << engine + 1);
        PIXPOINT point{10, 10};
        EXPECT_EQ(arm_handler(engine)(&point, 0x20000000), 0);
        host.clear_key_log();
        EXPECT_EQ(start_handler(engine)(&point, 0x20000000), 0);
        ASSERT_EQ(host.key_log().size(), 1u);
        EXPECT_EQ(host.key_log()[0].id, 66300u + engine);
        EXPECT_EQ(host.key_log()[0].value, 0u);
    }
}

TEST_F(SwitchesTest, MainWindowFoundSelectsTheFirstFamilyWithValueFour) {
    TopLevelWindow window(host, kMainWindowClass, kMainWindowTitle);
    ASSERT_TRUE(window.exists()) << window.failure();
    auto instance = starter();
    for (size_t engine = 0; engine < 4; ++engine) {
        SCOPED_TRACE(::testing::Message() << "engine " << engine + 1);
        click_arm(*instance, engine);
        host.clear_key_log();
        click_start(*instance, engine);
        ASSERT_EQ(host.key_log().size(), 1u);
        EXPECT_EQ(host.key_log()[0].id, kStarterEngines[engine].start_window);
        EXPECT_EQ(host.key_log()[0].value, 4u);
    }
}

TEST_F(SwitchesTest, OnlyAWindowWithBothClassAndTitleCounts) {
    struct Case {
        const char* window_class;
        const char* title;
    };
    const Case others[] = {
        {kMainWindowClass, "Microsoft Flight Simulator"},
        {"KorvaneOtherClass", kMainWindowTitle},
        {kMainWindowClass, ""},
    };
    for (const Case& other : others) {
        SCOPED_TRACE(::testing::Message() << other.window_class << " / " << other.title);
        TopLevelWindow window(host, other.window_class, other.title);
        ASSERT_TRUE(window.exists()) << window.failure();
        auto instance = starter();
        click_arm(*instance, 2);
        host.clear_key_log();
        click_start(*instance, 2);
        ASSERT_EQ(host.key_log().size(), 1u);
        EXPECT_EQ(host.key_log()[0].id, 66302u);
        EXPECT_EQ(host.key_log()[0].value, 0u);
        click_arm(*instance, 2);  // disarm for the next case
    }
}

TEST_F(SwitchesTest, WindowCheckHappensAtServiceIdFourOnlyAndHoldsTheLatestResult) {
    auto window = std::make_unique<TopLevelWindow>(host, kMainWindowClass, kMainWindowTitle);
    ASSERT_TRUE(window->exists()) << window->failure();
    PIXPOINT point{10, 10};
    arm_handler(0)(&point, 0x20000000);

    struct Step {
        uint32_t service_id;
        bool window_present;
        uint32_t expected_event;
    };
    const Step steps[] = {
        {2, true, 66300}, {6, true, 66300},  {0xFFFFFFFF, true, 66300}, {4, true, 65932},
        {6, true, 65932}, {4, false, 66300}, {2, false, 66300},         {4, true, 65932},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(::testing::Message() << "service id " << step.service_id);
        if (step.window_present && window == nullptr) {
            window = std::make_unique<TopLevelWindow>(host, kMainWindowClass, kMainWindowTitle);
        }
        if (!step.window_present) window.reset();
        starter_gauge_->gauge_callback(starter_gauge_, step.service_id, 0);
        host.clear_key_log();
        start_handler(0)(&point, 0x20000000);
        ASSERT_EQ(host.key_log().size(), 1u);
        EXPECT_EQ(host.key_log()[0].id, step.expected_event);
    }
}

// --- Magneto switches -------------------------------------------------------

TEST_F(SwitchesTest, MagnetoClickSendsTheSwitchEventAndThePictureFollows) {
    runtime::GaugeInstance instance(host, module, guest_of(magneto_gauge_));
    instance.setup();
    for (size_t i = 0; i < std::size(kMagnetoSwitches); ++i) {
        const MagnetoSwitch& sw = kMagnetoSwitches[i];
        SCOPED_TRACE(::testing::Message() << "switch " << i + 1);
        for (int32_t x : {sw.x, sw.x + 22, sw.x + 44}) {
            host.clear_key_log();
            click(instance, x, 69);
            ASSERT_EQ(host.key_log().size(), 1u) << "x " << x;
            EXPECT_EQ(host.key_log()[0].id, sw.event);
        }
        // Three clicks toggled the host's variable three times: on.
        instance.update();
        EXPECT_EQ(instance.elements().at(1 + i).frame, 1u);
        click(instance, sw.x + 22, 69);
        instance.update();
        EXPECT_EQ(instance.elements().at(1 + i).frame, 0u);
    }
    EXPECT_TRUE(host.service_log().empty());
}

}  // namespace
