// Gauge instances over the fixture module: the element tree, what each
// element kind shows after an update, failures, set-up and take-down, display
// scale and several instances of one gauge.
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/bench_fixture_support.h"
#include "runtime/guest_helpers.h"
#include "runtime/module_code.h"

namespace {

namespace fx = bench_fixture;
using fixture_support::FixtureModule;
using frame::GuestPtr;
using guest_helpers::place;
using guest_helpers::place_array;
using runtime::ElementPtr;
using runtime::ElementState;
using runtime::GaugeInstance;
using runtime::GaugePtr;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kTolerance = 1e-9;

// Drawing order of the fixture's gauges.
enum Dials : size_t { kDialsRoot, kAscending, kDescending, kWrap, kRated, kCallbackNeedle, kDialsCount };
enum Pictures : size_t {
    kPicturesRoot,
    kLamp1,
    kLamp2,
    kLamp3,
    kCounter,
    kSliderElement,
    kSwitch,
    kStrip,
    kDrum,
    kHorizon,
    kDisc,
    kPicturesCount
};

class Instance : public FixtureModule {
protected:
    const ElementState& element(const GaugeInstance& instance, size_t index) {
        const std::vector<ElementState>& elements = instance.elements();
        if (index >= elements.size()) {
            ADD_FAILURE() << "element " << index << " of " << elements.size();
            static const ElementState none;
            return none;
        }
        return elements[index];
    }

