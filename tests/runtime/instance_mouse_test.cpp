// Pointer actions on a gauge instance over the fixture's panel: which box
// takes a press, the point each handler gets, event boxes, held-button
// repeats and drags that keep the box when the pointer leaves it.
#include <cmath>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "runtime/bench_fixture_support.h"
#include "runtime/module_code.h"

namespace {

namespace fx = bench_fixture;
using fixture_support::FixtureModule;
using fixture_support::HandlerCall;
using runtime::GaugeInstance;

class Mouse : public FixtureModule {
protected:
    // Displayed point inside `box` at `scale`, `dx`, `dy` from its top-left.
    static int32_t at(int32_t edge, double scale, int32_t d) {
        return static_cast<int32_t>(std::lround(edge * scale)) + d;
    }
};

struct PressCase {
    const char* name;
    double scale;
    int32_t x, y;
    uint32_t handler;  // 0: no handler call
    int32_t rel_x, rel_y;
    bool sends_event;  // the panel's event box
};

TEST_F(Mouse, PressReachesExactlyOneBoxWithThePointRelativeToIt) {
    const PressCase cases[] = {
        {"left box", 1.0, 12, 25, fx::kHandlerLeft, 2, 5, false},
        {"overlap: the first box in list order", 1.0, 55, 30, fx::kHandlerLeft, 45, 10, false},
        {"knob behind a help-only box", 1.0, 115, 25, fx::kHandlerKnob, 5, 5, false},
        {"drag box takes the press", 1.0, 20, 80, fx::kHandlerLever, 10, 10, false},
        {"child of a nested parent", 1.0, 166, 76, fx::kHandlerNested, 1, 1, false},
        {"event box sends its event", 1.0, 85, 75, 0, 0, 0, true},
        {"box with neither event nor handler", 1.0, 195, 25, 0, 0, 0, false},
        {"only the whole-gauge parent", 1.0, 5, 5, 0, 0, 0, false},
        {"outside the gauge", 1.0, -1, -1, 0, 0, 0, false},
        {"scale 2: overlap", 2.0, 110, 60, fx::kHandlerLeft, 90, 20, false},
        {"scale 2: nested child", 2.0, 331, 151, fx::kHandlerNested, 1, 1, false},
        {"scale 0.5: left box", 0.5, 6, 11, fx::kHandlerLeft, 1, 1, false},
    };
    for (const PressCase& c : cases) {
        SCOPED_TRACE(c.name);
        GaugeInstance instance(host, module, gauge(fx::kPanelName), c.scale);
        instance.setup();
        host.clear_key_log();
        instance.press(c.x, c.y);
        instance.release();

        const std::vector<HandlerCall> calls = handler_calls();
        if (c.handler == 0) {
            EXPECT_TRUE(calls.empty());
        } else {
            ASSERT_EQ(calls.size(), 1u);
            EXPECT_EQ(calls[0].base, c.handler);
            EXPECT_EQ(calls[0].x, c.rel_x);
            EXPECT_EQ(calls[0].y, c.rel_y);
        }
        size_t panel_events = 0;
        for (const runtime::KeyEvent& e : host.key_log()) panel_events += e.id == fx::kPanelEvent && e.value == 0;
        EXPECT_EQ(panel_events, c.sends_event ? 1u : 0u);
    }
}

TEST_F(Mouse, ClickBoxesGetTheClickFlagAndNoRepeat) {
    GaugeInstance instance(host, module, gauge(fx::kPanelName));
    instance.setup();
    host.clear_key_log();
    instance.press(12, 25);
    instance.repeat();
    instance.repeat();
    instance.release();
    const std::vector<HandlerCall> calls = handler_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].flags, kMouseClick);

    host.clear_key_log();
    instance.press(85, 75);  // the event box: no repeat bit either
    instance.repeat();
    instance.release();
    EXPECT_EQ(events_without_service_reports().size(), 1u);
}

TEST_F(Mouse, HeldKnobRepeatsWhileThePointerStaysOnIt) {
    GaugeInstance instance(host, module, gauge(fx::kPanelName));
    instance.setup();
    host.clear_key_log();

    struct Step {
        enum Kind { kPress, kRepeat, kMove, kRelease } kind;
        int32_t x = 0, y = 0;
        bool calls = false;  // a handler call is expected
        uint32_t flags = 0;
    };
    const Step steps[] = {
        {Step::kPress, 115, 25, true, kMouseClick},
        {Step::kRepeat, 0, 0, true, kMouseRepeat},
        {Step::kRepeat, 0, 0, true, kMouseRepeat},
        {Step::kMove, 0, 0, false},    // off the knob: a move is no drag here
        {Step::kRepeat, 0, 0, false},  // nor does it repeat off the box
        {Step::kMove, 140, 50, false},
        {Step::kRepeat, 0, 0, true, kMouseRepeat},  // back on it
        {Step::kRelease},
        {Step::kRepeat, 0, 0, false},
    };
    size_t expected_calls = 0;
    for (size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        const Step& step = steps[i];
        switch (step.kind) {
            case Step::kPress: instance.press(step.x, step.y); break;
            case Step::kRepeat: instance.repeat(); break;
            case Step::kMove: instance.move(step.x, step.y); break;
            case Step::kRelease: instance.release(); break;
        }
        expected_calls += step.calls;
        const std::vector<HandlerCall> calls = handler_calls();
        ASSERT_EQ(calls.size(), expected_calls);
        if (step.calls) {
            EXPECT_EQ(calls.back().base, fx::kHandlerKnob);
            EXPECT_EQ(calls.back().flags, step.flags);
        }
    }
    EXPECT_EQ(handler_calls().back().x, 30);  // the repeat at (140, 50)
    EXPECT_EQ(handler_calls().back().y, 30);
}

