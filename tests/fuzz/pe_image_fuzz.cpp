// PE modules: parse, list exports, imports and bitmap resources, decode every
// bitmap. Any file gives an image or PeError; every bitmap gives a picture or
// DibError, and one the reader accepted as plain rows of a depth the decoder
// knows decodes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "host/dib.h"
#include "host/pe_image.h"
#include "tests/fuzz/fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    bench::PeImage image;
    try {
        image = bench::PeImage::parse(std::vector<uint8_t>(data, data + size), "fuzz.gau");
    } catch (const bench::PeError&) {
        return 0;
    }
    size_t names = 0;
    for (const auto& name : image.exports()) names += name.size();
    for (const auto& name : image.imported_dlls()) names += name.size();
    FUZZ_CHECK(names <= size, "names come from the file");
    for (const auto& [id, bitmap] : image.bitmaps()) {
        const uint16_t bits = bitmap.bits_per_pixel;
        const bool decodable = bitmap.compression == 0 && bits != 16;
        try {
            const bench::Picture picture = bench::decode_dib(bitmap);
            FUZZ_CHECK(picture.rgb.size() == size_t{picture.width} * picture.height && picture.width == bitmap.width &&
                           picture.height == bitmap.height,
                       "the picture has the bitmap's size");
        } catch (const bench::DibError&) {
            FUZZ_CHECK(!decodable, "a bitmap the reader accepted as plain rows decodes");
        }
    }
    return 0;
}
