// The line table and function names of a PE image: the real debug builds
// name each function's first line as its source has it, with every row in
// .text; line programs of each version built here read back row for row;
// damaged ones give PeError naming the file and the fault.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/pe/dwarf_lines.h"
#include "support/debug_image.h"
#include "support/line_program.h"
#include "support/test_paths.h"

namespace {

using emulator::DebugLines;
using emulator::PeError;
using emulator::PeImage;
using Bytes = std::vector<uint8_t>;

// The line of `path` (from the checkout's top) holding `text`, counted from 1.
uint32_t line_of(const std::string& path, const std::string& text) {
    std::ifstream in(test_paths::source(path));
    std::string line;
    for (uint32_t number = 1; std::getline(in, line); ++number) {
        if (line.find(text) != std::string::npos) return number;
    }
    ADD_FAILURE() << path << " has no line with " << text;
    return 0;
}

struct RealCase {
    const char* module;  // in the PE tree
    const char* function;
    const char* source;
    const char* first_line;  // the text on the function's first line
};

const RealCase kRealCases[] = {
    {"Debuggee.gau", "scaled_reading(int)", "tests/fixtures/debuggee/debuggee.cpp", "int scaled_reading(int raw) {"},
    {"Debuggee.gau", "probe_callback(", "tests/fixtures/debuggee/debuggee.cpp", "void GAUGE_CALL probe_callback("},
    {"debug/Korvane.gau", "undercarriage_lamps(", "korvane/engine/flaps_undercarriage.cpp",
     "void GAUGE_CALL undercarriage_lamps("},
    {"debug/Dropwatch.gau", "on_key_event(", "dropwatch/bomb_counter.cpp", "void on_key_event("},
};

class RealModule : public testing::TestWithParam<RealCase> {};

TEST_P(RealModule, NamesTheFunctionsFirstLineWithEveryRowInText) {
    const RealCase& c = GetParam();
    const std::string path = test_paths::pe(c.module);
    if (path.empty() || test_paths::source(c.source).empty()) GTEST_SKIP() << "no PE tree or checkout given";
    const PeImage image = PeImage::read_file(path);
    const DebugLines lines = DebugLines::read(image, path);

    const auto text = std::find_if(image.sections().begin(), image.sections().end(),
                                   [](const emulator::PeSection& s) { return s.name == ".text"; });
    ASSERT_NE(text, image.sections().end());
    ASSERT_FALSE(lines.rows().empty());
    for (const emulator::SourceLine& row : lines.rows()) {
        EXPECT_GE(row.rva, text->virtual_address);
        EXPECT_LE(row.rva, text->virtual_address + text->virtual_size);
        EXPECT_LT(row.file, lines.files().size());
    }

    const auto function = std::find_if(lines.functions().begin(), lines.functions().end(),
                                       [&](const auto& f) { return f.name.find(c.function) != std::string::npos; });
    ASSERT_NE(function, lines.functions().end()) << c.function;
    EXPECT_EQ(lines.function_at(function->rva + function->size - 1), &*function);
    const auto where = lines.location(function->rva);
    ASSERT_TRUE(where.has_value());
    EXPECT_TRUE(lines.files()[where->file].ends_with(c.source)) << lines.files()[where->file];
    EXPECT_EQ(where->line, line_of(c.source, c.first_line));
}

INSTANTIATE_TEST_SUITE_P(DebugBuilds, RealModule, testing::ValuesIn(kRealCases));

// --- Line programs built here -----------------------------------------------

constexpr uint32_t kBase = test_support::kDebugImageBase;
using test_support::append;
using test_support::append_number;
using test_support::kEndSequence;
using test_support::row;
using test_support::set_address;
using test_support::unit;

// Directory "src"; a.c in it (file 1), b.c in the unit's own (file 2).
Bytes tables_before_5() { return test_support::tables_before_5({"src"}, {{"a.c", 1}, {"b.c", 0}}); }

// Directories "/top" and "src" from .debug_line_str; files named in
// .debug_str, each with its directory and an MD5: b.c (file 0, in /top),
// a.c (file 1, in src).
const Bytes kLineStrings{'/', 't', 'o', 'p', 0, 's', 'r', 'c', 0};
const Bytes kStrings{'x', 0, 'b', '.', 'c', 0, 'a', '.', 'c', 0};
Bytes tables_5(uint8_t directory_form = 0x1f) {
    Bytes tables{1, 1, directory_form, 2};
    append_number(tables, 0, 4);
    append_number(tables, 5, 4);
    append(tables, {3, 1, 0x0e, 2, 0x0b, 5, 0x1e, 2});
    for (const auto& [name, directory] : {std::pair{2, 0}, std::pair{6, 1}}) {
        append_number(tables, static_cast<uint64_t>(name), 4);
        tables.push_back(static_cast<uint8_t>(directory));
        append(tables, Bytes(16, 0xAB));
    }
    return tables;
}

PeImage image_of(const Bytes& line, const Bytes& symbols = {}, const std::string& line_name = ".debug_line",
                 const Bytes& line_strings = kLineStrings) {
    return PeImage::parse(
        test_support::debug_image({{line_name, line}, {".debug_line_str", line_strings}, {".debug_str", kStrings}},
                                  symbols),
        "fixture.gau");
}
// The same names as a build that maps its checkout to "." writes them: the
// unit's directory and the source's, both from the top.
const Bytes kMappedLineStrings{'b', '/', 'w', 'w', 0, '.', '/', 's', 'r', 'c', 0};

// Rows at 0x1000 (line 9), 0x1004 (11), then in the other file 0x100C
// (10), the sequence ending at 0x1010.
Bytes program(uint8_t other_file) {
    Bytes program = set_address(kBase + 0x1000);
    append(program, row(0, 8));
    append(program, row(4, 2));
    append(program, {4, other_file});
    append(program, row(8, -1));
    append(program, {2, 4});  // advance_pc
    append(program, kEndSequence);
    return program;
}

struct VersionCase {
    int version;
    uint8_t other_file;
    const char* first;
    const char* other;
    const Bytes* line_strings = &kLineStrings;
};

const VersionCase kVersions[] = {
    {2, 2, "src/a.c", "b.c"},
    {3, 2, "src/a.c", "b.c"},
    {4, 2, "src/a.c", "b.c"},
    // Version 5's first directory is the unit's own; the others are relative to it.
    {5, 0, "/top/src/a.c", "/top/b.c"},
    {5, 0, "src/a.c", "b/ww/b.c", &kMappedLineStrings},
};

class LineVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(LineVersion, ReadsRowsFilesAndLocations) {
    const VersionCase& c = GetParam();
    const Bytes tables = c.version >= 5 ? tables_5() : tables_before_5();
    const DebugLines lines = DebugLines::read(
        image_of(unit(c.version, tables, program(c.other_file)), {}, ".debug_line", *c.line_strings), "fixture.gau");
    ASSERT_EQ(lines.rows().size(), 4u);
    const auto path = [&](size_t row) { return lines.files().at(lines.rows()[row].file); };
    const uint32_t rvas[] = {0x1000, 0x1004, 0x100C, 0x1010};
    const uint32_t numbers[] = {9, 11, 10, 10};
    const std::string paths[] = {c.first, c.first, c.other, c.other};
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(lines.rows()[i].rva, rvas[i]) << i;
        EXPECT_EQ(lines.rows()[i].line, numbers[i]) << i;
        EXPECT_EQ(path(i), paths[i]) << i;
        EXPECT_EQ(lines.rows()[i].end_sequence, i == 3) << i;
    }
    EXPECT_EQ(lines.location(0x1007)->line, 11u);
    EXPECT_EQ(lines.location(0x100F)->line, 10u);
    EXPECT_FALSE(lines.location(0x1010).has_value());
    EXPECT_FALSE(lines.location(0x0FFF).has_value());
}

