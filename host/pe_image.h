// A reader for 32-bit PE files: exports, imports and bitmap resources. Every
// offset is checked against the file; a malformed file gives PeError, never a
// read outside the buffer.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

class PeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A device-independent bitmap as stored in an RT_BITMAP resource. Its bytes
// are shared, not copied: every bitmap read from one file points into that
// file's bytes, however many ids name the same data.
struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits_per_pixel = 0;
    uint32_t compression = 0;      // 0 = uncompressed
    bool top_down = false;         // stored with a negative height: first row on top
    uint32_t palette_entries = 0;  // colour table entries after the header
    uint32_t pixel_offset = 0;     // where the pixel rows start in dib()

    // The resource bytes: header, palette, pixels (empty: a size only).
    std::span<const uint8_t> dib() const {
        return storage_ ? std::span<const uint8_t>(*storage_).subspan(offset_, size_) : std::span<const uint8_t>();
    }
    // Bytes of its own (synthetic pictures).
    void set_dib(std::vector<uint8_t> bytes);
    // `size` bytes at `offset` of shared bytes (which must hold them).
    void set_dib(std::shared_ptr<const std::vector<uint8_t>> storage, size_t offset, size_t size);

private:
    std::shared_ptr<const std::vector<uint8_t>> storage_;
    size_t offset_ = 0;
    size_t size_ = 0;
};

inline constexpr uint16_t kMachineI386 = 0x14C;

// The largest bitmap the host decodes: either side, and pixels in all.
inline constexpr uint32_t kMaxDrawableExtent = 1u << 16;
inline constexpr uint64_t kMaxDrawablePixels = uint64_t{64} << 20;

class PeImage {
public:
    static PeImage read_file(const std::string& path);  // throws PeError naming the file
    static PeImage parse(std::vector<uint8_t> bytes, const std::string& name);

    // Files larger than this are refused rather than read.
    static constexpr size_t kMaxFileSize = 64u << 20;
    // What the bitmaps of one file may make the host allocate, decoded (four
    // bytes a pixel), counted for every id even where ids share their data:
    // a file asking for more is refused, naming the bitmap that went over.
    static constexpr uint64_t kMaxDecodedBytes = uint64_t{512} << 20;

    bool is_dll() const { return is_dll_; }
    uint16_t machine() const { return machine_; }
    const std::vector<std::string>& exports() const { return exports_; }
    // Imported DLL names as stored (case kept).
    const std::vector<std::string>& imported_dlls() const { return imported_dlls_; }
    const std::map<uint32_t, Bitmap>& bitmaps() const { return bitmaps_; }

private:
    bool is_dll_ = false;
    uint16_t machine_ = 0;
    std::vector<std::string> exports_;
    std::vector<std::string> imported_dlls_;
    std::map<uint32_t, Bitmap> bitmaps_;
};

}  // namespace bench