    guest::ELEMENT_HEADER header_of(const ElementState& state) const { return module.memory().read(state.element); }
    // The host image a static image holds (null: none).
    GuestPtr<guest::HOST_IMAGE_PREFIX> image_of(ElementPtr element) const {
        return module.memory().read(element.cast<guest::ELEMENT_STATIC_IMAGE>()).image;
    }
    ElementPtr root_of(GaugePtr gauge) const { return module.memory().read(module.memory().read(gauge).element_list); }
};

// --- Element tree ----------------------------------------------------------------

struct TreeEntry {
    uint32_t type;
    uint32_t resource_id;
    int depth;
    int32_t position_x;
};

TEST_F(Instance, WalksEachElementThenItsListInOrder) {
    const TreeEntry tree[] = {
        {kStaticImage, fx::kPicturesBackground, 0, 0},
        {kIcon, fx::kLampBitmap, 1, 20},
        {kIcon, fx::kLampBitmap, 2, 40},
        {kIcon, fx::kLampBitmap, 3, 60},
        {kIcon, fx::kCounterBitmap, 2, 5},
        {::kSlider, fx::kSliderBitmap, 1, 20},
        {kIcon, fx::kSwitchBitmap, 1, 150},
        {kMovingImage, fx::kStripPicture, 1, 10},
        {kMovingImage, fx::kDrumPicture, 1, 90},
        {kSprite, fx::kHorizonTexture, 1, 40},
        {kSprite, fx::kDiscTexture, 2, 120},
    };
    GaugeInstance instance(host, module, gauge(fx::kPicturesName));
    instance.update();
    ASSERT_EQ(instance.elements().size(), std::size(tree));
    for (size_t i = 0; i < std::size(tree); ++i) {
        SCOPED_TRACE(i);
        const ElementState& state = instance.elements()[i];
        EXPECT_EQ(state.type, tree[i].type);
        EXPECT_EQ(header_of(state).resource_id, tree[i].resource_id);
        EXPECT_EQ(state.depth, tree[i].depth);
        EXPECT_EQ(header_of(state).position_x, tree[i].position_x);
    }
}

TEST_F(Instance, WalkSurvivesLoopsAndRepeatedEntries) {
    // Records of the test's own: the root lists A twice and A lists the root.
    const auto root = place(module, guest::ELEMENT_STATIC_IMAGE{.header = {.resource_id = fx::kDialsBackground}});
    const auto a = place(module, guest::ELEMENT_STATIC_IMAGE{.header = {.resource_id = fx::kNeedleBitmap}});
    const ElementPtr r = root.cast<guest::ELEMENT_HEADER>(), e = a.cast<guest::ELEMENT_HEADER>();
    const ElementPtr root_list[] = {e, e, r, nullptr}, a_list[] = {r, e, nullptr}, element_list[] = {r, nullptr};
    module.memory().write(root).header.next_element_list = place_array<const ElementPtr>(module, root_list);
    module.memory().write(a).header.next_element_list = place_array<const ElementPtr>(module, a_list);
    const GaugePtr looping =
        place(module, guest::GAUGEHDR{.element_list = place_array<const ElementPtr>(module, element_list)});

    GaugeInstance instance(host, module, looping);
    instance.update();
    ASSERT_EQ(instance.elements().size(), 2u);
    EXPECT_EQ(instance.elements()[0].element, r);
    EXPECT_EQ(instance.elements()[1].element, e);
    EXPECT_EQ(instance.elements()[1].depth, 1);
    instance.kill();
    EXPECT_FALSE(image_of(r));
}

TEST_F(Instance, RefusesBadArguments) {
    const double bad_scales[] = {0.0, -1.0, kNaN, std::numeric_limits<double>::infinity(),
                                 GaugeInstance::kMaxScale * 2};
    for (double scale : bad_scales) {
        SCOPED_TRACE(scale);
        EXPECT_THROW({ GaugeInstance instance(host, module, gauge(fx::kDialsName), scale); }, std::invalid_argument);
    }
    EXPECT_THROW({ GaugeInstance instance(host, module, nullptr); }, std::invalid_argument);

    const guest::MOUSERECT unbalanced[] = {{.rect_type = kMouseParent}, {.rect_type = kMouseEnd}};
    guest::GAUGEHDR broken = module.memory().read(gauge(fx::kPanelName));
    broken.mouse_rects = place_array<const guest::MOUSERECT>(module, unbalanced);
    EXPECT_THROW({ GaugeInstance instance(host, module, place(module, broken)); }, runtime::MouseListError);
}

// Records that lead outside the module's memory, or to code that is none,
// are the gauge's fault: a GaugeFault naming module, gauge and what the host
// was doing, and the host and module go on.
TEST_F(Instance, RecordsLeadingNowhereAreTheGaugesFault) {
    const struct {
        const char* name;
        bool in_needle;        // else in the header
        size_t offset;         // of the pointer, now to nowhere
        bool on_construction;  // else on the update
        const char* named;
    } cases[] = {
        {"element list", false, offsetof(guest::GAUGEHDR, element_list), true, "its records"},
        {"mouse list", false, offsetof(guest::GAUGEHDR, mouse_rects), true, "its records"},
        {"next element list", true, offsetof(guest::ELEMENT_HEADER, next_element_list), true, "its records"},
        {"gauge callback", false, offsetof(guest::GAUGEHDR, gauge_callback), false, "gauge_callback (setup)"},
        {"failure list", true, offsetof(guest::ELEMENT_HEADER, failure_records), false, "its elements"},
        {"calibration table", true, offsetof(guest::ELEMENT_NEEDLE, nonlinearity), false, "its elements"},
        {"needle callback", true, offsetof(guest::ELEMENT_NEEDLE, update_callback), false, "needle callback"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        runtime::Host fresh_host;
        runtime::Module fresh(fresh_host, test_paths::module("BenchFixture.gau"));
        const GaugePtr dials = fresh.gauge(fx::kDialsName);
        ElementPtr ascending;
        {
            GaugeInstance first(fresh_host, fresh, dials);
            first.update();
            ascending = first.elements().at(kAscending).element;
        }
        const uint32_t nowhere = 0x10;
        fresh.memory().copy_in((c.in_needle ? ascending.address : dials.address) + static_cast<uint32_t>(c.offset),
                               &nowhere, sizeof nowhere);
        try {
            GaugeInstance instance(fresh_host, fresh, dials);
            EXPECT_FALSE(c.on_construction) << "constructed";
            instance.update();
            ADD_FAILURE() << "updated";
        } catch (const runtime::GaugeFault& fault) {
            const std::string message = fault.what();
            EXPECT_NE(message.find("BenchFixture.gau: gauge Fixture_Dials, " + std::string(c.named)), std::string::npos)
                << message;
        }
        GaugeInstance other(fresh_host, fresh, fresh.gauge(fx::kPicturesName));
        other.update();
        EXPECT_EQ(other.elements().size(), static_cast<size_t>(kPicturesCount));
    }
}

// --- Needles ---------------------------------------------------------------------

struct NeedleCase {
    const char* name;
    size_t index;
    uint32_t token;
    double variable;
    double value;  // the value used: the variable or the callback's result
    double angle;
};

TEST_F(Instance, NeedlesTurnToTheirTableOrValue) {
    const NeedleCase cases[] = {
        {"ascending, long step", kAscending, fx::kTokenAscending, 55.0, 55.0, 225.0},
        {"descending, falling value turns clockwise", kDescending, fx::kTokenDescending, 2.0, 2.0, 247.5},
        {"wrap-around across 3 o'clock", kWrap, fx::kTokenWrap, 5.0, 5.0, 337.5},
        {"untabled beyond a turn: the value is the angle", kRated, fx::kTokenRated, 400.0, 400.0, 40.0},
        {"untabled negative", kRated, fx::kTokenRated, -30.0, -30.0, 330.0},
        {"callback: zero at 12 o'clock", kCallbackNeedle, fx::kTokenCallbackNeedle, 0.0, 270.0, 270.0},
        {"callback: beyond one turn", kCallbackNeedle, fx::kTokenCallbackNeedle, 50.0, 370.0, 10.0},
        {"callback: NaN in, NaN out, angle 0", kCallbackNeedle, fx::kTokenCallbackNeedle, kNaN, kNaN, 0.0},
    };
    for (const NeedleCase& c : cases) {
        SCOPED_TRACE(c.name);
        host.vars().set(c.token, c.variable);
        GaugeInstance instance(host, module, gauge(fx::kDialsName));
        instance.update();
        const ElementState& state = element(instance, c.index);
        EXPECT_EQ(state.type, kNeedle);
        if (std::isnan(c.value)) {
            EXPECT_TRUE(std::isnan(state.value));
        } else {
            EXPECT_DOUBLE_EQ(state.value, c.value);
        }
        EXPECT_NEAR(state.angle, c.angle, kTolerance);
        // The host refreshed the embedded variable from its store.
        const guest::ELEMENT_NEEDLE& needle = module.memory().read(state.element.cast<guest::ELEMENT_NEEDLE>());
        if (!std::isnan(c.variable)) {
            EXPECT_DOUBLE_EQ(needle.source.value, c.variable);
        }
    }
}

TEST_F(Instance, RateLimitedNeedleMovesAtMostItsLimitAlongItsScale) {
    struct Step {
        double value;
        double angle;
    };
    const Step steps[] = {
        {100.0, 100.0},                                                               // the first update jumps
        {150.0, 106.0}, {150.0, 112.0}, {115.0, 115.0}, {90.0, 109.0}, {2.0, 103.0},  // down the scale
        {5.0, 97.0},    {350.0, 103.0},  // up the scale, though the other way round is shorter
    };
    GaugeInstance instance(host, module, gauge(fx::kDialsName));
    for (const Step& step : steps) {
        SCOPED_TRACE(step.value);
        host.vars().set(fx::kTokenRated, step.value);
        instance.update();
        EXPECT_NEAR(element(instance, kRated).angle, step.angle, kTolerance);
    }

    // Across 3 o'clock only where the values cross 360.
    GaugeInstance crossing(host, module, gauge(fx::kDialsName));
    const Step across[] = {{350.0, 350.0}, {362.0, 356.0}, {362.0, 2.0}, {2.0, 356.0}, {2.0, 350.0}};
    for (const Step& step : across) {
        SCOPED_TRACE(step.value);
        host.vars().set(fx::kTokenRated, step.value);
        crossing.update();
        EXPECT_NEAR(element(crossing, kRated).angle, step.angle, kTolerance);
    }
}

// --- Slider, icons, moving images, sprites ----------------------------------------

TEST_F(Instance, SliderMovesByValueTimesScale) {
    struct Case {
        double value_x, value_y;
        double x, y;
    };
    const Case cases[] = {
        {0.0, 16384.0, 20.0, 55.0},  // a lever's full travel: 57 pixels up
        {10.0, 8192.0, 25.0, 83.5},
        {-4.0, -16384.0, 18.0, 169.0},
        {kNaN, kNaN, 20.0, 112.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value_x << ", " << c.value_y);
        host.vars().set(fx::kTokenSliderX, c.value_x);
        host.vars().set(fx::kTokenSliderY, c.value_y);
        GaugeInstance instance(host, module, gauge(fx::kPicturesName));
        instance.update();
        const ElementState& slider = element(instance, kSliderElement);
        EXPECT_NEAR(slider.x, c.x, kTolerance);
        EXPECT_NEAR(slider.y, c.y, kTolerance);
        EXPECT_EQ(slider.resource_id, fx::kSliderBitmap);
    }
}

TEST_F(Instance, IconShowsTheFrameOfItsValue) {
    struct Case {
        double value;
        uint32_t frame;
    };
    const Case cases[] = {{1.9, 1}, {0.7, 0}, {5.0, 1}, {kNaN, 0}};
    GaugeInstance instance(host, module, gauge(fx::kPicturesName));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        host.vars().set(fx::kTokenSwitch, c.value);
        instance.update();
        const ElementState& icon = element(instance, kSwitch);
        EXPECT_EQ(icon.frame, c.frame);
        EXPECT_EQ(icon.resource_id, fx::kSwitchBitmap + c.frame);
    }
}

TEST_F(Instance, MovingImagesOffsetThePictureBehindTheWindow) {
    struct Case {
        const char* name;
        double strip, drum;
        double strip_offset, strip_fraction;
        double drum_offset, drum_fraction;
    };
    const Case cases[] = {
        {"card at 0: first 72 columns", 0.0, 0.0, 0.0, 0.0, 0.0, 0.0},
        {"card at 360: last 72 columns", 360.0, 10.0, 648.0, 1.0, 270.0, 1.0},
        {"card at 90, drum at 5 through its callback", 90.0, 5.0, 162.0, 0.25, 135.0, 0.5},
        {"beyond the ends", -20.0, 11.0, 0.0, 0.0, 270.0, 1.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        host.vars().set(fx::kTokenStrip, c.strip);
        host.vars().set(fx::kTokenDrum, c.drum);
        GaugeInstance instance(host, module, gauge(fx::kPicturesName));
        instance.update();
        const ElementState& strip = element(instance, kStrip);
        EXPECT_NEAR(strip.offset_x, c.strip_offset, kTolerance);
        EXPECT_NEAR(strip.fraction_x, c.strip_fraction, kTolerance);
        EXPECT_EQ(strip.offset_y, 0.0);  // min == max
        EXPECT_EQ(strip.fraction_y, 0.0);
        const ElementState& drum = element(instance, kDrum);
        EXPECT_NEAR(drum.offset_y, c.drum_offset, kTolerance);
        EXPECT_NEAR(drum.fraction_y, c.drum_fraction, kTolerance);
        EXPECT_EQ(drum.offset_x, 0.0);
    }
}

TEST(InstanceWithoutSizes, MovingImageKeepsItsFractionWhenBitmapsAreUnknown) {
    runtime::Host host;
    runtime::Module module(host, test_paths::module("BenchFixture.gau"));
    host.vars().set(fx::kTokenStrip, 90.0);
    GaugeInstance instance(host, module, module.gauge(fx::kPicturesName));
    instance.update();
    ASSERT_EQ(instance.elements().size(), static_cast<size_t>(kPicturesCount));
    const ElementState& strip = instance.elements()[kStrip];
    EXPECT_EQ(strip.offset_x, 0.0);
    EXPECT_DOUBLE_EQ(strip.fraction_x, 0.25);
    EXPECT_EQ(instance.displayed_height(), 0u);
}

TEST_F(Instance, SpritesShiftAndTurnAnticlockwiseForPositiveAngles) {
    struct Case {
        double pitch, bank;
        double shift_y, horizon_rotation;
    };
    const Case cases[] = {
        {10.0, 20.0, 11.7, -20.0},  // a right bank turns the horizon clockwise
        {-5.0, -45.0, -5.85, 45.0},
        {kNaN, kNaN, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.pitch << ", " << c.bank);
        host.vars().set(fx::kTokenHorizonPitch, c.pitch);
        host.vars().set(fx::kTokenHorizonBank, c.bank);
        GaugeInstance instance(host, module, gauge(fx::kPicturesName));
        instance.update();
        const ElementState& horizon = element(instance, kHorizon);
        EXPECT_NEAR(horizon.shift_y, c.shift_y, kTolerance);
        EXPECT_EQ(horizon.shift_x, 0.0);
        EXPECT_NEAR(horizon.rotation, c.horizon_rotation, kTolerance);
        // The disc's callback asks for digit 3: 90 degrees at scale -1.
        EXPECT_NEAR(element(instance, kDisc).rotation, -30.0 * fx::kDiscDigit, kTolerance);
    }
}

// --- Visibility -------------------------------------------------------------------

TEST_F(Instance, HiddenLampDoesNotHideTheLampsUnderIt) {
    struct Case {
        double select;
        bool lamp1, lamp2, lamp3;
    };
    const Case cases[] = {
        {0.0, false, false, false}, {1.0, true, false, false}, {2.0, false, true, false},
        {3.0, false, false, true},  {2.0, false, true, false}, {kNaN, false, false, false},
    };
    GaugeInstance instance(host, module, gauge(fx::kPicturesName));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.select);
        host.vars().set(fx::kTokenLampSelect, c.select);
        instance.update();
        EXPECT_EQ(element(instance, kLamp1).visible, c.lamp1);
        EXPECT_EQ(element(instance, kLamp2).visible, c.lamp2);
        EXPECT_EQ(element(instance, kLamp3).visible, c.lamp3);
        EXPECT_TRUE(element(instance, kCounter).visible);  // listed under lamp 1
    }
}

