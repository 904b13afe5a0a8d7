// A small PE32 DLL carrying the debug sections given, for the line table
// reader's tests and its fuzz harness: 256 bytes of code in .text, then
// each section under a long name as MinGW writes one ("/4", an offset into
// the COFF string table), then the COFF symbol records given and the string
// table.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace test_support {

inline constexpr uint32_t kDebugImageBase = 0x10000000;
inline constexpr uint32_t kDebugTextRva = 0x1000;
inline constexpr uint32_t kDebugTextSize = 0x100;

struct DebugSection {
    std::string name;
    std::vector<uint8_t> bytes;
};

inline std::vector<uint8_t> debug_image(const std::vector<DebugSection>& sections,
                                        const std::vector<uint8_t>& symbols = {}) {
    constexpr uint32_t kPe = 0x40, kCoff = kPe + 4, kOptional = kCoff + 20, kOptionalSize = 96 + 16 * 8;
    constexpr uint32_t kTable = kOptional + kOptionalSize, kHeaders = 0x400, kAlign = 0x1000, kFileAlign = 0x200;
    std::vector<uint8_t> out(kHeaders);
    const auto put = [&](uint32_t offset, uint32_t value, int size) {
        if (out.size() < offset + size) out.resize(offset + size);
        for (int i = 0; i < size; ++i) out[offset + i] = static_cast<uint8_t>(value >> (8 * i));
    };
    const auto align = [](uint32_t value, uint32_t to) { return (value + to - 1) / to * to; };
    out[0] = 'M';
    out[1] = 'Z';
    put(0x3C, kPe, 4);
    put(kPe, 0x4550, 4);
    put(kCoff, 0x14C, 2);
    put(kCoff + 2, static_cast<uint32_t>(sections.size() + 1), 2);
    put(kCoff + 16, kOptionalSize, 2);
    put(kCoff + 18, 0x2102, 2);  // executable, 32-bit, DLL
    put(kOptional, 0x10B, 2);
    put(kOptional + 28, kDebugImageBase, 4);
    put(kOptional + 32, kAlign, 4);
    put(kOptional + 36, kFileAlign, 4);
    put(kOptional + 60, kHeaders, 4);
    put(kOptional + 92, 16, 4);

    std::string strings;
    uint32_t rva = kDebugTextRva;
    const auto add_section = [&](int index, const std::string& name, const std::vector<uint8_t>& bytes,
                                 uint32_t characteristics) {
        const uint32_t header = kTable + 40 * index;
        std::string stored = name;
        if (name.size() > 8) {
            stored = "/" + std::to_string(4 + strings.size());
            strings += name + '\0';
        }
        const uint32_t file_offset = static_cast<uint32_t>(out.size());
        out.insert(out.end(), bytes.begin(), bytes.end());
        out.resize(align(static_cast<uint32_t>(out.size()), kFileAlign));
        std::memcpy(&out[header], stored.data(), stored.size());
        put(header + 8, static_cast<uint32_t>(bytes.size()), 4);
        put(header + 12, rva, 4);
        put(header + 16, align(static_cast<uint32_t>(bytes.size()), kFileAlign), 4);
        put(header + 20, file_offset, 4);
        put(header + 36, characteristics, 4);
        rva += align(std::max<uint32_t>(static_cast<uint32_t>(bytes.size()), 1), kAlign);
    };
    add_section(0, ".text", std::vector<uint8_t>(kDebugTextSize, 0xC3), 0x60000020);
    for (size_t i = 0; i < sections.size(); ++i)
        add_section(static_cast<int>(i + 1), sections[i].name, sections[i].bytes, 0x42000040);
    put(kOptional + 56, rva, 4);  // SizeOfImage

    put(kCoff + 8, static_cast<uint32_t>(out.size()), 4);
    const size_t whole_records = symbols.size() / 18 * 18;
    put(kCoff + 12, static_cast<uint32_t>(whole_records / 18), 4);
    out.insert(out.end(), symbols.begin(), symbols.begin() + static_cast<std::ptrdiff_t>(whole_records));
    const uint32_t table = static_cast<uint32_t>(out.size());
    put(table, static_cast<uint32_t>(4 + strings.size()), 4);
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
}

}  // namespace test_support
