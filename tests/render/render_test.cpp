// Drawing gauges and panels: each element kind where its records and its
// evaluation put it, with synthetic bitmaps on the fixture module,
// placeholders for missing bitmaps, failures, display sizes and whole panels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "art/canvas.h"
#include "art/panel_art.h"
#include "frame/bitmap_format.h"
#include "frame/vocabulary.h"
#include "korvane/bitmaps.h"
#include "panelhost/panel.h"
#include "render/png.h"
#include "render/renderer.h"
#include "runtime/bench_fixture_support.h"
#include "runtime/dib.h"
#include "runtime/evaluate.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "support/test_paths.h"
#include "synthetic.h"

namespace {

namespace fx = bench_fixture;
using render::BitmapCache;
using render::Image;
using synthetic::Canvas;
using synthetic::kClear;

// --- Colours of the synthetic pictures ----------------------------------------

constexpr uint32_t kFace = 0x202020;
constexpr uint32_t kMark = 0xF0F0F0;
constexpr uint32_t kShaft = 0xE0E000;
constexpr uint32_t kTip = 0xFF2020;
constexpr uint32_t kPicturesFace = 0x404040;
constexpr uint32_t kLamp = 0x30D030;
constexpr uint32_t kCounterColour = 0x3030D0;
constexpr uint32_t kSliderColour = 0xE08020;
constexpr uint32_t kSwitchOff = 0xC0C0C0;
constexpr uint32_t kSwitchOn = 0x20C040;
constexpr uint32_t kBezel = 0x808080;
constexpr uint32_t kSky = 0x3080E0;
constexpr uint32_t kGround = 0x806020;
constexpr uint32_t kDiscColour = 0x505050;
constexpr uint32_t kDigitMark = 0xFF00FF;
constexpr uint32_t kPlaceholderFrame = 0xA0A0A0;
constexpr uint32_t kPlaceholderFill = 0x3C3C3C;

uint32_t rgb(uint32_t argb) { return argb & 0xFFFFFF; }
bool opaque(uint32_t argb) { return argb >> 24 == 0xFF; }

bool close(uint32_t a, uint32_t b, int tolerance) {
    for (int shift : {16, 8, 0}) {
        if (std::abs(static_cast<int>(a >> shift & 0xFF) - static_cast<int>(b >> shift & 0xFF)) > tolerance)
            return false;
    }
    return true;
}

// Whether the colour is found within `radius` pixels of (x, y).
bool near(const Image& image, double x, double y, uint32_t colour, int radius = 1, int tolerance = 6) {
    const int cx = static_cast<int>(std::floor(x)), cy = static_cast<int>(std::floor(y));
    for (int dy = -radius; dy <= radius; ++dy) {
        for (int dx = -radius; dx <= radius; ++dx) {
            if (close(rgb(image.pixel(cx + dx, cy + dy)), colour, tolerance)) return true;
        }
    }
    return false;
}

std::string hex(uint32_t colour) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", colour & 0xFFFFFF);
    return text;
}

// Band b of an 18-pixel-banded strip: distinct, never black.
constexpr uint32_t band_colour(uint32_t band) { return (band * 6 + 10) << 16 | (250 - band * 5) << 8 | 0x40; }
// Cell c of a drum strip.
constexpr uint32_t cell_colour(uint32_t cell) { return 0x400000 | (cell * 20 + 30) << 8 | (200 - cell * 15); }

// The fixture's bitmaps, drawn so that every element can be told apart.
void paint_fixture(runtime::Module& module) {
    Canvas dials(200, 200, kFace);
    dials.rect(0, 0, 8, 8, kClear);  // a round dial's corner
    for (auto [x, y] : {std::pair{100, 150}, {50, 100}, {100, 50}}) dials.rect(x - 3, y - 3, 7, 7, kMark);
    module.override_bitmap(fx::kDialsBackground, dials.bitmap());
    // Pivot (4, 4); shaft to 49 pixels from it, then the tip to 53.
    module.override_bitmap(fx::kNeedleBitmap,
                           Canvas(60, 9, kClear).rect(0, 2, 50, 5, kShaft).rect(50, 2, 8, 5, kTip).bitmap());

    module.override_bitmap(fx::kPicturesBackground, Canvas(241, 161, kPicturesFace).bitmap());
    module.override_bitmap(fx::kLampBitmap, Canvas(10, 10, kLamp).bitmap());
    module.override_bitmap(fx::kCounterBitmap, Canvas(8, 8, kCounterColour).bitmap());
    module.override_bitmap(fx::kSliderBitmap, Canvas(12, 6, kSliderColour).bitmap());
    module.override_bitmap(fx::kSwitchBitmap, Canvas(8, 8, kSwitchOff).bitmap());
    module.override_bitmap(fx::kSwitchBitmap + 1, Canvas(8, 8, kSwitchOn).bitmap(true));

    Canvas strip(720, 32, 0);
    for (uint32_t band = 0; band < 40; ++band)
        strip.rect(static_cast<int32_t>(band * 18), 0, 18, 32, band_colour(band));
    module.override_bitmap(fx::kStripPicture, strip.bitmap());
    module.override_bitmap(fx::kStripPicture + 1, Canvas(72, 32, kClear).bitmap());
    Canvas drum(18, 297, 0);
    for (uint32_t cell = 0; cell < 11; ++cell) drum.rect(0, static_cast<int32_t>(cell * 27), 18, 27, cell_colour(cell));
    module.override_bitmap(fx::kDrumPicture, drum.bitmap());
    module.override_bitmap(fx::kDrumPicture + 1, Canvas(18, 27, kClear).frame(1, kBezel).bitmap());

    module.override_bitmap(fx::kHorizonTexture, Canvas(128, 128, kSky).rect(0, 64, 128, 64, kGround).bitmap());
    module.override_bitmap(fx::kHorizonTexture + 1, Canvas(120, 80, kClear).frame(2, kBezel).bitmap());
    module.override_bitmap(fx::kDiscTexture, Canvas(40, 40, kDiscColour).rect(32, 16, 8, 8, kDigitMark).bitmap());
    module.override_bitmap(fx::kDiscTexture + 1, Canvas(60, 70, kClear).frame(2, kBezel).bitmap());

    module.override_bitmap(fx::kPanelBackground, Canvas(300, 200, 0x303848).bitmap());
    module.override_bitmap(fx::kMarkerBitmap, Canvas(6, 6, 0xD0D0D0).bitmap());
}

class FixtureDrawing : public ::testing::Test {
protected:
    runtime::Host host;
    runtime::Module module{host, test_paths::module("BenchFixture.gau")};
    BitmapCache bitmaps{module};

    FixtureDrawing() { paint_fixture(module); }

    Image draw(const char* name, double scale = 1.0) {
        runtime::GaugeInstance instance(host, module, module.gauge(name), scale);
        instance.update();
        return render::render_gauge(instance, bitmaps);
    }
};

// --- Needles ------------------------------------------------------------------