TEST_F(Instance, HiddenElementKeepsItsStateAndItsCallbackIsNotCalled) {
    GaugeInstance instance(host, module, gauge(fx::kPicturesName));
    instance.update();
    const double first = element(instance, kCounter).value;
    instance.update();
    EXPECT_EQ(element(instance, kCounter).value, first + 1);

    guest::ELEMENT_HEADER& counter = module.memory().write(element(instance, kCounter).element);
    counter.image_flags |= kImageHidden;
    instance.update();
    instance.update();
    EXPECT_FALSE(element(instance, kCounter).visible);
    EXPECT_EQ(element(instance, kCounter).value, first + 1);

    counter.image_flags &= ~kImageHidden;
    instance.update();
    EXPECT_TRUE(element(instance, kCounter).visible);
    EXPECT_EQ(element(instance, kCounter).value, first + 2);  // not called while hidden
}

// --- Failures ---------------------------------------------------------------------

struct FailureCase {
    const char* name;
    std::vector<uint32_t> failed;
    size_t index;
    uint32_t token;
    double before, after;  // the variable before and while the keys are failed
    std::optional<uint32_t> action;
    bool greyed;
    double angle_after;
};

TEST_F(Instance, FailuresFreezeGreyOrParkNeedles) {
    const FailureCase cases[] = {
        {"action 1: frozen and greyed", {fx::kFailDialsGrey}, kAscending, fx::kTokenAscending, 10, 20, 1u, true, 180.0},
        {"action 2: parked on the first point",
         {fx::kFailDialsPark},
         kAscending,
         fx::kTokenAscending,
         10,
         20,
         2u,
         false,
         90.0},
        {"first listed failure wins",
         {fx::kFailDialsPark, fx::kFailDialsGrey},
         kAscending,
         fx::kTokenAscending,
         10,
         20,
         1u,
         true,
         180.0},
        {"action 0: frozen, not greyed", {fx::kFailWrapFreeze}, kWrap, fx::kTokenWrap, 10, 20, 0u, false, 0.0},
        {"untabled needle parks at its zero reading, through its callback",
         {fx::kFailCallbackPark},
         kCallbackNeedle,
         fx::kTokenCallbackNeedle,
         10,
         20,
         2u,
         false,
         270.0},
        {"another element's failure changes nothing",
         {fx::kFailWrapFreeze},
         kAscending,
         fx::kTokenAscending,
         10,
         20,
         std::nullopt,
         false,
         190.0},
        {"terminator-only list acts like none",
         {fx::kFailDialsGrey, fx::kFailDialsPark, fx::kFailWrapFreeze, fx::kFailCallbackPark, 0},
         kDescending,
         fx::kTokenDescending,
         4,
         -2,
         std::nullopt,
         false,
         292.5},
        {"no list at all", {fx::kFailDialsGrey, 0}, kRated, fx::kTokenRated, 10, 14, std::nullopt, false, 14.0},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        GaugeInstance instance(host, module, gauge(fx::kDialsName));
        host.vars().set(c.token, c.before);
        instance.update();
        const double angle_before = element(instance, c.index).angle;
        for (uint32_t key : c.failed) host.fail(key);
        host.vars().set(c.token, c.after);
        instance.update();
        const ElementState& state = element(instance, c.index);
        EXPECT_EQ(state.failure_action, c.action);
        EXPECT_EQ(state.greyed, c.greyed);
        EXPECT_NEAR(state.angle, c.angle_after, kTolerance);
        if (c.action == 0u || c.action == 1u) {
            EXPECT_NEAR(state.angle, angle_before, kTolerance);
        }
        // Restored, the element follows its value again.
        for (uint32_t key : c.failed) host.restore(key);
        instance.update();
        EXPECT_FALSE(element(instance, c.index).failure_action.has_value());
        EXPECT_FALSE(element(instance, c.index).greyed);
        host.vars().set(c.token, 0.0);
    }
}

