#include "host/pe_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <set>

namespace bench {
namespace {

// Sizes and offsets of the PE/COFF structures read here.
constexpr size_t kDosHeaderSize = 64;
constexpr size_t kDosLfanewOffset = 0x3C;
constexpr size_t kCoffHeaderSize = 20;
constexpr size_t kOptionalHeaderFixedSize = 96;  // PE32 fields before the data directories
constexpr uint16_t kPe32Magic = 0x10B;
constexpr uint16_t kDllCharacteristic = 0x2000;
constexpr size_t kSectionHeaderSize = 40;
constexpr uint32_t kMaxSections = 96;
constexpr uint32_t kMaxDataDirectories = 16;
constexpr uint32_t kExportDirectory = 0;
constexpr uint32_t kImportDirectory = 1;
constexpr uint32_t kResourceDirectory = 2;
constexpr size_t kExportDirectorySize = 40;
constexpr size_t kImportDescriptorSize = 20;
constexpr uint32_t kMaxImports = 4096;
constexpr uint32_t kMaxExports = 65536;
constexpr size_t kMaxNameLength = 4096;
constexpr size_t kResourceDirectorySize = 16;
constexpr size_t kResourceEntrySize = 8;
constexpr size_t kResourceDataEntrySize = 16;
constexpr uint32_t kResourceHighBit = 0x80000000u;
constexpr uint32_t kResourceTypeBitmap = 2;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kBitfieldsCompression = 3;
constexpr uint64_t kDecodedBytesPerPixel = 4;
constexpr size_t kMaxBitmaps = 1u << 16;  // resource ids are 16-bit

struct Section {
    uint32_t virtual_address = 0;
    uint32_t virtual_size = 0;
    uint64_t raw_offset = 0;
    uint64_t raw_size = 0;  // kept within the file
};

struct Parsed {
    bool is_dll = false;
    uint16_t machine = 0;
    std::vector<std::string> exports;
    std::vector<std::string> imported_dlls;
    std::map<uint32_t, Bitmap> bitmaps;
};

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
        read_resources();
        return std::move(out_);
    }

private:
    [[noreturn]] void fail(const std::string& what) const { throw PeError(name_ + ": " + what); }

    void need(uint64_t offset, uint64_t size, const char* what) const {
        if (offset > bytes_.size() || size > bytes_.size() - offset) fail(std::string("truncated ") + what);
    }

    uint16_t u16(uint64_t offset) const {
        need(offset, 2, "field");
        return static_cast<uint16_t>(bytes_[offset] | bytes_[offset + 1] << 8);
    }

    uint32_t u32(uint64_t offset) const {
        need(offset, 4, "field");
        return static_cast<uint32_t>(bytes_[offset]) | static_cast<uint32_t>(bytes_[offset + 1]) << 8 |
               static_cast<uint32_t>(bytes_[offset + 2]) << 16 | static_cast<uint32_t>(bytes_[offset + 3]) << 24;
    }

    void read_headers() {
        need(0, kDosHeaderSize, "DOS header");
        if (bytes_[0] != 'M' || bytes_[1] != 'Z') fail("no DOS signature");
        const uint64_t pe = u32(kDosLfanewOffset);
        need(pe, 4 + kCoffHeaderSize, "PE header");
        if (bytes_[pe] != 'P' || bytes_[pe + 1] != 'E' || bytes_[pe + 2] != 0 || bytes_[pe + 3] != 0)
            fail("no PE signature");
        const uint64_t coff = pe + 4;
        out_.machine = u16(coff);
        const uint32_t section_count = u16(coff + 2);
        const uint32_t optional_size = u16(coff + 16);
        out_.is_dll = (u16(coff + 18) & kDllCharacteristic) != 0;

        const uint64_t optional = coff + kCoffHeaderSize;
        if (optional_size < kOptionalHeaderFixedSize) fail("optional header too small");
        need(optional, optional_size, "optional header");
        if (u16(optional) != kPe32Magic) fail("not a PE32 image");
        size_of_headers_ = u32(optional + 60);
        const uint32_t directory_count = u32(optional + 92);
        if (directory_count > kMaxDataDirectories) fail("too many data directories");
        if (kOptionalHeaderFixedSize + 8ull * directory_count > optional_size)
            fail("data directories beyond the optional header");
        for (uint32_t i = 0; i < directory_count; ++i) {
            directories_[i][0] = u32(optional + kOptionalHeaderFixedSize + 8ull * i);
            directories_[i][1] = u32(optional + kOptionalHeaderFixedSize + 8ull * i + 4);
        }

        if (section_count > kMaxSections) fail("too many sections");
        const uint64_t table = optional + optional_size;
        need(table, kSectionHeaderSize * section_count, "section table");
        for (uint32_t i = 0; i < section_count; ++i) {
            const uint64_t header = table + kSectionHeaderSize * i;
            Section section;
            section.virtual_size = u32(header + 8);
            section.virtual_address = u32(header + 12);
            const uint64_t raw_size = u32(header + 16);
            section.raw_offset = u32(header + 20);
            if (raw_size != 0 && section.raw_offset >= bytes_.size()) fail("section data beyond the end of the file");
            // The last section's raw size is often rounded past the file's end.
            section.raw_size = raw_size == 0 ? 0 : std::min<uint64_t>(raw_size, bytes_.size() - section.raw_offset);
            // Bytes beyond the virtual size are padding, not part of the image.
            if (section.virtual_size != 0)
                section.raw_size = std::min<uint64_t>(section.raw_size, section.virtual_size);
            sections_.push_back(section);
        }
    }