// The other dial needles, pointed out of the way (315, 0, 20 and 45 degrees).
void park_other_needles(runtime::Host& host) {
    host.vars().set(fx::kTokenDescending, -4.0);
    host.vars().set(fx::kTokenWrap, 10.0);
    host.vars().set(fx::kTokenRated, 20.0);
    host.vars().set(fx::kTokenCallbackNeedle, 67.5);
}

TEST_F(FixtureDrawing, NeedleTipLiesOnTheMarkOfItsReading) {
    park_other_needles(host);
    struct Reading {
        double value;
        double degrees;  // where the table puts it
        bool on_mark;    // a table point, where a mark is painted
    };
    const Reading readings[] = {{10.0, 180.0, true}, {5.0, 135.0, false}, {55.0, 225.0, false}};
    for (const Reading& reading : readings) {
        SCOPED_TRACE(reading.value);
        host.vars().set(fx::kTokenAscending, reading.value);
        const Image image = draw(fx::kDialsName);
        const double a = reading.degrees * std::numbers::pi / 180.0;
        auto at = [&](double distance) {
            return std::pair{100.0 + distance * std::cos(a), 100.0 + distance * std::sin(a)};
        };
        const auto [tip_x, tip_y] = at(50.0);
        EXPECT_TRUE(near(image, tip_x, tip_y, kTip)) << hex(image.pixel(int(tip_x), int(tip_y)));
        const auto [shaft_x, shaft_y] = at(25.0);
        EXPECT_TRUE(near(image, shaft_x, shaft_y, kShaft));
        const auto [beyond_x, beyond_y] = at(58.0);
        EXPECT_TRUE(near(image, beyond_x, beyond_y, kFace, 0)) << "the needle ends at its tip";
    }
    // The other marks stay uncovered: reading 0 leaves 9 o'clock's mark alone.
    host.vars().set(fx::kTokenAscending, 0.0);
    const Image image = draw(fx::kDialsName);
    EXPECT_EQ(rgb(image.pixel(50, 100)), kMark);
    EXPECT_EQ(rgb(image.pixel(100, 50)), kMark);
}

TEST_F(FixtureDrawing, BlackAroundANeedleIsTransparent) {
    park_other_needles(host);
    host.vars().set(fx::kTokenAscending, 10.0);  // 9 o'clock: the bitmap lies along y = 100
    const Image image = draw(fx::kDialsName);
    // Beside the 5-row shaft, inside the needle bitmap's black rows: the face shows.
    EXPECT_EQ(rgb(image.pixel(75, 95)), kFace);
    EXPECT_EQ(rgb(image.pixel(75, 103)), kFace);
    EXPECT_EQ(rgb(image.pixel(75, 99)), kShaft);
    EXPECT_TRUE(opaque(image.pixel(75, 95)));
    // The background's black corner is clear too, and scaled it blends: the
    // edge between corner and face is part covered, not a stair of steps.
    EXPECT_EQ(image.pixel(2, 2) >> 24, 0u);
    const Image twice = draw(fx::kDialsName, 2.0);
    EXPECT_EQ(twice.pixel(4, 4) >> 24, 0u);
    EXPECT_TRUE(opaque(twice.pixel(20, 4)));
    for (auto [x, y] : {std::pair{15, 4}, {4, 15}}) {
        const uint32_t alpha = twice.pixel(x, y) >> 24;
        EXPECT_GT(alpha, 0u) << x << ", " << y;
        EXPECT_LT(alpha, 255u) << x << ", " << y;
    }
}

// --- Lamps, icons, sliders --------------------------------------------------------

TEST_F(FixtureDrawing, HiddenLampsAreAbsentAndShownOnesPresent) {
    const std::pair<int, int> lamps[] = {{25, 135}, {45, 135}, {65, 135}};
    for (int selected = 0; selected <= 3; ++selected) {
        SCOPED_TRACE(selected);
        host.vars().set(fx::kTokenLampSelect, selected);
        const Image image = draw(fx::kPicturesName);
        for (int lamp = 1; lamp <= 3; ++lamp) {
            const auto [x, y] = lamps[lamp - 1];
            EXPECT_EQ(rgb(image.pixel(x, y)), lamp == selected ? kLamp : kPicturesFace) << "lamp " << lamp;
        }
        // The counter hangs under the first lamp and is drawn whether or not
        // that lamp is.
        EXPECT_EQ(rgb(image.pixel(7, 7)), kCounterColour);
    }
}

// At night the flood light dims everything but what lights itself (the
// lamps' image flag), which keeps its colour exactly.
TEST_F(FixtureDrawing, NightDimsAllButTheLamps) {
    host.vars().set(fx::kTokenLampSelect, 2);
    const Image day = draw(fx::kPicturesName);
    host.set_night(true);
    const Image night = draw(fx::kPicturesName);
    EXPECT_EQ(rgb(night.pixel(45, 135)), kLamp);
    for (auto [x, y] : {std::pair{7, 7}, {100, 100}}) {
        const auto brightness = [](uint32_t c) { return (c >> 16 & 0xFF) + (c >> 8 & 0xFF) + (c & 0xFF); };
        EXPECT_LT(brightness(rgb(night.pixel(x, y))), 0.6 * brightness(rgb(day.pixel(x, y)))) << x << ", " << y;
    }
    // Transparent stays transparent.
    EXPECT_EQ(night.pixel(0, 0) >> 24, day.pixel(0, 0) >> 24);
}

TEST_F(FixtureDrawing, IconShowsTheFrameOfItsValue) {
    for (auto [value, colour] : {std::pair{0.0, kSwitchOff}, {7.0, kSwitchOn}}) {
        SCOPED_TRACE(value);
        host.vars().set(fx::kTokenSwitch, value);
        EXPECT_EQ(rgb(draw(fx::kPicturesName).pixel(153, 13)), colour);
    }
}

TEST_F(FixtureDrawing, SliderStandsWhereItsValuesPutIt) {
    struct Case {
        double x_value, y_value;
        int left, top;  // 20 + 0.5 x, 112 - 57/16384 y
    };
    for (const Case& c : {Case{0, 0, 20, 112}, Case{16, 8192 * 2, 28, 55}}) {
        SCOPED_TRACE(c.left);
        host.vars().set(fx::kTokenSliderX, c.x_value);
        host.vars().set(fx::kTokenSliderY, c.y_value);
        const Image image = draw(fx::kPicturesName);
        EXPECT_EQ(rgb(image.pixel(c.left, c.top)), kSliderColour);
        EXPECT_EQ(rgb(image.pixel(c.left + 11, c.top + 5)), kSliderColour);
        EXPECT_EQ(rgb(image.pixel(c.left - 1, c.top)), kPicturesFace);
        EXPECT_EQ(rgb(image.pixel(c.left, c.top + 6)), kPicturesFace);
    }
}

// --- Moving images --------------------------------------------------------------

