// Line coverage of module code as an lcov tracefile (genhtml renders it):
// which source lines and functions the executed code came from, and how
// often it ran. The report itself is a pure function of what each module's
// code is (its line table, functions and code sections) and of the basic
// blocks executed in it; read_code_map gives the first from a PE file.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
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
    // The module's file, named in warnings; without a line table, the SF of
    // its pieces of code.
    std::string file;
    CodeMap code;
    std::vector<ExecutedBlock> blocks;
    bool file_reported = true;  // false: a module without a line table left out
};

// Which source files a report covers. By default those that exist on this
// machine and are the designer's: not the compiler's or the C runtime's,
// nor the kit's (gaugekit/, frame/: the designer builds with them, they are
// not the designer's code). Any `include` glob: only the files one matches,
// whatever the default exclusions say; an `exclude` glob leaves out what it
// matches. A glob matches a file's real path, its '*' across folders too;
// one starting with neither '/' nor '*' matches after any folder
// ("korvane/*" is "*/korvane/*").
struct SourceFilter {
    std::vector<std::string> include;
    std::vector<std::string> exclude;
};

// What the default exclusions leave out, and why.
struct Exclusion {
    const char* glob;
    const char* whose;
};
inline constexpr Exclusion kDefaultExclusions[] = {
    {"/usr/*", "the compiler's"},  // GCC's and the MinGW headers, where the distribution puts them
    {"*/i686-w64-mingw32/*", "the compiler's"},
    {"*/mingw-w64/*", "the compiler's"},
    {"*/mingw-w64-crt/*", "the C runtime's"},
    {"*/gaugekit/*", "the kit's"},
    {"*/frame/*", "the kit's"},
};

// Why a source file is in the report or not.
enum class SourceChoice { kReported, kMissing, kExcludedByDefault, kLeftOutByFilter };
// For a file's real path (empty: no such file on this machine).
SourceChoice choose_source(const std::string& real_path, const SourceFilter& filter);

// The real path of a source file as a line table names it: an absolute one
// as it is, a relative one from the working directory or else from the
// module file's folder or any folder above it (a build tree inside the
// checkout names the sources from the checkout's top), its links (the build
// tree's layers) resolved; empty where no such file exists.
std::string resolve_source(const std::string& written, const std::string& module_file);

// The source files of every module, as they were chosen: the real paths of
// those reported, and each other one once, by why it is not.
struct ChosenSources {
    std::set<std::string> reported;
    std::set<std::string> missing;
    std::map<std::string, std::set<std::string>> excluded;  // by whose files they are ("the kit's")
    std::set<std::string> filtered;                         // --coverage-include/--coverage-exclude
};

// Names the module's sources (and, without a line table, the module file)
// by their real paths, and empties the name of each one the filter leaves
// out, which the tracefile then leaves out with its lines and functions.
void choose_sources(ModuleCoverage& module, const SourceFilter& filter, ChosenSources& chosen);

// The tracefile's figures over all its records.
struct CoverageTotals {
    size_t files = 0;
    size_t lines = 0;
    size_t lines_hit = 0;
    size_t functions = 0;
    size_t functions_hit = 0;
};

// The tracefile: for each source file the modules' line tables name (one
// record a file of each module, however many spellings name it), a record
// of its functions (hit as often as the block holding their first
// instruction) and lines (as often as the most executed block holding the
// start of any of the line's code); a source file named empty is left out.
// A module without DWARF gets one record instead, SF:<module file>, whose
// "lines" are the 16-byte pieces of its code sections, one section after
// another (line n: offsets 16(n-1) to 16n - 1 of the first section):
// genhtml finds the file, and lists the module's functions by name.
// `test_name` is kept to the letters, digits and underscores lcov takes.
//
// Names come from the module (its line table, symbols, its file's name)
// and lcov has no quoting: a control character in one would end its record
// and start others. A source file so named (or a module file, for its
// pieces) is left out, its lines and functions with it, with one warning in
// `warnings` for the module: genhtml opens what SF names, and any altered
// spelling would name another file. Function names are only labels, and
// keep their control characters as \xNN, their commas as ';'.
std::string lcov_tracefile(const std::string& test_name, const std::vector<ModuleCoverage>& modules,
                           std::vector<std::string>& warnings, CoverageTotals* totals = nullptr);

}  // namespace runtime