TEST_F(Instance, FailuresFreezeOtherKinds) {
    GaugeInstance instance(host, module, gauge(fx::kPicturesName));
    host.vars().set(fx::kTokenSliderY, 8192.0);
    host.vars().set(fx::kTokenSwitch, 1.0);
    instance.update();
    ASSERT_NEAR(element(instance, kSliderElement).y, 83.5, kTolerance);

    const uint32_t keys[] = {fx::kFailPictures, fx::kFailPicturesGrey};
    for (uint32_t key : keys) {
        SCOPED_TRACE(key);
        host.fail(key);
        host.vars().set(fx::kTokenSliderY, 0.0);
        host.vars().set(fx::kTokenSwitch, 0.0);
        instance.update();
        EXPECT_NEAR(element(instance, kSliderElement).y, 83.5, kTolerance);
        EXPECT_EQ(element(instance, kSwitch).frame, 1u);
        EXPECT_EQ(element(instance, kSwitch).greyed, key == fx::kFailPicturesGrey);
        // The strip carries no failure list.
        EXPECT_FALSE(element(instance, kStrip).failure_action.has_value());
        host.restore(key);
        host.vars().set(fx::kTokenSliderY, 8192.0);
        host.vars().set(fx::kTokenSwitch, 1.0);
        instance.update();
    }
}

