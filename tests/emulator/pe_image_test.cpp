// The PE reader: a small well-formed DLL image built here reads back with its
// exports, imports and bitmaps; every damaged variant of it gives PeError
// naming the file (under the sanitizers: without a read outside the buffer).
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "emulator/pe/pe_image.h"

namespace {

using emulator::PeError;
using emulator::PeImage;

constexpr uint32_t kSectionRva = 0x1000;
constexpr uint32_t kSectionFileOffset = 0x200;
constexpr uint32_t kPeOffset = 0x40;
constexpr uint32_t kCoffOffset = kPeOffset + 4;
constexpr uint32_t kOptionalOffset = kCoffOffset + 20;
constexpr uint32_t kOptionalSize = 96 + 16 * 8;
constexpr uint32_t kSectionTableOffset = kOptionalOffset + kOptionalSize;

// A DLL with one section holding, in order: the export directory, the import
// directory, the resource tree with bitmaps 100 (4 x 3, bottom-up, full
// palette) and 101 (2 x 2, top-down, two colours), and bitmap 100's pixels
// last, so that the file ends with bytes the reader needs.
struct TestImage {
    std::vector<uint8_t> bytes;
    // File offsets of the parts the damage cases aim at.
    uint32_t export_directory = 0;
    uint32_t export_names = 0;
    uint32_t import_directory = 0;
    uint32_t import_address_tables[2] = {};
    uint32_t resource_root = 0;
    uint32_t bitmap_type_directory = 0;
    uint32_t bitmap_100_languages = 0;
    uint32_t bitmap_100_data_entry = 0;
    uint32_t bitmap_101 = 0;
    uint32_t bitmap_100 = 0;

