// The dials' marks stand where the needles point: for every calibration
// point of every table needle, and for chosen readings of the needles that
// turn by formula, a mark of the background lies on the ray from the pivot
// at that angle, out where the needle's tip reaches.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "dib.h"
#include "emulator/pe/pe_image.h"
#include "frame/records.h"
#include "korvane/bitmaps.h"
#include "runtime/evaluate.h"
#include "runtime/host.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "support/korvane_bench.h"
#include "support/test_paths.h"

namespace {

using korvane_bench::guest_of;
using korvane_bench::native;

class DialArt : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string pe_path = test_paths::pe("Korvane.gau");
        if (!korvane_bench::present(pe_path)) GTEST_SKIP() << korvane_bench::no_pe_build(pe_path);
        pe_ = std::make_unique<emulator::PeImage>(emulator::PeImage::read_file(pe_path));
        module_ = std::make_unique<runtime::Module>(host_, test_paths::module("Korvane.gau"), pe_path);
    }

    dib::Image image(uint32_t id) const {
        auto found = pe_->bitmaps().find(id);
        if (found == pe_->bitmaps().end()) throw std::runtime_error("no bitmap " + std::to_string(id));
        return dib::decode(found->second);
    }

    // How far a needle's tip reaches from its pivot.
    static double reach(const ELEMENT_HEADER* needle) {
        return korvane::find_bitmap(needle->resource_id)->width - needle->ofs_x;
    }

    // Whether a mark-coloured pixel of the background lies on the ray from
    // the needle's pivot at `degrees`, between the two radii.
    static bool mark_on_ray(const dib::Image& background, const ELEMENT_HEADER* needle, double degrees, double r_from,
                            double r_to) {
        const double cx = needle->position_x + 0.5;
        const double cy = needle->position_y + 0.5;
        const double dx = std::cos(degrees * std::numbers::pi / 180.0);
        const double dy = std::sin(degrees * std::numbers::pi / 180.0);
        for (double r = r_from; r <= r_to; r += 0.25) {
            const int32_t x = int32_t(std::floor(cx + r * dx));
            const int32_t y = int32_t(std::floor(cy + r * dy));
            if (background.inside(x, y) && dib::is_mark(background.colour(x, y))) return true;
        }
        return false;
    }

    runtime::Host host_;
    std::unique_ptr<emulator::PeImage> pe_;
    std::unique_ptr<runtime::Module> module_;
};

TEST_F(DialArt, AMarkOnEveryCalibrationPoint) {
    size_t points = 0;
    for (const runtime::GaugePtr listed : module_->gauges()) {
        const GAUGEHDR* gauge = native(listed);
        ELEMENT_HEADER* root = gauge->element_list[0];
        const dib::Image background = image(root->resource_id);
        std::vector<ELEMENT_HEADER*> chain{root};
        for (size_t i = 0; i < chain.size(); ++i) {
            if (chain[i]->next_element_list == nullptr) continue;
            for (ELEMENT_HEADER* const* next = chain[i]->next_element_list; *next != nullptr; ++next)
                chain.push_back(*next);
        }
        for (ELEMENT_HEADER* e : chain) {
            if (e->element_type != kNeedle) continue;
            const auto* needle = reinterpret_cast<const ELEMENT_NEEDLE*>(e);
            for (uint32_t i = 0; i < needle->nonlinearity_size; ++i) {
                const NONLINEARITY& point = needle->nonlinearity[i];
                const double angle = runtime::direction_degrees(e->position_x, e->position_y, point.x, point.y);
                EXPECT_TRUE(mark_on_ray(background, e, angle, reach(e) - 20.0, reach(e) + 12.0))
                    << gauge->gauge_name << ": no mark for " << point.value << " at " << angle << " degrees";
                ++points;
            }
        }
    }
    // VSI 11, Turn 5 + 3, Accelerometer 4, engine dials 4 x (6 + 6 + 3 + 3),
    // fuel 2 x (10 + 7 + 7), flaps 3.
    EXPECT_EQ(points, 11u + 8u + 4u + 4u * 18u + 48u + 3u);
}

// Needles that turn by formula: the reading goes into the host's variable,
// the gauge updates, and the needle's angle is looked up on the dial.
struct FormulaCase {
    const char* gauge;
    uint32_t needle;
    uint32_t token;
    std::vector<double> readings;
    double r_from = 0.0;  // 0: from the needle's reach
    double r_to = 0.0;
    uint32_t dial = 0;  // the bitmap carrying the scale; 0: the gauge's background
};

std::vector<double> every(double first, double last, double step) {
    std::vector<double> out;
    for (double v = first; v <= last + 1e-9; v += step) out.push_back(v);
    return out;
}

