// The bitmap headers: what the encoder writes reads back through the
// decoder, OS/2's short header reads as well, and bytes that hold no header
// say why.
#include "frame/bitmap_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

namespace bmp = frame::bmp;

TEST(BitmapFormat, WrittenHeadersReadBack) {
    const struct {
        uint32_t width, height;
        uint16_t bits;
        uint32_t palette;
        bool top_down;
        uint32_t image_size;  // rows padded to four bytes
    } cases[] = {{5, 3, 8, 256, false, 8 * 3}, {3, 2, 24, 0, true, 12 * 2}, {33, 1, 1, 2, false, 8}};
    for (const auto& c : cases) {
        const bmp::InfoHeader info = bmp::info_header(c.width, c.height, c.bits, c.palette, c.top_down);
        EXPECT_EQ(info.image_size, c.image_size) << c.width;
        std::vector<uint8_t> file;
        frame::append_struct(file, bmp::file_header(info));
        frame::append_struct(file, info);
        const std::optional<bmp::FileHeader> head = bmp::read_file_header(file);
        ASSERT_TRUE(head);
        EXPECT_EQ(head->pixel_offset, 14 + 40 + 4 * c.palette);
        EXPECT_EQ(head->file_size, head->pixel_offset + c.image_size);
        std::string why;
        const std::optional<bmp::DibHeader> dib =
            bmp::read_dib_header(std::span<const uint8_t>(file).subspan(sizeof(bmp::FileHeader)), why);
        ASSERT_TRUE(dib) << why;
        EXPECT_EQ(dib->width, c.width);
        EXPECT_EQ(dib->height, c.top_down ? -int64_t{c.height} : int64_t{c.height});
        EXPECT_EQ(dib->bits_per_pixel, c.bits);
        EXPECT_EQ(dib->colours_used, c.palette);
        EXPECT_EQ(dib->palette_entry_bytes(), 4u);
    }
}

TEST(BitmapFormat, ReadsEitherHeaderOrSaysWhyNot) {
    const std::vector<uint8_t> core = {12, 0, 0, 0, 7, 0, 9, 0, 1, 0, 4, 0};  // 7 x 9, 4 bits
    std::vector<uint8_t> info;
    frame::append_struct(info, bmp::info_header(2, 2, 8, 16));
    const struct {
        std::vector<uint8_t> bytes;
        const char* why;  // empty: read
    } cases[] = {
        {core, ""},
        {info, ""},
        {{12, 0, 0}, "no header"},
        {{20, 0, 0, 0}, "unknown header size 20"},
        {{40, 0, 0, 0, 1, 0}, "header larger than the bitmap"},
        {{12, 0, 0, 0, 7, 0}, "header larger than the bitmap"},
    };
    for (const auto& c : cases) {
        std::string why;
        const std::optional<bmp::DibHeader> header = bmp::read_dib_header(c.bytes, why);
        EXPECT_EQ(header.has_value(), std::string(c.why).empty()) << c.why;
        EXPECT_EQ(why, c.why);
    }
    std::string why;
    const bmp::DibHeader read = *bmp::read_dib_header(core, why);
    EXPECT_EQ(read.width, 7);
    EXPECT_EQ(read.height, 9);
    EXPECT_EQ(read.bits_per_pixel, 4);
    EXPECT_EQ(read.palette_entry_bytes(), 3u);
    EXPECT_FALSE(bmp::read_file_header(std::vector<uint8_t>(14, 'B')));  // no "BM"
}

}  // namespace
