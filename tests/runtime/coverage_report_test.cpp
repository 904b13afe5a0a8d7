// The lcov tracefile: from a line table, functions and executed blocks made
// here, each module's records list every line and function with the hits
// of the blocks over them, as lcov reads them, and no name a module gives
// makes records of its own. A module's code map falls back to its code
// sections when its tables do not read.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "emulator/pe_image.h"
#include "runtime/coverage_report.h"
#include "support/line_program.h"

namespace {

using runtime::CodeMap;
using runtime::ExecutedBlock;
using runtime::ModuleCoverage;

// a.cpp lines 10 to 12 and b.h line 3 between them; f (line 10) and g
// (line 12) in a.cpp, h where no line is.
CodeMap with_lines() {
    CodeMap code;
    code.files = {"./a.cpp", "/usr/include/b.h"};
    code.lines = {{0x1000, 0, 10}, {0x1004, 0, 11}, {0x1008, 1, 3}, {0x100C, 0, 11}, {0x1010, 0, 12}, {0x1014, 0, 0}};
    code.functions = {{"f(int)", 0x1000, 0x10, 0, 10}, {"g", 0x1010, 0x8, 0, 12}, {"h", 0x1018, 0x8, {}, 0}};
    code.code_sections = {{".text", 0x1000, 0x20}};
    return code;
}

// 40 bytes of .text (pieces 1 to 3, the last 8 bytes long) and a function at its second piece.
CodeMap without_lines() {
    CodeMap code;
    code.functions = {{"Start", 0x1010, 0x18, {}, 0}};
    code.code_sections = {{".text", 0x1000, 0x28}};
    return code;
}

// with_lines() where b.h's name would end its record and start two others.
CodeMap with_hostile_name() {
    CodeMap code = with_lines();
    code.files[1] = "b.h\nend_of_record\nSF:/etc/shadow";
    return code;
}

// without_lines() whose function's name holds an escape sequence.
CodeMap with_escape_in_function() {
    CodeMap code = without_lines();
    code.functions[0].name = "St\x1b[2Jart";
    return code;
}

// 16 bytes of .text and nothing known of them.
CodeMap bare() {
    CodeMap code;
    code.code_sections = {{".text", 0, 0x10}};
    return code;
}

struct Case {
    const char* name;
    std::vector<ModuleCoverage> modules;
    std::string expected;
    const char* warning = nullptr;  // what the one warning says, when there is one
};

const Case kCases[] = {
    {"OverlappingBlocksGiveEachLineTheMostHits",
     {{"Probe.gau", with_lines(), {{0x1000, 8, 5}, {0x1004, 12, 7}, {0x1010, 4, 0}}}},
     "TN:run_1\nSF:./a.cpp\nFN:10,f(int)\nFN:12,g\nFNDA:5,f(int)\nFNDA:0,g\nFNF:2\nFNH:1\n"
     "DA:10,5\nDA:11,7\nDA:12,0\nLF:3\nLH:2\nend_of_record\n"
     "TN:run_1\nSF:/usr/include/b.h\nFNF:0\nFNH:0\nDA:3,7\nLF:1\nLH:1\nend_of_record\n"},
    {"NothingExecutedListsEveryLineUnhit",
     {{"Probe.gau", with_lines(), {}}},
     "TN:run_1\nSF:./a.cpp\nFN:10,f(int)\nFN:12,g\nFNDA:0,f(int)\nFNDA:0,g\nFNF:2\nFNH:0\n"
     "DA:10,0\nDA:11,0\nDA:12,0\nLF:3\nLH:0\nend_of_record\n"
     "TN:run_1\nSF:/usr/include/b.h\nFNF:0\nFNH:0\nDA:3,0\nLF:1\nLH:0\nend_of_record\n"},
    {"WithoutDwarfSectionPiecesStandForLines",
     {{"Plain.gau", without_lines(), {{0x100E, 4, 3}, {0x1027, 1, 9}}}},
     "TN:run_1\nSF:Plain.gau/.text\nFN:2,Start\nFNDA:3,Start\nFNF:1\nFNH:1\n"
     "DA:1,3\nDA:2,3\nDA:3,9\nLF:3\nLH:3\nend_of_record\n"},
    {"ModulesFollowOneAnother",
     {{"Plain.gau", without_lines(), {}}, {"Other.gau", bare(), {}}},
     "TN:run_1\nSF:Plain.gau/.text\nFN:2,Start\nFNDA:0,Start\nFNF:1\nFNH:0\n"
     "DA:1,0\nDA:2,0\nDA:3,0\nLF:3\nLH:0\nend_of_record\n"
     "TN:run_1\nSF:Other.gau/.text\nFNF:0\nFNH:0\nDA:1,0\nLF:1\nLH:0\nend_of_record\n"},
    {"ASourceNamedWithControlCharactersIsLeftOut",
     {{"Probe.gau", with_hostile_name(), {{0x1000, 8, 5}}}},
     "TN:run_1\nSF:./a.cpp\nFN:10,f(int)\nFN:12,g\nFNDA:5,f(int)\nFNDA:0,g\nFNF:2\nFNH:1\n"
     "DA:10,5\nDA:11,5\nDA:12,0\nLF:3\nLH:2\nend_of_record\n",
     "Probe.gau: 1 source file name with control characters"},
    {"LabelsKeepTheirControlCharactersEscaped",
     {{"Pl\nain.gau", with_escape_in_function(), {}}},
     "TN:run_1\nSF:Pl\\x0aain.gau/.text\nFN:2,St\\x1b[2Jart\nFNDA:0,St\\x1b[2Jart\nFNF:1\nFNH:0\n"
     "DA:1,0\nDA:2,0\nDA:3,0\nLF:3\nLH:0\nend_of_record\n"},
};

class LcovTracefile : public testing::TestWithParam<Case> {};

TEST_P(LcovTracefile, ListsLinesAndFunctionsWithTheirHits) {
    std::vector<std::string> warnings;
    EXPECT_EQ(runtime::lcov_tracefile("run 1", GetParam().modules, warnings), GetParam().expected);
    if (GetParam().warning == nullptr) {
        EXPECT_TRUE(warnings.empty()) << warnings.front();
    } else {
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_TRUE(warnings.front().starts_with(GetParam().warning)) << warnings.front();
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, LcovTracefile, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- A module's code map -----------------------------------------------

using test_support::Bytes;

// A row for line 3 of src/a.c at the start of .text, its sequence 4 bytes long.
Bytes one_row() {
    Bytes program = test_support::set_address(test_support::kDebugImageBase + test_support::kDebugTextRva);
    test_support::append(program, test_support::row(0, 2));
    test_support::append(program, {2, 4});  // advance_pc
    test_support::append(program, test_support::kEndSequence);
    return test_support::unit(4, test_support::tables_before_5({"src"}, {{"a.c", 1}}), program);
}

Bytes without_last_byte(Bytes bytes) {
    bytes.pop_back();
    return bytes;
}

// A function symbol at .text's offset `value`.
Bytes function_symbol(uint32_t value) {
    Bytes record{'_', 'f', 0, 0, 0, 0, 0, 0};
    test_support::append_number(record, value, 4);
    test_support::append(record, {1, 0, 0x20, 0, 2, 0});
    return record;
}

struct MapCase {
    const char* name;
    Bytes line;
    Bytes symbols;
    size_t lines;         // rows of the map
    const char* warning;  // what the one warning holds; none without
};

const MapCase kMapCases[] = {
    {"TablesThatReadGiveLines", one_row(), function_symbol(0), 1, nullptr},
    {"AMalformedLineTableLeavesThePieces",
     without_last_byte(one_row()),
     {},
     0,
     "unit runs past the section: its coverage is counted by 16-byte pieces"},
    {"AMalformedSymbolTableLeavesThePieces", one_row(), function_symbol(0x4000), 0, "outside it: its coverage"},
};

class ModuleCodeMap : public testing::TestWithParam<MapCase> {};

TEST_P(ModuleCodeMap, FallsBackToTheCodeSections) {
    const MapCase& c = GetParam();
    const emulator::PeImage image =
        emulator::PeImage::parse(test_support::debug_image({{".debug_line", c.line}}, c.symbols), "module.gau");
    std::vector<std::string> warnings;
    const CodeMap code = runtime::code_map(image, "module.gau", warnings);
    EXPECT_EQ(code.lines.size(), c.lines);
    ASSERT_EQ(code.code_sections.size(), 1u);
    EXPECT_EQ(code.code_sections[0].size, test_support::kDebugTextSize);
    if (c.warning == nullptr) {
        EXPECT_TRUE(warnings.empty()) << warnings.front();
        EXPECT_EQ(code.functions.size(), 1u);
    } else {
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_TRUE(warnings.front().starts_with("module.gau: ")) << warnings.front();
        EXPECT_NE(warnings.front().find(c.warning), std::string::npos) << warnings.front();
        EXPECT_TRUE(code.functions.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, ModuleCodeMap, testing::ValuesIn(kMapCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