INSTANTIATE_TEST_SUITE_P(Versions, LineVersion, testing::ValuesIn(kVersions));

// A symbol record: a short name, its offset in section 1 (.text), type and class.
Bytes symbol(const std::string& name, uint32_t value, uint16_t type, uint8_t storage_class, int16_t section = 1) {
    Bytes record(8, 0);
    std::copy(name.begin(), name.end(), record.begin());
    append_number(record, value, 4);
    append_number(record, static_cast<uint16_t>(section), 2);
    append_number(record, type, 2);
    record.push_back(storage_class);
    record.push_back(0);
    return record;
}

TEST(FunctionSymbols, FunctionsOfTheSymbolTableRunToTheNext) {
    Bytes symbols = symbol("_probe", 0x10, 0x20, 3);
    append(symbols, symbol("_table", 0x20, 0, 2));  // data
    append(symbols, symbol("__Z1fi", 0x40, 0x20, 2));
    append(symbols, symbol("_far", 0x40, 0x20, 2, 0));  // no section
    const DebugLines lines = DebugLines::read(image_of({}, symbols), "fixture.gau");
    ASSERT_EQ(lines.functions().size(), 2u);
    EXPECT_EQ(lines.functions()[0].name, "probe");
    EXPECT_EQ(lines.functions()[0].size, 0x30u);
    EXPECT_EQ(lines.functions()[1].name, "f(int)");
    EXPECT_EQ(lines.functions()[1].size, test_support::kDebugTextSize - 0x40);
    EXPECT_EQ(lines.function_at(0x103F), &lines.functions()[0]);
    EXPECT_EQ(lines.function_at(0x100F), nullptr);
    EXPECT_EQ(lines.function_at(0x1000 + test_support::kDebugTextSize), nullptr);
}

