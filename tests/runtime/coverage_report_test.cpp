// The lcov tracefile: from a line table, functions and executed blocks made
// here, each module's records list every line and function with the hits
// of the blocks over them, as lcov reads them, and no name a module gives
// makes records of its own. A module's code map falls back to its code
// sections when its tables do not read.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/pe/pe_image.h"
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

// without_lines() and 16 bytes of .init after it (piece 4), a function there.
CodeMap two_sections() {
    CodeMap code = without_lines();
    code.code_sections.push_back({".init", 0x3000, 0x10});
    code.functions.push_back({"Init", 0x3000, 0x10, {}, 0});
    return code;
}

// with_lines() where b.h is left out and a.cpp named twice, by two spellings made one.
CodeMap with_chosen_sources() {
    CodeMap code = with_lines();
    code.files = {"/src/a.cpp", "", "/src/a.cpp"};
    code.lines.push_back({0x1018, 2, 11});
    return code;
}

// with_lines() where b.h's name would end its record and start two others.
CodeMap with_hostile_name() {
    CodeMap code = with_lines();
    code.files[1] = "b.h\nend_of_record\nSF:/etc/shadow";
    return code;
}

// without_lines() whose function's name holds an escape sequence and a comma.
CodeMap with_escape_in_function() {
    CodeMap code = without_lines();
    code.functions[0].name = "St\x1b[2Jart<1, 2>";
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
     "TN:run_1\nSF:Plain.gau\nFN:2,Start\nFNDA:3,Start\nFNF:1\nFNH:1\n"
     "DA:1,3\nDA:2,3\nDA:3,9\nLF:3\nLH:3\nend_of_record\n"},
    {"SectionsFollowOneAnotherInTheModulesRecord",
     {{"Plain.gau", two_sections(), {{0x3000, 2, 4}}}},
     "TN:run_1\nSF:Plain.gau\nFN:2,Start\nFN:4,Init\nFNDA:0,Start\nFNDA:4,Init\nFNF:2\nFNH:1\n"
     "DA:1,0\nDA:2,0\nDA:3,0\nDA:4,4\nLF:4\nLH:1\nend_of_record\n"},
    {"AModuleLeftOutHasNoRecord", {{"Plain.gau", without_lines(), {}, false}}, ""},
    {"SourcesLeftOutHaveNoRecordAndOneNameOneRecord",
     {{"Probe.gau", with_chosen_sources(), {{0x1018, 4, 6}}}},
     "TN:run_1\nSF:/src/a.cpp\nFN:10,f(int)\nFN:12,g\nFNDA:0,f(int)\nFNDA:0,g\nFNF:2\nFNH:0\n"
     "DA:10,0\nDA:11,6\nDA:12,0\nLF:3\nLH:1\nend_of_record\n"},
    {"ModulesFollowOneAnother",
     {{"Plain.gau", without_lines(), {}}, {"Other.gau", bare(), {}}},
     "TN:run_1\nSF:Plain.gau\nFN:2,Start\nFNDA:0,Start\nFNF:1\nFNH:0\n"
     "DA:1,0\nDA:2,0\nDA:3,0\nLF:3\nLH:0\nend_of_record\n"
     "TN:run_1\nSF:Other.gau\nFNF:0\nFNH:0\nDA:1,0\nLF:1\nLH:0\nend_of_record\n"},
    {"ASourceNamedWithControlCharactersIsLeftOut",
     {{"Probe.gau", with_hostile_name(), {{0x1000, 8, 5}}}},
     "TN:run_1\nSF:./a.cpp\nFN:10,f(int)\nFN:12,g\nFNDA:5,f(int)\nFNDA:0,g\nFNF:2\nFNH:1\n"
     "DA:10,5\nDA:11,5\nDA:12,0\nLF:3\nLH:2\nend_of_record\n",
     "Probe.gau: 1 source file name with control characters"},
    {"FunctionNamesKeepControlCharactersEscapedAndNoComma",
     {{"Plain.gau", with_escape_in_function(), {}}},
     "TN:run_1\nSF:Plain.gau\nFN:2,St\\x1b[2Jart<1; 2>\nFNDA:0,St\\x1b[2Jart<1; 2>\nFNF:1\nFNH:0\n"
     "DA:1,0\nDA:2,0\nDA:3,0\nLF:3\nLH:0\nend_of_record\n"},
    {"AModuleFileNamedWithControlCharactersIsLeftOut",
     {{"Pl\nain.gau", without_lines(), {}}},
     "",
     "Pl\\x0aain.gau: 1 source file name with control characters"},
};

class LcovTracefile : public testing::TestWithParam<Case> {};

