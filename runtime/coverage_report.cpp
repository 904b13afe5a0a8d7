#include "runtime/coverage_report.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <set>
#include <span>
#include <string_view>

#include "emulator/dwarf_lines.h"
#include "emulator/pe_image.h"

namespace runtime {
namespace {

// A pseudo-source line of a module without DWARF: this many bytes of code.
constexpr uint32_t kChunkBytes = 16;

// The code cut at every block's ends into pieces, each with the most hits
// of the blocks covering it (blocks may overlap: code entered in its middle
// is a block of its own).
class HitMap {
public:
    explicit HitMap(std::span<const ExecutedBlock> blocks) {
        std::vector<std::pair<uint64_t, int64_t>> edges;  // (address, index + 1 starting, -(index + 1) ending)
        for (size_t i = 0; i < blocks.size(); ++i) {
            if (blocks[i].size == 0) continue;
            edges.emplace_back(blocks[i].rva, static_cast<int64_t>(i + 1));
            edges.emplace_back(uint64_t{blocks[i].rva} + blocks[i].size, -static_cast<int64_t>(i + 1));
        }
        std::sort(edges.begin(), edges.end());
        std::multiset<uint64_t> active;
        for (size_t i = 0; i < edges.size();) {
            const uint64_t at = edges[i].first;
            for (; i < edges.size() && edges[i].first == at; ++i) {
                const int64_t edge = edges[i].second;
                const uint64_t hits = blocks[static_cast<size_t>(std::abs(edge) - 1)].hits;
                if (edge > 0) {
                    active.insert(hits);
                } else {
                    active.erase(active.find(hits));
                }
            }
            pieces_.emplace_back(at, active.empty() ? 0 : *active.rbegin());
        }
    }

