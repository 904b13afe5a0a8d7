// Line coverage of module code as an lcov tracefile (genhtml renders it):
// which source lines and functions the executed code came from, and how
// often it ran. The report itself is a pure function of what each module's
// code is (its line table, functions and code sections) and of the basic
// blocks executed in it; read_code_map gives the first from a PE file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace emulator {
class PeImage;
}

namespace runtime {

// A basic block executed `hits` times: every instruction address in
// [rva, rva + size) counts as executed that often.
struct ExecutedBlock {
    uint32_t rva = 0;
    uint32_t size = 0;
    uint64_t hits = 0;
};

// A module's code as the report sees it, RVAs throughout.
struct CodeMap {
    // Where the code of a line of the line table starts (its end rows left out).
    struct Line {
        uint32_t rva = 0;
        uint32_t file = 0;  // index into files
        uint32_t line = 0;
    };
    struct Function {
        std::string name;
        uint32_t rva = 0;
        uint32_t size = 0;
        std::optional<uint32_t> file;  // where the line table puts its start; none outside it
        uint32_t line = 0;
    };
    struct Section {
        std::string name;
        uint32_t rva = 0;
        uint32_t size = 0;
    };
    std::vector<std::string> files;
    std::vector<Line> lines;  // empty for a module without DWARF
    std::vector<Function> functions;
    std::vector<Section> code_sections;
};

// A module's line table, functions and code sections from its PE image
// (`name` names it in messages). A line table or symbol table that does not
// read leaves the map its code sections alone, said in `warnings`: the
// report then counts the module's code by its pieces, as for a module
// without DWARF.
CodeMap code_map(const emulator::PeImage& image, const std::string& name, std::vector<std::string>& warnings);
// The same from the PE file; throws std::runtime_error naming the file
// where it cannot be read as a PE file at all.
CodeMap read_code_map(const std::string& path, std::vector<std::string>& warnings);

struct ModuleCoverage {
    std::string file;  // the module's file name, "Korvane.gau"
    CodeMap code;
    std::vector<ExecutedBlock> blocks;
};

// The tracefile: for each module and each source file its line table
// names, a record of its functions (hit as often as the block holding
// their first instruction) and lines (as often as the most executed block
// holding the start of any of the line's code). A module without DWARF gets
// a record per code section instead, SF:<module file>/<section>, whose
// "lines" are the section's 16-byte pieces (line n: offsets 16(n-1) to
// 16n - 1), for genhtml --ignore-errors source. `test_name` is kept to the
// letters, digits and underscores lcov takes.
//
// Names come from the module (its line table, symbols, sections) and lcov
// has no quoting: a control character in one would end its record and
// start others. A source file so named is left out, its lines and
// functions with it, with one warning in `warnings` for the module: genhtml
// opens what SF names, and any altered spelling would name another file.
// Function names and the sections' stand-in sources are only labels, and
// keep their control characters as \xNN.
std::string lcov_tracefile(const std::string& test_name, const std::vector<ModuleCoverage>& modules,
                           std::vector<std::string>& warnings);

}  // namespace runtime
