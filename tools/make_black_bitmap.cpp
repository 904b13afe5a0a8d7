// Writes a black, uncompressed 24-bit BMP of the given size: the bitmap
// files the modules carry as resources are made at build time, byte for byte
// the same on every build.
//   make_black_bitmap <width> <height> <output.bmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "frame/bitmap_format.h"

namespace {

bool parse_dimension(const char* text, uint32_t& value) {
    char* end = nullptr;
    const long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < 1 || parsed > 4096) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t width = 0;
    uint32_t height = 0;
    if (argc != 4 || !parse_dimension(argv[1], width) || !parse_dimension(argv[2], height)) {
        std::fprintf(stderr, "usage: make_black_bitmap <width 1-4096> <height 1-4096> <output.bmp>\n");
        return 2;
    }
    namespace bmp = frame::bmp;
    const bmp::InfoHeader info = bmp::info_header(width, height, 24, 0);
    std::vector<uint8_t> out;
    frame::append_struct(out, bmp::file_header(info));
    frame::append_struct(out, info);
    out.resize(out.size() + info.image_size, 0);  // black: every byte zero

    std::FILE* file = std::fopen(argv[3], "wb");
    if (file == nullptr) {
        std::perror(argv[3]);
        return 1;
    }
    const bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
    if (std::fclose(file) != 0 || !written) {
        std::fprintf(stderr, "make_black_bitmap: cannot write %s\n", argv[3]);
        return 1;
    }
    return 0;
}
