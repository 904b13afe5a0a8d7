// Every word and numeral the painters write can be read on the panel: its
// capitals at least 8 pixels tall at the size the panel shows its gauge, and at least
// 4.5:1 in luminance against what it is written on (the panel's paint where
// the bitmap leaves it showing).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// The module, its records and the painters, loaded once for every bitmap.
class Labels : public ::testing::TestWithParam<korvane::BitmapInfo> {
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

INSTANTIATE_TEST_SUITE_P(Korvane, Labels, ::testing::ValuesIn(korvane::kBitmaps),
                         [](const ::testing::TestParamInfo<korvane::BitmapInfo>& info) {
                             return std::to_string(info.param.id);
                         });

}  // namespace
