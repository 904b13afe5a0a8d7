// Animated PNG: the chunk stream a browser plays, read back chunk by chunk,
// each frame's box drawn over the last and compared with the picture it
// stands for.
#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "render/animation.h"

namespace {

using render::AnimationWriter;
using render::Image;
using render::PixelRect;
using Bytes = std::vector<unsigned char>;

constexpr int kWidth = 40, kHeight = 12;

uint32_t be32(const unsigned char* at) { return uint32_t{at[0]} << 24 | at[1] << 16 | at[2] << 8 | at[3]; }

struct Chunk {
    std::string type;
    Bytes data;
};

// The chunks after the signature; a chunk with a wrong CRC fails the test.
std::vector<Chunk> read_chunks(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    std::vector<Chunk> chunks;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = be32(&file[at]);
        if (length > file.size() - at - 12) break;  // a cut chunk: IEND is missing
        const unsigned char* type = &file[at + 4];
        chunks.push_back({std::string(type, type + 4), Bytes(type + 4, type + 4 + length)});
        EXPECT_EQ(be32(type + 4 + length), crc32(crc32(0, type, 4), type + 4, length)) << chunks.back().type;
        at += 12 + length;
    }
    return chunks;
}

// A frame's image data decoded as a PNG of the frame's size (under 256
// pixels a side here), 0xAARRGGBB.
std::vector<uint32_t> decode(int width, int height, const Bytes& image_data) {
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto put32 = [&png](uLong value) {
        for (int shift = 24; shift >= 0; shift -= 8) png.push_back(static_cast<unsigned char>(value >> shift));
    };
    const auto chunk = [&](const char* type, const Bytes& data) {
        put32(data.size());
        const size_t start = png.size();
        png.insert(png.end(), type, type + 4);
        png.insert(png.end(), data.begin(), data.end());
        put32(crc32(0, &png[start], static_cast<uInt>(png.size() - start)));
    };
    const auto byte = [](int value) { return static_cast<unsigned char>(value); };
    chunk("IHDR", {0, 0, 0, byte(width), 0, 0, 0, byte(height), 8, 6, 0, 0, 0});  // RGBA, 8 bits a channel
    chunk("IDAT", image_data);
    chunk("IEND", {});
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    EXPECT_TRUE(png_image_begin_read_from_memory(&image, png.data(), png.size()) &&
                (image.format = PNG_FORMAT_BGRA, png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)))
        << image.message;
    return pixels;
}

std::vector<uint32_t> pixels_of(const Image& image) {
    std::vector<uint32_t> pixels;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) pixels.push_back(image.pixel(x, y));
    return pixels;
}

void paint(Image& image, const PixelRect& r, double red, double green, double blue) {
    cairo_t* cr = cairo_create(image.surface());
    cairo_set_source_rgb(cr, red, green, blue);
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
    cairo_fill(cr);
    cairo_destroy(cr);
}