// The sum of a tracefile's `key`: records, of which the tracefile's figures are made.
size_t sum_of(const std::string& tracefile, const std::string& key) {
    size_t sum = 0;
    for (size_t at = tracefile.find("\n" + key + ":"); at != std::string::npos;
         at = tracefile.find("\n" + key + ":", at + 1))
        sum += std::stoul(tracefile.substr(at + key.size() + 2));
    return sum;
}

TEST_P(LcovTracefile, ListsLinesAndFunctionsWithTheirHits) {
    std::vector<std::string> warnings;
    runtime::CoverageTotals totals;
    const std::string& expected = GetParam().expected;
    EXPECT_EQ(runtime::lcov_tracefile("run 1", GetParam().modules, warnings, &totals), expected);
    size_t records = 0;
    for (size_t at = expected.find("SF:"); at != std::string::npos; at = expected.find("SF:", at + 1)) ++records;
    EXPECT_EQ(totals.files, records);
    EXPECT_EQ(totals.lines, sum_of(expected, "LF"));
    EXPECT_EQ(totals.lines_hit, sum_of(expected, "LH"));
    EXPECT_EQ(totals.functions, sum_of(expected, "FNF"));
    EXPECT_EQ(totals.functions_hit, sum_of(expected, "FNH"));
    if (GetParam().warning == nullptr) {
        EXPECT_TRUE(warnings.empty()) << warnings.front();
    } else {
        ASSERT_EQ(warnings.size(), 1u);
        EXPECT_TRUE(warnings.front().starts_with(GetParam().warning)) << warnings.front();
    }
}

INSTANTIATE_TEST_SUITE_P(Reports, LcovTracefile, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Which sources a report covers --------------------------------------

struct ChoiceCase {
    const char* path;  // real; empty: no such file
    runtime::SourceFilter filter;
    runtime::SourceChoice expected;
};

using Choice = runtime::SourceChoice;
const ChoiceCase kChoiceCases[] = {
    {"/home/d/gauges/dial.cpp", {}, Choice::kReported},
    {"", {}, Choice::kMissing},
    {"/usr/lib/gcc/i686-w64-mingw32/12-posix/include/c++/bits/stl_algo.h", {}, Choice::kExcludedByDefault},
    {"/opt/mxe/usr/i686-w64-mingw32/include/winnt.h", {}, Choice::kExcludedByDefault},
    {"/home/d/kit/gaugekit/services.h", {}, Choice::kExcludedByDefault},
    {"/home/d/kit/frame/records.h", {}, Choice::kExcludedByDefault},
    {"/home/d/kit/gaugekit/services.h", {{"gaugekit/*"}, {}}, Choice::kReported},
    {"/home/d/gauges/dial.cpp", {{"gaugekit/*"}, {}}, Choice::kLeftOutByFilter},
    {"/home/d/gauges/dial_test.cpp", {{}, {"*_test.cpp"}}, Choice::kLeftOutByFilter},
    {"/usr/include/stdio.h", {{"*"}, {}}, Choice::kReported},
    {"/usr/include/stdio.h", {{"*"}, {"/usr/*"}}, Choice::kLeftOutByFilter},
};

class SourceChoices : public testing::TestWithParam<ChoiceCase> {};

TEST_P(SourceChoices, LeaveOutTheToolchainsAndTheKitsUnlessChosen) {
    EXPECT_EQ(runtime::choose_source(GetParam().path, GetParam().filter), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Reports, SourceChoices, testing::ValuesIn(kChoiceCases));

// A checkout with src/a.cpp, its build tree's layer linking to src, and a
// module in build/win/crt.
TEST(SourceFiles, ResolveToTheRealFileFromTheModulesFolders) {
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("coverage_sources_" + std::to_string(::getpid()));
    fs::remove_all(root);
    fs::create_directories(root / "src");
    fs::create_directories(root / "build/win/layers/L");
    fs::create_directories(root / "build/win/crt");
    std::ofstream(root / "src/a.cpp") << "int a;\n";
    fs::create_directory_symlink(root / "src", root / "build/win/layers/L/src");
    const std::string module = (root / "build/win/crt/M.gau").string();
    const std::string real = fs::canonical(root / "src/a.cpp").string();
    const struct {
        std::string written;
        std::string expected;
    } cases[] = {
        {"src/a.cpp", real},
        {"../L/src/a.cpp", ""},  // relative to no folder of the module's
        {(root / "build/win/layers/L/src/a.cpp").string(), real},
        {"layers/L/src/a.cpp", real},
        {"src/b.cpp", ""},
        {"src", ""},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(runtime::resolve_source(c.written, module), c.expected) << c.written;
    fs::remove_all(root);
}

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