TEST_F(FixtureDrawing, MovingImageShowsItsOffsetPartThroughTheWindow) {
    // Strip at (10, 10), window 72 wide, range 0..360: offset = value / 360 x 648.
    for (auto [value, offset] : {std::pair{0.0, 0}, {100.0, 180}, {360.0, 648}}) {
        SCOPED_TRACE(value);
        host.vars().set(fx::kTokenStrip, value);
        const Image image = draw(fx::kPicturesName);
        for (int column : {0, 35, 71}) {
            EXPECT_EQ(rgb(image.pixel(10 + column, 25)), band_colour(static_cast<uint32_t>((offset + column) / 18)))
                << "window column " << column;
        }
        // Nothing of the strip outside the window.
        EXPECT_EQ(rgb(image.pixel(10 + 72, 25)), kPicturesFace);
        EXPECT_EQ(rgb(image.pixel(30, 10 + 32)), kPicturesFace);
    }
}

TEST_F(FixtureDrawing, DrumRollsOneCellPerDigitBehindItsBezel) {
    // Drum at (90, 10): the callback gives 10 x the variable; 27 pixels a digit.
    for (int digit : {0, 4, 10}) {
        SCOPED_TRACE(digit);
        host.vars().set(fx::kTokenDrum, digit);
        const Image image = draw(fx::kPicturesName);
        EXPECT_EQ(rgb(image.pixel(99, 23)), cell_colour(static_cast<uint32_t>(digit)));
        EXPECT_EQ(rgb(image.pixel(90, 23)), kBezel);  // the mask's non-black pixels lie over the picture
        EXPECT_EQ(rgb(image.pixel(99, 10 + 27)), kPicturesFace);
    }
}

// --- Sprites ----------------------------------------------------------------------

TEST_F(FixtureDrawing, SpriteShiftsAlongItsOwnTurnedAxes) {
    // Horizon texture (sky over ground) 64 x 32 when scaled, centred on
    // (100, 75); the shift is 1.17 per unit of pitch, the turn -1 per unit of bank.
    struct Case {
        double pitch, bank;
        int x, y;
        uint32_t colour;
    };
    const Case cases[] = {
        {10, 0, 100, 84, kSky}, {10, 0, 100, 89, kGround},  // horizon 11.7 lower
        {0, 90, 105, 75, kSky}, {0, 90, 95, 75, kGround},   // turned a quarter clockwise: sky on the right
        {10, 90, 95, 75, kSky}, {10, 90, 85, 75, kGround},  // and the shift follows the turn: to the left
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("pitch " + std::to_string(c.pitch) + " bank " + std::to_string(c.bank) + " at (" +
                     std::to_string(c.x) + ", " + std::to_string(c.y) + ")");
        host.vars().set(fx::kTokenHorizonPitch, c.pitch);
        host.vars().set(fx::kTokenHorizonBank, c.bank);
        const Image image = draw(fx::kPicturesName);
        EXPECT_TRUE(near(image, c.x, c.y, c.colour, 0)) << hex(image.pixel(c.x, c.y));
    }
}

TEST_F(FixtureDrawing, SpriteShowsOnlyThroughItsMaskWindow) {
    // Mask at (40, 40), 120 x 80, a 2-pixel bezel round a black window.
    Image image = draw(fx::kPicturesName);
    EXPECT_EQ(rgb(image.pixel(41, 75)), kBezel);
    EXPECT_EQ(rgb(image.pixel(100, 41)), kBezel);
    // Inside the window but beyond the scaled 64 x 32 texture: the background.
    EXPECT_EQ(rgb(image.pixel(50, 75)), kPicturesFace);

    // A texture that, scaled to 200 x 100, reaches beyond the mask on every side.
    module.override_bitmap(fx::kHorizonTexture, Canvas(400, 400, kSky).rect(0, 200, 400, 200, kGround).bitmap());
    bitmaps.clear();
    image = draw(fx::kPicturesName);
    EXPECT_EQ(rgb(image.pixel(45, 60)), kSky);
    EXPECT_EQ(rgb(image.pixel(45, 90)), kGround);
    for (auto [x, y] : {std::pair{39, 75}, {130, 30}, {30, 100}}) {
        EXPECT_EQ(rgb(image.pixel(x, y)), kPicturesFace) << x << ", " << y;
    }
}

TEST_F(FixtureDrawing, SpriteRotationIsAnticlockwiseForPositiveValues) {
    // The disc's callback gives 90 with scale -1: a quarter turn clockwise,
    // which brings the mark at the texture's right to the bottom.
    const Image image = draw(fx::kPicturesName);
    EXPECT_TRUE(near(image, 150, 88, kDigitMark, 1)) << hex(image.pixel(150, 88));
    EXPECT_TRUE(near(image, 163, 75, kDiscColour, 0)) << hex(image.pixel(163, 75));
    EXPECT_FALSE(near(image, 150, 62, kDigitMark, 2));
}

// --- Failures ---------------------------------------------------------------------

TEST_F(FixtureDrawing, GreyedElementsAreDrainedAndDimmed) {
    runtime::GaugeInstance instance(host, module, module.gauge(fx::kPicturesName));
    host.vars().set(fx::kTokenSwitch, 1.0);
    instance.update();
    const Image before = render::render_gauge(instance, bitmaps);
    host.fail(fx::kFailPicturesGrey);
    instance.update();
    const Image after = render::render_gauge(instance, bitmaps);
    // 0x20C040 weighs 0.30 x 32 + 0.59 x 192 + 0.11 x 64 = 129.9; half of it is 65.
    EXPECT_EQ(rgb(before.pixel(153, 13)), kSwitchOn);
    EXPECT_EQ(rgb(after.pixel(153, 13)), 0x414141u);
    // 0xE08020: 0.30 x 224 + 0.59 x 128 + 0.11 x 32 = 146.2, halved 73.
    EXPECT_EQ(rgb(before.pixel(25, 114)), kSliderColour);
    EXPECT_EQ(rgb(after.pixel(25, 114)), 0x494949u);
    // Elements without the failure keep their colours.
    EXPECT_EQ(rgb(after.pixel(7, 7)), kCounterColour);
    EXPECT_EQ(rgb(after.pixel(100, 100)), rgb(before.pixel(100, 100)));
}

// --- Missing and broken bitmaps -------------------------------------------------

TEST(Placeholders, MissingBitmapsBecomeFramesWithTheirIds) {
    runtime::Host host;
    runtime::Module bare(host, test_paths::module("BenchFixture.gau"));
    BitmapCache none(bare);
    runtime::GaugeInstance dials(host, bare, bare.gauge(fx::kDialsName));
    dials.update();
    const Image image = render::render_gauge(dials, none);
    EXPECT_EQ(image.width(), 100);
    EXPECT_EQ(image.height(), 100);
    EXPECT_EQ(rgb(image.pixel(0, 50)), kPlaceholderFrame);
    EXPECT_EQ(rgb(image.pixel(50, 50)), kPlaceholderFill);

    // Only the background given: the elements on it are frames with their ids.
    bare.override_bitmap(fx::kPicturesBackground, Canvas(241, 161, kPicturesFace).bitmap());
    runtime::GaugeInstance pictures(host, bare, bare.gauge(fx::kPicturesName));
    pictures.update();
    const Image framed = render::render_gauge(pictures, none);
    EXPECT_EQ(framed.width(), 241);
    EXPECT_EQ(rgb(framed.pixel(5, 10)), kPlaceholderFrame);  // the counter's frame at (5, 5)
}