TEST_F(Instance, ElementFailedFromTheStartRestsWhereItParks) {
    host.fail(fx::kFailDialsGrey);
    host.vars().set(fx::kTokenAscending, 50.0);
    GaugeInstance instance(host, module, gauge(fx::kDialsName));
    instance.update();
    EXPECT_NEAR(element(instance, kAscending).angle, 90.0, kTolerance);
    EXPECT_TRUE(element(instance, kAscending).greyed);
}

// --- Set-up, take-down, scale, several instances ---------------------------------

TEST_F(Instance, SetUpSendsServiceIdsTwoThenFourThenSixOnEachUpdate) {
    GaugeInstance instance(host, module, gauge(fx::kDialsName));
    instance.setup();
    EXPECT_EQ(service_reports(0), (std::vector<std::pair<uint32_t, uint32_t>>{{2, 0}, {4, 0}}));
    instance.update();
    instance.update();
    EXPECT_EQ(service_reports(0), (std::vector<std::pair<uint32_t, uint32_t>>{{2, 0}, {4, 0}, {6, 0}, {6, 0}}));
    EXPECT_TRUE(service_reports(1).empty());

    // Service id 2 bound the dials' stand-alone variable; 6 looked it up.
    EXPECT_EQ(host.calls_to(service_slot::initialize_var).size(), 1u);
    EXPECT_EQ(host.calls_to(service_slot::lookup_var).size(), 2u);
}

