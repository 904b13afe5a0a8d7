#include "emulator/pe/pe_image.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <new>
#include <set>

#include "emulator/machine/guest_memory.h"
#include "emulator/pe/pe_format.h"
#include "frame/bitmap_format.h"
#include "platform/input_file.h"

namespace emulator {
namespace {

namespace bmp = frame::bmp;

constexpr uint32_t kMaxSections = 96;
constexpr uint32_t kMaxImports = 4096;
constexpr uint32_t kMaxExports = 65536;
constexpr size_t kMaxNameLength = 4096;
constexpr uint64_t kDecodedBytesPerPixel = 4;
constexpr size_t kMaxBitmaps = 1u << 16;  // resource ids are 16-bit

constexpr uint32_t kMaxImportedFunctions = 65536;
constexpr uint32_t kImageBaseGranularity = 0x10000;

bool power_of_two(uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

using Parsed = PeImage::Contents;

// Every read goes through checked offsets; 64-bit arithmetic keeps sums of
// 32-bit fields from wrapping.
class Parser {
public:
    Parser(std::shared_ptr<const std::vector<uint8_t>> storage, const std::string& name)
        : storage_(std::move(storage)), bytes_(*storage_), name_(name) {}

    Parsed run() {
        read_headers();
        read_exports();
        read_imports();
        read_relocations();
        read_tls();
        read_resources();
        return std::move(out_);
    }

private:
    [[noreturn]] void fail(const std::string& what) const { throw PeError(name_ + ": " + what); }

    void need(uint64_t offset, uint64_t size, const char* what) const {
        if (offset > bytes_.size() || size > bytes_.size() - offset) fail(std::string("truncated ") + what);
    }

    // The structure (or number) at `offset`, checked to lie in the file.
    template <typename T>
    T at(uint64_t offset, const char* what = "field") const {
        need(offset, sizeof(T), what);
        return pe::read_struct<T>(bytes_, static_cast<size_t>(offset));
    }
    uint16_t u16(uint64_t offset) const { return at<uint16_t>(offset); }
    uint32_t u32(uint64_t offset) const { return at<uint32_t>(offset); }

    // Whether `size` bytes at `rva` lie inside the image.
    bool in_image(uint64_t rva, uint64_t size) const { return rva + size <= out_.size_of_image; }

    // The headers in file order, each check relying on the fields the
    // checks before it proved: one piece reads as the format does.
    void read_headers() {
        const FileHeader file = read_file_header();
        const uint64_t optional_offset = file.header_offset + sizeof(pe::PeHeader);
        const uint32_t file_alignment = read_optional_header(optional_offset, file.optional_size);
        check_image_layout(file_alignment);
        read_section_table(optional_offset + file.optional_size, file.section_count);
    }

    struct FileHeader {
        uint64_t header_offset = 0;
        uint32_t section_count = 0;
        uint32_t optional_size = 0;
    };

    FileHeader read_file_header() {
        const auto dos = at<pe::DosHeader>(0, "DOS header");
        if (dos.magic != pe::kDosMagic) fail("no DOS signature");
        const uint64_t header_offset = dos.pe_header_offset;
        const auto header = at<pe::PeHeader>(header_offset, "PE header");
        if (header.signature != pe::kPeSignature) fail("no PE signature");
        out_.machine = header.machine;
        out_.characteristics = header.characteristics;
        out_.symbol_table = header.symbol_table;
        out_.symbol_count = header.symbol_count;
        out_.is_dll = (out_.characteristics & pe::kDll) != 0;
        return {header_offset, header.section_count, header.optional_header_size};
    }

    // The optional header and its data directories; the file alignment,
    // which only the layout's check needs.
    uint32_t read_optional_header(uint64_t optional_offset, uint32_t optional_size) {
        if (optional_size < sizeof(pe::OptionalHeader32)) fail("optional header too small");
        need(optional_offset, optional_size, "optional header");
        const auto optional = at<pe::OptionalHeader32>(optional_offset);
        if (optional.magic != pe::kPe32Magic) fail("not a PE32 image");
        out_.entry_point = optional.entry_point;
        out_.image_base = optional.image_base;
        out_.section_alignment = optional.section_alignment;
        const uint32_t file_alignment = optional.file_alignment;
        out_.size_of_image = optional.size_of_image;
        out_.size_of_headers = optional.size_of_headers;
        size_of_headers_ = out_.size_of_headers;
        const uint32_t directory_count = optional.directory_count;
        if (directory_count > pe::kDataDirectoryCount) fail("too many data directories");
        const uint64_t directories = optional_offset + sizeof(pe::OptionalHeader32);
        if (sizeof(pe::OptionalHeader32) + sizeof(pe::DataDirectory) * directory_count > optional_size)
            fail("data directories beyond the optional header");
        for (uint32_t i = 0; i < directory_count; ++i)
            directories_[i] = at<pe::DataDirectory>(directories + sizeof(pe::DataDirectory) * i);
        return file_alignment;
    }

    void check_image_layout(uint32_t file_alignment) {
        if (out_.image_base % kImageBaseGranularity != 0)
            fail("image base " + hex(out_.image_base) + " is not a multiple of 64 KiB");
        if (!power_of_two(out_.section_alignment) || !power_of_two(file_alignment) ||
            file_alignment > out_.section_alignment) {
            fail("section alignment " + hex(out_.section_alignment) + " and file alignment " + hex(file_alignment) +
                 ": expected powers of two, the file's no larger");
        }
        if (out_.size_of_image == 0 || out_.size_of_image > PeImage::kMaxImageSize) {
            fail("size of image " + hex(out_.size_of_image) + ": expected 1 byte to " +
                 std::to_string(PeImage::kMaxImageSize >> 20) + " MiB");
        }
        if (uint64_t{out_.image_base} + out_.size_of_image > (uint64_t{1} << 32))
            fail("image at " + hex(out_.image_base) + " runs past 4 GiB");
        if (out_.size_of_headers > out_.size_of_image) fail("headers larger than the image");
        if (out_.entry_point != 0 && !in_image(out_.entry_point, 1))
            fail("entry point " + hex(out_.entry_point) + " outside the image");
    }

    void read_section_table(uint64_t table, uint32_t section_count) {
        if (section_count > kMaxSections) fail("too many sections");
        need(table, sizeof(pe::SectionHeader) * section_count, "section table");
        if (table + sizeof(pe::SectionHeader) * section_count > out_.size_of_headers)
            fail("section table outside the headers (" + std::to_string(out_.size_of_headers) + " bytes)");
        uint64_t previous_end = out_.size_of_headers;
        std::string previous = "the headers";
        for (uint32_t i = 0; i < section_count; ++i) {
            const auto header = at<pe::SectionHeader>(table + sizeof(pe::SectionHeader) * i);
            PeSection section;
            section.name.assign(header.name, strnlen(header.name, sizeof header.name));
            for (char& c : section.name) {
                if (c < 0x20 || c > 0x7E) c = '?';  // names appear in messages
            }
            const uint32_t stored_virtual_size = header.virtual_size;
            section.virtual_address = header.virtual_address;
            const uint64_t raw_size = header.raw_size;
            section.raw_offset = header.raw_offset;
            section.characteristics = header.characteristics;
            if (raw_size != 0 && section.raw_offset >= bytes_.size())
                fail("section " + section.name + ": data beyond the end of the file");
            // Where the virtual size is 0 the raw size is the section's size.
            section.virtual_size = stored_virtual_size != 0 ? stored_virtual_size : static_cast<uint32_t>(raw_size);
            // The last section's raw size is often rounded past the file's end;
            // bytes beyond the virtual size are padding, not part of the image.
            uint64_t kept = raw_size == 0 ? 0 : std::min<uint64_t>(raw_size, bytes_.size() - section.raw_offset);
            kept = std::min<uint64_t>(kept, section.virtual_size);
            section.raw_size = static_cast<uint32_t>(kept);
            const std::string what = "section " + section.name + " at RVA " + hex(section.virtual_address);
            // Windows maps sections at whole multiples of the alignment and refuses any other image.
            if (section.virtual_address % out_.section_alignment != 0)
                fail(what + " is not a multiple of the section alignment " + hex(out_.section_alignment));
            if (!in_image(section.virtual_address, section.virtual_size)) fail(what + " lies outside the image");
            if (section.virtual_address < previous_end) fail(what + " overlaps " + previous);
            previous_end = uint64_t{section.virtual_address} + section.virtual_size;
            previous = "section " + section.name;
            out_.sections.push_back(section);
        }
    }

    // The file offset of `size` bytes at `rva`, all inside one section's data
    // (or inside the headers).
    uint64_t map(uint64_t rva, uint64_t size, const char* what) const {
        if (rva + size <= size_of_headers_ && rva + size <= bytes_.size()) return rva;
        for (const PeSection& section : out_.sections) {
            if (rva < section.virtual_address) continue;
            const uint64_t within = rva - section.virtual_address;
            if (within < section.raw_size && size <= section.raw_size - within) return section.raw_offset + within;
        }
        fail(std::string(what) + " outside the file's sections");
    }

    // Where `rva` lies in the file and how many bytes from there belong to
    // the same section (or to the headers); none when it lies nowhere.
    std::pair<uint64_t, uint64_t> region_at(uint64_t rva) const {
        const uint64_t headers = std::min<uint64_t>(size_of_headers_, bytes_.size());
        if (rva < headers) return {rva, headers - rva};
        for (const PeSection& section : out_.sections) {
            if (rva < section.virtual_address) continue;
            const uint64_t within = rva - section.virtual_address;
            if (within < section.raw_size) return {section.raw_offset + within, section.raw_size - within};
        }
        return {0, 0};
    }

    // A NUL-terminated name at `rva`, which must end inside its section. The
    // names of a well-formed file do not overlap, so together they hold no
    // more bytes than the file: a table naming one long name again and
    // again would otherwise make the host hold it that many times.
    std::string name_at(uint64_t rva, const char* what) {
        const auto [start, available] = region_at(rva);
        if (available == 0) fail(std::string(what) + " outside the file's sections");
        const auto* first = &bytes_[start];
        const uint64_t limit = std::min<uint64_t>(available, kMaxNameLength);
        const auto* end = static_cast<const uint8_t*>(std::memchr(first, 0, static_cast<size_t>(limit)));
        if (end == nullptr) {
            fail(std::string(what) + (available > kMaxNameLength ? " too long" : " runs off its section"));
        }
        const auto length = static_cast<size_t>(end - first);
        if (length > name_bytes_left_) fail(std::string(what) + "s repeat or overlap");
        name_bytes_left_ -= length;
        return std::string(reinterpret_cast<const char*>(first), length);
    }

    void read_exports() {
        const auto [rva, size] = directory(pe::kExportDirectory);
        if (rva == 0) return;
        const auto directory = at<pe::ExportDirectory>(map(rva, sizeof(pe::ExportDirectory), "export directory"));
        const uint32_t function_count = directory.function_count;
        const uint32_t name_count = directory.name_count;
        const uint32_t functions_rva = directory.functions;
        const uint32_t names_rva = directory.names;
        const uint32_t ordinals_rva = directory.ordinals;
        if (name_count > kMaxExports) fail("too many exported names");
        if (function_count > kMaxExports) fail("too many exported functions");
        const uint64_t functions =
            function_count == 0 ? 0 : map(functions_rva, 4ull * function_count, "export address table");
        // An address inside the export directory names another DLL's
        // function ("DLL.name" or "DLL.#ordinal"), read once whether a name
        // or the ordinal leads there.
        std::map<uint32_t, std::string> forwarders;
        // (The bounds as variables of their own: a lambda may not capture a
        // structured binding before C++20, which clang 14 does not take.)
        const uint32_t directory_start = rva;
        const uint64_t directory_end = uint64_t{rva} + size;
        const auto forwarder = [&](uint32_t index, uint32_t function) -> const std::string* {
            if (function < directory_start || function >= directory_end) return nullptr;
            auto found = forwarders.find(index);
            if (found == forwarders.end())
                found = forwarders.emplace(index, name_at(function, "export forwarder")).first;
            return &found->second;
        };
        if (name_count != 0) {
            const uint64_t names = map(names_rva, 4ull * name_count, "export name table");
            for (uint32_t i = 0; i < name_count; ++i)
                out_.exports.push_back(name_at(u32(names + 4ull * i), "export name"));
            const uint64_t ordinals = map(ordinals_rva, 2ull * name_count, "export ordinal table");
            for (uint32_t i = 0; i < name_count; ++i) {
                const std::string& name = out_.exports[i];
                const uint32_t index = u16(ordinals + 2ull * i);
                if (index >= function_count) {
                    fail("export " + name + ": entry " + std::to_string(index) + " of an export address table of " +
                         std::to_string(function_count));
                }
                const uint32_t function = u32(functions + 4ull * index);
                if (const std::string* target = forwarder(index, function)) {
                    out_.export_forwarders.emplace(name, *target);
                    continue;
                }
                if (!in_image(function, 1)) fail("export " + name + " at RVA " + hex(function) + " outside the image");
                out_.export_rvas.emplace(name, function);
            }
        }
        // By ordinal: every entry of the address table, named or not (0: an
        // ordinal left unused).
        for (uint32_t index = 0; index < function_count; ++index) {
            const uint32_t function = u32(functions + 4ull * index);
            if (function == 0) continue;
            const uint64_t ordinal = uint64_t{directory.ordinal_base} + index;
            if (ordinal > 0xFFFF) fail("export ordinal " + std::to_string(ordinal) + " beyond 16 bits");
            const std::string key = "#" + std::to_string(ordinal);
            if (const std::string* target = forwarder(index, function)) {
                out_.export_forwarders.emplace(key, *target);
                continue;
            }
            if (!in_image(function, 1))
                fail("export ordinal " + key.substr(1) + " at RVA " + hex(function) + " outside the image");
            out_.export_ordinals.emplace(static_cast<uint16_t>(ordinal), function);
        }
    }

    void read_imports() {
        const auto [rva, size] = directory(pe::kImportDirectory);
        if (rva == 0) return;
        uint32_t functions = 0;
        for (uint32_t i = 0;; ++i) {
            if (i == kMaxImports) fail("import directory without an end");
            const auto descriptor = at<pe::ImportDescriptor>(map(uint64_t{rva} + sizeof(pe::ImportDescriptor) * i,
                                                                 sizeof(pe::ImportDescriptor), "import directory"));
            constexpr pe::ImportDescriptor kEnd{};
            if (std::memcmp(&descriptor, &kEnd, sizeof kEnd) == 0) return;
            const uint32_t name_rva = descriptor.name;
            if (name_rva == 0) fail("import without a DLL name");
            PeImportDll dll;
            dll.dll = name_at(name_rva, "imported DLL name");
            out_.imported_dlls.push_back(dll.dll);
            const uint32_t address_table = descriptor.address_table;
            if (address_table == 0) fail("import of " + dll.dll + " without an import address table");
            // The lookup table names the functions; old linkers leave it out
            // and name them in the address table itself.
            const uint32_t lookup_table = descriptor.lookup_table != 0 ? descriptor.lookup_table : address_table;
            for (uint32_t j = 0;; ++j) {
                const uint64_t thunk_rva = uint64_t{lookup_table} + 4ull * j;
                const uint32_t thunk = u32(map(thunk_rva, 4, "import lookup table"));
                if (thunk == 0) break;
                if (++functions > kMaxImportedFunctions) fail("too many imported functions");
                PeImportFunction function;
                const uint64_t cell = uint64_t{address_table} + 4ull * j;
                if (!in_image(cell, 4)) fail("import address table of " + dll.dll + " outside the image");
                function.iat_rva = static_cast<uint32_t>(cell);
                if ((thunk & pe::kImportByOrdinal) != 0) {
                    if ((thunk & ~pe::kImportByOrdinal) > 0xFFFF)
                        fail("import from " + dll.dll + " by an ordinal beyond 16 bits: " + hex(thunk));
                    function.name = std::to_string(thunk & 0xFFFF);
                    function.name.insert(0, 1, '#');
                } else {
                    map(thunk, 2, "imported function hint");
                    function.name = name_at(uint64_t{thunk} + 2, "imported function name");
                }
                dll.functions.push_back(std::move(function));
            }
            out_.imports.push_back(std::move(dll));
        }
        (void)size;
    }

    void read_relocations() {
        const auto [rva, size] = directory(pe::kRelocationDirectory);
        if (rva == 0) return;
        out_.relocatable = true;
        if (size == 0) return;
        const uint64_t table = map(rva, size, "base relocation directory");
        uint64_t offset = 0;
        while (size - offset >= sizeof(pe::RelocationBlock)) {
            const auto header = at<pe::RelocationBlock>(table + offset);
            const uint32_t page = header.page;
            const uint32_t block = header.block_size;
            if (page == 0 && block == 0) break;  // padding to the directory's end
            if (block < sizeof(pe::RelocationBlock) || block % 2 != 0 || block > size - offset) {
                fail("base relocation block for RVA " + hex(page) + " of " + std::to_string(block) +
                     " bytes: expected an even size of 8 bytes or more, within the directory");
            }
            for (uint64_t entry = sizeof(pe::RelocationBlock); entry < block; entry += 2) {
                const uint16_t value = u16(table + offset + entry);
                const uint8_t type = static_cast<uint8_t>(value >> 12);
                if (type == 0) continue;  // ABSOLUTE: padding
                const uint64_t field = uint64_t{page} + (value & 0xFFF);
                if (!in_image(field, type == pe::kRelocationHighLow ? 4 : 2))
                    fail("base relocation of RVA " + hex(field) + " outside the image");
                out_.relocations.push_back({static_cast<uint32_t>(field), type});
            }
            offset += block;
        }
    }

    // `size` bytes at virtual address `va` (for the preferred base) inside the image.
    bool va_in_image(uint32_t va, uint64_t size) const {
        return va >= out_.image_base && in_image(uint64_t{va} - out_.image_base, size);
    }

    void read_tls() {
        const auto [rva, size] = directory(pe::kTlsDirectory);
        if (rva == 0) return;
        (void)size;
        const auto directory = at<pe::TlsDirectory32>(map(rva, sizeof(pe::TlsDirectory32), "TLS directory"));
        PeTls tls;
        tls.raw_data_start = directory.raw_data_start;
        tls.raw_data_end = directory.raw_data_end;
        tls.index_address = directory.index_address;
        tls.callbacks_address = directory.callbacks_address;
        tls.zero_fill = directory.zero_fill;
        tls.characteristics = directory.characteristics;
        if (tls.raw_data_start != 0 || tls.raw_data_end != 0) {
            if (tls.raw_data_end < tls.raw_data_start ||
                !va_in_image(tls.raw_data_start, tls.raw_data_end - tls.raw_data_start)) {
                fail("TLS template " + hex(tls.raw_data_start) + " to " + hex(tls.raw_data_end) + " outside the image");
            }
            if (tls.raw_data_end - tls.raw_data_start > PeImage::kMaxTlsSize) fail("TLS template too large");
        }
        if (tls.zero_fill > PeImage::kMaxTlsSize) fail("TLS zero fill too large");
        if (tls.index_address != 0 && !va_in_image(tls.index_address, 4))
            fail("TLS index at " + hex(tls.index_address) + " outside the image");
        if (tls.callbacks_address != 0 && !va_in_image(tls.callbacks_address, 4))
            fail("TLS callbacks at " + hex(tls.callbacks_address) + " outside the image");
        if (((tls.characteristics >> 20) & 0xF) == 0xF) fail("TLS alignment field of 15: undefined");
        out_.tls = tls;
    }

    // The entries of the directory at `offset`. Well-formed directories do
    // not overlap, so all of them together hold no more entries than fit in
    // the file: a tree that claims more repeats itself (or loops), and reading
    // it whole would take time to the square of its size.
    std::vector<pe::ResourceEntry> resource_directory(uint64_t base_rva, uint32_t offset) {
        const auto [entries, count] = resource_entries(base_rva, offset);
        if (count > entries_left_) fail("resource directories repeat or overlap");
        entries_left_ -= count;
        std::vector<pe::ResourceEntry> result;
        result.reserve(count);
        for (uint32_t i = 0; i < count; ++i)
            result.push_back(at<pe::ResourceEntry>(entries + sizeof(pe::ResourceEntry) * i));
        return result;
    }

    // Where the entries of the directory at `offset` lie in the file, and how many there are.
    std::pair<uint64_t, uint32_t> resource_entries(uint64_t base_rva, uint32_t offset) const {
        const auto directory =
            at<pe::ResourceDirectory>(map(base_rva + offset, sizeof(pe::ResourceDirectory), "resource directory"));
        const uint32_t count = uint32_t{directory.named_entries} + directory.id_entries;
        return {map(base_rva + offset + sizeof(pe::ResourceDirectory), sizeof(pe::ResourceEntry) * count,
                    "resource directory entries"),
                count};
    }

    // The first entry of a bitmap's language directory: the one read.
    pe::ResourceEntry first_language(uint64_t base_rva, uint32_t id, uint32_t offset) const {
        const auto directory =
            at<pe::ResourceDirectory>(map(base_rva + offset, sizeof(pe::ResourceDirectory), "resource directory"));
        if (directory.named_entries == 0 && directory.id_entries == 0)
            fail("bitmap " + std::to_string(id) + " has no data");
        return at<pe::ResourceEntry>(resource_entries(base_rva, offset).first);
    }

    void read_resources() {
        const auto [rva, size] = directory(pe::kResourceDirectory);
        if (rva == 0) return;
        (void)size;
        entries_left_ = bytes_.size() / sizeof(pe::ResourceEntry);
        std::set<uint32_t> walked;  // bitmap directories already read
        uint64_t decoded = 0;
        for (const pe::ResourceEntry& type : resource_directory(rva, 0)) {
            if (type.name != pe::kResourceTypeBitmap) continue;
            if ((type.target & pe::kResourceSubdirectory) == 0) fail("bitmap type entry is not a directory");
            if (!walked.insert(type.target & ~pe::kResourceSubdirectory).second) continue;
            for (const pe::ResourceEntry& item : resource_directory(rva, type.target & ~pe::kResourceSubdirectory)) {
                if ((item.name & pe::kResourceNamed) != 0) continue;  // bitmaps are known by number only
                if ((item.target & pe::kResourceSubdirectory) == 0) fail("bitmap entry is not a language directory");
                const pe::ResourceEntry first = first_language(rva, item.name, item.target & ~pe::kResourceSubdirectory);
                if ((first.target & pe::kResourceSubdirectory) != 0) fail("bitmap language entry is a directory");
                const auto entry = at<pe::ResourceDataEntry>(
                    map(uint64_t{rva} + first.target, sizeof(pe::ResourceDataEntry), "resource data entry"));
                const uint32_t data_rva = entry.data_rva;
                const uint32_t data_size = entry.size;
                const uint64_t data = map(data_rva, data_size, "bitmap data");
                if (out_.bitmaps.count(item.name) != 0) continue;
                if (out_.bitmaps.size() == kMaxBitmaps) fail("more than " + std::to_string(kMaxBitmaps) + " bitmaps");
                Bitmap bitmap = read_bitmap(item.name, data, data_size);
                decoded += kDecodedBytesPerPixel * bitmap.width * bitmap.height;
                if (decoded > PeImage::kMaxDecodedBytes) {
                    fail("bitmap " + std::to_string(item.name) + " takes the bitmaps past " +
                         std::to_string(PeImage::kMaxDecodedBytes >> 20) + " MiB decoded, more than the host decodes");
                }
                out_.bitmaps.emplace(item.name, std::move(bitmap));
            }
        }
    }

    Bitmap read_bitmap(uint32_t id, uint64_t data, uint32_t size) const {
        const std::string what = "bitmap " + std::to_string(id);
        std::string why;
        const std::optional<bmp::DibHeader> header =
            bmp::read_dib_header(std::span(bytes_).subspan(static_cast<size_t>(data), size), why);
        if (!header) fail(what + ": " + why);
        Bitmap bitmap;
        const int64_t width = header->width;
        int64_t height = header->height;
        bitmap.bits_per_pixel = header->bits_per_pixel;
        bitmap.compression = header->compression;
        const uint32_t colours_used = header->colours_used;
        if (width <= 0 || width > kMaxDrawableExtent) fail(what + ": bad width");
        bitmap.top_down = height < 0;
        height = height < 0 ? -height : height;
        if (height == 0 || height > kMaxDrawableExtent) fail(what + ": bad height");
        bitmap.width = static_cast<uint32_t>(width);
        bitmap.height = static_cast<uint32_t>(height);
        if (uint64_t{bitmap.width} * bitmap.height > kMaxDrawablePixels) {
            fail(what + ": " + std::to_string(width) + " x " + std::to_string(height) + " pixels, more than the " +
                 std::to_string(kMaxDrawablePixels) + " the host decodes");
        }

        const uint16_t bpp = bitmap.bits_per_pixel;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32)
            fail(what + ": bad bit count " + std::to_string(bpp));
        if (colours_used > 256) fail(what + ": colour table too large");
        bitmap.palette_entries = colours_used != 0 ? colours_used : (bpp <= 8 ? 1u << bpp : 0u);
        uint64_t pixel_offset = header->palette_offset() + header->palette_entry_bytes() * bitmap.palette_entries;
        if (header->size == sizeof(bmp::InfoHeader) && bitmap.compression == bmp::kBitfields)
            pixel_offset += bmp::kBitfieldMasksBytes;
        if (pixel_offset > size) fail(what + ": colour table beyond the resource");
        if (bitmap.compression == 0) {
            const uint64_t stride = bmp::row_bytes(bitmap.width, bpp);
            if (stride * bitmap.height > size - pixel_offset) fail(what + ": pixels beyond the resource");
        }
        bitmap.pixel_offset = static_cast<uint32_t>(pixel_offset);
        bitmap.set_dib(storage_, static_cast<size_t>(data), size);
        return bitmap;
    }

    std::pair<uint32_t, uint32_t> directory(uint32_t index) const {
        return {directories_[index].rva, directories_[index].size};
    }

    std::shared_ptr<const std::vector<uint8_t>> storage_;
    const std::vector<uint8_t>& bytes_;
    const std::string& name_;
    uint64_t entries_left_ = 0;  // resource directory entries still to be read
    uint64_t name_bytes_left_ = bytes_.size();
    uint64_t size_of_headers_ = 0;
    pe::DataDirectory directories_[pe::kDataDirectoryCount] = {};
    Parsed out_;
};

}  // namespace

PeImage PeImage::read_file(const std::string& path) {
    std::string text;
    try {
        text = platform::read_input_file(path, kMaxFileSize);
    } catch (const platform::InputFileError& error) {
        throw PeError(path + ": " + error.what());
    } catch (const std::bad_alloc&) {
        throw PeError(path + ": more than the memory at hand to read");
    }
    std::vector<uint8_t> bytes;
    try {
        bytes.assign(text.begin(), text.end());
    } catch (const std::bad_alloc&) {
        throw PeError(path + ": more than the memory at hand to read");
    }
    text = std::string();
    return parse(std::move(bytes), path);
}

PeImage PeImage::parse(std::vector<uint8_t> bytes, const std::string& name) {
    Parsed parsed;
    std::shared_ptr<const std::vector<uint8_t>> storage;
    try {
        storage = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
        parsed = Parser(storage, name).run();
    } catch (const std::bad_alloc&) {
        throw PeError(name + ": more than the memory at hand to read");
    }
    PeImage image;
    image.contents_ = std::move(parsed);
    image.storage_ = std::move(storage);
    return image;
}

}  // namespace emulator