    // The file offset of `size` bytes at `rva`, all inside one section's data
    // (or inside the headers).
    uint64_t map(uint64_t rva, uint64_t size, const char* what) const {
        if (rva + size <= size_of_headers_ && rva + size <= bytes_.size()) return rva;
        for (const Section& section : sections_) {
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
        for (const Section& section : sections_) {
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
        const auto [rva, size] = directory(kExportDirectory);
        if (rva == 0) return;
        const uint64_t directory = map(rva, kExportDirectorySize, "export directory");
        const uint32_t name_count = u32(directory + 24);
        const uint32_t names_rva = u32(directory + 32);
        if (name_count > kMaxExports) fail("too many exported names");
        if (name_count == 0) return;
        const uint64_t names = map(names_rva, 4ull * name_count, "export name table");
        for (uint32_t i = 0; i < name_count; ++i) out_.exports.push_back(name_at(u32(names + 4ull * i), "export name"));
        (void)size;
    }

    void read_imports() {
        const auto [rva, size] = directory(kImportDirectory);
        if (rva == 0) return;
        for (uint32_t i = 0;; ++i) {
            if (i == kMaxImports) fail("import directory without an end");
            const uint64_t descriptor =
                map(uint64_t{rva} + kImportDescriptorSize * i, kImportDescriptorSize, "import directory");
            bool empty = true;
            for (uint64_t field = 0; field < kImportDescriptorSize; field += 4)
                empty = empty && u32(descriptor + field) == 0;
            if (empty) return;
            const uint32_t name_rva = u32(descriptor + 12);
            if (name_rva == 0) fail("import without a DLL name");
            out_.imported_dlls.push_back(name_at(name_rva, "imported DLL name"));
        }
        (void)size;
    }

    struct ResourceEntry {
        uint32_t name = 0;    // the id, or a name offset with the high bit set
        uint32_t target = 0;  // a data entry, or a subdirectory with the high bit set
    };

    // The entries of the directory at `offset`. Well-formed directories do
    // not overlap, so all of them together hold no more entries than fit in
    // the file: a tree that claims more repeats itself (or loops), and reading
    // it whole would take time to the square of its size.
    std::vector<ResourceEntry> resource_directory(uint64_t base_rva, uint32_t offset) {
        const uint64_t directory = map(base_rva + offset, kResourceDirectorySize, "resource directory");
        const uint32_t count = uint32_t{u16(directory + 12)} + u16(directory + 14);
        const uint64_t entries =
            map(base_rva + offset + kResourceDirectorySize, kResourceEntrySize * count, "resource directory entries");
        if (count > entries_left_) fail("resource directories repeat or overlap");
        entries_left_ -= count;
        std::vector<ResourceEntry> result;
        result.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            result.push_back({u32(entries + kResourceEntrySize * i), u32(entries + kResourceEntrySize * i + 4)});
        }
        return result;
    }

    // The first entry of a bitmap's language directory: the one read.
    ResourceEntry first_language(uint64_t base_rva, uint32_t id, uint32_t offset) const {
        const uint64_t directory = map(base_rva + offset, kResourceDirectorySize, "resource directory");
        const uint32_t count = uint32_t{u16(directory + 12)} + u16(directory + 14);
        if (count == 0) fail("bitmap " + std::to_string(id) + " has no data");
        const uint64_t entries =
            map(base_rva + offset + kResourceDirectorySize, kResourceEntrySize * count, "resource directory entries");
        return {u32(entries), u32(entries + 4)};
    }

    void read_resources() {
        const auto [rva, size] = directory(kResourceDirectory);
        if (rva == 0) return;
        (void)size;
        entries_left_ = bytes_.size() / kResourceEntrySize;
        std::set<uint32_t> walked;  // bitmap directories already read
        uint64_t decoded = 0;
        for (const ResourceEntry& type : resource_directory(rva, 0)) {
            if (type.name != kResourceTypeBitmap) continue;
            if ((type.target & kResourceHighBit) == 0) fail("bitmap type entry is not a directory");
            if (!walked.insert(type.target & ~kResourceHighBit).second) continue;
            for (const ResourceEntry& item : resource_directory(rva, type.target & ~kResourceHighBit)) {
                if ((item.name & kResourceHighBit) != 0) continue;  // bitmaps are known by number only
                if ((item.target & kResourceHighBit) == 0) fail("bitmap entry is not a language directory");
                const ResourceEntry first = first_language(rva, item.name, item.target & ~kResourceHighBit);
                if ((first.target & kResourceHighBit) != 0) fail("bitmap language entry is a directory");
                const uint64_t entry = map(uint64_t{rva} + first.target, kResourceDataEntrySize, "resource data entry");
                const uint32_t data_rva = u32(entry);
                const uint32_t data_size = u32(entry + 4);
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
        if (size < 4) fail(what + ": no header");
        const uint32_t header_size = u32(data);
        if (header_size > size) fail(what + ": header larger than the resource");
        Bitmap bitmap;
        int64_t width = 0;
        int64_t height = 0;
        uint32_t colours_used = 0;
        if (header_size == kCoreHeaderSize) {
            width = u16(data + 4);
            height = u16(data + 6);
            bitmap.bits_per_pixel = u16(data + 10);
        } else if (header_size >= kInfoHeaderSize) {
            width = static_cast<int32_t>(u32(data + 4));
            height = static_cast<int32_t>(u32(data + 8));
            bitmap.bits_per_pixel = u16(data + 14);
            bitmap.compression = u32(data + 16);
            colours_used = u32(data + 32);
        } else {
            fail(what + ": unknown header size " + std::to_string(header_size));
        }
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
        const uint64_t entry_size = header_size == kCoreHeaderSize ? 3 : 4;
        uint64_t pixel_offset = header_size + entry_size * bitmap.palette_entries;
        if (header_size == kInfoHeaderSize && bitmap.compression == kBitfieldsCompression) pixel_offset += 12;
        if (pixel_offset > size) fail(what + ": colour table beyond the resource");
        if (bitmap.compression == 0) {
            const uint64_t stride = (uint64_t{bitmap.width} * bpp + 31) / 32 * 4;
            if (stride * bitmap.height > size - pixel_offset) fail(what + ": pixels beyond the resource");
        }
        bitmap.pixel_offset = static_cast<uint32_t>(pixel_offset);
        bitmap.set_dib(storage_, static_cast<size_t>(data), size);
        return bitmap;
    }

    std::pair<uint32_t, uint32_t> directory(uint32_t index) const {
        return {directories_[index][0], directories_[index][1]};
    }

    std::shared_ptr<const std::vector<uint8_t>> storage_;
    const std::vector<uint8_t>& bytes_;
    const std::string& name_;
    uint64_t entries_left_ = 0;  // resource directory entries still to be read
    uint64_t name_bytes_left_ = bytes_.size();
    uint64_t size_of_headers_ = 0;
    uint32_t directories_[kMaxDataDirectories][2] = {};
    std::vector<Section> sections_;
    Parsed out_;
};

}  // namespace

void Bitmap::set_dib(std::vector<uint8_t> bytes) {
    size_ = bytes.size();
    offset_ = 0;
    storage_ = std::make_shared<const std::vector<uint8_t>>(std::move(bytes));
}

void Bitmap::set_dib(std::shared_ptr<const std::vector<uint8_t>> storage, size_t offset, size_t size) {
    if (storage == nullptr || offset > storage->size() || size > storage->size() - offset)
        throw std::out_of_range("Bitmap::set_dib: bytes beyond the storage");
    storage_ = std::move(storage);
    offset_ = offset;
    size_ = size;
}

PeImage PeImage::read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) throw PeError(path + ": cannot be read");
    file.seekg(0, std::ios::end);
    const std::streamoff length = file.tellg();
    if (length < 0) throw PeError(path + ": cannot be read");
    if (static_cast<uint64_t>(length) > kMaxFileSize) throw PeError(path + ": too large for a gauge module");
    file.seekg(0, std::ios::beg);
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(static_cast<size_t>(length));
    } catch (const std::bad_alloc&) {
        throw PeError(path + ": more than the memory at hand to read");
    }
    if (!bytes.empty() && !file.read(reinterpret_cast<char*>(bytes.data()), length))
        throw PeError(path + ": cannot be read");
    return parse(std::move(bytes), path);
}

PeImage PeImage::parse(std::vector<uint8_t> bytes, const std::string& name) {
    Parsed parsed;
    try {
        parsed = Parser(std::make_shared<const std::vector<uint8_t>>(std::move(bytes)), name).run();
    } catch (const std::bad_alloc&) {
        throw PeError(name + ": more than the memory at hand to read");
    }
    PeImage image;
    image.is_dll_ = parsed.is_dll;
    image.machine_ = parsed.machine;
    image.exports_ = std::move(parsed.exports);
    image.imported_dlls_ = std::move(parsed.imported_dlls);
    image.bitmaps_ = std::move(parsed.bitmaps);
    return image;
}

}  // namespace bench
