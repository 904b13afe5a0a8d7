// Decoding bitmaps: palettised and true-colour, either row order, padded rows,
// and bitmaps that do not decode (the rule the validator shares).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "runtime/dib.h"

namespace {

using runtime::Bitmap;
using runtime::DibError;
using runtime::Picture;

// The bitmap's bytes cut to `size` and followed by `tail`.
void respell(Bitmap& bitmap, size_t size, const std::vector<uint8_t>& tail = {}) {
    std::vector<uint8_t> bytes(bitmap.dib().begin(), bitmap.dib().begin() + static_cast<std::ptrdiff_t>(size));
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    bitmap.set_dib(std::move(bytes));
}

// A picture whose every pixel differs from its neighbours: colour from x and y.
std::vector<uint32_t> pattern(uint32_t width, uint32_t height) {
    std::vector<uint32_t> rgb;
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x)
            rgb.push_back(((x * 37 + 5) & 0xFF) << 16 | ((y * 53 + 7) & 0xFF) << 8 | (((x + y) * 11) & 0xFF));
    }
    return rgb;
}

struct Shape {
    uint32_t width, height;
    bool top_down;
};

// Widths 1 to 5 and 8 need 3, 2, 1, 0, 3 and 0 bytes of padding per 8-bit row.
const Shape kShapes[] = {
    {1, 1, false}, {2, 3, false}, {3, 2, true}, {4, 4, false}, {5, 3, true}, {8, 2, false}, {7, 9, false},
};

TEST(Dib, PalettisedRowsComeBackTopDown) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(std::to_string(shape.width) + " x " + std::to_string(shape.height) +
                     (shape.top_down ? " top-down" : " bottom-up"));
        // One palette entry per pixel (the shapes hold at most 63 pixels), so
        // a row read from the wrong place shows.
        const std::vector<uint32_t> colours = pattern(shape.width, shape.height);
        std::vector<uint8_t> indices;
        for (size_t i = 0; i < colours.size(); ++i) indices.push_back(static_cast<uint8_t>(colours.size() - 1 - i));
        std::vector<uint32_t> palette(colours.rbegin(), colours.rend());
        const Bitmap bitmap =
            runtime::make_palettised_bitmap(shape.width, shape.height, palette, indices, shape.top_down);
        EXPECT_EQ(bitmap.top_down, shape.top_down);
        const Picture picture = runtime::decode_dib(bitmap);
        ASSERT_EQ(picture.width, shape.width);
        ASSERT_EQ(picture.height, shape.height);
        EXPECT_EQ(picture.rgb, colours);
    }
}

TEST(Dib, TrueColourRowsComeBackTopDown) {
    for (const Shape& shape : kShapes) {
        SCOPED_TRACE(std::to_string(shape.width) + " x " + std::to_string(shape.height));
        const std::vector<uint32_t> colours = pattern(shape.width, shape.height);
        const Picture picture = runtime::decode_dib(runtime::make_rgb_bitmap(shape.width, shape.height, colours));
        EXPECT_EQ(picture.rgb, colours);
    }
}

TEST(Dib, IndexBeyondThePaletteIsBlack) {
    const Bitmap bitmap = runtime::make_palettised_bitmap(3, 1, {0x112233, 0x445566}, {1, 2, 0});
    EXPECT_EQ(runtime::decode_dib(bitmap).rgb, (std::vector<uint32_t>{0x445566, 0x000000, 0x112233}));
}

// A 4-bit and a 1-bit bitmap written by hand: two pixels to a byte, eight to
// a byte, leftmost in the high bits.
TEST(Dib, NarrowPixelsReadFromTheHighBitsFirst) {
    struct Narrow {
        uint16_t bits;
        uint32_t width;
        std::vector<uint8_t> row;  // one row, padded
        std::vector<uint32_t> expected;
    };
    const Narrow cases[] = {
        {4, 3, {0x12, 0x00, 0, 0}, {0x0000AA, 0x0000BB, 0x000099}},
        {1,
         10,
         {0b1011'0000, 0b0100'0000, 0, 0},
         {0x0000BB, 0x0000AA, 0x0000BB, 0x0000BB, 0x0000AA, 0x0000AA, 0x0000AA, 0x0000AA, 0x0000AA, 0x0000BB}},
    };
    for (const Narrow& c : cases) {
        SCOPED_TRACE(c.bits);
        // Start from an 8-bit bitmap's header and palette, then rewrite it.
        std::vector<uint32_t> palette = {0x0000AA, 0x0000BB, 0x0000CC};
        if (c.bits == 4) palette = {0x000099, 0x0000AA, 0x0000BB};
        Bitmap bitmap = runtime::make_palettised_bitmap(1, 1, palette, {0});
        bitmap.bits_per_pixel = c.bits;
        bitmap.width = c.width;
        respell(bitmap, bitmap.pixel_offset, c.row);
        EXPECT_EQ(runtime::decode_dib(bitmap).rgb, c.expected);
    }
}

TEST(Dib, RefusesWhatDoesNotDecode) {
    const Bitmap good = runtime::make_palettised_bitmap(4, 4, {0x102030}, std::vector<uint8_t>(16, 0));
    struct Bad {
        const char* name;
        void (*spoil)(Bitmap&);
    };
    const Bad cases[] = {
        {"size only, no pixels", [](Bitmap& b) { respell(b, 0); }},
        {"run-length compressed", [](Bitmap& b) { b.compression = 1; }},
        {"16 bits per pixel", [](Bitmap& b) { b.bits_per_pixel = 16; }},
        {"rows cut short", [](Bitmap& b) { respell(b, b.dib().size() - 1); }},
        {"pixels said to start past the end",
         [](Bitmap& b) { b.pixel_offset = static_cast<uint32_t>(b.dib().size() + 4); }},
        {"palette beyond the bytes",
         [](Bitmap& b) {
             b.palette_entries = 256;
             respell(b, 60);
         }},
        {"unknown header size",
         [](Bitmap& b) {
             respell(b, 0, {20, 0, 0, 0});
         }},
        {"zero width", [](Bitmap& b) { b.width = 0; }},
        {"taller than the bytes", [](Bitmap& b) { b.height = 5; }},
        {"more pixels than the host decodes",
         [](Bitmap& b) {
             b.width = 16384;
             b.height = 8192;
         }},
    };
    EXPECT_EQ(runtime::undrawable_reason(good), "");
    for (const Bad& bad : cases) {
        SCOPED_TRACE(bad.name);
        Bitmap bitmap = good;
        bad.spoil(bitmap);
        EXPECT_THROW(runtime::decode_dib(bitmap), DibError);
        // The validator's rule: the same, but a size without bytes may stand.
        EXPECT_EQ(runtime::undrawable_reason(bitmap).empty(), bitmap.dib().empty());
    }
}

TEST(Dib, BuildersRefuseSizesThatDisagree) {
    EXPECT_THROW(runtime::make_palettised_bitmap(2, 2, {0}, {0, 0, 0}), std::invalid_argument);
    EXPECT_THROW(runtime::make_palettised_bitmap(1, 1, {}, {0}), std::invalid_argument);
    EXPECT_THROW(runtime::make_palettised_bitmap(1, 1, std::vector<uint32_t>(257, 0), {0}), std::invalid_argument);
    EXPECT_THROW(runtime::make_rgb_bitmap(0, 1, {}), std::invalid_argument);
}

}  // namespace
