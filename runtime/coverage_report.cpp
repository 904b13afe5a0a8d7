#include "runtime/coverage_report.h"

#include <algorithm>
#include <map>
#include <set>
#include <span>

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

// One SF record: functions by line, lines with their hits.
struct Record {
    std::string source;
    std::vector<std::pair<const CodeMap::Function*, uint32_t>> functions;  // with their line
    std::map<uint32_t, uint64_t> lines;
};

std::string test_name_of(const std::string& name) {
    std::string kept = name;
    for (char& c : kept) {
        const bool word = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
        if (!word) c = '_';
    }
    return kept;
}

void write(std::string& out, const std::string& test_name, const Record& record, const HitMap& hits) {
    out += "TN:" + test_name + "\nSF:" + record.source + "\n";
    size_t functions_hit = 0;
    for (const auto& [function, line] : record.functions)
        out += "FN:" + std::to_string(line) + "," + function->name + "\n";
    for (const auto& [function, line] : record.functions) {
        const uint64_t count = hits.at(function->rva);
        functions_hit += count > 0 ? 1 : 0;
        out += "FNDA:" + std::to_string(count) + "," + function->name + "\n";
    }
    out += "FNF:" + std::to_string(record.functions.size()) + "\nFNH:" + std::to_string(functions_hit) + "\n";
    size_t lines_hit = 0;
    for (const auto& [line, count] : record.lines) {
        lines_hit += count > 0 ? 1 : 0;
        out += "DA:" + std::to_string(line) + "," + std::to_string(count) + "\n";
    }
    out += "LF:" + std::to_string(record.lines.size()) + "\nLH:" + std::to_string(lines_hit) + "\nend_of_record\n";
}

// Records by source file, in the line table's order of files.
std::vector<Record> source_records(const CodeMap& code, const HitMap& hits) {
    std::vector<Record> records(code.files.size());
    for (size_t i = 0; i < records.size(); ++i) records[i].source = code.files[i];
    for (const CodeMap::Line& line : code.lines) {
        // Line 0 is code the compiler made that belongs to no line.
        if (line.file >= records.size() || line.line == 0) continue;
        uint64_t& count = records[line.file].lines[line.line];
        count = std::max(count, hits.at(line.rva));
    }
    for (const CodeMap::Function& function : code.functions) {
        if (function.file && *function.file < records.size())
            records[*function.file].functions.emplace_back(&function, function.line);
    }
    std::erase_if(records, [](const Record& r) { return r.lines.empty() && r.functions.empty(); });
    return records;
}

// A record per code section of a module without DWARF, its lines 16-byte pieces.
std::vector<Record> section_records(const std::string& module, const CodeMap& code, const HitMap& hits) {
    std::vector<Record> records;
    for (const CodeMap::Section& section : code.code_sections) {
        Record record;
        record.source = module + "/" + section.name;
        for (uint64_t offset = 0; offset < section.size; offset += kChunkBytes) {
            const uint64_t begin = section.rva + offset;
            record.lines[static_cast<uint32_t>(offset / kChunkBytes + 1)] =
                hits.most(begin, std::min<uint64_t>(begin + kChunkBytes, uint64_t{section.rva} + section.size));
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

CodeMap read_code_map(const std::string& path) {
    const emulator::PeImage image = emulator::PeImage::read_file(path);
    const emulator::DebugLines debug = emulator::DebugLines::read(image, path);
    CodeMap code;
    code.files = debug.files();
    for (const emulator::SourceLine& row : debug.rows()) {
        if (!row.end_sequence) code.lines.push_back({row.rva, row.file, row.line});
    }
    for (const emulator::FunctionSymbol& symbol : debug.functions()) {
        CodeMap::Function function{.name = symbol.name, .rva = symbol.rva, .size = symbol.size, .file = {}, .line = 0};
        if (const auto where = debug.location(symbol.rva)) {
            function.file = where->file;
            function.line = where->line;
        }
        code.functions.push_back(std::move(function));
    }
    for (const emulator::PeSection& section : image.sections()) {
        if ((section.characteristics & (emulator::kSectionCode | emulator::kSectionExecute)) != 0)
            code.code_sections.push_back({section.name, section.virtual_address, section.virtual_size});
    }
    return code;
}

std::string lcov_tracefile(const std::string& test_name, const std::vector<ModuleCoverage>& modules) {
    const std::string name = test_name_of(test_name);
    std::string out;
    for (const ModuleCoverage& module : modules) {
        const HitMap hits(module.blocks);
        const std::vector<Record> records = module.code.lines.empty() ? section_records(module.file, module.code, hits)
                                                                      : source_records(module.code, hits);
        for (const Record& record : records) write(out, name, record, hits);
    }
    return out;
}

}  // namespace runtime