TEST_F(FixtureDrawing, BitmapThatDoesNotDecodeBecomesAPlaceholder) {
    runtime::Bitmap compressed = Canvas(10, 10, kLamp).bitmap();
    compressed.compression = 1;
    module.override_bitmap(fx::kLampBitmap, compressed);
    host.vars().set(fx::kTokenLampSelect, 1.0);
    const Image image = draw(fx::kPicturesName);
    EXPECT_EQ(rgb(image.pixel(20, 135)), kPlaceholderFrame);
    EXPECT_NE(rgb(image.pixel(25, 135)), kLamp);
}

// --- Display size ---------------------------------------------------------------

TEST_F(FixtureDrawing, TwiceTheSizeScalesThePicture) {
    host.vars().set(fx::kTokenLampSelect, 2.0);
    host.vars().set(fx::kTokenSwitch, 1.0);
    host.vars().set(fx::kTokenStrip, 100.0);
    const Image small = draw(fx::kPicturesName, 1.0);
    const Image large = draw(fx::kPicturesName, 2.0);
    EXPECT_EQ(large.width(), 2 * small.width());
    EXPECT_EQ(large.height(), 2 * small.height());
    // Inside flat areas the large picture repeats each small pixel 2 x 2.
    const std::pair<int, int> points[] = {{45, 135}, {153, 13}, {50, 25}, {200, 150}};
    for (auto [x, y] : points) {
        SCOPED_TRACE(std::to_string(x) + ", " + std::to_string(y));
        for (auto [dx, dy] : {std::pair{0, 0}, {1, 0}, {0, 1}, {1, 1}}) {
            EXPECT_EQ(rgb(large.pixel(2 * x + dx, 2 * y + dy)), rgb(small.pixel(x, y)));
        }
    }
}

// --- Korvane's records with synthetic bitmaps -------------------------------------------

class KorvaneDrawing : public ::testing::Test {
protected:
    runtime::Host host;
    runtime::Module module{host, test_paths::module("KorvaneArtless.gau")};
    BitmapCache bitmaps{module};

    Image draw(const char* name, double scale = 1.0) {
        const runtime::GaugePtr gauge = module.gauge(name);
        if (!gauge) {
            ADD_FAILURE() << "no gauge " << name;
            return Image(1, 1);
        }
        runtime::GaugeInstance instance(host, module, gauge, scale);
        instance.update();
        return render::render_gauge(instance, bitmaps);
    }
};

// Label k of the compass card (0, 33, 30, ... 3, 0) is centred 36 + 54 k
// pixels from the strip's left end: each label's 54-pixel cell its own colour.
constexpr uint32_t label_colour(uint32_t k) { return (40 + k * 15) << 16 | (220 - k * 12) << 8 | 0x60; }

TEST_F(KorvaneDrawing, CompassWindowShowsTheHeadingsLabel) {
    module.override_bitmap(korvane::bitmap::kCompassBody, Canvas(110, 110, 0x303030).bitmap());
    Canvas card(720, 32, 0x101010);
    for (uint32_t k = 0; k <= 12; ++k) card.rect(static_cast<int32_t>(36 + 54 * k - 27), 0, 54, 32, label_colour(k));
    module.override_bitmap(korvane::bitmap::kCompassCardStrip, card.bitmap());
    module.override_bitmap(korvane::bitmap::kCompassCardWindow, Canvas(72, 32, kClear).frame(1, kBezel).bitmap());
    // Window at (19, 17), 72 x 32: its middle column is 55.
    for (double heading : {0.0, 30.0, 90.0, 180.0, 270.0, 330.0}) {
        SCOPED_TRACE(heading);
        host.vars().set(sim::token::kHeading, heading);
        const Image image = draw("Compass");
        const auto label = static_cast<uint32_t>((360.0 - heading) / 30.0);
        EXPECT_EQ(rgb(image.pixel(55, 33)), label_colour(label)) << hex(image.pixel(55, 33));
        EXPECT_EQ(rgb(image.pixel(55 - 20, 33)), label_colour(label));  // the cell spans the label
        EXPECT_EQ(rgb(image.pixel(19, 33)), kBezel);
        EXPECT_EQ(rgb(image.pixel(55, 17 + 32)), 0x303030u);
    }
}

TEST_F(KorvaneDrawing, NeedlesParkAtTheirZeroAndMoveAlongTheirScales) {
    // A failed tachometer's hands fall to its 0, at 12 o'clock.
    host.vars().set(sim::token::engine_speed(0), 2650.0);
    host.fail(20);
    runtime::GaugeInstance tachometer(host, module, module.gauge("Tachometer1"));
    tachometer.update();
    EXPECT_NEAR(tachometer.elements()[1].angle, 270.0, 1e-9);
    EXPECT_NEAR(tachometer.elements()[2].angle, 270.0, 1e-9);
    host.restore(20);

    // Flaps from up to down: the needle turns clockwise through the scale's
    // middle (3 o'clock), never the shorter way back through the legend.
    runtime::GaugeInstance flaps(host, module, module.gauge("Flap_Position"));
    host.vars().set(sim::token::kFlapPosition, 0.0);
    flaps.update();
    host.vars().set(sim::token::kFlapPosition, 16382.0);
    double angle = flaps.elements()[1].angle;
    bool passed_three = false;
    for (int i = 0; i < 40; ++i) {
        flaps.update();
        const double next = flaps.elements()[1].angle;
        EXPECT_LE(runtime::normalize_degrees(next - angle), 6.0 + 1e-9) << "update " << i;
        passed_three = passed_three || next < angle;
        angle = next;
    }
    EXPECT_TRUE(passed_three);
    EXPECT_NEAR(angle, runtime::direction_degrees(70, 70, 64, 134), 1e-9);  // at the down mark
}

