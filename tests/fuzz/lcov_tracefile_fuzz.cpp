// The lcov tracefile of a module whose line table and symbols carry names
// the input chooses: its first byte gives the line table's version (2 to 5)
// and the count of directories (0 to 3), the second the hits of the block
// run over .text; the rest, split at its zero bytes, gives the directories,
// then the files, each with a row of its own, a function symbol named by
// its first 8 bytes, and the module's own file name (the last piece). Any
// names give a tracefile of whole records: every line a record lcov knows,
// each SF: closed by its end_of_record and naming a source of the module
// (or, without lines, the module file), no control character in
// a line; and warnings without control characters (they go to a terminal).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/pe/pe_image.h"
#include "runtime/coverage_report.h"
#include "tests/fuzz/fuzz_check.h"
#include "tests/support/line_program.h"

namespace {

using test_support::append;
using test_support::append_number;
using test_support::append_string;
using test_support::Bytes;

bool has_control(std::string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

// Version 5's tables with the paths in the unit itself (DW_FORM_string).
Bytes tables_5(const std::vector<std::string>& directories, const std::vector<std::string>& files) {
    Bytes tables{1, 1, 0x08};
    tables.push_back(static_cast<uint8_t>(directories.size()));
    for (const std::string& directory : directories) append_string(tables, directory);
    append(tables, {2, 1, 0x08, 2, 0x0b});
    tables.push_back(static_cast<uint8_t>(files.size()));
    for (size_t i = 0; i < files.size(); ++i) {
        append_string(tables, files[i]);
        tables.push_back(static_cast<uint8_t>(directories.empty() ? 0 : i % directories.size()));
    }
    return tables;
}

Bytes line_table(int version, const std::vector<std::string>& directories, const std::vector<std::string>& files) {
    Bytes tables;
    if (version >= 5) {
        tables = tables_5(directories, files);
    } else {
        std::vector<std::pair<std::string, uint8_t>> listed;
        for (size_t i = 0; i < files.size(); ++i)
            listed.emplace_back(files[i], static_cast<uint8_t>(i % (directories.size() + 1)));
        tables = test_support::tables_before_5(directories, listed);
    }
    // A row a byte for each file, from .text's start.
    Bytes program = test_support::set_address(test_support::kDebugImageBase + test_support::kDebugTextRva);
    for (size_t i = 0; i < files.size(); ++i) {
        append(program, {4, static_cast<uint8_t>(version >= 5 ? i : i + 1)});  // set_file
        append(program, test_support::row(i == 0 ? 0 : 1, 1));
    }
    append(program, {2, 1});  // advance_pc
    append(program, test_support::kEndSequence);
    return test_support::unit(version, tables, program);
}

Bytes function_symbols(const std::vector<std::string>& names) {
    Bytes symbols;
    for (size_t i = 0; i < names.size(); ++i) {
        Bytes record(8, 0);
        std::copy_n(names[i].begin(), std::min<size_t>(names[i].size(), 8), record.begin());
        append_number(record, i, 4);
        append(record, {1, 0, 0x20, 0, 2, 0});  // section 1, a function, external
        append(symbols, record);
    }
    return symbols;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const int version = 2 + (data[0] & 3);
    const size_t directory_count = (data[0] >> 2) & 3;
    std::vector<std::string> pieces;
    std::string piece;
    for (size_t i = 2; i < size; ++i) {
        if (data[i] != 0) {
            piece += static_cast<char>(data[i]);
        } else {
            pieces.push_back(std::move(piece));
            piece.clear();
        }
    }
    pieces.push_back(std::move(piece));
    // Names only: the line table's tables hold a byte's count of them.
    if (pieces.size() > 100) return 0;
    const std::string module_file = pieces.back();
    pieces.pop_back();
    const size_t directories_end = std::min(directory_count, pieces.size());
    const std::vector<std::string> directories(pieces.begin(), pieces.begin() + directories_end);
    const std::vector<std::string> files(pieces.begin() + directories_end, pieces.end());

    emulator::PeImage image;
    try {
        image = emulator::PeImage::parse(
            test_support::debug_image({{".debug_line", line_table(version, directories, files)}},
                                      function_symbols(files)),
            "fuzz.gau");
    } catch (const emulator::PeError&) {
        FUZZ_CHECK(false, "the image around the sections reads");
    }
    std::vector<std::string> warnings;
    runtime::ModuleCoverage module;
    module.file = module_file;
    module.code = runtime::code_map(image, module_file, warnings);
    module.blocks.push_back({test_support::kDebugTextRva, test_support::kDebugTextSize, data[1]});
    const std::string tracefile = runtime::lcov_tracefile("fuzz", {module}, warnings);

    FUZZ_CHECK(tracefile.empty() || tracefile.back() == '\n', "the tracefile ends its last line");
    bool in_record = false;
    size_t records = 0;
    for (size_t start = 0; start < tracefile.size();) {
        const size_t end = tracefile.find('\n', start);
        const std::string_view line(tracefile.data() + start, end - start);
        start = end + 1;
        FUZZ_CHECK(!has_control(line), "no control character in a line");
        if (line == "end_of_record") {
            FUZZ_CHECK(in_record, "an end_of_record closes an SF:");
            in_record = false;
            ++records;
            continue;
        }
        const size_t colon = line.find(':');
        FUZZ_CHECK(colon != std::string_view::npos, "every line a record");
        const std::string_view key = line.substr(0, colon);
        if (key == "TN") {
            FUZZ_CHECK(!in_record, "TN: between records");
        } else if (key == "SF") {
            FUZZ_CHECK(!in_record, "an SF: after the last one's end_of_record");
            in_record = true;
            const std::vector<std::string>& files = module.code.files;
            FUZZ_CHECK(
                module.code.lines.empty() || std::find(files.begin(), files.end(), line.substr(3)) != files.end(),
                "an SF: names a source of the module");
        } else {
            static constexpr std::string_view kInside[] = {"FN", "FNDA", "FNF", "FNH", "DA", "LF", "LH"};
            FUZZ_CHECK(std::find(std::begin(kInside), std::end(kInside), key) != std::end(kInside),
                       "every line a record lcov knows");
            FUZZ_CHECK(in_record, "a record's lines after its SF:");
        }
    }
    FUZZ_CHECK(!in_record, "every SF: has its end_of_record");
    // A name made empty is one chosen out of the report, without a word.
    const bool unnamed = module.code.lines.empty() ? module_file.empty()
                                                   : std::find(module.code.files.begin(), module.code.files.end(),
                                                               "") != module.code.files.end();
    FUZZ_CHECK(records > 0 || !warnings.empty() || unnamed, "the module's code is reported, or a warning says why not");
    FUZZ_CHECK(!module.code.lines.empty() || records <= 1, "without lines, one record: the module file");
    for (const std::string& warning : warnings) FUZZ_CHECK(!has_control(warning), "warnings hold no control character");
    return 0;
}
