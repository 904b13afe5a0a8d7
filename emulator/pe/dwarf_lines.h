// Where a PE image's code came from: the DWARF line table (.debug_line,
// versions 2 to 5, with the strings of .debug_line_str and .debug_str) and
// the functions' names (the COFF symbol table an unstripped MinGW image
// keeps, else the exports in code). A debugger names source lines and
// functions from it, the coverage report counts lines by it. Every offset
// is checked: a malformed section gives PeError naming the file, the
// section and what was expected, never a read outside it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "emulator/pe/pe_image.h"

namespace emulator {

// One row of the line table: the code at `rva` onwards (up to the next row
// of its sequence) comes from `line` of files()[file]. A sequence's last row
// has end_sequence and gives the address just past its code.
struct SourceLine {
    uint32_t rva = 0;
    uint32_t file = 0;
    uint32_t line = 0;
    bool end_sequence = false;
};

struct FunctionSymbol {
    std::string name;  // demangled where it is a C++ name, as linked otherwise (no leading underscore)
    uint32_t rva = 0;
    uint32_t size = 0;  // up to the next function or its section's end
};

struct SourceLocation {
    uint32_t file = 0;  // index into DebugLines::files()
    uint32_t line = 0;
};

class DebugLines {
public:
    // Throws PeError naming `file_name` where a section is malformed; an
    // image without DWARF has no rows, one without symbols its exported code.
    static DebugLines read(const PeImage& image, const std::string& file_name);

    // Every sequence of every unit in the file's order, each ascending and
    // closed by its end_sequence row. Sequences of code the linker dropped
    // (addresses outside the image) are left out.
    const std::vector<SourceLine>& rows() const { return rows_; }
    // Full paths (directory and name as the compiler wrote them), each once.
    const std::vector<std::string>& files() const { return files_; }
    // By ascending RVA, one name an address.
    const std::vector<FunctionSymbol>& functions() const { return functions_; }

    // The row with the greatest address at or below `rva` in the sequence
    // holding it; none outside every sequence.
    std::optional<SourceLocation> location(uint32_t rva) const;
    // The function whose [rva, rva + size) holds `rva`; null for none.
    const FunctionSymbol* function_at(uint32_t rva) const;

private:
    // A sequence's rows: [first, end) of rows_, the last its end_sequence row.
    struct Sequence {
        uint32_t start = 0;
        uint32_t end = 0;
        size_t first = 0;
        size_t last = 0;
    };
    friend class DwarfLineReader;

    std::vector<SourceLine> rows_;
    std::vector<std::string> files_;
    std::vector<FunctionSymbol> functions_;
    std::vector<Sequence> sequences_;  // by ascending start
};

}  // namespace emulator