// A turn seen on both instruments: banked into the turn, the horizon bar
// drops on the turn's side (the world turns the other way), and the turn
// pointer, hanging below its pivot, swings to the same side.
TEST_F(KorvaneDrawing, HorizonAndTurnPointerAgreeOnTheTurnsSide) {
    module.override_bitmap(korvane::bitmap::kAttitudeCase, Canvas(256, 256, kFace).bitmap());
    // Texture 256 x 256 shown at 128 x 64, centred on the pivot (128, 128).
    module.override_bitmap(korvane::bitmap::kAttitudeHorizonBar,
                           Canvas(256, 256, kSky).rect(0, 128, 256, 128, kGround).bitmap());
    module.override_bitmap(korvane::bitmap::kAttitudeBezel, Canvas(256, 256, kClear).bitmap());
    module.override_bitmap(korvane::bitmap::kAttitudeBankPointer, Canvas(110, 15, kClear).bitmap());
    module.override_bitmap(korvane::bitmap::kTurnDial, Canvas(282, 282, kFace).bitmap());
    module.override_bitmap(korvane::bitmap::kTurnSlipNeedle, Canvas(93, 19, kClear).bitmap());
    // Pivot (5, 9) at (141, 141): only the blade beyond the pivot is painted.
    module.override_bitmap(korvane::bitmap::kTurnPointer, Canvas(101, 19, kClear).rect(12, 7, 88, 5, kTip).bitmap());

    const struct {
        const char* turn;
        double bank;  // port wing down positive
        double rate;  // right positive, raw
        double side;  // -1 left, +1 right
    } turns[] = {{"left", 15.0, -1092.0, -1.0}, {"right", -15.0, 1092.0, 1.0}};
    for (const auto& t : turns) {
        SCOPED_TRACE(t.turn);
        host.vars().set(sim::token::kBank, t.bank);
        host.vars().set(sim::token::kRateOfTurn, t.rate);
        // 40 px either side of the pivot the bar stands 10.7 px off level.
        const Image horizon = draw("Attitude");
        EXPECT_EQ(rgb(horizon.pixel(128 + static_cast<int>(40 * t.side), 132)), kGround);
        EXPECT_EQ(rgb(horizon.pixel(128 - static_cast<int>(40 * t.side), 124)), kSky);

        runtime::GaugeInstance turn(host, module, module.gauge("Turn"));
        for (int i = 0; i < 60; ++i) turn.update();  // the pointer runs at a limited rate
        const Image pointer = render::render_gauge(turn, bitmaps);
        EXPECT_TRUE(near(pointer, 141 + 42 * t.side, 184, kTip, 2));
        EXPECT_FALSE(near(pointer, 141 - 42 * t.side, 184, kTip, 2));
    }
}

// --- Panels ---------------------------------------------------------------------

// A panel of the fixture module's gauges, its bitmaps painted.
panels::Panel fixture_panel(runtime::Host& host, const std::string& config, const std::string& name, double scale) {
    return panels::Panel(host, panels::PanelConfig::parse(config, name),
                         panels::ModulePaths{fixture_support::module_dir(), {}}, scale, paint_fixture);
}

TEST(PanelDrawing, WindowsAndGaugesWhereTheConfigurationPutsThem) {
    runtime::Host host;
    panels::Panel panel = fixture_panel(host,
                                        "[Window00]\nsize_mm=500,300\nbackground_color=0,64,0\n"
                                        "gauge00=BenchFixture!Fixture_Dials, 10, 20, 100\n"
                                        "gauge01=BenchFixture!Fixture_Pictures, 200, 20, 241, 80\n"
                                        "[Window01]\nsize_mm=100,50\nbackground_color=0,0,64\n",
                                        "drawn.cfg", 2.0);
    panel.setup();
    panel.update();
    render::PanelRenderer renderer(panel);
    const Image image = renderer.render();
    EXPECT_EQ(image.width(), 1000);
    EXPECT_EQ(image.height(), 600 + 8 + 100);
    EXPECT_EQ(rgb(image.pixel(5, 5)), 0x004000u);                    // the window's paint
    EXPECT_EQ(rgb(image.pixel(5, 604)), 0x141414u);                  // the gap between windows
    EXPECT_EQ(rgb(image.pixel(5, 620)), 0x000040u);                  // the second window
    EXPECT_EQ(rgb(image.pixel(300, 700)), 0x141414u);                // beside the narrower window
    EXPECT_EQ(rgb(image.pixel(2 * 10 + 10, 2 * 20 + 10)), kFace);    // the dials at half size, doubled
    EXPECT_EQ(rgb(image.pixel(2 * 10 + 2, 2 * 20 + 2)), 0x004000u);  // through the dial's black corner
    EXPECT_EQ(rgb(image.pixel(2 * 10 + 199, 2 * 20 + 10)), kFace);
    EXPECT_EQ(rgb(image.pixel(2 * 10 + 201, 2 * 20 + 10)), 0x004000u);
    // The pictures squeezed to 80 high: its face ends at 20 + 80.
    EXPECT_EQ(rgb(image.pixel(2 * 200 + 100, 2 * 99)), kPicturesFace);
    EXPECT_EQ(rgb(image.pixel(2 * 200 + 100, 2 * 101)), 0x004000u);

    const Image alone = renderer.render(panel.gauges()[0]);
    EXPECT_EQ(alone.width(), 200);
    EXPECT_EQ(alone.height(), 200);
    EXPECT_EQ(rgb(alone.pixel(10, 10)), kFace);
}

// A picture kept from frame to frame must match a fresh drawing of every
// frame, and each frame's changes must lie inside the rectangles it reports;
// gauges side by side are drawn again alone, overlapping ones with the rest.
TEST(PanelDrawing, KeptPictureMatchesAFreshDrawingFrameAfterFrame) {
    const struct {
        const char* gauges;
        bool alone;
    } panels[] = {
        {"gauge00=BenchFixture!Fixture_Dials, 10, 20, 100\ngauge01=BenchFixture!Fixture_Pictures, 200.5, 20.25, 161\n",
         true},
        {"gauge00=BenchFixture!Fixture_Dials, 10, 20, 100\ngauge01=BenchFixture!Fixture_Pictures, 90, 30, 161\n",
         false},
    };
    const struct {
        uint32_t token;
        double value;
    } frames[] = {
        {fx::kTokenAscending, 30.0},  {fx::kTokenAscending, 30.0},    {fx::kTokenHorizonBank, 20.0},
        {fx::kTokenLampSelect, 2.0},  {fx::kTokenLampSelect, 0.0},    {fx::kTokenStrip, 100.0},
        {fx::kTokenAscending, -70.0}, {fx::kTokenHorizonPitch, 10.0}, {fx::kTokenSwitch, 1.0},
    };
    for (const auto& p : panels) {
        runtime::Host host;
        panels::Panel panel = fixture_panel(host,
                                            std::string("[Window00]\nsize_mm=400,200\nbackground_color=0,64,0\n") +
                                                p.gauges + "[Window01]\nsize_mm=100,50\n",
                                            "kept.cfg", 1.5);
        panel.setup();
        panel.update();
        render::PanelRenderer kept(panel);
        std::vector<uint32_t> before;
        for (const auto& frame : frames) {
            host.vars().set(frame.token, frame.value);
            panel.update();
            const Image& picture = kept.render_frame();
            render::PanelRenderer fresh_renderer(panel);
            const Image fresh = fresh_renderer.render();
            ASSERT_EQ(picture.width(), fresh.width());
            std::vector<uint32_t> now;
            for (int y = 0; y < fresh.height(); ++y) {
                for (int x = 0; x < fresh.width(); ++x) now.push_back(picture.pixel(x, y));
            }
            bool same = true;
            for (size_t i = 0; i < now.size() && same; ++i) {
                same = now[i] == fresh.pixel(static_cast<int>(i) % fresh.width(), static_cast<int>(i) / fresh.width());
            }
            EXPECT_TRUE(same) << "token " << frame.token << " at " << frame.value;
            EXPECT_EQ(kept.gauges_drawn(), fresh_renderer.gauges_drawn());
            for (size_t i = 0; i < before.size(); ++i) {
                if (before[i] == now[i]) continue;
                const int x = static_cast<int>(i) % fresh.width(), y = static_cast<int>(i) / fresh.width();
                bool reported = false;
                for (const render::PixelRect& r : kept.changed()) {
                    reported = reported || (x >= r.x && x < r.x + r.width && y >= r.y && y < r.y + r.height);
                }
                ASSERT_TRUE(reported) << "pixel " << x << ", " << y << " changed outside the rectangles";
            }
            // Side by side, a frame where something moved redraws part of the picture only.
            if (p.alone && !before.empty() && before != now) {
                ASSERT_FALSE(kept.changed().empty());
                EXPECT_LT(kept.changed()[0].width, fresh.width());
            }
            if (before == now && !before.empty() && p.alone) {
                EXPECT_TRUE(kept.changed().empty());
            }
            before = std::move(now);
        }
    }
}