TEST_F(Mouse, DragKeepsItsBoxWhenThePointerLeavesIt) {
    struct Move {
        int32_t x, y;
        int32_t rel_x, rel_y;
    };
    const Move moves[] = {
        {20, 80, 10, 10},                         // the press
        {30, 100, 20, 30},    {20, 60, 10, -10},  // above the box
        {500, 500, 490, 430},                     // far beyond the gauge
        {-5, 70, -15, 0},     {55, 30, 45, -40},  // over the click boxes: still the lever
    };
    for (double scale : {1.0, 2.0}) {
        SCOPED_TRACE(scale);
        GaugeInstance instance(host, module, gauge(fx::kPanelName), scale);
        instance.setup();
        host.clear_key_log();
        const int32_t left = at(fx::kLeverBox.x, scale, 0);
        const int32_t top = at(fx::kLeverBox.y, scale, 0);
        instance.press(left + moves[0].rel_x, top + moves[0].rel_y);
        for (size_t i = 1; i < std::size(moves); ++i) instance.move(left + moves[i].rel_x, top + moves[i].rel_y);
        instance.release();
        instance.move(left + 5, top + 5);  // released: nothing

        const std::vector<HandlerCall> calls = handler_calls();
        ASSERT_EQ(calls.size(), std::size(moves));
        for (size_t i = 0; i < std::size(moves); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(calls[i].base, fx::kHandlerLever);
            EXPECT_EQ(calls[i].x, moves[i].rel_x);
            EXPECT_EQ(calls[i].y, moves[i].rel_y);
            EXPECT_EQ(calls[i].flags, kMouseDrag);
            // The handler reads the background's displayed height through
            // the root it kept at service id 2.
            EXPECT_EQ(calls[i].displayed_height, static_cast<uint32_t>(fixture_support::kPanelHeight * scale));
        }
    }
}

TEST_F(Mouse, PressBeforeSetUpSetsTheGaugeUpFirst) {
    GaugeInstance instance(host, module, gauge(fx::kPanelName), 2.0);
    instance.press(at(fx::kLeverBox.x, 2.0, 3), at(fx::kLeverBox.y, 2.0, 4));
    EXPECT_TRUE(instance.is_set_up());
    const std::vector<HandlerCall> calls = handler_calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].x, 3);
    EXPECT_EQ(calls[0].y, 4);
    EXPECT_EQ(calls[0].displayed_height, 400u);
    // Service ids 2 and 4 came before the handler's report.
    ASSERT_GE(host.key_log().size(), 2u);
    EXPECT_EQ(host.key_log()[0].id, fx::service_report(2, 2));
    EXPECT_EQ(host.key_log()[1].id, fx::service_report(2, 4));
}

TEST_F(Mouse, NewPressReleasesTheOldOne) {
    GaugeInstance instance(host, module, gauge(fx::kPanelName));
    instance.setup();
    host.clear_key_log();
    instance.press(20, 80);  // lever
    instance.press(12, 25);  // left click box
    instance.move(30, 90);   // no longer dragging the lever
    instance.repeat();
    const std::vector<HandlerCall> calls = handler_calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].base, fx::kHandlerLever);
    EXPECT_EQ(calls[1].base, fx::kHandlerLeft);
}

TEST_F(Mouse, KillDropsTheHeldBox) {
    GaugeInstance instance(host, module, gauge(fx::kPanelName));
    instance.press(20, 80);
    instance.kill();
    host.clear_key_log();
    instance.move(30, 90);
    instance.repeat();
    EXPECT_TRUE(handler_calls().empty());
}

// A handler that is no code is the gauge's fault, named with its box; the
// gauge's other boxes go on working.
TEST_F(Mouse, HandlerThatFaultsIsTheGaugesFault) {
    const frame::GuestPtr<const guest::MOUSERECT> list = module.memory().read(gauge(fx::kPanelName)).mouse_rects;
    const GaugeInstance probe(host, module, gauge(fx::kPanelName));
    const runtime::MouseBox* box = probe.mouse_layout().hit(1.0, 12, 25, kMouseClick);
    ASSERT_NE(box, nullptr);
    const size_t left = box->record;
    module.memory().write(list.cast<guest::MOUSERECT>().at(static_cast<uint32_t>(left))).handler =
        guest::MouseHandler(0x10);
    GaugeInstance instance(host, module, gauge(fx::kPanelName));
    instance.setup();
    host.clear_key_log();
    try {
        instance.press(12, 25);
        ADD_FAILURE() << "the handler ran";
    } catch (const runtime::GaugeFault& fault) {
        EXPECT_NE(std::string(fault.what()).find("gauge Fixture_Panel, mouse handler of box " + std::to_string(left)),
                  std::string::npos)
            << fault.what();
    }
    instance.press(115, 25);
    ASSERT_EQ(handler_calls().size(), 1u);
    EXPECT_EQ(handler_calls()[0].base, fx::kHandlerKnob);
}

// The layout is made at the bitmap's size, whatever the display scale.
TEST_F(Mouse, LayoutListsTheBoxesInBitmapPixels) {
    GaugeInstance instance(host, module, gauge(fx::kPanelName), 2.0);
    const std::vector<runtime::MouseBox>& boxes = instance.mouse_layout().boxes();
    ASSERT_EQ(boxes.size(), 11u) << instance.mouse_layout().describe();
    EXPECT_EQ(boxes[0].width, fixture_support::kPanelWidth);
    EXPECT_EQ(boxes[0].height, fixture_support::kPanelHeight);
    EXPECT_EQ(boxes[6].x, fx::kLeverBox.x);
    EXPECT_EQ(boxes[6].height, fx::kLeverBox.height);
}

}  // namespace