const FormulaCase kFormulaCases[] = {
    {"Airspeed", 130, 61, every(60, 200, 20)},                   // outer scale, first turn
    {"Airspeed", 130, 61, every(220, 340, 20), 55.0, 78.0},      // inner scale, second turn
    {"Altimeter", 115, 74, every(0, 900, 100)},                  // the long hand on the hundreds
    {"Altimeter", 110, 74, every(0, 9000, 1000), 100.0, 128.0},  // thousands on the same digits
    {"Tachometer1", 160, 390, every(0, 900, 100)},
    {"Tachometer1", 155, 390, every(0, 9000, 1000), 100.0, 128.0},
    {"Tachometer4", 160, 507, every(0, 900, 100)},
    {"Clock", 265, 3, every(1, 12, 1), 90.0, 120.0},
    {"Clock", 270, 4, every(0, 55, 5)},
    {"Direction_Finder", 452, 39, {-100.0, 0.0, 100.0}},  // both limits and the centre
    // The bank scale lies on the horizon's bezel mask, under the pointer.
    {"Attitude", 230, 80, {-90.0, -60.0, -30.0, -20.0, -10.0, 0.0, 10.0, 20.0, 30.0, 60.0, 90.0}, 0.0, 0.0, 226},
};

class FormulaDials : public DialArt, public ::testing::WithParamInterface<FormulaCase> {};

TEST_P(FormulaDials, AMarkWhereTheNeedleStands) {
    const FormulaCase& c = GetParam();
    GAUGEHDR* gauge = native(module_->gauge(c.gauge));
    ASSERT_NE(gauge, nullptr);
    const dib::Image background = image(c.dial != 0 ? c.dial : gauge->element_list[0]->resource_id);
    runtime::GaugeInstance instance(host_, *module_, guest_of(gauge));
    instance.setup();
    for (double reading : c.readings) {
        host_.vars().set(c.token, reading);
        // Rate-limited needles need a few updates to arrive.
        for (int i = 0; i < 80; ++i) instance.update();
        const runtime::ElementState* needle = nullptr;
        for (const runtime::ElementState& state : instance.elements()) {
            if (state.type == kNeedle && native(state.element)->resource_id == c.needle) needle = &state;
        }
        ASSERT_NE(needle, nullptr);
        const double from = c.r_from > 0.0 ? c.r_from : reach(native(needle->element)) - 20.0;
        const double to = c.r_to > 0.0 ? c.r_to : reach(native(needle->element)) + 12.0;
        EXPECT_TRUE(mark_on_ray(background, native(needle->element), needle->angle, from, to))
            << c.gauge << ": no mark for " << reading << " at " << needle->angle << " degrees";
    }
}

INSTANTIATE_TEST_SUITE_P(Korvane, FormulaDials, ::testing::ValuesIn(kFormulaCases),
                         [](const ::testing::TestParamInfo<FormulaCase>& info) {
                             return std::string(info.param.gauge) + "_" + std::to_string(info.param.needle) + "_" +
                                    std::to_string(info.index);
                         });

// Pictures that turn with the host's sprites: the compass rose and the
// stopwatch's minutes ring, each about its texture's middle.
TEST_F(DialArt, CompassRoseMarksEveryTenDegreesNorthUp) {
    const dib::Image rose = image(442);
    const double c = rose.width / 2.0;
    for (int heading = 0; heading < 360; heading += 10) {
        const double a = (270.0 + heading) * std::numbers::pi / 180.0;
        bool mark = false;
        for (double r = 100.0; r <= 117.0 && !mark; r += 0.25) {
            mark = dib::is_mark(rose.colour(int32_t(c + r * std::cos(a)), int32_t(c + r * std::sin(a))));
        }
        EXPECT_TRUE(mark) << "no mark for heading " << heading;
    }
    // North is the one orange letter, at the top.
    size_t orange_top = 0, orange_elsewhere = 0;
    for (int32_t y = 0; y < rose.height; ++y) {
        for (int32_t x = 0; x < rose.width; ++x) {
            const uint32_t p = rose.colour(x, y);
            if (!(dib::red(p) > 200 && dib::green(p) > 80 && dib::green(p) < 160 && dib::blue(p) < 80)) continue;
            (y < c - 60.0 && std::fabs(x - c) < 20.0 ? orange_top : orange_elsewhere)++;
        }
    }
    EXPECT_GT(orange_top, 20u);
    EXPECT_EQ(orange_elsewhere, 0u);
}

TEST_F(DialArt, MinutesRingCarriesElevenNumbersRisingAnticlockwise) {
    const dib::Image ring = image(345);
    const double c = ring.width / 2.0;
    // Numbers 0 to 10 stand 30 degrees apart from the bottom (90 degrees on
    // the screen) anticlockwise; the twelfth place, at 120 degrees, is empty.
    auto marks_near = [&](double degrees) {
        size_t n = 0;
        for (double r = 40.0; r <= 110.0; r += 1.0) {
            for (double spread = -8.0; spread <= 8.0; spread += 1.0) {
                const double a = (degrees + spread) * std::numbers::pi / 180.0;
                n += dib::is_mark(ring.colour(int32_t(c + r * std::cos(a)), int32_t(c + r * std::sin(a))));
            }
        }
        return n;
    };
    for (int minute = 0; minute <= 10; ++minute) {
        EXPECT_GT(marks_near(90.0 - 30.0 * minute), 15u) << "no number " << minute;
    }
    EXPECT_EQ(marks_near(120.0), 0u);
}

}  // namespace
