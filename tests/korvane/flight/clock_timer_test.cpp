// "Clock" and "Timer" through the loaded module: the stand-alone variables
// they bind and look up, hands, the stopwatch's counting and buttons, and what
// the bench host shows and sends.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/korvane_bench.h"

namespace {

using namespace korvane_bench;

// --- Clock ---------------------------------------------------------------------------

class ClockTest : public KorvaneModule {
protected:
    void SetUp() override {
        clock_ = gauge("Clock");
        ASSERT_NE(clock_, nullptr);
        for (size_t i = 0; i < 3; ++i) {
            hands_[i] = element_as<ELEMENT_NEEDLE>(clock_, i + 1);
            ASSERT_NE(hands_[i], nullptr);
        }
    }

    // Sets the simulator clock and each hand's own variable as the host would.
    void set_time(double hours, double minutes, double seconds) {
        host.vars().set(3, hours);
        host.vars().set(4, minutes);
        host.vars().set(5, seconds);
        hands_[0]->source.value = hours;
        hands_[1]->source.value = minutes;
        hands_[2]->source.value = seconds;
    }
    double hand(size_t i) { return hands_[i]->update_callback(hands_[i]); }

    GAUGEHDR* clock_ = nullptr;
    ELEMENT_NEEDLE* hands_[3] = {};
};

TEST_F(ClockTest, SetUpBindsAtServiceTwoOnly) {
    for (uint32_t service : {4u, 6u, 0u, 3u}) clock_->gauge_callback(clock_, service, 0);
    EXPECT_TRUE(host.service_log().empty());

    clock_->gauge_callback(clock_, 2, 0);
    const std::vector<runtime::ServiceCall> calls = host.service_log();
    ASSERT_EQ(calls.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {  // hours, minutes, seconds, in this order
        EXPECT_EQ(calls[i].slot, service_slot::initialize_var);
        EXPECT_EQ(calls[i].args[0], address(standalone_var(clock_, i)));
        EXPECT_TRUE(host.is_bound(module, guest_of(standalone_var(clock_, i))));
    }
}

// The hour hand refreshes the minutes record, the minute hand the seconds
// record; the second hand calls no service.
TEST_F(ClockTest, HandsRefreshTheirFinerRecord) {
    for (size_t i = 0; i < 2; ++i) {
        host.clear_service_log();
        hand(i);
        const std::vector<runtime::ServiceCall> calls = host.service_log();
        ASSERT_EQ(calls.size(), 1u) << "hand " << i;
        EXPECT_EQ(calls[0].slot, service_slot::lookup_var);
        EXPECT_EQ(calls[0].args[0], address(standalone_var(clock_, i + 1)));
    }
    host.clear_service_log();
    hand(2);
    EXPECT_TRUE(host.service_log().empty());
}

struct ClockCase {
    double hours, minutes, seconds;
    double hour_hand, minute_hand, second_hand;
};

const ClockCase kClockCases[] = {
    {3, 30, 0, 375.0, 450.0, 270.0},  // half-way between 3 and 4; 6 o'clock
    {15, 0, 0, 720.0, 270.0, 270.0},  // a turn beyond 3 o'clock
    {12, 59, 30, 659.5, 627.0, 450.0},
    {23, 59, 59, 270.0 + 30.0 * (23.0 + 59.0 / 60.0), 270.0 + 6.0 * (59.0 + 59.0 / 60.0), 624.0},
    // Readings that are no number rest at 0; beyond the day's ends, at the ends.
    {kNaN, kNaN, kNaN, 270.0, 270.0, 270.0},
    {kHuge, kHuge, kHuge, 1020.0, 636.0, 630.0},
    {-1.0, -1.0, -1.0, 270.0, 270.0, 270.0},
};

TEST_F(ClockTest, Hands) {
    for (const ClockCase& c : kClockCases) {
        SCOPED_TRACE(std::to_string(c.hours) + ":" + std::to_string(c.minutes) + ":" + std::to_string(c.seconds));
        set_time(c.hours, c.minutes, c.seconds);
        EXPECT_DOUBLE_EQ(hand(0), c.hour_hand);
        EXPECT_DOUBLE_EQ(hand(1), c.minute_hand);
        EXPECT_DOUBLE_EQ(hand(2), c.second_hand);
    }
}

// Each hand reads hours (or minutes) from its own element and the finer value
// from the stand-alone record, not the other way round.
TEST_F(ClockTest, HandsReadTheirOwnElementAndTheRecord) {
    set_time(3, 30, 0);
    hands_[0]->source.value = 4;  // the element, not token 3, gives the hours
    host.vars().set(4, 0);        // the record, not the minute hand's element
    EXPECT_DOUBLE_EQ(hand(0), 270.0 + 120.0);
    hands_[1]->source.value = 15;
    host.vars().set(5, 30);
    EXPECT_DOUBLE_EQ(hand(1), 270.0 + 6.0 * 15.5);
}

// Through the host: the knob's halves send the clock's key events from the
// mouse records (no module code), the host's model moves the clock, and the
// hands follow on the next update.
TEST_F(ClockTest, KnobMovesTheClockThroughHost) {
    module.override_bitmap_size(260, 306, 302);
    runtime::GaugeInstance instance(host, module, guest_of(clock_));
    set_time(10, 0, 0);
    instance.update();
    instance.press(10, 228 + 10);  // left half: back one minute
    instance.release();
    instance.update();
    EXPECT_NEAR(instance.elements()[1].angle, 209.5, 1e-9);
    EXPECT_NEAR(instance.elements()[2].angle, 264.0, 1e-9);
    instance.press(36 + 1, 228 + 71);  // right half: on one minute
    instance.release();
    instance.update();
    EXPECT_NEAR(instance.elements()[2].angle, 270.0, 1e-9);
    EXPECT_TRUE(host.calls_to(service_slot::trigger_key_event).empty()) << "the host sends these, not the module";
    EXPECT_EQ(host.key_log().size(), 2u);
}

// --- Timer ---------------------------------------------------------------------------

class TimerTest : public KorvaneModule {
protected:
    void SetUp() override {
        timer_ = gauge("Timer");
        ASSERT_NE(timer_, nullptr);
        ring_ = element_as<ELEMENT_SPRITE>(timer_, 1);
        hand_ = element_as<ELEMENT_NEEDLE>(timer_, 2);
        ASSERT_TRUE(ring_ && hand_);
        // The stopwatch is one for the whole module: start every test stopped
        // at zero, with the clock's seconds seen.
        reset();
        tick(now_);
    }

    void tick(double seconds, uint32_t service = 6) {
        host.vars().set(5, seconds);
        timer_->gauge_callback(timer_, service, 0);
    }
    void next_second() { tick(++now_); }
    void count(int seconds) {
        for (int i = 0; i < seconds; ++i) next_second();
    }
    void start_stop() {
        PIXPOINT point{3, 3};
        EXPECT_EQ(timer_->mouse_rects[2].handler(&point, kMouseClick), 0);
    }
    void reset() {
        PIXPOINT point{3, 3};
        EXPECT_EQ(timer_->mouse_rects[5].handler(&point, kMouseClick), 0);
    }
    double hand() { return hand_->update_callback(hand_); }
    double ring() { return ring_->callback_rotation(ring_); }
    // The counted seconds, read back from the hand: (s + 45) x 6.
    double seconds() { return hand() / 6.0 - 45.0; }
    // Whether the next change of the clock's seconds is counted; counts it.
    bool runs() {
        const double before = seconds();
        next_second();
        return seconds() != before;
    }

    GAUGEHDR* timer_ = nullptr;
    ELEMENT_SPRITE* ring_ = nullptr;
    ELEMENT_NEEDLE* hand_ = nullptr;
    double now_ = 1000.0;
};

// Each test loads the library afresh: the stopwatch starts stopped at 0:00
// with 0.0 as the last seconds value seen.
using TimerLoad = KorvaneModule;

TEST_F(TimerLoad, TimerAtLoad) {
    GAUGEHDR* timer = gauge("Timer");
    ASSERT_NE(timer, nullptr);
    auto* ring = element_as<ELEMENT_SPRITE>(timer, 1);
    auto* hand = element_as<ELEMENT_NEEDLE>(timer, 2);
    ASSERT_TRUE(ring && hand);
    EXPECT_EQ(hand->update_callback(hand), 270.0);
    EXPECT_EQ(ring->callback_rotation(ring), 0.0);
    timer->mouse_rects[2].handler(nullptr, 0);  // start
    host.vars().set(5, 0.0);                    // the value seen at load: no change
    timer->gauge_callback(timer, 6, 0);
    EXPECT_EQ(hand->update_callback(hand), 270.0);
    host.vars().set(5, 7.0);
    timer->gauge_callback(timer, 6, 0);
    EXPECT_EQ(hand->update_callback(hand), 276.0);
}

TEST_F(TimerTest, StartStopAndReset) {
    start_stop();
    EXPECT_TRUE(runs());
    EXPECT_TRUE(runs());
    EXPECT_EQ(seconds(), 2.0);
    start_stop();  // stop: the counts stay
    EXPECT_FALSE(runs());
    EXPECT_EQ(seconds(), 2.0);
    start_stop();  // resumes from there
    EXPECT_TRUE(runs());
    EXPECT_EQ(seconds(), 3.0);
    reset();  // while running: stopped at zero
    EXPECT_EQ(seconds(), 0.0);
    EXPECT_FALSE(runs());
    start_stop();  // the next click starts it
    EXPECT_TRUE(runs());
    EXPECT_EQ(seconds(), 1.0);
}

// Stopped, the last seconds value follows the clock; after a start the first
// second counts at the next change.
TEST_F(TimerTest, StoppedCountsNothingButFollowsTheClock) {
    for (double t : {10.0, 11.0, 12.0}) tick(t);
    EXPECT_EQ(seconds(), 0.0);
    start_stop();
    tick(12.0);
    EXPECT_EQ(seconds(), 0.0);
    tick(13.0);
    EXPECT_EQ(seconds(), 1.0);
}

// One second per update in which the clock's seconds changed, however far; a
// value that is no number, or infinite, still counts at most one second per
// change, and one that stays so counts nothing more.
TEST_F(TimerTest, CountsChangesNotDistance) {
    start_stop();
    const struct {
        double clock;
        double counted;
    } steps[] = {{10, 1},   {10, 1},   {40, 2},   {39, 3},    {0, 4},    {1e9, 5},    {kNaN, 6},
                 {kNaN, 6}, {kInf, 7}, {kInf, 7}, {-kInf, 8}, {kNaN, 9}, {kHuge, 10}, {kHuge, 10}};
    for (const auto& s : steps) {
        tick(s.clock);
        EXPECT_EQ(seconds(), s.counted) << "clock " << s.clock;
        EXPECT_TRUE(std::isfinite(hand()));
        EXPECT_TRUE(std::isfinite(ring()));
    }
}

// Service ids other than 6 (set-up included) neither count nor take the
// clock's value.
TEST_F(TimerTest, CountsOnUpdatesOnly) {
    start_stop();
    for (uint32_t service : {2u, 4u, 0u, 7u}) tick(now_ + 5.0, service);
    EXPECT_EQ(seconds(), 0.0);
    tick(now_, 6);  // still the value seen last: nothing
    EXPECT_EQ(seconds(), 0.0);
    tick(now_ + 5.0, 6);
    EXPECT_EQ(seconds(), 1.0);
}

TEST_F(TimerTest, MinutesAndWrap) {
    start_stop();
    count(59);
    EXPECT_EQ(hand(), 624.0);
    EXPECT_EQ(ring(), 0.0);
    count(1);  // 1:00
    EXPECT_EQ(hand(), 270.0);
    EXPECT_EQ(ring(), 30.0);
    count(9 * 60);  // 10:00; the ring shows 0 to 10 minutes and stands at 10 beyond
    EXPECT_EQ(ring(), 300.0);
    count(60);
    EXPECT_EQ(ring(), 300.0);
    count(49 * 60 - 1);  // 59:59
    EXPECT_EQ(hand(), 624.0);
    EXPECT_EQ(ring(), 300.0);
    count(1);  // wraps to 0:00
    EXPECT_EQ(hand(), 270.0);
    EXPECT_EQ(ring(), 0.0);
    count(61);
    EXPECT_EQ(hand(), 276.0);
    EXPECT_EQ(ring(), 30.0);
}

TEST_F(TimerTest, HandlersIgnoreTheirArguments) {
    EXPECT_EQ(timer_->mouse_rects[2].handler(nullptr, 0), 0);  // start
    EXPECT_TRUE(runs());
    EXPECT_EQ(timer_->mouse_rects[5].handler(nullptr, 0xFFFFFFFFu), 0);  // reset
    EXPECT_EQ(seconds(), 0.0);
    EXPECT_FALSE(runs());
}

// Through the host: the buttons, the tick on each update looking its record up
// by token alone (never bound), and the ring turning clockwise by 30 degrees a
// minute (rotation -30 x minutes).
TEST_F(TimerTest, ThroughHost) {
    module.override_bitmap_size(340, 306, 302);
    runtime::GaugeInstance instance(host, module, guest_of(timer_));
    instance.setup();
    EXPECT_TRUE(host.calls_to(service_slot::initialize_var).empty());

    instance.press(236 + 18, 34 + 18);  // start
    instance.release();
    host.clear_service_log();
    for (int i = 0; i < 3 * 60 + 5; ++i) {
        host.vars().set(5, ++now_);
        instance.update();
    }
    const std::vector<runtime::ServiceCall> lookups = host.calls_to(service_slot::lookup_var);
    ASSERT_EQ(lookups.size(), 3u * 60u + 5u);
    EXPECT_EQ(lookups[0].args[0], address(standalone_var(timer_, 0)));
    EXPECT_FALSE(host.is_bound(module, guest_of(standalone_var(timer_, 0))));
    ASSERT_EQ(instance.elements().size(), 3u);
    EXPECT_EQ(instance.elements()[1].rotation, -90.0);
    EXPECT_NEAR(instance.elements()[2].angle, 300.0, 1e-9);

    instance.press(236 + 1, 34 + 1);  // stop
    instance.release();
    host.vars().set(5, ++now_);
    instance.update();
    EXPECT_NEAR(instance.elements()[2].angle, 300.0, 1e-9);

    instance.press(139 + 35, 35);  // reset
    instance.release();
    instance.update();
    EXPECT_EQ(instance.elements()[1].rotation, 0.0);
    EXPECT_NEAR(instance.elements()[2].angle, 270.0, 1e-9);
    EXPECT_TRUE(host.key_log().empty());
}

}  // namespace