    void put16(uint32_t offset, uint16_t value) {
        grow(offset + 2);
        bytes[offset] = static_cast<uint8_t>(value);
        bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    }
    void put32(uint32_t offset, uint32_t value) {
        grow(offset + 4);
        for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    void put_string(uint32_t offset, const std::string& text) {
        grow(offset + static_cast<uint32_t>(text.size()) + 1);
        std::memcpy(&bytes[offset], text.c_str(), text.size() + 1);
    }
    void grow(uint32_t size) {
        if (bytes.size() < size) bytes.resize(size);
    }
    uint32_t end() const { return static_cast<uint32_t>(bytes.size()); }
    static uint32_t rva(uint32_t file_offset) { return file_offset - kSectionFileOffset + kSectionRva; }
    uint32_t align4() {
        grow((end() + 3) & ~3u);
        return end();
    }
};

TestImage build_image() {
    TestImage image;
    image.grow(kSectionFileOffset);
    image.bytes[0] = 'M';
    image.bytes[1] = 'Z';
    image.put32(0x3C, kPeOffset);
    image.put_string(kPeOffset, "PE");
    image.put16(kCoffOffset, emulator::pe::kMachineI386);
    image.put16(kCoffOffset + 2, 1);
    image.put16(kCoffOffset + 16, kOptionalSize);
    image.put16(kCoffOffset + 18, 0x2102);  // executable, 32-bit, DLL
    image.put16(kOptionalOffset, 0x10B);
    image.put32(kOptionalOffset + 28, 0x10000000);          // ImageBase
    image.put32(kOptionalOffset + 32, 0x1000);              // SectionAlignment
    image.put32(kOptionalOffset + 36, 0x200);               // FileAlignment
    image.put32(kOptionalOffset + 56, 0x100000);            // SizeOfImage: room for the section however it grows
    image.put32(kOptionalOffset + 60, kSectionFileOffset);  // SizeOfHeaders
    image.put32(kOptionalOffset + 92, 16);

    // Exports.
    image.export_directory = kSectionFileOffset;
    image.grow(image.export_directory + 40);
    image.export_names = image.end();
    image.put32(image.export_names, 0);
    image.put32(image.export_names + 4, 0);
    const uint32_t first_name = image.end();
    image.put_string(first_name, "ImportTable");
    const uint32_t second_name = image.end();
    image.put_string(second_name, "Linkage");
    image.put32(image.export_names, TestImage::rva(first_name));
    image.put32(image.export_names + 4, TestImage::rva(second_name));
    image.put32(image.export_directory + 24, 2);
    image.put32(image.export_directory + 32, TestImage::rva(image.export_names));
    // Each name's ordinal, and the addresses they lead to (here: the names).
    const uint32_t ordinals = image.align4();
    image.put16(ordinals, 1);
    image.put16(ordinals + 2, 0);
    const uint32_t functions = image.align4();
    image.put32(functions, TestImage::rva(second_name));
    image.put32(functions + 4, TestImage::rva(first_name));
    image.put32(image.export_directory + 20, 2);
    image.put32(image.export_directory + 28, TestImage::rva(functions));
    image.put32(image.export_directory + 36, TestImage::rva(ordinals));

    // Imports: two descriptors and the all-zero end.
    image.import_directory = image.align4();
    image.grow(image.import_directory + 3 * 20);
    const char* dlls[] = {"KERNEL32.dll", "msvcrt.dll"};
    for (int i = 0; i < 2; ++i) {
        const uint32_t name = image.end();
        image.put_string(name, dlls[i]);
        image.put32(image.import_directory + 20 * i + 12, TestImage::rva(name));
    }
    // One function from each, by name and by ordinal: lookup and address
    // tables alike, each ended by a zero.
    const uint32_t hint_name = image.align4();
    image.put_string(hint_name + 2, "GetTickCount");
    const uint32_t thunks[] = {TestImage::rva(hint_name), 0x80000007u};
    for (int i = 0; i < 2; ++i) {
        const uint32_t lookup = image.align4();
        image.put32(lookup, thunks[i]);
        image.put32(lookup + 4, 0);
        image.import_address_tables[i] = image.end();
        image.put32(image.import_address_tables[i], thunks[i]);
        image.put32(image.import_address_tables[i] + 4, 0);
        image.put32(image.import_directory + 20 * i, TestImage::rva(lookup));
        image.put32(image.import_directory + 20 * i + 16, TestImage::rva(image.import_address_tables[i]));
    }

    // Resources: root -> type 2 -> ids 100, 101 -> one language each -> data.
    const uint32_t root = image.resource_root = image.align4();
    const auto relative = [&](uint32_t offset) { return offset - root; };
    image.put16(root + 14, 2);
    image.put32(root + 16, 3);            // an icon type the reader passes over
    image.put32(root + 20, 0x80000000u);  // (its target is never followed)
    image.put32(root + 24, 2);
    image.bitmap_type_directory = image.end();
    image.put32(root + 28, 0x80000000u | relative(image.bitmap_type_directory));
    const uint32_t types = image.bitmap_type_directory;
    image.put16(types + 14, 2);
    image.grow(types + 16 + 2 * 8);
    uint32_t languages[2];
    uint32_t data_entries[2];
    for (int i = 0; i < 2; ++i) {
        languages[i] = image.end();
        image.put16(languages[i] + 14, 1);
        image.put32(languages[i] + 16, 0x409);
        image.grow(languages[i] + 24);
        image.put32(types + 16 + 8 * i, 100 + i);
        image.put32(types + 20 + 8 * i, 0x80000000u | relative(languages[i]));
    }
    for (int i = 0; i < 2; ++i) {
        data_entries[i] = image.end();
        image.grow(data_entries[i] + 16);
        image.put32(languages[i] + 20, relative(data_entries[i]));
    }
    image.bitmap_100_languages = languages[0];
    image.bitmap_100_data_entry = data_entries[0];

    // Bitmap 101: 2 x 2 top-down, two palette entries.
    image.bitmap_101 = image.align4();
    image.put32(image.bitmap_101, 40);
    image.put32(image.bitmap_101 + 4, 2);
    image.put32(image.bitmap_101 + 8, static_cast<uint32_t>(-2));
    image.put16(image.bitmap_101 + 12, 1);
    image.put16(image.bitmap_101 + 14, 8);
    image.put32(image.bitmap_101 + 32, 2);
    image.grow(image.bitmap_101 + 40 + 2 * 4 + 2 * 4);
    image.put32(data_entries[1], TestImage::rva(image.bitmap_101));
    image.put32(data_entries[1] + 4, image.end() - image.bitmap_101);

    // Bitmap 100: 4 x 3 bottom-up, 256-entry palette, pixels to the file's end.
    image.bitmap_100 = image.align4();
    image.put32(image.bitmap_100, 40);
    image.put32(image.bitmap_100 + 4, 4);
    image.put32(image.bitmap_100 + 8, 3);
    image.put16(image.bitmap_100 + 12, 1);
    image.put16(image.bitmap_100 + 14, 8);
    image.grow(image.bitmap_100 + 40 + 256 * 4 + 3 * 4);
    for (uint32_t i = image.bitmap_100 + 40 + 256 * 4; i < image.end(); ++i) image.bytes[i] = 0xA5;
    image.put32(data_entries[0], TestImage::rva(image.bitmap_100));
    image.put32(data_entries[0] + 4, image.end() - image.bitmap_100);

    // Directories and the one section.
    const uint32_t section_size = image.end() - kSectionFileOffset;
    const uint32_t directories = kOptionalOffset + 96;
    image.put32(directories + 0, TestImage::rva(image.export_directory));
    image.put32(directories + 4, 40);
    image.put32(directories + 8, TestImage::rva(image.import_directory));
    image.put32(directories + 12, 60);
    image.put32(directories + 16, TestImage::rva(root));
    image.put32(directories + 20, image.bitmap_101 - root);
    std::memcpy(&image.bytes[kSectionTableOffset], ".rdata", 6);
    image.put32(kSectionTableOffset + 8, section_size);
    image.put32(kSectionTableOffset + 12, kSectionRva);
    image.put32(kSectionTableOffset + 16, section_size);
    image.put32(kSectionTableOffset + 20, kSectionFileOffset);
    return image;
}

// The section grown to the file's end, for parts appended to the image.
void cover_to_the_end(TestImage& t) {
    t.put32(kSectionTableOffset + 8, t.end() - kSectionFileOffset);
    t.put32(kSectionTableOffset + 16, t.end() - kSectionFileOffset);
}

TEST(PeImageRead, WellFormedImageReadsBack) {
    const TestImage built = build_image();
    const PeImage image = PeImage::parse(built.bytes, "test.gau");
    EXPECT_TRUE(image.is_dll());
    EXPECT_EQ(image.machine(), emulator::pe::kMachineI386);
    EXPECT_EQ(image.exports(), (std::vector<std::string>{"ImportTable", "Linkage"}));
    // Through the ordinal table, which crosses them: each name leads to itself.
    EXPECT_EQ(image.export_rvas().at("ImportTable"), TestImage::rva(built.export_names + 8));
    EXPECT_EQ(image.export_rvas().at("Linkage"), TestImage::rva(built.export_names + 8 + 12));
    EXPECT_EQ(image.imported_dlls(), (std::vector<std::string>{"KERNEL32.dll", "msvcrt.dll"}));
    const char* functions[] = {"GetTickCount", "#7"};
    ASSERT_EQ(image.imports().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        ASSERT_EQ(image.imports()[i].functions.size(), 1u);
        EXPECT_EQ(image.imports()[i].functions[0].name, functions[i]);
        EXPECT_EQ(image.imports()[i].functions[0].iat_rva, TestImage::rva(built.import_address_tables[i]));
    }
    ASSERT_EQ(image.bitmaps().size(), 2u);

    const emulator::Bitmap& large = image.bitmaps().at(100);
    EXPECT_EQ(large.width, 4u);
    EXPECT_EQ(large.height, 3u);
    EXPECT_EQ(large.bits_per_pixel, 8);
    EXPECT_EQ(large.compression, 0u);
    EXPECT_FALSE(large.top_down);
    EXPECT_EQ(large.palette_entries, 256u);
    EXPECT_EQ(large.pixel_offset, 40u + 1024u);
    ASSERT_EQ(large.dib().size(), 40u + 1024u + 12u);
    EXPECT_EQ(large.dib().back(), 0xA5);

    const emulator::Bitmap& small = image.bitmaps().at(101);
    EXPECT_EQ(small.width, 2u);
    EXPECT_EQ(small.height, 2u);
    EXPECT_TRUE(small.top_down);
    EXPECT_EQ(small.palette_entries, 2u);
    EXPECT_EQ(small.pixel_offset, 48u);
}

TEST(PeImageDamage, EveryTruncationIsAnError) {
    const TestImage built = build_image();
    for (size_t length = 0; length < built.bytes.size(); ++length) {
        std::vector<uint8_t> cut(built.bytes.begin(), built.bytes.begin() + static_cast<std::ptrdiff_t>(length));
        EXPECT_THROW(PeImage::parse(std::move(cut), "cut.gau"), PeError) << "length " << length;
    }
}

struct DamageCase {
    const char* name;
    std::function<void(TestImage&)> damage;
    const char* reason;  // a word of the message
};

const std::vector<DamageCase>& damage_cases() {
    static const std::vector<DamageCase> cases = {
        {"no MZ", [](TestImage& t) { t.bytes[0] = 'X'; }, "DOS"},
        {"PE header offset near the end", [](TestImage& t) { t.put32(0x3C, t.end() - 6); }, "PE header"},
        {"no PE signature", [](TestImage& t) { t.bytes[kPeOffset + 1] = 'X'; }, "signature"},
        {"PE32+ image", [](TestImage& t) { t.put16(kOptionalOffset, 0x20B); }, "PE32"},
        {"optional header too small", [](TestImage& t) { t.put16(kCoffOffset + 16, 8); }, "optional"},
        {"optional header beyond the file", [](TestImage& t) { t.put16(kCoffOffset + 16, 0xFFFF); }, "optional"},
        {"huge directory count", [](TestImage& t) { t.put32(kOptionalOffset + 92, 0xFFFFFFFFu); }, "directories"},
        {"huge section count", [](TestImage& t) { t.put16(kCoffOffset + 2, 0xFFFF); }, "sections"},
        {"section table beyond the file", [](TestImage& t) { t.put16(kCoffOffset + 2, 90); }, "section table"},
        {"section data beyond the file", [](TestImage& t) { t.put32(kSectionTableOffset + 20, 0xFFFFFFF0u); },
         "section"},
        {"section at the wrong place", [](TestImage& t) { t.put32(kSectionTableOffset + 12, 0x80000000u); }, "outside"},
        {"export directory at the last byte",
         [](TestImage& t) { t.put32(kOptionalOffset + 96, TestImage::rva(t.end() - 1)); }, "export"},
        {"huge export name count", [](TestImage& t) { t.put32(t.export_directory + 24, 0xFFFFFFFFu); }, "export"},
        {"export names past the section", [](TestImage& t) { t.put32(t.export_directory + 24, 60000); }, "export"},
        {"export name outside", [](TestImage& t) { t.put32(t.export_names, 0x12345678u); }, "export name"},
        {"export name without its end", [](TestImage& t) { t.put32(t.export_names, TestImage::rva(t.end() - 4)); },
         "export name"},
        {"export names naming one long name twice",
         [](TestImage& t) {
             const uint32_t name = t.end();
             t.put_string(name, std::string(3000, 'x'));
             cover_to_the_end(t);
             t.put32(t.export_names, TestImage::rva(name));
             t.put32(t.export_names + 4, TestImage::rva(name));
         },
         "export names repeat"},
        {"import directory running off the section",
         [](TestImage& t) { t.put32(kOptionalOffset + 104, TestImage::rva(t.end() - 12)); }, "import"},
        {"import without a name", [](TestImage& t) { t.put32(t.import_directory + 12, 0); }, "import"},
        {"huge resource entry counts",
         [](TestImage& t) {
             t.put16(t.resource_root + 12, 0xFFFF);
             t.put16(t.resource_root + 14, 0xFFFF);
         },
         "resource"},
        {"bitmap directory offset outside", [](TestImage& t) { t.put32(t.resource_root + 28, 0xFFFFFFFFu); },
         "resource"},
        {"bitmap type not a directory",
         [](TestImage& t) { t.put32(t.resource_root + 28, t.bitmap_type_directory - t.resource_root); }, "directory"},
        {"bitmap type loops to the root", [](TestImage& t) { t.put32(t.resource_root + 28, 0x80000000u); },
         "directory"},
        {"language directory empty", [](TestImage& t) { t.put16(t.bitmap_100_languages + 14, 0); }, "no data"},
        {"data entry outside", [](TestImage& t) { t.put32(t.bitmap_100_languages + 20, 0x7FFFFFF0u); },
         "resource data"},
        {"bitmap data too long", [](TestImage& t) { t.put32(t.bitmap_100_data_entry + 4, 0xFFFFFFFFu); },
         "bitmap data"},
        {"bitmap data too short for its header", [](TestImage& t) { t.put32(t.bitmap_100_data_entry + 4, 3); },
         "header"},
        {"bitmap header larger than the data", [](TestImage& t) { t.put32(t.bitmap_100, 0xFFFFFFFFu); }, "header"},
        {"bitmap header of an unknown size", [](TestImage& t) { t.put32(t.bitmap_100, 20); }, "header"},
        {"bitmap of negative width", [](TestImage& t) { t.put32(t.bitmap_100 + 4, 0x80000000u); }, "width"},
        {"bitmap of the most negative height", [](TestImage& t) { t.put32(t.bitmap_100 + 8, 0x80000000u); }, "height"},
        {"bitmap of a huge width", [](TestImage& t) { t.put32(t.bitmap_100 + 4, 0x7FFFFFFFu); }, "width"},
        {"bitmap of an odd bit count", [](TestImage& t) { t.put16(t.bitmap_100 + 14, 7); }, "bit count"},
        {"bitmap with one colour too many", [](TestImage& t) { t.put32(t.bitmap_100 + 32, 257); }, "colour table too"},
        {"bitmap pixels beyond the data", [](TestImage& t) { t.put32(t.bitmap_100 + 8, 4); }, "pixels"},
        {"bitmap palette beyond the data", [](TestImage& t) { t.put32(t.bitmap_101 + 32, 0); }, "colour table"},
        {"bitmap of more pixels than the host decodes",
         [](TestImage& t) {
             t.put32(t.bitmap_100 + 4, 16384);
             t.put32(t.bitmap_100 + 8, 8192);
         },
         "bitmap 100: 16384 x 8192 pixels, more than"},
    };
    return cases;
}

TEST(PeImageDamage, DamagedImagesGiveErrorsNamingTheFile) {
    for (const DamageCase& c : damage_cases()) {
        SCOPED_TRACE(c.name);
        TestImage image = build_image();
        c.damage(image);
        try {
            PeImage::parse(image.bytes, "damaged.gau");
            ADD_FAILURE() << "read without an error";
        } catch (const PeError& error) {
            const std::string message = error.what();
            EXPECT_EQ(message.rfind("damaged.gau: ", 0), 0u) << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << message;
        }
    }
}

// Bitmap ids 1000, 1001, ... all naming bitmap 100's data, in place of the
// image's own two.
void ids_on_bitmap_100(TestImage& t, uint32_t count) {
    const uint32_t ids = t.align4();
    t.put16(ids + 14, static_cast<uint16_t>(count));
    for (uint32_t i = 0; i < count; ++i) {
        t.put32(ids + 16 + 8 * i, 1000 + i);
        t.put32(ids + 20 + 8 * i, 0x80000000u | (t.bitmap_100_languages - t.resource_root));
    }
    t.put32(t.resource_root + 28, 0x80000000u | (ids - t.resource_root));
    cover_to_the_end(t);
}

// However many ids name one data entry, the file's bytes are held once.
TEST(PeImageResources, IdsOfOneDataEntryShareTheFilesBytes) {
    TestImage built = build_image();
    ids_on_bitmap_100(built, 5000);
    const PeImage image = PeImage::parse(built.bytes, "shared.gau");
    ASSERT_EQ(image.bitmaps().size(), 5000u);
    const uint8_t* first = image.bitmaps().begin()->second.dib().data();
    for (const auto& [id, bitmap] : image.bitmaps()) ASSERT_EQ(bitmap.dib().data(), first) << id;
}

// A tree whose directories overlap claims more entries than the file holds;
// each bitmap counts against the decoded budget, shared data or not.
TEST(PeImageResources, WhatWouldTakeTheHostTooFarIsRefusedByName) {
    const struct {
        const char* name;
        std::function<void(TestImage&)> make;
        const char* reason;
    } cases[] = {
        {"type entries on overlapping directories",
         [](TestImage& t) {
             // Every 8-byte step of the region reads as a directory of 16
             // named entries (passed over), overlapping the next.
             constexpr uint32_t kTypes = 256;
             const uint32_t root = t.align4();
             const uint32_t region = root + 16 + 8 * kTypes;
             t.put16(root + 14, kTypes);
             for (uint32_t i = 0; i < kTypes; ++i) {
                 t.put32(root + 16 + 8 * i, 2);
                 t.put32(root + 20 + 8 * i, 0x80000000u | (region + 8 * i - root));
             }
             for (uint32_t at = region; at < region + 8 * kTypes + 256; at += 8) {
                 t.put32(at, 0x80000000u);
                 t.put32(at + 4, 16);
             }
             t.put32(kOptionalOffset + 96 + 16, TestImage::rva(root));
             cover_to_the_end(t);
         },
         "resource directories repeat or overlap"},
        {"three ids on a 64 Mpixel bitmap",
         [](TestImage& t) {
             t.put32(t.bitmap_100 + 4, 8192);
             t.put32(t.bitmap_100 + 8, 8192);
             t.put32(t.bitmap_100 + 16, 1);  // compressed: its bytes are not measured
             ids_on_bitmap_100(t, 3);
         },
         "bitmap 1002 takes the bitmaps past 512 MiB"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TestImage image = build_image();
        c.make(image);
        try {
            PeImage::parse(image.bytes, "hostile.gau");
            ADD_FAILURE() << "read without an error";
        } catch (const PeError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(std::string("hostile.gau: ") + c.reason, 0), 0u) << error.what();
        }
    }
}

TEST(PeImageDamage, ImagesWithoutDirectoriesReadEmpty) {
    TestImage image = build_image();
    for (uint32_t offset = kOptionalOffset + 96; offset < kOptionalOffset + 96 + 3 * 8; offset += 4)
        image.put32(offset, 0);
    const PeImage read = PeImage::parse(image.bytes, "bare.gau");
    EXPECT_TRUE(read.exports().empty());
    EXPECT_TRUE(read.imported_dlls().empty());
    EXPECT_TRUE(read.bitmaps().empty());
}

TEST(PeImageFiles, MissingFileIsNamed) {
    try {
        PeImage::read_file("no_such_directory/no_such_file.gau");
        ADD_FAILURE() << "read a missing file";
    } catch (const PeError& error) {
        EXPECT_NE(std::string(error.what()).find("no_such_directory/no_such_file.gau"), std::string::npos);
    }
}

}  // namespace
