// The pilot's messages from the page: only well-formed positions within
// their ranges become inputs; anything else is dropped whole.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "web/server.h"

namespace {

using web::Input;

struct Case {
    const char* message;
    std::optional<Input::Kind> kind;  // nullopt: dropped
    double elevator = 0.0, aileron = 0.0, rudder = 0.0, brakes = 0.0, throttle = 0.0;
    int step = 0;
    int axis = 0;
    double ratio = 1.0;
};

const Case kCases[] = {
    {R"({"t":"controls","elevator":-1,"aileron":0.25,"rudder":1,"brakes":0.5,"throttle":-1})", Input::kControls, -1,
     0.25, 1, 0.5, -1},
    {R"({"t":"controls","elevator":0.5,"aileron":0,"rudder":0,"brakes":1})", Input::kControls, 0.5, 0, 0, 1, 0},
    {R"({"t":"gear"})", Input::kGear},
    {R"({"t":"flaps","step":1})", Input::kFlaps, 0, 0, 0, 0, 0, 1},
    {R"({"t":"flaps","step":-1})", Input::kFlaps, 0, 0, 0, 0, 0, -1},
    {R"({"t":"trim","axis":"elevator","step":-1})", Input::kTrim, 0, 0, 0, 0, 0, -1, 0},
    {R"({"t":"trim","axis":"rudder","step":1})", Input::kTrim, 0, 0, 0, 0, 0, 1, 1},
    {R"({"t":"ratio","ratio":2.625})", Input::kRatio, 0, 0, 0, 0, 0, 0, 0, 2.625},
    // Out of range, of the wrong type, missing or absurd.
    {R"({"t":"controls","elevator":1.0001,"aileron":0,"rudder":0,"brakes":0})", std::nullopt},
    {R"({"t":"controls","elevator":0,"aileron":-2,"rudder":0,"brakes":0})", std::nullopt},
    {R"({"t":"controls","elevator":0,"aileron":0,"rudder":0,"brakes":-0.1})", std::nullopt},
    {R"({"t":"controls","elevator":0,"aileron":0,"rudder":0,"brakes":0,"throttle":3})", std::nullopt},
    {R"({"t":"controls","elevator":"0","aileron":0,"rudder":0,"brakes":0})", std::nullopt},
    {R"({"t":"controls","elevator":null,"aileron":0,"rudder":0,"brakes":0})", std::nullopt},
    {R"({"t":"controls","elevator":0,"aileron":0,"brakes":0})", std::nullopt},
    {R"({"t":"controls","elevator":1e308,"aileron":0,"rudder":0,"brakes":0})", std::nullopt},
    {R"({"t":"controls","elevator":1e999,"aileron":0,"rudder":0,"brakes":0})", std::nullopt},
    {R"({"t":"controls","elevator":[0],"aileron":0,"rudder":0,"brakes":0})", std::nullopt},
    {R"({"t":"flaps","step":2})", std::nullopt},
    {R"({"t":"flaps","step":0.5})", std::nullopt},
    {R"({"t":"flaps"})", std::nullopt},
    {R"({"t":"trim","axis":"aileron","step":1})", std::nullopt},
    {R"({"t":"trim","axis":0,"step":1})", std::nullopt},
    {R"({"t":"trim","axis":"rudder","step":2})", std::nullopt},
    {R"({"t":"trim","step":1})", std::nullopt},
    {R"({"t":"ratio","ratio":0})", std::nullopt},
    {R"({"t":"ratio","ratio":"2"})", std::nullopt},
    {R"({"t":"ratio"})", std::nullopt},
};

TEST(PilotInput, PositionsInRangeBecomeInputsAndAnythingElseIsDropped) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.message);
        const std::optional<Input> input = web::parse_input(c.message);
        ASSERT_EQ(input.has_value(), c.kind.has_value());
        if (!input) continue;
        EXPECT_EQ(input->kind, *c.kind);
        EXPECT_EQ(input->elevator, c.elevator);
        EXPECT_EQ(input->aileron, c.aileron);
        EXPECT_EQ(input->rudder, c.rudder);
        EXPECT_EQ(input->brakes, c.brakes);
        EXPECT_EQ(input->throttle, c.throttle);
        EXPECT_EQ(input->step, c.step);
        EXPECT_EQ(input->axis, c.axis);
        EXPECT_EQ(input->ratio, c.ratio);
    }
}

}  // namespace
