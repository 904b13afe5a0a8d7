// Every word and numeral the painters write can be read on the panel: its
// capitals at least 8 pixels tall at the size the panel shows its gauge, and at least
// 4.5:1 in luminance against what it is written on (the panel's paint where
// the bitmap leaves it showing).
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <regex>
#include <string>

#include "art/canvas.h"
#include "art/draw.h"
#include "art/painters.h"
#include "art/records.h"
#include "korvane/bitmaps.h"
#include "runtime/host.h"
#include "runtime/module.h"
#include "support/test_paths.h"

namespace {

constexpr double kLeastHeight = 8.0;
constexpr double kLeastContrast = 4.5;

double luminance(art::Rgb c) {
    const auto linear = [](uint8_t v) {
        const double s = v / 255.0;
        return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.r) + 0.7152 * linear(c.g) + 0.0722 * linear(c.b);
}

double contrast(art::Rgb a, art::Rgb b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The module, its records and the painters, loaded once for each suite.
class Painting : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const std::string pe = test_paths::pe("KorvaneArtless.gau");
        const std::string panel = test_paths::source("panel/panel.cfg");
        if (pe.empty() || panel.empty()) return;
        art::Fonts::load(KORVANE_FONT_DIR);
        host_ = std::make_unique<runtime::Host>();
        module_ = std::make_unique<runtime::Module>(*host_, pe);
        records_ = std::make_unique<art::Records>(*module_);
        // A gauge line: Korvane!<gauge>, x, y, width
        const std::regex line(R"(^gauge\d+=Korvane!(\w+),\s*\d+,\s*\d+,\s*(\d+))");
        std::ifstream in(panel);
        for (std::string text; std::getline(in, text);) {
            std::smatch m;
            if (std::regex_search(text, m, line)) shown_width_.emplace(m[1], std::stod(m[2]));
        }
    }
    static void TearDownTestSuite() {
        records_.reset();
        module_.reset();
        host_.reset();
        art::Fonts::unload();
    }

    // How much smaller the panel shows the gauge than its bitmaps are drawn:
    // its first bitmap is the one the gauge line sizes.
    static double scale(std::string_view gauge) {
        const auto shown = shown_width_.find(std::string(gauge));
        if (shown == shown_width_.end()) return 0.0;
        for (const korvane::BitmapInfo& info : korvane::kBitmaps) {
            if (info.gauge == gauge) return shown->second / info.width;
        }
        return 0.0;
    }

    static inline std::unique_ptr<runtime::Host> host_;
    static inline std::unique_ptr<runtime::Module> module_;
    static inline std::unique_ptr<art::Records> records_;
    static inline std::map<std::string, double> shown_width_;
};

class Labels : public Painting, public ::testing::WithParamInterface<korvane::BitmapInfo> {};

art::Painter painter_of(uint32_t id) {
    for (auto family :
         {art::flight_painters(), art::navigation_painters(), art::engine_painters(), art::controls_painters()}) {
        for (const art::PainterEntry& entry : family) {
            if (entry.id == id) return entry.paint;
        }
    }
    return nullptr;
}

TEST_P(Labels, ReadOnThePanel) {
    const korvane::BitmapInfo& info = GetParam();
    if (!records_) GTEST_SKIP() << "no PE build of KorvaneArtless.gau or no checkout";
    const double shown = scale(info.gauge);
    ASSERT_GT(shown, 0.0) << info.gauge << " is not on the panel";
    const art::Painter paint = painter_of(info.id);
    ASSERT_NE(paint, nullptr);
    art::Canvas canvas(int(info.width), int(info.height));
    const art::LabelLog log;
    art::set_maker(art::maker_of(info.gauge));  // in its maker's type, as artgen draws it
    paint(canvas, *records_);
    for (const art::Label& label : log.labels()) {
        EXPECT_GT(label.width, 0.0) << "\"" << label.text << "\" has no sign in the typeface: nothing is drawn";
        EXPECT_GE(label.cap_height * shown, kLeastHeight)
            << "\"" << label.text << "\" at (" << label.x << ", " << label.y << ") is " << label.cap_height * shown
            << " px tall on the panel";
        EXPECT_GE(contrast(label.ink, label.ground), kLeastContrast)
            << "\"" << label.text << "\" at (" << label.x << ", " << label.y << "): ink " << int(label.ink.r) << ","
            << int(label.ink.g) << "," << int(label.ink.b) << " on " << int(label.ground.r) << ","
            << int(label.ground.g) << "," << int(label.ground.b) << " is " << contrast(label.ink, label.ground) << ":1";
    }
}

