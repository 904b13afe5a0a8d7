// The art generator's palette and bitmap writer: the one transparent index,
// the mapping of drawn pixels onto the palette, and the file layout the
// resource compiler and the host read.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <set>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "art/bmp.h"
#include "art/palette.h"
#include "frame/bitmap_format.h"
#include "runtime/dib.h"

namespace {

using art::Palette;
using art::Rgb;

uint32_t argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) { return (a << 24) | (r << 16) | (g << 8) | b; }

TEST(ArtPalette, BlackIsIndexZeroAndNowhereElse) {
    const Palette palette;
    EXPECT_EQ(palette.colours()[0], (Rgb{0, 0, 0}));
    std::set<uint32_t> distinct;
    for (size_t i = 1; i < 256; ++i) {
        const Rgb c = palette.colours()[i];
        EXPECT_FALSE(c.r == 0 && c.g == 0 && c.b == 0) << "entry " << i;
        distinct.insert((uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b);
    }
    EXPECT_EQ(distinct.size(), 255u) << "entries repeat";
}

TEST(ArtPalette, NamedColoursAreEntriesOfTheirOwn) {
    Palette palette;
    for (Rgb named :
         {art::colour::kFace, art::colour::kCream, art::colour::kPanel, art::colour::kCaseDark, art::colour::kOrange,
          art::colour::kRedBright, art::colour::kRedDim, art::colour::kRedDark, art::colour::kGreenBright,
          art::colour::kGreenDim, art::colour::kGreenDark, art::colour::kAmber, art::colour::kBrass}) {
        const uint8_t index = palette.nearest_opaque(named);
        EXPECT_EQ(palette.colours()[index], named) << int(named.r) << "," << int(named.g) << "," << int(named.b);
    }
}

struct PixelCase {
    uint32_t pixel;    // premultiplied ARGB32
    bool transparent;  // expected index 0
    Rgb expected;      // the entry it maps to, when opaque
};

TEST(ArtPalette, DrawnPixelsOntoThePalette) {
    const PixelCase cases[] = {
        {argb(0, 0, 0, 0), true, {}},            // untouched canvas
        {argb(127, 127, 0, 0), true, {}},        // under half coverage
        {argb(255, 0, 0, 0), false, {8, 8, 8}},  // drawn black stays visible
        {argb(255, 240, 232, 206), false, art::colour::kCream},
        {argb(128, 120, 116, 103), false, art::colour::kCream},  // half-covered cream, un-premultiplied
        {argb(255, 16, 16, 16), false, art::colour::kFace},
        {argb(255, 255, 255, 255), false, {255, 255, 255}},
    };
    Palette palette;
    for (const PixelCase& c : cases) {
        const uint8_t index = palette.from_argb32(c.pixel);
        if (c.transparent) {
            EXPECT_EQ(index, 0) << std::hex << c.pixel;
        } else {
            EXPECT_NE(index, 0) << std::hex << c.pixel;
            EXPECT_EQ(palette.colours()[index], c.expected) << std::hex << c.pixel;
        }
    }
    // Asking twice gives the same entry (the answer is remembered, not redrawn).
    EXPECT_EQ(palette.from_argb32(argb(255, 17, 90, 200)), palette.from_argb32(argb(255, 17, 90, 200)));
}

TEST(ArtBmp, FileLayout) {
    const Palette palette;
    art::IndexedImage image;
    image.width = 5;  // rows padded to 8 bytes
    image.height = 3;
    image.pixels = {1, 2, 3, 4, 5, 10, 20, 30, 40, 50, 0, 0, 0, 0, 255};
    const std::vector<uint8_t> file = art::encode_bmp(image, palette.colours());
    ASSERT_EQ(file.size(), 14u + 40u + 1024u + 8u * 3u);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    const std::optional<frame::bmp::FileHeader> head = frame::bmp::read_file_header(file);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->file_size, file.size());
    EXPECT_EQ(head->pixel_offset, 14u + 40u + 1024u);
    // The resource: a plain header of a bottom-up 8-bit picture, uncompressed.
    std::string why;
    const std::optional<frame::bmp::DibHeader> dib = frame::bmp::read_dib_header(std::span(file).subspan(14), why);
    ASSERT_TRUE(dib) << why;
    EXPECT_EQ(dib->size, 40u);
    EXPECT_EQ(dib->width, 5);
    EXPECT_EQ(dib->height, 3);
    EXPECT_EQ(dib->bits_per_pixel, 8);
    EXPECT_EQ(dib->compression, 0u);
    EXPECT_EQ(dib->colours_used, 256u);
    for (size_t i = 0; i < 256; ++i) {  // blue, green, red, 0
        const Rgb c = palette.colours()[i];
        uint32_t entry = 0;
        std::memcpy(&entry, &file[54 + 4 * i], 4);
        EXPECT_EQ(entry, uint32_t{c.b} | uint32_t{c.g} << 8 | uint32_t{c.r} << 16) << "entry " << i;
    }
    // Rows bottom-up, each padded to 8 bytes with zeros.
    const size_t rows = 14 + 40 + 1024;
    for (size_t y = 0; y < 3; ++y) {
        for (size_t x = 0; x < 8; ++x) {
            EXPECT_EQ(file[rows + (2 - y) * 8 + x], x < 5 ? image.pixels[y * 5 + x] : 0) << x << ", " << y;
        }
    }
}

TEST(ArtBmp, RefusesAnImageWhoseSizeAndPixelsDisagree) {
    const Palette palette;
    for (auto [w, h, n] : {std::tuple{4u, 4u, 15u}, {0u, 4u, 0u}, {4u, 0u, 0u}}) {
        art::IndexedImage image;
        image.width = w;
        image.height = h;
        image.pixels.assign(n, 1);
        EXPECT_THROW(art::encode_bmp(image, palette.colours()), std::invalid_argument) << w << "x" << h;
    }
}

// A window background: the host's reader gets back every colour, in place,
// from a file whose rows need padding (3 pixels: 9 bytes to 12).
TEST(ArtBmp, Rgb24FileReadsBackThroughTheHost) {
    art::RgbImage image{3, 2, {{1, 2, 3}, {250, 0, 7}, {0, 0, 0}, {9, 8, 7}, {255, 255, 255}, {36, 38, 34}}};
    const std::vector<uint8_t> file = art::encode_bmp24(image);
    ASSERT_EQ(file.size(), 14u + 40u + 12u * 2u);
    const std::optional<frame::bmp::FileHeader> head = frame::bmp::read_file_header(file);
    ASSERT_TRUE(head);
    EXPECT_EQ(head->file_size, file.size());
    EXPECT_EQ(head->pixel_offset, 54u);
    runtime::Bitmap bitmap;
    bitmap.width = 3;
    bitmap.height = 2;
    bitmap.bits_per_pixel = 24;
    bitmap.pixel_offset = 40;
    bitmap.set_dib(std::vector<uint8_t>(file.begin() + 14, file.end()));
    const runtime::Picture picture = runtime::decode_dib(bitmap);
    for (uint32_t i = 0; i < 6; ++i) {
        const Rgb c = image.pixels[i];
        EXPECT_EQ(picture.at(i % 3, i / 3), uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b) << "pixel " << i;
    }
    image.pixels.pop_back();
    EXPECT_THROW(art::encode_bmp24(image), std::invalid_argument);
}

}  // namespace