TEST_F(Instance, UpdateBeforeSetUpSetsUpFirst) {
    GaugeInstance instance(host, module, gauge(fx::kPanelName));
    EXPECT_FALSE(instance.is_set_up());
    instance.update();
    EXPECT_TRUE(instance.is_set_up());
    EXPECT_EQ(service_reports(2), (std::vector<std::pair<uint32_t, uint32_t>>{{2, 0}, {4, 0}, {6, 0}}));
}

TEST_F(Instance, StaticImagesGetTheirDisplayedHeightAtSetUp) {
    struct Case {
        const char* name;
        double scale;
        uint32_t width, height;
    };
    const Case cases[] = {
        {fx::kPanelName, 2.0, 600, 400},
        {fx::kPicturesName, 1.5, 362, 242},  // 361.5 and 241.5 round up
        {fx::kPicturesName, 0.5, 121, 81},
        {fx::kDialsName, 0.75, 150, 150},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.name << " at " << c.scale);
        GaugeInstance instance(host, module, gauge(c.name), c.scale);
        EXPECT_EQ(instance.displayed_width(), c.width);
        EXPECT_EQ(instance.displayed_height(), c.height);
        instance.update();
        const GuestPtr<guest::HOST_IMAGE_PREFIX> image = image_of(element(instance, 0).element);
        ASSERT_TRUE(image);
        EXPECT_EQ(module.memory().read(image).displayed_height, c.height);
        EXPECT_EQ(module.memory().read(image).displayed_width, c.width);
        EXPECT_EQ(module.memory().read(image).bitmap_id, header_of(element(instance, 0)).resource_id);
    }
}

