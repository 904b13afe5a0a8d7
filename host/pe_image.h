// A reader for 32-bit PE files: exports, imports and bitmap resources. Every
// offset is checked against the file; a malformed file gives PeError, never a
// read outside the buffer.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace bench {

class PeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A device-independent bitmap as stored in an RT_BITMAP resource.
struct Bitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits_per_pixel = 0;
    uint32_t compression = 0;      // 0 = uncompressed
    bool top_down = false;         // stored with a negative height: first row on top
    uint32_t palette_entries = 0;  // colour table entries after the header
    uint32_t pixel_offset = 0;     // where the pixel rows start in `dib`
    std::vector<uint8_t> dib;      // the resource bytes: header, palette, pixels
};

inline constexpr uint16_t kMachineI386 = 0x14C;

class PeImage {
public:
    static PeImage read_file(const std::string& path);  // throws PeError naming the file
    static PeImage parse(std::vector<uint8_t> bytes, const std::string& name);

    // Files larger than this are refused rather than read.
    static constexpr size_t kMaxFileSize = 64u << 20;

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
