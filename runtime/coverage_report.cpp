#include "runtime/coverage_report.h"

#include <fnmatch.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string_view>

#include "emulator/pe/dwarf_lines.h"
#include "emulator/pe/pe_image.h"

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

// A function's name as lcov reads it: genhtml 1.x ends a name at its first
// comma, and would take lever_drag<0u, 3u> and lever_drag<0u, 4u> for one.
std::string function_label(std::string_view name) {
    std::string text = label(name);
    std::replace(text.begin(), text.end(), ',', ';');
    return text;
}

void write(std::string& out, const std::string& test_name, const Record& record, const HitMap& hits,
           CoverageTotals& totals) {
    out += "TN:" + test_name + "\nSF:" + record.source + "\n";
    size_t functions_hit = 0;
    for (const auto& [function, line] : record.functions)
        out += "FN:" + std::to_string(line) + "," + function_label(function->name) + "\n";
    for (const auto& [function, line] : record.functions) {
        const uint64_t count = hits.at(function->rva);
        functions_hit += count > 0 ? 1 : 0;
        out += "FNDA:" + std::to_string(count) + "," + function_label(function->name) + "\n";
    }
    out += "FNF:" + std::to_string(record.functions.size()) + "\nFNH:" + std::to_string(functions_hit) + "\n";
    size_t lines_hit = 0;
    for (const auto& [line, count] : record.lines) {
        lines_hit += count > 0 ? 1 : 0;
        out += "DA:" + std::to_string(line) + "," + std::to_string(count) + "\n";
    }
    out += "LF:" + std::to_string(record.lines.size()) + "\nLH:" + std::to_string(lines_hit) + "\nend_of_record\n";
    ++totals.files;
    totals.lines += record.lines.size();
    totals.lines_hit += lines_hit;
    // As genhtml counts them: a name once, however many copies the linker kept (a constructor's two).
    std::set<std::string_view> named, run;
    for (const auto& [function, line] : record.functions) {
        named.insert(function->name);
        if (hits.at(function->rva) > 0) run.insert(function->name);
    }
    totals.functions += named.size();
    totals.functions_hit += run.size();
}

// Records by source file, in the order of the module's files, files of one
// name sharing one; those named empty are left out, those whose names cannot
// be written counted in `unwritable`.
std::vector<Record> source_records(const CodeMap& code, const HitMap& hits, size_t& unwritable) {
    std::vector<Record> records;
    std::vector<size_t> record_of(code.files.size());
    std::map<std::string_view, size_t> by_name;
    for (size_t i = 0; i < code.files.size(); ++i) {
        const auto [named, added] = by_name.try_emplace(code.files[i], records.size());
        if (added) records.push_back(Record{code.files[i], {}, {}});
        record_of[i] = named->second;
    }
    for (const CodeMap::Line& line : code.lines) {
        // Line 0 is code the compiler made that belongs to no line.
        if (line.file >= record_of.size() || line.line == 0) continue;
        records[record_of[line.file]].lines.emplace_back(line.line, hits.at(line.rva));
    }
    for (const CodeMap::Function& function : code.functions) {
        if (function.file && *function.file < record_of.size())
            records[record_of[*function.file]].functions.emplace_back(&function, function.line);
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
        if (records[i].source.empty() || (records[i].lines.empty() && records[i].functions.empty())) continue;
        if (!has_control(records[i].source)) {
            kept.push_back(std::move(records[i]));
        } else {
            ++unwritable;
        }
    }
    return kept;
}

// The one record of a module without DWARF: the module file, its lines the
// 16-byte pieces of its code sections, one section after another; none for
// a module left out, or one whose name cannot be written (`unwritable`).
std::vector<Record> piece_records(const ModuleCoverage& module, const HitMap& hits, size_t& unwritable) {
    if (!module.file_reported || module.file.empty() || module.code.code_sections.empty()) return {};
    if (has_control(module.file)) {
        ++unwritable;
        return {};
    }
    Record record;
    record.source = module.file;
    uint32_t first_line = 1;  // of the section's first piece
    for (const CodeMap::Section& section : module.code.code_sections) {
        for (uint64_t offset = 0; offset < section.size; offset += kChunkBytes) {
            const uint64_t begin = section.rva + offset;
            record.lines.emplace_back(
                static_cast<uint32_t>(first_line + offset / kChunkBytes),
                hits.most(begin, std::min<uint64_t>(begin + kChunkBytes, uint64_t{section.rva} + section.size)));
        }
        for (const CodeMap::Function& function : module.code.functions) {
            if (function.rva >= section.rva && function.rva - section.rva < section.size)
                record.functions.emplace_back(&function, first_line + (function.rva - section.rva) / kChunkBytes);
        }
        first_line += static_cast<uint32_t>((uint64_t{section.size} + kChunkBytes - 1) / kChunkBytes);
    }
    return {std::move(record)};
}