// Numerals and words that stood against a mark or a figure drawn in their own
// ink: a ring round each one's inked box, from one pixel out (its own edge's
// shading) to as far as makes a gap of 1.5 pixels at the panel's size, holds
// none of that ink.
constexpr double kLeastGap = 1.5;

struct Clearance {
    uint32_t id;
    std::string_view text;
    bool turned;  // written up the bitmap: its box stands on end
};

const Clearance kClearances[] = {
    {korvane::bitmap::kAttitudeBezel, "30", false},
    {korvane::bitmap::kAttitudeBezel, "60", false},
    {korvane::bitmap::kAccelerometerDial, "-2", false},
    {korvane::bitmap::kGearPortDownLampDay, "DOWN", true},
    {korvane::bitmap::kGearStarboardDownLampNight, "DOWN", true},
    {korvane::bitmap::kTimerDial, "0", false},
};

class LabelClearance : public Painting, public ::testing::WithParamInterface<Clearance> {};

TEST_P(LabelClearance, NothingInItsInkTouchesIt) {
    const Clearance& clearance = GetParam();
    if (!records_) GTEST_SKIP() << "no PE build of KorvaneArtless.gau or no checkout";
    const korvane::BitmapInfo* info = korvane::find_bitmap(clearance.id);
    ASSERT_NE(info, nullptr);
    const double shown = scale(info->gauge);
    ASSERT_GT(shown, 0.0) << info->gauge << " is not on the panel";
    const double reach = 1.0 + kLeastGap / shown;
    art::Canvas canvas(int(info->width), int(info->height));
    const art::LabelLog log;
    art::set_maker(art::maker_of(info->gauge));
    painter_of(clearance.id)(canvas, *records_);
    cairo_surface_flush(canvas.surface());
    const unsigned char* data = cairo_image_surface_get_data(canvas.surface());
    const int stride = cairo_image_surface_get_stride(canvas.surface());
    const auto inked = [&](int x, int y, art::Rgb ink) {
        if (x < 0 || y < 0 || x >= canvas.width() || y >= canvas.height()) return false;
        uint32_t pixel;
        std::memcpy(&pixel, data + size_t(y) * stride + size_t(x) * 4, 4);
        const uint32_t alpha = pixel >> 24;
        if (alpha < 224) return false;
        const auto near = [&](int shift, uint8_t want) {
            return std::abs(int((pixel >> shift & 0xFF) * 255 / alpha) - int(want)) <= 40;
        };
        return near(16, ink.r) && near(8, ink.g) && near(0, ink.b);
    };
    int seen = 0;
    for (const art::Label& label : log.labels()) {
        if (label.text != clearance.text) continue;
        ++seen;
        const double cx = label.x + label.width / 2.0, cy = label.y + label.height / 2.0;
        const double half_w = (clearance.turned ? label.height : label.width) / 2.0;
        const double half_h = (clearance.turned ? label.width : label.height) / 2.0;
        for (int y = int(std::floor(cy - half_h - reach)); y <= int(std::ceil(cy + half_h + reach)); ++y) {
            for (int x = int(std::floor(cx - half_w - reach)); x <= int(std::ceil(cx + half_w + reach)); ++x) {
                // How far the pixel's centre lies outside the box.
                const double out = std::max(std::fabs(x + 0.5 - cx) - half_w, std::fabs(y + 0.5 - cy) - half_h);
                if (out < 1.0 || out > reach) continue;
                EXPECT_FALSE(inked(x, y, label.ink))
                    << "\"" << label.text << "\" on bitmap " << clearance.id << " at (" << cx << ", " << cy
                    << ") is touched at (" << x << ", " << y << ")";
            }
        }
    }
    EXPECT_GT(seen, 0) << "\"" << clearance.text << "\" is not written on bitmap " << clearance.id;
}

INSTANTIATE_TEST_SUITE_P(Korvane, LabelClearance, ::testing::ValuesIn(kClearances),
                         [](const ::testing::TestParamInfo<Clearance>& info) {
                             std::string name = std::to_string(info.param.id) + "_";
                             for (char c : info.param.text) name += std::isalnum(uint8_t(c)) ? c : '_';
                             return name + "_" + std::to_string(info.index);
                         });

INSTANTIATE_TEST_SUITE_P(Korvane, Labels, ::testing::ValuesIn(korvane::kBitmaps),
                         [](const ::testing::TestParamInfo<korvane::BitmapInfo>& info) {
                             return std::to_string(info.param.id);
                         });

}  // namespace