TEST(Animation, FramesCarryOnlyWhatChangedAndKeepTheTime) {
    // What each picture paints over the one before; none: it stays as it was.
    const std::vector<std::vector<PixelRect>> steps = {
        {{0, 0, kWidth, kHeight}}, {{5, 4, 3, 2}}, {}, {}, {{2, 9, 1, 1}, {37, 1, 2, 1}}};
    // Each frame: x, y, width, height, delay in ms, and the picture it leaves
    // shown. Frames of 30 s: two fit the delay field, a third needs a frame.
    const std::vector<std::vector<int>> expected = {
        {0, 0, kWidth, kHeight, 30000, 0}, {5, 4, 3, 2, 60000, 2}, {0, 0, 1, 1, 30000, 3}, {2, 1, 37, 9, 30000, 4}};
    const std::string path = testing::TempDir() + "animation_test.png";
    Image image(kWidth, kHeight);
    std::vector<std::vector<uint32_t>> pictures;
    std::remove(path.c_str());
    {
        AnimationWriter writer(path, kWidth, kHeight, render::FrameDelay{30000, 1000}, 3);
        for (const auto& step : steps) {
            const double shade = 0.1 * static_cast<double>(pictures.size());
            for (const PixelRect& r : step) paint(image, r, shade, 0.5, 1.0 - 2 * shade);
            writer.add(image);
            pictures.push_back(pixels_of(image));
        }
        EXPECT_FALSE(std::ifstream(path).good()) << "an animation being written carries its final name";
        writer.finish();
    }

    const std::vector<Chunk> chunks = read_chunks(path);
    ASSERT_GE(chunks.size(), 3u);
    EXPECT_EQ(chunks[0].type + chunks[1].type + chunks.back().type, "IHDRacTLIEND");
    EXPECT_EQ(chunks[1].data, Bytes({0, 0, 0, static_cast<unsigned char>(expected.size()), 0, 0, 0, 3}))
        << "frames, plays";

    std::vector<std::vector<int>> frames;
    std::vector<uint32_t> canvas(size_t{kWidth} * kHeight);
    uint32_t sequence = 0;
    size_t data_chunks = 0;
    for (const Chunk& chunk : chunks) {
        const unsigned char* at = chunk.data.data();
        if (chunk.type == "fcTL" || chunk.type == "fdAT") {
            ASSERT_GE(chunk.data.size(), chunk.type == "fcTL" ? 26u : 4u);
            EXPECT_EQ(be32(at), sequence++);
        }
        if (chunk.type == "fcTL") {
            frames.push_back({static_cast<int>(be32(at + 12)), static_cast<int>(be32(at + 16)),
                              static_cast<int>(be32(at + 4)), static_cast<int>(be32(at + 8)), at[20] << 8 | at[21],
                              frames.size() < expected.size() ? expected[frames.size()][5] : -1});
            // Later frames are laid over the picture before (blend OVER).
            EXPECT_EQ(std::vector<int>(at + 22, at + 26), std::vector<int>({0x03, 0xE8, 0, frames.size() > 1}))
                << "ms, ops";
        } else if (chunk.type == "IDAT" || chunk.type == "fdAT") {
            ASSERT_EQ(++data_chunks, frames.size()) << "one data chunk a frame, after its control";
            const std::vector<int>& f = frames.back();
            ASSERT_TRUE(f[5] >= 0 && f[0] + f[2] <= kWidth && f[1] + f[3] <= kHeight) << "frame " << frames.size();
            const bool first = chunk.type == "IDAT";
            const Bytes data(chunk.data.begin() + (first ? 0 : 4), chunk.data.end());
            EXPECT_EQ(first, data_chunks == 1) << "the first frame is the default image, the others follow it";
            const std::vector<uint32_t> part = decode(f[2], f[3], data);
            for (int y = 0; y < f[3]; ++y)
                for (int x = 0; x < f[2]; ++x) {
                    const uint32_t pixel = part[y * f[2] + x];
                    if (first || (pixel >> 24) != 0) canvas[(f[1] + y) * kWidth + f[0] + x] = pixel;
                }
            EXPECT_EQ(canvas, pictures[f[5]]) << "frame " << frames.size() - 1;
        }
    }
    EXPECT_EQ(frames, expected);
}

TEST(Animation, ErrorsNameTheFile) {
    const struct {
        std::string path;
        int frame_width;  // 0: no frame at all
        std::string message;
    } cases[] = {
        {"no/such/dir/a.png", 4, "cannot create the animation"},
        {"animation_sizes.png", 5, "a frame of 5 x 4 in an animation of 4 x 4"},
        {"animation_empty.png", 0, "an animation needs at least one frame"},
    };
    for (const auto& c : cases) {
        const std::string path = testing::TempDir() + c.path;
        try {
            AnimationWriter writer(path, 4, 4, render::FrameDelay{1, 10});
            if (c.frame_width > 0) writer.add(Image(c.frame_width, 4));
            writer.finish();
            ADD_FAILURE() << path << ": no error";
        } catch (const render::RenderError& error) {
            EXPECT_NE(std::string(error.what()).find(path + ": " + c.message), std::string::npos) << error.what();
        }
        // An animation left unfinished is not left behind, nor its temporary file.
        EXPECT_FALSE(std::ifstream(path).good()) << path;
        const std::string temporary = "." + std::filesystem::path(path).filename().string() + ".";
        for (const auto& entry : std::filesystem::directory_iterator(testing::TempDir())) {
            EXPECT_NE(entry.path().filename().string().rfind(temporary, 0), 0u) << entry.path();
        }
    }
}

}  // namespace