TEST_F(Instance, KillClearsTheImageAndForgetsTheStateUntilSetUpAgain) {
    GaugeInstance instance(host, module, gauge(fx::kDialsName));
    host.vars().set(fx::kTokenRated, 100.0);
    instance.update();
    const ElementPtr root = element(instance, kDialsRoot).element;
    ASSERT_TRUE(image_of(root));

    instance.kill();
    EXPECT_FALSE(instance.is_set_up());
    EXPECT_TRUE(instance.elements().empty());
    EXPECT_FALSE(image_of(root));

    host.clear_key_log();
    instance.setup();
    EXPECT_TRUE(image_of(root));
    EXPECT_EQ(service_reports(0), (std::vector<std::pair<uint32_t, uint32_t>>{{2, 0}, {4, 0}}));
    // A fresh start: the rate-limited needle jumps again.
    host.vars().set(fx::kTokenRated, 200.0);
    instance.update();
    EXPECT_NEAR(element(instance, kRated).angle, 200.0, kTolerance);
}

TEST_F(Instance, LatestSetUpOwnsTheSharedImageField) {
    GaugeInstance small(host, module, gauge(fx::kPanelName), 1.0);
    GaugeInstance large(host, module, gauge(fx::kPanelName), 2.0);
    small.setup();
    const ElementPtr root = root_of(gauge(fx::kPanelName));
    const auto displayed_height = [&] { return module.memory().read(image_of(root)).displayed_height; };
    ASSERT_TRUE(image_of(root));
    EXPECT_EQ(displayed_height(), 200u);
    large.setup();
    EXPECT_EQ(displayed_height(), 400u);
    // Taking the older one down leaves the newer one's image in place.
    small.kill();
    ASSERT_TRUE(image_of(root));
    EXPECT_EQ(displayed_height(), 400u);
    large.kill();
    EXPECT_FALSE(image_of(root));
}

TEST_F(Instance, InstancesOfOneGaugeKeepTheirOwnState) {
    GaugeInstance first(host, module, gauge(fx::kDialsName));
    host.vars().set(fx::kTokenRated, 100.0);
    first.update();
    host.vars().set(fx::kTokenRated, 150.0);
    GaugeInstance second(host, module, gauge(fx::kDialsName));
    second.update();
    EXPECT_NEAR(element(second, kRated).angle, 150.0, kTolerance);  // its first update jumps
    first.update();
    EXPECT_NEAR(element(first, kRated).angle, 106.0, kTolerance);  // the other keeps turning
    second.update();
    EXPECT_NEAR(element(second, kRated).angle, 150.0, kTolerance);
    EXPECT_EQ(first.elements().size(), second.elements().size());
}

TEST_F(Instance, DestroyingAnInstanceLeavesNoPointerIntoIt) {
    const ElementPtr root = root_of(gauge(fx::kDialsName));
    {
        GaugeInstance instance(host, module, gauge(fx::kDialsName));
        instance.setup();
        ASSERT_TRUE(image_of(root));
    }
    EXPECT_FALSE(image_of(root));
}

}  // namespace