bool glob_matches(const std::string& glob, const std::string& path) {
    const std::string pattern = glob.starts_with('/') || glob.starts_with('*') ? glob : "*/" + glob;
    return fnmatch(pattern.c_str(), path.c_str(), 0) == 0;
}

bool any_matches(const std::vector<std::string>& globs, const std::string& path) {
    return std::any_of(globs.begin(), globs.end(), [&](const std::string& glob) { return glob_matches(glob, path); });
}

const Exclusion* default_exclusion(const std::string& path) {
    for (const Exclusion& exclusion : kDefaultExclusions) {
        if (glob_matches(exclusion.glob, path)) return &exclusion;
    }
    return nullptr;
}

// Notes one source file's choice; whether it is reported.
bool note_choice(const std::string& written, const std::string& real, const SourceFilter& filter,
                 ChosenSources& chosen) {
    switch (choose_source(real, filter)) {
        case SourceChoice::kReported: chosen.reported.insert(real); return true;
        case SourceChoice::kMissing:
            // The C runtime's sources, named where its builder had them, are its still.
            if (const Exclusion* exclusion = default_exclusion(written);
                exclusion != nullptr && filter.include.empty()) {
                chosen.excluded[exclusion->whose].insert(written);
            } else {
                chosen.missing.insert(written);
            }
            return false;
        case SourceChoice::kExcludedByDefault:
            chosen.excluded[default_exclusion(real)->whose].insert(real);
            return false;
        case SourceChoice::kLeftOutByFilter: chosen.filtered.insert(real); return false;
    }
    return false;
}

}  // namespace

SourceChoice choose_source(const std::string& real_path, const SourceFilter& filter) {
    if (real_path.empty()) return SourceChoice::kMissing;
    if (any_matches(filter.exclude, real_path)) return SourceChoice::kLeftOutByFilter;
    if (!filter.include.empty())
        return any_matches(filter.include, real_path) ? SourceChoice::kReported : SourceChoice::kLeftOutByFilter;
    return default_exclusion(real_path) != nullptr ? SourceChoice::kExcludedByDefault : SourceChoice::kReported;
}

std::string resolve_source(const std::string& written, const std::string& module_file) {
    namespace fs = std::filesystem;
    std::error_code error;
    const auto real = [&](const fs::path& path) -> std::string {
        const fs::path resolved = fs::canonical(path, error);
        return !error && fs::is_regular_file(resolved, error) ? resolved.string() : std::string();
    };
    const fs::path path(written);
    if (written.empty() || path.is_absolute()) return written.empty() ? "" : real(path);
    if (std::string found = real(path); !found.empty()) return found;
    fs::path folder = fs::absolute(fs::path(module_file), error).parent_path();
    for (; !folder.empty(); folder = folder.parent_path()) {
        if (std::string found = real(folder / path); !found.empty()) return found;
        if (folder == folder.root_path()) break;
    }
    return {};
}

void choose_sources(ModuleCoverage& module, const SourceFilter& filter, ChosenSources& chosen) {
    if (module.code.lines.empty()) {
        const std::string real = resolve_source(module.file, module.file);
        module.file_reported = note_choice(module.file, real, filter, chosen);
        if (module.file_reported) module.file = real;
        return;
    }
    for (std::string& file : module.code.files) {
        const std::string real = resolve_source(file, module.file);
        file = note_choice(file, real, filter, chosen) ? real : std::string();
    }
}

CodeMap code_map(const emulator::PeImage& image, const std::string& name, std::vector<std::string>& warnings) {
    CodeMap code;
    for (const emulator::PeSection& section : image.sections()) {
        if ((section.characteristics & (emulator::pe::kSectionCode | emulator::pe::kSectionExecute)) != 0)
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
                           std::vector<std::string>& warnings, CoverageTotals* totals) {
    const std::string name = test_name_of(test_name);
    std::string out;
    CoverageTotals counted;
    for (const ModuleCoverage& module : modules) {
        const HitMap hits(module.blocks);
        size_t unwritable = 0;
        const std::vector<Record> records = module.code.lines.empty() ? piece_records(module, hits, unwritable)
                                                                      : source_records(module.code, hits, unwritable);
        for (const Record& record : records) write(out, name, record, hits, counted);
        if (unwritable != 0) {
            warnings.push_back(label(module.file) + ": " + std::to_string(unwritable) + " source file name" +
                               (unwritable == 1 ? "" : "s") +
                               " with control characters, which an lcov tracefile cannot hold: left out of the "
                               "coverage report with their lines and functions");
        }
    }
    if (totals != nullptr) *totals = counted;
    return out;
}

}  // namespace runtime