// Records that cairo cannot follow put its context into an error that sticks:
// the gauge is reported and left out, the gauges after it are still drawn.
TEST(PanelDrawing, AGaugeCairoCannotDrawSpoilsNoOther) {
    runtime::Host host;
    panels::Panel panel = fixture_panel(host,
                                        "[Window00]\ngauge00=BenchFixture!Fixture_Dials, 0, 0\n"
                                        "gauge01=BenchFixture!Fixture_Pictures, 200, 0\n"
                                        "gauge02=BenchFixture!Fixture_Dials, 450, 0\n",
                                        "spoilt.cfg", 1.0);
    panel.update();
    const auto first = [&](size_t gauge, uint32_t type) {
        for (const runtime::ElementState& state : panel.gauges()[gauge].instance->elements()) {
            if (state.type == type) return state.element;
        }
        return runtime::ElementPtr();
    };
    emulator::GuestMemory& memory = panel.gauges()[0].module->memory();
    const auto sprite = first(1, kSprite).cast<guest::ELEMENT_SPRITE>();
    const runtime::ElementPtr needle = first(0, kNeedle);
    ASSERT_TRUE(sprite && needle);
    const guest::ELEMENT_SPRITE kept_sprite = memory.read(sprite);
    const guest::ELEMENT_HEADER kept_needle = memory.read(needle);
    memory.write(sprite).texture_scale_x = memory.write(sprite).texture_scale_y = 1e-30f;
    memory.write(needle).ofs_x = INT32_MIN;  // negated in int, this pivot would overflow
    panel.update();  // the records as an update leaves them are what is drawn

    render::PanelRenderer renderer(panel);
    const Image image = renderer.render();
    memory.write(sprite) = kept_sprite;
    memory.write(needle) = kept_needle;

    EXPECT_EQ(renderer.gauges_drawn(), 2u);
    const std::vector<std::string> warnings = renderer.take_warnings();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0].rfind("spoilt.cfg:3: gauge 'Fixture_Pictures' cannot be drawn", 0), 0u) << warnings[0];
    EXPECT_TRUE(renderer.take_warnings().empty());
    EXPECT_EQ(rgb(image.pixel(450 + 100, 150)), kMark);  // the gauge after it
}

