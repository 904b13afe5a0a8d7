// The line table reader on the debug sections of a small image: the input's
// first byte chooses what else it feeds, the next two give the length of the
// .debug_line part, whose bytes follow; the rest goes to .debug_line_str and
// .debug_str, and with the first byte odd to the COFF symbol table too. Any
// input gives the rows and names or PeError; every row it gives lies inside
// the image and names a file it lists, and every lookup stays inside them.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "emulator/pe/dwarf_lines.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/debug_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const bool symbols = (data[0] & 1) != 0;
    const size_t line_size = std::min<size_t>(size - 3, data[1] | size_t{data[2]} << 8);
    const std::vector<uint8_t> line(data + 3, data + 3 + line_size);
    const std::vector<uint8_t> rest(data + 3 + line_size, data + size);
    emulator::PeImage image;
    try {
        image = emulator::PeImage::parse(
            test_support::debug_image({{".debug_line", line}, {".debug_line_str", rest}, {".debug_str", rest}},
                                      symbols ? rest : std::vector<uint8_t>()),
            "fuzz.gau");
    } catch (const emulator::PeError&) {
        FUZZ_CHECK(false, "the image around the sections reads");
    }
    try {
        const auto lines = emulator::DebugLines::read(image, "fuzz.gau");
        for (const emulator::SourceLine& row : lines.rows()) {
            FUZZ_CHECK(row.rva <= image.size_of_image(), "rows lie inside the image");
            FUZZ_CHECK(row.file < lines.files().size(), "rows name a listed file");
            if (const auto where = lines.location(row.rva))
                FUZZ_CHECK(where->file < lines.files().size(), "a location names a listed file");
        }
        for (const emulator::FunctionSymbol& function : lines.functions()) {
            FUZZ_CHECK(uint64_t{function.rva} + function.size <= image.size_of_image(), "functions lie in the image");
            FUZZ_CHECK(function.size == 0 || lines.function_at(function.rva) == &function, "a function is found");
        }
    } catch (const emulator::PeError&) {}
    return 0;
}
