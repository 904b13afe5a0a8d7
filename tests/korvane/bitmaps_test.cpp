// The bitmaps carried by the built Korvane.gau: the ids and sizes of the
// bitmap table, the format the host reads, every bitmap an element names,
// and the pictures' own rules (transparent overlays, masks with windows,
// needles pointing right, lamps brighter by day).
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "dib.h"
#include "emulator/pe/pe_image.h"
#include "frame/bitmap_format.h"
#include "frame/records.h"
#include "korvane/bitmaps.h"
#include "runtime/host.h"
#include "runtime/module.h"
#include "support/korvane_bench.h"
#include "support/test_paths.h"

namespace {

using korvane::BitmapInfo;
using korvane::kBitmaps;
using korvane_bench::native;

// The PE deliverable's bitmaps, read once.
class BuiltBitmaps : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        path_ = test_paths::pe("Korvane.gau");
        if (korvane_bench::present(path_))
            pe_ = std::make_unique<emulator::PeImage>(emulator::PeImage::read_file(path_));
    }
    static void TearDownTestSuite() { pe_.reset(); }

    void SetUp() override {
        if (!pe_) GTEST_SKIP() << korvane_bench::no_pe_build(path_);
    }

    static const runtime::Bitmap* bitmap(uint32_t id) {
        auto found = pe_->bitmaps().find(id);
        return found == pe_->bitmaps().end() ? nullptr : &found->second;
    }
    static dib::Image image(uint32_t id) {
        const runtime::Bitmap* b = bitmap(id);
        if (b == nullptr) throw std::runtime_error("no bitmap " + std::to_string(id));
        return dib::decode(*b);
    }

    static std::string path_;
    static std::unique_ptr<emulator::PeImage> pe_;
};
std::string BuiltBitmaps::path_;
std::unique_ptr<emulator::PeImage> BuiltBitmaps::pe_;

TEST_F(BuiltBitmaps, TheModuleCarriesExactlyTheTable) {
    std::set<uint32_t> expected;
    for (const BitmapInfo& info : kBitmaps) expected.insert(info.id);
    std::set<uint32_t> carried;
    for (const auto& [id, bitmap] : pe_->bitmaps()) carried.insert(id);
    EXPECT_EQ(carried.size(), 79u);
    EXPECT_EQ(carried, expected);
}

class EachBitmap : public BuiltBitmaps, public ::testing::WithParamInterface<BitmapInfo> {};

