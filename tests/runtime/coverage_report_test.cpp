// The lcov tracefile: from a line table, functions and executed blocks made
// here, each module's records list every line and function with the hits
// of the blocks over them, as lcov reads them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/coverage_report.h"

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
};

class LcovTracefile : public testing::TestWithParam<Case> {};

TEST_P(LcovTracefile, ListsLinesAndFunctionsWithTheirHits) {
    EXPECT_EQ(runtime::lcov_tracefile("run 1", GetParam().modules), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Reports, LcovTracefile, testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
