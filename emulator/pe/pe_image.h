// A reader for 32-bit PE files: the headers and sections a loader maps, base
// relocations, imports (by DLL and function), exports, the TLS directory and
// bitmap resources. Every offset is checked against the file and every
// address against the image; a malformed file gives PeError naming the file
// and what was expected, never a read outside the buffer. This is the one
// place a module's headers are validated: the loader (emulator/pe/pe_module.h)
// maps what it reads here without checking again.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

#include "emulator/pe/pe_format.h"
#include "frame/bitmap.h"

namespace emulator {

class PeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A device-independent bitmap as stored in an RT_BITMAP resource.
using frame::Bitmap;

struct PeSection {
    std::string name;              // as stored, up to 8 characters (unprintable ones as ?)
    uint32_t virtual_address = 0;  // RVA
    uint32_t virtual_size = 0;     // in memory (the raw size where the file stores 0)
    uint32_t raw_offset = 0;       // file offset of its data
    uint32_t raw_size = 0;         // bytes of data from the file: within the file and the virtual size
    uint32_t characteristics = 0;  // kSection* and the rest, as stored
};

struct PeRelocation {
    uint32_t rva = 0;  // the field to adjust
    uint8_t type = 0;  // kRelocationHighLow, or another (IMAGE_REL_BASED_*) the loader may refuse
};

struct PeImportFunction {
    std::string name;      // the function's name, or "#n" for one imported by ordinal n
    uint32_t iat_rva = 0;  // the RVA of its import-address-table cell (4 bytes, inside the image)
};

struct PeImportDll {
    std::string dll;  // as stored, e.g. "KERNEL32.dll"
    std::vector<PeImportFunction> functions;
};

// The TLS directory as stored: addresses are virtual addresses for the
// preferred image base (each checked to lie inside the image, or 0).
struct PeTls {
    uint32_t raw_data_start = 0;  // the template, [start, end)
    uint32_t raw_data_end = 0;
    uint32_t index_address = 0;      // where the loader stores the module's TLS index (0: nowhere)
    uint32_t callbacks_address = 0;  // a null-terminated array of callback addresses (0: none)
    uint32_t zero_fill = 0;          // bytes of zeros after the template
    uint32_t characteristics = 0;    // bits 20-23: the block's alignment
};
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

    // An image the loader maps may span at most this much memory.
    static constexpr uint32_t kMaxImageSize = 256u << 20;
    // A TLS template and its zero fill may take at most this much each.
    static constexpr uint32_t kMaxTlsSize = 16u << 20;

    bool is_dll() const { return contents_.is_dll; }
    uint16_t machine() const { return contents_.machine; }
    // Exported names, in the file's order.
    const std::vector<std::string>& exports() const { return contents_.exports; }
    // Imported DLL names as stored (case kept).
    const std::vector<std::string>& imported_dlls() const { return contents_.imported_dlls; }
    const std::map<uint32_t, Bitmap>& bitmaps() const { return contents_.bitmaps; }

    // The headers: all checked on reading (a multiple of 64 KiB for the base,
    // sizes within kMaxImageSize, the entry point inside the image).
    uint16_t characteristics() const { return contents_.characteristics; }  // COFF
    uint32_t image_base() const { return contents_.image_base; }
    uint32_t size_of_image() const { return contents_.size_of_image; }
    uint32_t size_of_headers() const {
        return contents_.size_of_headers;
    }  // bytes of the file mapped at the image's start
    uint32_t section_alignment() const { return contents_.section_alignment; }
    uint32_t entry_point() const { return contents_.entry_point; }  // RVA; 0 for none
    // Sections in ascending, non-overlapping order, each inside the image
    // and after the headers.
    const std::vector<PeSection>& sections() const { return contents_.sections; }
    // Whether the file carries a base relocation directory (one may be empty).
    bool relocatable() const { return contents_.relocatable; }
    // Every base relocation but ABSOLUTE padding, each field inside the image.
    const std::vector<PeRelocation>& relocations() const { return contents_.relocations; }
    // Import descriptors, in the file's order.
    const std::vector<PeImportDll>& imports() const { return contents_.imports; }
    // Exported names and their RVAs (inside the image); names forwarded to
    // another DLL are left out.
    const std::map<std::string, uint32_t, std::less<>>& export_rvas() const { return contents_.export_rvas; }
    // Every ordinal the export address table fills (named or not) and its
    // RVA, forwarded ones left out.
    const std::map<uint16_t, uint32_t>& export_ordinals() const { return contents_.export_ordinals; }
    // Exports forwarded to another DLL, by name and by "#ordinal": the
    // forwarder as stored, "DLL.name" or "DLL.#ordinal" (DLL without ".dll").
    const std::map<std::string, std::string, std::less<>>& export_forwarders() const {
        return contents_.export_forwarders;
    }
    const std::optional<PeTls>& tls() const { return contents_.tls; }
    // The COFF symbol table as the header gives it, unchecked (Windows reads
    // neither field; a stripped image has 0 for both): the file offset of
    // its 18-byte records, their count, and the string table after them
    // that long section names ("/4") and symbol names point into.
    uint32_t symbol_table() const { return contents_.symbol_table; }
    uint32_t symbol_count() const { return contents_.symbol_count; }
    // The file's bytes.
    std::span<const uint8_t> file() const {
        return storage_ ? std::span<const uint8_t>(*storage_) : std::span<const uint8_t>();
    }

    // What parsing found, kept as one record.
    struct Contents {
        bool is_dll = false;
        uint16_t machine = 0;
        std::vector<std::string> exports;
        std::vector<std::string> imported_dlls;
        std::map<uint32_t, Bitmap> bitmaps;
        uint16_t characteristics = 0;
        uint32_t image_base = 0;
        uint32_t size_of_image = 0;
        uint32_t size_of_headers = 0;
        uint32_t section_alignment = 0;
        uint32_t entry_point = 0;
        std::vector<PeSection> sections;
        bool relocatable = false;
        std::vector<PeRelocation> relocations;
        std::vector<PeImportDll> imports;
        std::map<std::string, uint32_t, std::less<>> export_rvas;
        std::map<uint16_t, uint32_t> export_ordinals;
        std::map<std::string, std::string, std::less<>> export_forwarders;
        std::optional<PeTls> tls;
        uint32_t symbol_table = 0;
        uint32_t symbol_count = 0;
    };

private:
    Contents contents_;
    std::shared_ptr<const std::vector<uint8_t>> storage_;
};

}  // namespace emulator