TEST_P(EachBitmap, HasItsSizeAndTheHostsFormat) {
    const BitmapInfo& info = GetParam();
    const runtime::Bitmap* b = bitmap(info.id);
    ASSERT_NE(b, nullptr) << info.id << " (" << info.what << ") is missing";
    EXPECT_EQ(b->width, info.width);
    EXPECT_EQ(b->height, info.height);
    EXPECT_EQ(b->bits_per_pixel, 8);
    EXPECT_EQ(b->compression, 0u);
    EXPECT_FALSE(b->top_down);
    ASSERT_EQ(b->palette_entries, 256u);
    ASSERT_EQ(b->pixel_offset, 40u + 1024u);  // the plain header, then the palette
    ASSERT_NO_THROW(runtime::decode_dib(*b));
    // Index 0 is the one pure black (entries are blue, green, red, 0): the
    // host's transparent colour.
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t* entry = &b->dib()[sizeof(frame::bmp::InfoHeader) + 4 * i];
        EXPECT_EQ(entry[0] == 0 && entry[1] == 0 && entry[2] == 0, i == 0) << "palette entry " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(KorvaneBitmaps, EachBitmap, ::testing::ValuesIn(kBitmaps),
                         [](const ::testing::TestParamInfo<BitmapInfo>& info) {
                             return "id" + std::to_string(info.param.id);
                         });

// What each element of the loaded module names: its bitmap, an icon's
// frames, a moving image's or sprite's mask at id + 1.
struct Use {
    std::string gauge;
    uint32_t type;
    uint32_t role;  // 0 picture, 1 mask, k frame k
};

class ModuleBitmaps : public BuiltBitmaps {
protected:
    void SetUp() override {
        BuiltBitmaps::SetUp();
        if (IsSkipped()) return;
        module_ = std::make_unique<runtime::Module>(host_, test_paths::module("Korvane.gau"));
        for (const runtime::GaugePtr gauge : module_->gauges()) walk(native(gauge), native(gauge)->element_list);
    }

    void walk(GAUGEHDR* gauge, ELEMENT_HEADER* const* list) {
        if (list == nullptr) return;
        for (; *list != nullptr; ++list) {
            ELEMENT_HEADER* e = *list;
            elements_.push_back({gauge, e});
            const std::string name = gauge->gauge_name;
            uses_.emplace(e->resource_id, Use{name, e->element_type, 0});
            if (e->element_type == kIcon) {
                const auto* icon = reinterpret_cast<const ELEMENT_ICON*>(e);
                for (uint32_t k = 1; k < icon->frame_count; ++k) uses_.emplace(e->resource_id + k, Use{name, kIcon, k});
            }
            if (e->element_type == kMovingImage || e->element_type == kSprite) {
                uses_.emplace(e->resource_id + 1, Use{name, e->element_type, 1});
            }
            walk(gauge, e->next_element_list);
        }
    }

    struct Placed {
        GAUGEHDR* gauge;
        ELEMENT_HEADER* element;
    };
    runtime::Host host_;
    std::unique_ptr<runtime::Module> module_;
    std::vector<Placed> elements_;
    std::multimap<uint32_t, Use> uses_;
};

TEST_F(ModuleBitmaps, EveryNamedBitmapIsCarriedAndEveryBitmapIsUsed) {
    ASSERT_EQ(module_->gauges().size(), 47u);
    std::set<uint32_t> used;
    for (const auto& [id, use] : uses_) {
        used.insert(id);
        EXPECT_NE(bitmap(id), nullptr) << use.gauge << " names bitmap " << id << " (role " << use.role << ")";
        EXPECT_NE(korvane::find_bitmap(id), nullptr) << id << " is not in the bitmap table";
    }
    for (const BitmapInfo& info : kBitmaps) {
        EXPECT_EQ(used.count(info.id), 1u) << info.id << " (" << info.what << ") is named by no element";
    }
}

TEST_F(ModuleBitmaps, TheTableNamesAGaugeThatShowsEachBitmap) {
    for (const BitmapInfo& info : kBitmaps) {
        bool shown = false;
        for (auto [it, end] = uses_.equal_range(info.id); it != end; ++it) shown |= it->second.gauge == info.gauge;
        EXPECT_TRUE(shown) << info.id << " is not shown by \"" << info.gauge << "\"";
    }
}

TEST_F(ModuleBitmaps, BackgroundsAreOpaqueInTheMiddle) {
    for (const Placed& p : elements_) {
        if (p.element->element_type != kStaticImage) continue;
        const dib::Image img = image(p.element->resource_id);
        EXPECT_NE(img.colour(img.width / 2, img.height / 2), 0u)
            << p.gauge->gauge_name << ": the face of " << p.element->resource_id << " is transparent";
    }
}

// Needles point right from their pivot on transparent ground: the corners
// are transparent, the pixels just short of the right edge on the pivot's
// row are the needle's, and nothing stands left of a pivot at the edge.
TEST_F(ModuleBitmaps, NeedlesPointRightFromTheirPivot) {
    std::set<uint32_t> seen;
    for (const Placed& p : elements_) {
        if (p.element->element_type != kNeedle || !seen.insert(p.element->resource_id).second) continue;
        const dib::Image img = image(p.element->resource_id);
        const int32_t w = img.width, h = img.height;
        SCOPED_TRACE(std::string(p.gauge->gauge_name) + " needle " + std::to_string(p.element->resource_id));
        ASSERT_TRUE(img.inside(p.element->ofs_x, p.element->ofs_y)) << "pivot outside the bitmap";
        for (auto [x, y] : {std::pair{0, 0}, {w - 1, 0}, {0, h - 1}, {w - 1, h - 1}}) EXPECT_TRUE(img.clear(x, y));
        EXPECT_FALSE(img.clear(w - 4, p.element->ofs_y)) << "no pointer at the right end";
        EXPECT_TRUE(img.clear(w - 4, 0));
    }
    EXPECT_EQ(seen.size(), 23u);
}

TEST_F(ModuleBitmaps, MasksHaveAWindowAndABezel) {
    for (const Placed& p : elements_) {
        if (p.element->element_type != kMovingImage && p.element->element_type != kSprite) continue;
        const dib::Image mask = image(p.element->resource_id + 1);
        size_t clear = 0;
        for (uint32_t colour : mask.rgb) clear += colour == 0;
        SCOPED_TRACE(std::string(p.gauge->gauge_name) + " mask " + std::to_string(p.element->resource_id + 1));
        EXPECT_GT(clear, mask.rgb.size() / 10) << "hardly any window";
        EXPECT_LT(clear, mask.rgb.size()) << "no bezel at all";
    }
}

TEST_F(BuiltBitmaps, TwoFrameSwitchesShowTwoPositions) {
    for (auto [off, on] : {std::pair{315u, 316u}, {370u, 371u}}) {
        EXPECT_NE(image(off).rgb, image(on).rgb) << off << " and " << on << " are the same picture";
    }
}

// Day lamps are brighter than their night twins; red lamps are red, green
// lamps green.
TEST_F(BuiltBitmaps, LampsByDayAndByNight) {
    struct Pair {
        uint32_t day, night;
        bool red;
    };
    auto lit = [](const dib::Image& img, bool red, double& brightness) {
        double sum = 0.0;
        size_t n = 0, coloured = 0;
        for (uint32_t c : img.rgb) {
            if (c == 0) continue;
            sum += dib::luminance(c);
            ++n;
            const int r = dib::red(c), g = dib::green(c), b = dib::blue(c);
            coloured += red ? (r > g && r > b) : (g > r && g > b);
        }
        brightness = n ? sum / n : 0.0;
        return n ? double(coloured) / n : 0.0;
    };
    for (const Pair& pair :
         {Pair{290, 285, true}, Pair{300, 295, false}, Pair{306, 305, false}, Pair{360, 360, true}}) {
        double day = 0.0, night = 0.0;
        EXPECT_GT(lit(image(pair.day), pair.red, day), 0.6) << pair.day;
        EXPECT_GT(lit(image(pair.night), pair.red, night), 0.6) << pair.night;
        if (pair.day != pair.night) {
            EXPECT_GT(day, night * 1.5) << pair.day << " against " << pair.night;
        }
    }
}

// The drum strip: eleven cells of 27 pixels, the last repeating the first.
TEST_F(BuiltBitmaps, AltimeterDrumEndsOnItsFirstDigit) {
    const dib::Image strip = image(120);
    ASSERT_EQ(strip.height, 11 * 27);
    for (int32_t cell = 0; cell < 11; ++cell) {
        size_t marks = 0;
        for (int32_t y = cell * 27; y < cell * 27 + 27; ++y) {
            for (int32_t x = 0; x < strip.width; ++x) marks += dib::is_mark(strip.colour(x, y));
        }
        EXPECT_GT(marks, 10u) << "cell " << cell << " holds no digit";
    }
    for (int32_t y = 0; y < 27; ++y) {
        for (int32_t x = 0; x < strip.width; ++x) {
            ASSERT_EQ(strip.colour(x, y), strip.colour(x, y + 270)) << x << "," << y;
        }
    }
}

// The compass card: a mark every 18 pixels along the bottom edge, a label
// every 54 from 36 in (0, 33, 30, ..., 3, 0), nothing between the labels.
TEST_F(BuiltBitmaps, CompassCardMarksAndLabels) {
    const dib::Image card = image(240);
    for (int32_t x = 18; x < card.width; x += 18) {
        bool mark = false;
        for (int32_t dx : {-1, 0}) mark |= dib::is_mark(card.colour(x + dx, card.height - 3));
        EXPECT_TRUE(mark) << "no mark at x = " << x;
        EXPECT_FALSE(dib::is_mark(card.colour(x - 9, card.height - 3)))
            << "a mark between x = " << x - 18 << " and " << x;
    }
    auto ink = [&](int32_t from, int32_t to) {
        size_t n = 0;
        for (int32_t y = 0; y < card.height / 2; ++y) {
            for (int32_t x = from; x <= to; ++x) n += card.inside(x, y) && dib::is_mark(card.colour(x, y));
        }
        return n;
    };
    for (int32_t label = 0; label <= 12; ++label) {
        const int32_t centre = 36 + 54 * label;
        EXPECT_GT(ink(centre - 12, centre + 11), 10u) << "no label at x = " << centre;
        // Centred by its inked box, as the label's text is placed.
        int32_t first = centre + 12, last = centre - 13;
        for (int32_t x = centre - 12; x <= centre + 11; ++x) {
            if (ink(x, x) != 0) first = std::min(first, x), last = std::max(last, x);
        }
        EXPECT_NEAR((first + last) / 2.0, centre - 0.5, 2.0) << "label off centre at x = " << centre;
        if (label < 12) {
            EXPECT_EQ(ink(centre + 20, centre + 34), 0u) << "ink between labels after x = " << centre;
        }
    }
    // The ends: 0 both, a single digit; 33 after the first, two digits.
    EXPECT_LT(ink(24, 48), ink(78, 102));
    EXPECT_LT(ink(672, 696), ink(78, 102));
}

}  // namespace
