// Writes a black, uncompressed 24-bit BMP of the given size: the bitmap
// files the modules carry as resources are made at build time, byte for byte
// the same on every build.
//   make_black_bitmap <width> <height> <output.bmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void put16(std::vector<unsigned char>& out, uint16_t v) {
    out.push_back(static_cast<unsigned char>(v & 0xFF));
    out.push_back(static_cast<unsigned char>(v >> 8));
}

void put32(std::vector<unsigned char>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<unsigned char>((v >> shift) & 0xFF));
}

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
    constexpr uint32_t kFileHeaderSize = 14;
    constexpr uint32_t kInfoHeaderSize = 40;
    constexpr uint32_t kPixelsPerMetre = 2835;         // 72 dots per inch
    const uint32_t row_bytes = (width * 3 + 3) & ~3u;  // rows pad to 4 bytes
    const uint32_t pixel_bytes = row_bytes * height;

    std::vector<unsigned char> out;
    out.push_back('B');
    out.push_back('M');
    put32(out, kFileHeaderSize + kInfoHeaderSize + pixel_bytes);
    put32(out, 0);  // reserved
    put32(out, kFileHeaderSize + kInfoHeaderSize);
    put32(out, kInfoHeaderSize);
    put32(out, width);
    put32(out, height);  // positive: rows bottom-up
    put16(out, 1);       // planes
    put16(out, 24);      // bits per pixel
    put32(out, 0);       // uncompressed
    put32(out, pixel_bytes);
    put32(out, kPixelsPerMetre);
    put32(out, kPixelsPerMetre);
    put32(out, 0);  // no palette
    put32(out, 0);
    out.resize(out.size() + pixel_bytes, 0);  // black: every byte zero

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