// --- Damage --------------------------------------------------------------

Bytes with_byte(Bytes bytes, size_t at, uint8_t value) {
    bytes.at(at) = value;
    return bytes;
}

struct DamageCase {
    const char* name;
    Bytes line;
    Bytes symbols;
    const char* expected;
};

Bytes good(int version = 4) { return unit(version, version >= 5 ? tables_5() : tables_before_5(), program(2)); }

std::vector<DamageCase> damage_cases() {
    const Bytes v4 = good();
    const Bytes v5 = unit(5, tables_5(), program(0));
    Bytes backwards = set_address(kBase + 0x1008);
    append(backwards, row(0, 1));
    append(backwards, set_address(kBase + 0x1004));
    append(backwards, row(0, 1));
    append(backwards, kEndSequence);
    Bytes straddling = set_address(kBase - 8);
    append(straddling, row(0, 1));
    append(straddling, {2, 16});
    append(straddling, kEndSequence);
    Bytes long_number{3};
    append(long_number, Bytes(10, 0xFF));
    long_number.push_back(1);
    // What a table may make the reader hold is bounded before it is held:
    // rows and functions by the 256 bytes of code (and a margin of 1024),
    // directory and file entries by their count over every unit.
    Bytes many_rows = set_address(kBase + 0x1000);
    append(many_rows, Bytes(1281, 1));  // copy: a row at the same address each
    const Bytes directories = unit(4, test_support::tables_before_5(std::vector<std::string>(40000, "d"), {}), {});
    Bytes two_units = directories;
    append(two_units, directories);
    Bytes many_functions;
    for (uint32_t i = 0; i < 1281; ++i) append(many_functions, symbol("_f", i % 256, 0x20, 2));
    return {
        {"UnitPastSection", Bytes(v4.begin(), v4.end() - 1), {}, "unit runs past the section"},
        {"Version6", with_byte(v4, 4, 6), {}, "line table version 6"},
        {"LineRange0", with_byte(v4, 14, 0), {}, "line range 0"},
        {"FileOutOfRange", unit(4, tables_before_5(), program(7)), {}, "row in file 7 of 3"},
        {"UnknownForm", unit(5, tables_5(0x1a), program(0)), {}, "form 0x0000001A"},
        {"LineStrpPastSection", with_byte(v5, 34, 0x40), {}, "beyond the section"},
        {"NameWithoutEnd", with_byte(v4, 6, 22), {}, "string without its end"},
        {"LongNumber", unit(4, tables_before_5(), long_number), {}, "beyond 64 bits"},
        {"Backwards", unit(4, tables_before_5(), backwards), {}, "before the row above it"},
        {"Straddling", unit(4, tables_before_5(), straddling), {}, "reaches into the image"},
        {"FunctionPastSection", {}, symbol("_f", 0x4000, 0x20, 2), "outside it"},
        {"SymbolNamePastStrings", {}, with_byte(symbol("", 0, 0x20, 2), 4, 0x60), "beyond the section"},
        {"RowsBeyondTheCode", unit(4, tables_before_5(), many_rows), {}, "more than 1280 rows for 256 bytes of code"},
        {"EntriesOfAllUnits", two_units, {}, "more than 65536 directory and file entries in all"},
        {"FunctionsBeyondTheCode", {}, many_functions, "more than 1280 functions for 256 bytes of code"},
    };
}

class Damage : public testing::TestWithParam<DamageCase> {};

TEST_P(Damage, GivesPeErrorNamingTheFileAndFault) {
    const DamageCase& c = GetParam();
    const PeImage image = image_of(c.line, c.symbols);
    try {
        (void)DebugLines::read(image, "fixture.gau");
        FAIL() << "no error";
    } catch (const PeError& error) {
        const std::string message = error.what();
        EXPECT_TRUE(message.starts_with("fixture.gau: ")) << message;
        EXPECT_NE(message.find(c.expected), std::string::npos) << message;
    }
}

INSTANTIATE_TEST_SUITE_P(Lines, Damage, testing::ValuesIn(damage_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