// A .bmp file of the bitmap: the 14-byte file header before its DIB.
void write_bmp(const std::string& path, const runtime::Bitmap& bitmap) {
    std::vector<uint8_t> bytes;
    frame::append_struct(bytes,
                         frame::bmp::file_header(static_cast<uint32_t>(bitmap.dib().size()), bitmap.pixel_offset));
    bytes.insert(bytes.end(), bitmap.dib().begin(), bitmap.dib().end());
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST(PanelDrawing, WindowsStandOnTheScreenOverTheirBackgroundFiles) {
    // 4 x 3, its left half red, its right half black: stretched to 400 x 300.
    std::vector<uint32_t> halves(12, 0);
    for (size_t i = 0; i < halves.size(); ++i) halves[i] = i % 4 < 2 ? 0xC00000 : 0;
    write_bmp(testing::TempDir() + "placed_panel.bmp", runtime::make_rgb_bitmap(4, 3, halves));
    const std::string cfg = testing::TempDir() + "placed.cfg";
    std::ofstream(cfg) << "[Window00]\nsize_mm=400,300\nbackground_color=0,64,0\nfile=placed_panel.bmp\n"
                          "gauge00=BenchFixture!Fixture_Dials, 0, 0, 100\n"
                          "[Window01]\nsize_mm=100,50\nbackground_color=0,0,64\nposition=8\n"
                          "gauge00=BenchFixture!Fixture_Dials, 10, 10, 20\n"
                          "[Window02]\nsize_mm=40,30\nbackground_color=64,0,0\nwindow_pos=0.5,0\nfile=missing.bmp\n";
    runtime::Host host;
    panels::Panel panel(host, panels::PanelConfig::read_file(cfg),
                        panels::ModulePaths{fixture_support::module_dir(), {}}, 1.0, paint_fixture);
    ASSERT_EQ(panel.warnings().size(), 1u);
    EXPECT_NE(panel.warnings()[0].find("missing.bmp"), std::string::npos);
    EXPECT_EQ(panel.gauges()[1].left, 310.0);  // the screen's bottom-right corner, the gauge with its window
    EXPECT_EQ(panel.gauges()[1].top, 260.0);
    panel.setup();
    panel.update();
    render::PanelRenderer renderer(panel);
    const Image image = renderer.render();
    EXPECT_EQ(image.width(), 400);  // the screen: the largest window
    EXPECT_EQ(image.height(), 300);
    const struct {
        int x, y;
        uint32_t colour;
    } points[] = {
        {50, 150, 0xC00000},   // the file's red half
        {250, 150, 0x004000},  // its black half shows the window's paint
        {25, 20, kFace},       // the gauge over both
        {350, 290, 0x000040},  // position 8
        {220, 15, 0x400000},   // window_pos 0.5, 0; its file missing
    };
    for (const auto& p : points) EXPECT_EQ(rgb(image.pixel(p.x, p.y)), p.colour) << p.x << ", " << p.y;

    // Asked for, each window's title tab covers its top-left corner (position 8's at 300, 250).
    renderer.show_titles(true);
    const Image titled = renderer.render();
    EXPECT_EQ(rgb(titled.pixel(301, 251)), 0x000010u);
    EXPECT_EQ(rgb(titled.pixel(350, 290)), 0x000040u);

    // At its own size on whole pixels the file is copied, not painted: the
    // same colours, its black the paint, every pixel opaque.
    std::ofstream(cfg) << "[Window00]\nsize_mm=4,3\nbackground_color=0,64,0\nfile=placed_panel.bmp\n"
                          "gauge00=BenchFixture!Fixture_Dials, 0, 2, 1\n";
    panels::Panel own(host, panels::PanelConfig::read_file(cfg), panels::ModulePaths{fixture_support::module_dir(), {}},
                      1.0, paint_fixture);
    const Image copied = render::PanelRenderer(own).render();
    ASSERT_EQ(copied.width(), 4);
    for (int y = 0; y < 2; ++y) {  // the bottom row holds a gauge
        for (int x = 0; x < 4; ++x) EXPECT_EQ(copied.pixel(x, y), x < 2 ? 0xFFC00000u : 0xFF004000u) << x << ", " << y;
    }
}

// Our PNGs must decode to what cairo's own writer gives, edges with partial
// alpha included, whatever the effort and for any part of a picture.
TEST(PanelDrawing, PngFilesDecodeAsCairosOwn) {
    Image image(37, 23);
    cairo_t* cr = cairo_create(image.surface());
    cairo_set_source_rgba(cr, 0.9, 0.4, 0.1, 0.6);
    cairo_arc(cr, 18, 11, 9.3, 0, 6.3);
    cairo_fill(cr);
    cairo_set_source_rgba(cr, 0.2, 0.7, 1.0, 1.0);
    cairo_rectangle(cr, 25.5, 3.25, 9, 15);
    cairo_fill(cr);
    cairo_destroy(cr);
    const std::string ours = testing::TempDir() + "render_test_ours.png";
    const std::string theirs = testing::TempDir() + "render_test_cairo.png";
    ASSERT_EQ(cairo_surface_write_to_png(image.surface(), theirs.c_str()), CAIRO_STATUS_SUCCESS);
    auto decode = [](const std::string& path) {
        cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
        EXPECT_EQ(cairo_surface_status(surface), CAIRO_STATUS_SUCCESS) << path;
        const unsigned char* data = cairo_image_surface_get_data(surface);
        std::vector<unsigned char> pixels(
            data, data + cairo_image_surface_get_stride(surface) * cairo_image_surface_get_height(surface));
        cairo_surface_destroy(surface);
        return pixels;
    };
    const std::vector<unsigned char> expected = decode(theirs);
    for (const render::PngEffort effort : {render::PngEffort::kFast, render::PngEffort::kSmallest}) {
        image.write_png(ours, effort);
        EXPECT_EQ(decode(ours), expected);
    }

    // A part: its rows are the picture's rows from (x, y); one of opaque
    // pixels alone goes without alpha unless alpha is asked for.
    struct Part {
        render::PixelRect rect;
        render::PngAlpha alpha;
        unsigned char colour_type;  // in the header: 2 RGB, 6 RGBA
    };
    const Part parts[] = {{{20, 5, 10, 4}, render::PngAlpha::kWhereNeeded, 6},
                          {{26, 4, 8, 13}, render::PngAlpha::kWhereNeeded, 2},
                          {{26, 4, 8, 13}, render::PngAlpha::kAlways, 6}};
    std::vector<unsigned char> part;
    for (const Part& p : parts) {
        SCOPED_TRACE(p.rect.x);
        part.clear();
        render::encode_png(image, p.rect, render::PngEffort::kFast, part, p.alpha);
        ASSERT_GT(part.size(), 25u);
        EXPECT_EQ(part[25], p.colour_type);
        std::FILE* file = std::fopen(ours.c_str(), "wb");
        ASSERT_NE(file, nullptr);
        std::fwrite(part.data(), 1, part.size(), file);
        std::fclose(file);
        const std::vector<unsigned char> cut = decode(ours);
        const size_t row_bytes = static_cast<size_t>(p.rect.width) * 4;
        for (int y = 0; y < p.rect.height; ++y) {
            EXPECT_EQ(std::memcmp(&cut[y * row_bytes], &expected[((p.rect.y + y) * 37 + p.rect.x) * 4], row_bytes), 0)
                << "row " << y;
        }
    }

    // The unencoded pixels of a part are the whole picture's at the same
    // places, appended after what the buffer held.
    std::vector<unsigned char> whole;
    render::append_rgba(image, {0, 0, 37, 23}, whole);
    for (const Part& p : parts) {
        std::vector<unsigned char> pixels{42};
        render::append_rgba(image, p.rect, pixels);
        ASSERT_EQ(pixels.size(), 1 + static_cast<size_t>(p.rect.width) * p.rect.height * 4);
        const size_t row_bytes = static_cast<size_t>(p.rect.width) * 4;
        for (int y = 0; y < p.rect.height; ++y) {
            EXPECT_EQ(std::memcmp(&pixels[1 + y * row_bytes], &whole[((p.rect.y + y) * 37 + p.rect.x) * 4], row_bytes),
                      0)
                << "row " << y;
        }
    }

    EXPECT_THROW(render::encode_png(image, {30, 0, 8, 1}, render::PngEffort::kFast, part), render::RenderError);
    EXPECT_THROW(render::append_rgba(image, {30, 0, 8, 1}, part), render::RenderError);
    EXPECT_THROW(image.write_png(testing::TempDir() + "no/such/dir/x.png"), render::RenderError);
    EXPECT_THROW(Image(0, 5), render::RenderError);
}

}  // namespace

