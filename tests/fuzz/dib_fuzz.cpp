// Bitmaps: the input is a .bmp file (or a bare DIB); its header fields go into
// the Bitmap unchecked, so the decoder meets every disagreement between the
// fields and the bytes. Every one gives a picture of the bitmap's size or
// DibError, never a read outside the bytes.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "runtime/dib.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr size_t kFileHeaderSize = 14;

uint32_t field(const uint8_t* data, size_t size, size_t offset, size_t width) {
    uint32_t value = 0;
    for (size_t i = 0; i < width && offset + i < size; ++i) value |= uint32_t{data[offset + i]} << (8 * i);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int64_t pixel_offset = -1;
    if (size >= kFileHeaderSize && data[0] == 'B' && data[1] == 'M') {
        pixel_offset = int64_t{field(data, size, 10, 4)} - int64_t{kFileHeaderSize};
        data += kFileHeaderSize;
        size -= kFileHeaderSize;
    }
    runtime::Bitmap bitmap;
    bitmap.set_dib(std::vector<uint8_t>(data, data + size));
    const uint32_t header = field(data, size, 0, 4);
    int64_t height = 0;
    uint32_t colours = 0;
    if (header == 12) {
        bitmap.width = field(data, size, 4, 2);
        height = field(data, size, 6, 2);
        bitmap.bits_per_pixel = static_cast<uint16_t>(field(data, size, 10, 2));
    } else {
        bitmap.width = field(data, size, 4, 4);
        height = static_cast<int32_t>(field(data, size, 8, 4));
        bitmap.bits_per_pixel = static_cast<uint16_t>(field(data, size, 14, 2));
        bitmap.compression = field(data, size, 16, 4);
        colours = field(data, size, 32, 4);
    }
    bitmap.top_down = height < 0;
    bitmap.height = static_cast<uint32_t>(height < 0 ? -height : height);
    bitmap.palette_entries = colours != 0 ? colours : bitmap.bits_per_pixel <= 8 ? 1u << bitmap.bits_per_pixel : 0u;
    const uint64_t entry_size = header == 12 ? 3 : 4;
    bitmap.pixel_offset = pixel_offset >= 0 ? static_cast<uint32_t>(pixel_offset)
                                            : static_cast<uint32_t>(header + entry_size * bitmap.palette_entries);
    try {
        const runtime::Picture picture = runtime::decode_dib(bitmap);
        FUZZ_CHECK(picture.width == bitmap.width && picture.height == bitmap.height &&
                       picture.rgb.size() == size_t{bitmap.width} * bitmap.height,
                   "the picture has the bitmap's size");
    } catch (const runtime::DibError&) {}
    return 0;
}