    // The most hits anywhere in [begin, end).
    uint64_t most(uint64_t begin, uint64_t end) const {
        auto piece = std::upper_bound(pieces_.begin(), pieces_.end(), begin,
                                      [](uint64_t value, const auto& p) { return value < p.first; });
        if (piece != pieces_.begin()) --piece;
        uint64_t hits = 0;
        for (; piece != pieces_.end() && piece->first < end; ++piece) {
            const auto next = std::next(piece);
            if (next == pieces_.end() || next->first > begin) hits = std::max(hits, piece->second);
        }
        return hits;
    }
    uint64_t at(uint64_t rva) const { return most(rva, rva + 1); }

private:
    std::vector<std::pair<uint64_t, uint64_t>> pieces_;  // (start, hits) by ascending start
};

// One SF record: functions by line, lines with their hits by ascending line.
struct Record {
    std::string source;
    std::vector<std::pair<const CodeMap::Function*, uint32_t>> functions;  // with their line
    std::vector<std::pair<uint32_t, uint64_t>> lines;
};

std::string test_name_of(const std::string& name) {
    std::string kept = name;
    for (char& c : kept) {
        const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!word) c = '_';
    }
    return kept;
}

bool control(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; }

bool has_control(std::string_view text) { return std::any_of(text.begin(), text.end(), control); }

// A label with its control characters as \xNN.
std::string label(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (control(c)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned>(static_cast<unsigned char>(c)));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

void write(std::string& out, const std::string& test_name, const Record& record, const HitMap& hits) {
    out += "TN:" + test_name + "\nSF:" + record.source + "\n";
    size_t functions_hit = 0;
    for (const auto& [function, line] : record.functions)
        out += "FN:" + std::to_string(line) + "," + label(function->name) + "\n";
    for (const auto& [function, line] : record.functions) {
        const uint64_t count = hits.at(function->rva);
        functions_hit += count > 0 ? 1 : 0;
        out += "FNDA:" + std::to_string(count) + "," + label(function->name) + "\n";
    }
    out += "FNF:" + std::to_string(record.functions.size()) + "\nFNH:" + std::to_string(functions_hit) + "\n";
    size_t lines_hit = 0;
    for (const auto& [line, count] : record.lines) {
        lines_hit += count > 0 ? 1 : 0;
        out += "DA:" + std::to_string(line) + "," + std::to_string(count) + "\n";
    }
    out += "LF:" + std::to_string(record.lines.size()) + "\nLH:" + std::to_string(lines_hit) + "\nend_of_record\n";
}

// Records by source file, in the order of the module's files; those whose
// names cannot be written are counted in `unwritable`.
std::vector<Record> source_records(const CodeMap& code, const HitMap& hits, size_t& unwritable) {
    std::vector<Record> records(code.files.size());
    for (size_t i = 0; i < records.size(); ++i) records[i].source = code.files[i];
    for (const CodeMap::Line& line : code.lines) {
        // Line 0 is code the compiler made that belongs to no line.
        if (line.file >= records.size() || line.line == 0) continue;
        records[line.file].lines.emplace_back(line.line, hits.at(line.rva));
    }
    for (const CodeMap::Function& function : code.functions) {
        if (function.file && *function.file < records.size())
            records[*function.file].functions.emplace_back(&function, function.line);
    }
    // A line's code may lie in several places: it counts as its most run.
    for (Record& record : records) {
        std::sort(record.lines.begin(), record.lines.end());
        auto kept = record.lines.begin();
        for (auto it = record.lines.begin(); it != record.lines.end(); ++it) {
            if (kept != record.lines.begin() && std::prev(kept)->first == it->first) {
                std::prev(kept)->second = it->second;  // ascending: the last of a line is its most
            } else {
                *kept++ = *it;
            }
        }
        record.lines.erase(kept, record.lines.end());
    }
    std::vector<Record> kept;
    for (size_t i = 0; i < records.size(); ++i) {
        if (records[i].lines.empty() && records[i].functions.empty()) continue;
        if (!has_control(records[i].source)) {
            kept.push_back(std::move(records[i]));
        } else {
            ++unwritable;
        }
    }
    return kept;
}

// A record per code section of a module without DWARF, its lines 16-byte pieces.
std::vector<Record> section_records(const std::string& module, const CodeMap& code, const HitMap& hits) {
    std::vector<Record> records;
    for (const CodeMap::Section& section : code.code_sections) {
        Record record;
        record.source = label(module + "/" + section.name);
        for (uint64_t offset = 0; offset < section.size; offset += kChunkBytes) {
            const uint64_t begin = section.rva + offset;
            record.lines.emplace_back(
                static_cast<uint32_t>(offset / kChunkBytes + 1),
                hits.most(begin, std::min<uint64_t>(begin + kChunkBytes, uint64_t{section.rva} + section.size)));
        }
        for (const CodeMap::Function& function : code.functions) {
            if (function.rva >= section.rva && function.rva - section.rva < section.size)
                record.functions.emplace_back(&function, (function.rva - section.rva) / kChunkBytes + 1);
        }
        records.push_back(std::move(record));
    }
    return records;
}

}  // namespace

CodeMap code_map(const emulator::PeImage& image, const std::string& name, std::vector<std::string>& warnings) {
    CodeMap code;
    for (const emulator::PeSection& section : image.sections()) {
        if ((section.characteristics & (emulator::kSectionCode | emulator::kSectionExecute)) != 0)
            code.code_sections.push_back({section.name, section.virtual_address, section.virtual_size});
    }
    std::optional<emulator::DebugLines> debug;
    try {
        debug = emulator::DebugLines::read(image, name);
    } catch (const emulator::PeError& error) {
        // The module ran all the same (and a debugger still names addresses):
        // what it ran is reported by its pieces of code.
        // The message quotes the module's names, and goes to a terminal.
        warnings.push_back(label(error.what()) + ": its coverage is counted by 16-byte pieces of its code");
        return code;
    }
    code.files = debug->files();
    for (const emulator::SourceLine& row : debug->rows()) {
        if (!row.end_sequence) code.lines.push_back({row.rva, row.file, row.line});
    }
    for (const emulator::FunctionSymbol& symbol : debug->functions()) {
        CodeMap::Function function{.name = symbol.name, .rva = symbol.rva, .size = symbol.size, .file = {}, .line = 0};
        if (const auto where = debug->location(symbol.rva)) {
            function.file = where->file;
            function.line = where->line;
        }
        code.functions.push_back(std::move(function));
    }
    return code;
}

CodeMap read_code_map(const std::string& path, std::vector<std::string>& warnings) {
    return code_map(emulator::PeImage::read_file(path), path, warnings);
}

std::string lcov_tracefile(const std::string& test_name, const std::vector<ModuleCoverage>& modules,
                           std::vector<std::string>& warnings) {
    const std::string name = test_name_of(test_name);
    std::string out;
    for (const ModuleCoverage& module : modules) {
        const HitMap hits(module.blocks);
        size_t unwritable = 0;
        const std::vector<Record> records = module.code.lines.empty() ? section_records(module.file, module.code, hits)
                                                                      : source_records(module.code, hits, unwritable);
        for (const Record& record : records) write(out, name, record, hits);
        if (unwritable != 0) {
            warnings.push_back(label(module.file) + ": " + std::to_string(unwritable) + " source file name" +
                               (unwritable == 1 ? "" : "s") +
                               " with control characters, which an lcov tracefile cannot hold: left out of the "
                               "coverage report with their lines and functions");
        }
    }
    return out;
}

}  // namespace runtime