// The shipped panel by night: each dial's luminous markings stand out from
// its dark face yet glow dimmer than daylight shows them, every placard reads
// in the lamps' light (and by day), and the flood lamps light the panel in
// pools, not evenly.
TEST(NightLighting, LuminousMarkingsAndPoolsOfLight) {
    const std::string cfg = test_paths::source("panel/panel.cfg");
    if (cfg.empty() || test_paths::pe("Korvane.gau").empty()) GTEST_SKIP() << "the checkout or the PE tree is unknown";
    const std::string modules = test_paths::pe("Korvane.gau").substr(0, test_paths::pe("Korvane.gau").rfind('/'));
    runtime::Host day_host;
    panels::Panel day_panel(day_host, panels::PanelConfig::read_file(cfg), panels::ModulePaths{modules, modules});
    day_panel.setup();
    for (int i = 0; i < panels::Panel::kSettleUpdates; ++i) day_panel.update();
    const Image day = render::PanelRenderer(day_panel).render();
    runtime::Host host;
    host.set_night(true);
    panels::Panel panel(host, panels::PanelConfig::read_file(cfg), panels::ModulePaths{modules, modules});
    panel.setup();
    for (int i = 0; i < panels::Panel::kSettleUpdates; ++i) panel.update();
    render::PanelRenderer renderer(panel);
    const Image image = renderer.render();
    // Relative luminance (sRGB), and a contrast ratio as the accessibility rules take it.
    const auto luminance_of = [](const Image& picture, int x, int y) {
        const uint32_t pixel = picture.pixel(x, y);
        const auto linear = [](uint32_t channel) {
            const double c = channel / 255.0;
            return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(pixel >> 16 & 255) + 0.7152 * linear(pixel >> 8 & 255) + 0.0722 * linear(pixel & 255);
    };
    const auto luminance = [&](int x, int y) { return luminance_of(image, x, y); };
    const auto contrast = [](double a, double b) { return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05); };
    // A patch's ground (its 20th percentile) and its paint (the brightest
    // few); for dark ink on a light card, the card (its 80th) and the ink.
    struct Seen {
        double ground, paint, card, ink;
    };
    const auto seen_in = [&](const Image& picture, int x0, int y0, int x1, int y1) {
        std::vector<double> seen;
        for (int y = y0; y < y1; ++y) {
            for (int x = x0; x < x1; ++x) seen.push_back(luminance_of(picture, x, y));
        }
        std::sort(seen.begin(), seen.end());
        return Seen{seen[seen.size() / 5], seen[seen.size() * 99 / 100], seen[seen.size() * 4 / 5],
                    seen[seen.size() / 100]};
    };
    // Every dial: its face inside the bezel (the middle three fifths of its
    // box: a compass card's ring too), by day and by night.
    const char* const dials[] = {"Airspeed", "Attitude", "VSI", "Altimeter", "DR_Compass", "Turn", "Accelerometer",
                                 "Direction_Finder", "Clock", "Timer", "Flap_Position", "Tachometer", "Boost",
                                 "Oil_Temperature", "Oil_Pressure", "Radiator_Temperature", "Fuel_Quantity"};
    int measured = 0;
    for (const panels::Panel::Gauge& gauge : panel.gauges()) {
        const std::string name = gauge.instance->name();
        if (std::none_of(std::begin(dials), std::end(dials),
                         [&](const char* dial) { return name.rfind(dial, 0) == 0; })) {
            continue;
        }
        ++measured;
        const int x0 = static_cast<int>(gauge.left + 0.2 * gauge.width),
                  x1 = static_cast<int>(gauge.left + 0.8 * gauge.width);
        const int y0 = static_cast<int>(gauge.top + 0.2 * gauge.height),
                  y1 = static_cast<int>(gauge.top + 0.8 * gauge.height);
        const Seen night = seen_in(image, x0, y0, x1, y1), by_day = seen_in(day, x0, y0, x1, y1);
        EXPECT_GE(contrast(night.paint, night.ground), 4.0)
            << name << ": face " << night.ground << ", markings " << night.paint;
        EXPECT_LE(night.paint, 0.5 * by_day.paint) << name << ": glows as bright as daylight";
    }
    EXPECT_EQ(measured, 37) << "a dial left unmeasured";
    // Every placard and painted legend where the art lays it out, by day and
    // by night: its lettering against its plate, card or paint. Light letters
    // are the box's brightest 1 % and their ground its 20th percentile; ink
    // on a card the other way about.
    art::Fonts::load(KORVANE_FONT_DIR);
    const std::vector<art::Placard> placards = art::panel_placards(art::layout_of(panel));
    art::Fonts::unload();
    EXPECT_GE(placards.size(), 30u) << "placards left unmeasured";
    const panels::Panel::Window& window = panel.windows().front();
    // The lettering's box on the picture, `margin` pixels wider all round.
    struct Box {
        int x0, y0, x1, y1;
    };
    const auto box_of = [&](const art::Placard& p, int margin) {
        return Box{static_cast<int>(std::floor(window.left + p.x)) - margin,
                   static_cast<int>(std::floor(window.top + p.y)) - margin,
                   static_cast<int>(std::ceil(window.left + p.x + p.width)) + margin,
                   static_cast<int>(std::ceil(window.top + p.y + p.height)) + margin};
    };
    // Light letters with two pixels of their ground round them (a narrow
    // sign such as a 1 fills most of its own box); a card is its own box.
    const auto legibility = [&](const Image& picture, const art::Placard& p) {
        const bool ink = p.lettering == art::Lettering::Ink;
        const Box b = box_of(p, ink ? 0 : 2);
        const Seen seen = seen_in(picture, b.x0, b.y0, b.x1, b.y1);
        return ink ? contrast(seen.card, seen.ink) : contrast(seen.paint, seen.ground);
    };
    // A stencil's plate holds together: the paint its letters leave, counters
    // and all, reaches the edge of the lettering's box (here the day's
    // picture, letters above the middle of their paint and ground).
    const auto islands = [&](const art::Placard& p) {
        const Box b = box_of(p, 2);
        const int x0 = b.x0, y0 = b.y0, w = b.x1 - b.x0, h = b.y1 - b.y0;
        const Seen seen = seen_in(day, b.x0, b.y0, b.x1, b.y1);
        const double middle = (seen.ground + seen.paint) / 2.0;
        std::vector<char> open(size_t(w) * h), reached(size_t(w) * h, 0);
        std::vector<std::pair<int, int>> todo;
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                open[size_t(y) * w + x] = luminance_of(day, x0 + x, y0 + y) < middle;
                if ((x == 0 || y == 0 || x == w - 1 || y == h - 1) && open[size_t(y) * w + x]) todo.push_back({x, y});
            }
        }
        while (!todo.empty()) {
            const auto [x, y] = todo.back();
            todo.pop_back();
            if (x < 0 || y < 0 || x >= w || y >= h || !open[size_t(y) * w + x] || reached[size_t(y) * w + x]) continue;
            reached[size_t(y) * w + x] = 1;
            todo.insert(todo.end(), {{x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}});
        }
        int enclosed = 0;
        for (size_t i = 0; i < open.size(); ++i) enclosed += open[i] && !reached[i];
        return enclosed;
    };
    int stencilled = 0;
    for (const art::Placard& p : placards) {
        const double by_night = legibility(image, p), by_day = legibility(day, p);
        EXPECT_GE(by_night, 3.0) << p.words << " by " << p.beside << " reads at " << by_night << ":1 by night";
        EXPECT_GE(by_day, 4.5) << p.words << " by " << p.beside << " reads at " << by_day << ":1 by day";
        if (p.lettering != art::Lettering::Stencilled) continue;
        ++stencilled;
        EXPECT_EQ(islands(p), 0) << p.words << ": its letters enclose paint that no stencil could hold";
    }
    EXPECT_EQ(stencilled, 2) << "the FUEL CONTENTS headings are stencilled";
    // The panel's paint away from the gauges, averaged over blocks.
    std::vector<double> paint;
    for (int y = 8; y + 8 < image.height(); y += 40) {
        for (int x = 8; x + 8 < image.width(); x += 40) {
            bool on_gauge = false;
            for (const panels::Panel::Gauge& gauge : panel.gauges()) {
                on_gauge = on_gauge || (x + 8 >= gauge.left && x - 8 < gauge.left + gauge.width && y + 8 >= gauge.top &&
                                        y - 8 < gauge.top + gauge.height);
            }
            if (on_gauge) continue;
            double sum = 0.0;
            for (int dy = -4; dy <= 4; ++dy) {
                for (int dx = -4; dx <= 4; ++dx) sum += luminance(x + dx, y + dy);
            }
            paint.push_back(sum / 81.0);
        }
    }
    ASSERT_GT(paint.size(), 20u);
    std::sort(paint.begin(), paint.end());
    const double dim = paint[paint.size() / 10], bright = paint[paint.size() * 9 / 10];
    EXPECT_GE(bright, 2.0 * dim) << "pools of light, not one tint: " << dim << " to " << bright;
}
