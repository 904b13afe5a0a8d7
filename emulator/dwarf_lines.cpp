#include "emulator/dwarf_lines.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <span>

#include "emulator/guest_memory.h"
#include "emulator/pe_format.h"

namespace emulator {
namespace {

// The line program's opcodes and the entry formats of version 5 (DWARF 5,
// section 6.2 and 7.22).
enum StandardOpcode : uint8_t {
    kCopy = 1,
    kAdvancePc = 2,
    kAdvanceLine = 3,
    kSetFile = 4,
    kConstAddPc = 8,
    kFixedAdvancePc = 9,
};
enum ExtendedOpcode : uint8_t { kEndSequence = 1, kSetAddress = 2, kDefineFile = 3 };
enum Form : uint64_t {
    kFormData2 = 0x05,
    kFormData4 = 0x06,
    kFormData8 = 0x07,
    kFormString = 0x08,
    kFormBlock = 0x09,
    kFormData1 = 0x0b,
    kFormSdata = 0x0d,
    kFormStrp = 0x0e,
    kFormUdata = 0x0f,
    kFormData16 = 0x1e,
    kFormLineStrp = 0x1f,
};
enum ContentType : uint64_t { kContentPath = 1, kContentDirectoryIndex = 2 };

constexpr uint16_t kFunctionType = 0x20;  // DTYPE_FUNCTION << 4
constexpr uint8_t kClassExternal = 2;
constexpr uint8_t kClassStatic = 3;
constexpr uint32_t kNoFile = UINT32_MAX;

// What one file may make the reader hold: names, entries and rows however
// the tables repeat them (a real module has a few hundred file names, a few
// hundred functions and some thousands of rows).
constexpr size_t kMaxStringLength = 4096;
constexpr uint64_t kMaxNameBytes = 16u << 20;
constexpr uint64_t kMaxEntries = 1u << 16;
constexpr size_t kMaxRows = 4u << 20;

// A checked reader of one section's bytes, or of a piece of them.
class Cursor {
public:
    Cursor(std::span<const uint8_t> bytes, const std::string* where, size_t base = 0)
        : bytes_(bytes), where_(where), base_(base) {}

    [[noreturn]] void fail(const std::string& what) const {
        throw PeError(*where_ + " at offset " + hex(base_ + offset_) + ": " + what);
    }
    bool at_end() const { return offset_ == bytes_.size(); }
    size_t left() const { return bytes_.size() - offset_; }

    uint64_t number(size_t size) {
        need(size, "truncated number");
        uint64_t value = 0;
        for (size_t i = 0; i < size; ++i) value |= uint64_t{bytes_[offset_ + i]} << (8 * i);
        offset_ += size;
        return value;
    }
    uint8_t u8() { return static_cast<uint8_t>(number(1)); }
    uint64_t uleb() {
        uint64_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const uint8_t byte = u8();
            if (shift >= 64 || (shift == 63 && (byte & 0x7E) != 0)) fail("LEB128 number beyond 64 bits");
            value |= uint64_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80) == 0) return value;
        }
    }
    int64_t sleb() {
        uint64_t value = 0;
        for (unsigned shift = 0;; shift += 7) {
            const uint8_t byte = u8();
            if (shift >= 64) fail("LEB128 number beyond 64 bits");
            value |= uint64_t{byte & 0x7Fu} << shift;
            if ((byte & 0x80) == 0) {
                if (shift + 7 < 64 && (byte & 0x40) != 0) value |= ~uint64_t{0} << (shift + 7);
                return static_cast<int64_t>(value);
            }
        }
    }
    std::string string() {
        const size_t limit = std::min(left(), kMaxStringLength + 1);
        const auto* first = bytes_.data() + offset_;
        const auto* end = static_cast<const uint8_t*>(std::memchr(first, 0, limit));
        if (end == nullptr) fail(left() > kMaxStringLength ? "string too long" : "string without its end");
        std::string text(reinterpret_cast<const char*>(first), static_cast<size_t>(end - first));
        offset_ += text.size() + 1;
        return text;
    }
    void skip(uint64_t size) {
        need(size, "truncated field");
        offset_ += static_cast<size_t>(size);
    }
    // The next `size` bytes as a cursor of their own; this one moves past them.
    Cursor piece(uint64_t size, const char* what) {
        need(size, what);
        Cursor inner(bytes_.subspan(offset_, static_cast<size_t>(size)), where_, base_ + offset_);
        offset_ += static_cast<size_t>(size);
        return inner;
    }
    // The string at `offset` of the whole span.
    std::string string_at(uint64_t offset) const {
        if (offset >= bytes_.size()) fail("string offset " + hex(offset) + " beyond the section");
        Cursor at(bytes_, where_, base_);
        at.offset_ = static_cast<size_t>(offset);
        return at.string();
    }

private:
    void need(uint64_t size, const char* what) const {
        if (size > left()) fail(what);
    }

    std::span<const uint8_t> bytes_;
    const std::string* where_;
    size_t base_;
    size_t offset_ = 0;
};

bool absolute_path(const std::string& path) {
    return path.starts_with('/') || path.starts_with('\\') || (path.size() > 1 && path[1] == ':');
}

// A symbol's name as the source wrote it: i386 COFF puts an underscore
// before every C name and stdcall's "@<bytes>" after it.
std::string source_name(const std::string& linked) {
    std::string name = linked.starts_with('_') ? linked.substr(1) : linked;
    if (!name.starts_with("_Z")) return name;
    const size_t at = name.rfind('@');
    if (at != std::string::npos) name.resize(at);
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> demangled(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                          &std::free);
    return status == 0 && demangled ? std::string(demangled.get()) : name;
}

}  // namespace

// Reads one image's sections into a DebugLines.
class DwarfLineReader {
public:
    DwarfLineReader(const PeImage& image, const std::string& file_name) : image_(image), file_name_(file_name) {}

    DebugLines run() {
        find_sections();
        if (line_) {
            Cursor section(line_->bytes, &line_->where);
            while (!section.at_end()) read_unit(section);
        }
        read_functions();
        index();
        return std::move(out_);
    }

private:
    struct Section {
        std::span<const uint8_t> bytes;
        std::string where;  // "<file>: .debug_line"
    };
    // The registers of the line program's state machine that rows keep.
    struct State {
        uint64_t address = 0;
        uint64_t op_index = 0;
        uint64_t file = 1;
        uint64_t line = 1;
    };

    [[noreturn]] void fail(const std::string& what) const { throw PeError(file_name_ + ": " + what); }

    std::span<const uint8_t> file_bytes(uint64_t offset, uint64_t size, const std::string& what) const {
        const auto file = image_.file();
        if (offset > file.size() || size > file.size() - offset) fail(what + " beyond the end of the file");
        return file.subspan(static_cast<size_t>(offset), static_cast<size_t>(size));
    }

    // The string table after the symbols: its size comes first and counts itself.
    std::span<const uint8_t> string_table() const {
        const uint64_t offset = image_.symbol_table() + uint64_t{sizeof(pe::CoffSymbol)} * image_.symbol_count();
        const auto size_field = file_bytes(offset, 4, "COFF string table");
        uint32_t size = 0;
        std::memcpy(&size, size_field.data(), 4);
        if (size < 4) fail("COFF string table of " + std::to_string(size) + " bytes: expected at least its size field");
        return file_bytes(offset, size, "COFF string table");
    }

    // A name at `offset` of the string table.
    std::string long_name(uint64_t offset, const std::string& what) const {
        const std::string where = file_name_ + ": COFF string table";
        if (offset < 4) fail(what + " at offset " + std::to_string(offset) + " of the string table, inside its size");
        return Cursor(string_table(), &where).string_at(offset);
    }

    void find_sections() {
        for (const PeSection& section : image_.sections()) {
            std::string name = section.name;
            // MinGW names its DWARF sections in the string table: "/4".
            if (name.size() > 1 && name[0] == '/' && name.size() <= 8 &&
                std::all_of(name.begin() + 1, name.end(), [](char c) { return c >= '0' && c <= '9'; })) {
                name = long_name(std::stoull(name.substr(1)), "section name " + name);
            }
            Section found{file_bytes(section.raw_offset, section.raw_size, "section " + name),
                          file_name_ + ": " + name};
            if (name == ".debug_line") line_ = found;
            if (name == ".debug_line_str") line_str_ = found;
            if (name == ".debug_str") str_ = found;
        }
    }

    std::string section_string(const std::optional<Section>& section, const char* name, uint64_t offset,
                               const Cursor& from) const {
        if (!section) from.fail(std::string("a string in ") + name + ", which the file lacks");
        return Cursor(section->bytes, &section->where).string_at(offset);
    }

    // Names kept, counted against their budget.
    void spend_name_bytes(uint64_t size) {
        name_bytes_ += size;
        if (name_bytes_ > kMaxNameBytes) fail("names beyond " + std::to_string(kMaxNameBytes >> 20) + " MiB in all");
    }

    uint32_t intern(const std::string& directory, const std::string& name) {
        // "build/win/../../korvane/x.cpp" as "korvane/x.cpp": the same file
        // however a unit reached it.
        std::string path =
            std::filesystem::path(directory.empty() || absolute_path(name) ? name : directory + "/" + name)
                .lexically_normal()
                .generic_string();
        spend_name_bytes(path.size());
        const auto [it, added] = file_index_.try_emplace(std::move(path), static_cast<uint32_t>(out_.files_.size()));
        if (added) out_.files_.push_back(it->first);
        return it->second;
    }

    // Version 5's directory and file entries: a format of (content, form)
    // pairs, then the entries; the path and the directory index are kept.
    struct Entry {
        std::string path;
        uint64_t directory = 0;
    };
    std::vector<Entry> read_entries(Cursor& header, size_t offset_size, const char* what) {
        std::vector<std::pair<uint64_t, uint64_t>> format(header.u8());
        for (auto& [content, form] : format) {
            content = header.uleb();
            form = header.uleb();
        }
        const uint64_t count = header.uleb();
        // Each entry takes a byte at least: a count beyond the bytes left is a lie.
        if (count > header.left() || count > kMaxEntries || (count > 0 && format.empty()))
            header.fail(std::to_string(count) + " " + what + " entries in " + std::to_string(header.left()) + " bytes");
        std::vector<Entry> entries(static_cast<size_t>(count));
        for (Entry& entry : entries) {
            bool has_path = false;
            for (const auto& [content, form] : format) {
                std::optional<std::string> text;
                std::optional<uint64_t> value;
                switch (form) {
                    case kFormString: text = header.string(); break;
                    case kFormLineStrp:
                        text = section_string(line_str_, ".debug_line_str", header.number(offset_size), header);
                        break;
                    case kFormStrp:
                        text = section_string(str_, ".debug_str", header.number(offset_size), header);
                        break;
                    case kFormData1: value = header.number(1); break;
                    case kFormData2: value = header.number(2); break;
                    case kFormData4: value = header.number(4); break;
                    case kFormData8: value = header.number(8); break;
                    case kFormUdata: value = header.uleb(); break;
                    case kFormSdata: header.sleb(); break;
                    case kFormData16: header.skip(16); break;
                    case kFormBlock: header.skip(header.uleb()); break;
                    default:
                        header.fail(std::string(what) + " entry in form " + hex(form) + ", which the reader lacks");
                }
                if (text) spend_name_bytes(text->size());
                if (content == kContentPath) {
                    if (!text) header.fail(std::string(what) + " path in form " + hex(form) + ": expected a string");
                    entry.path = std::move(*text);
                    has_path = true;
                } else if (content == kContentDirectoryIndex) {
                    if (!value)
                        header.fail(std::string(what) + " directory in form " + hex(form) + ": expected a number");
                    entry.directory = *value;
                }
            }
            if (!has_path) header.fail(std::string(what) + " entry without a path");
        }
        return entries;
    }

    const std::string& directory(const std::vector<std::string>& directories, uint64_t index, const Cursor& at) {
        if (index >= directories.size())
            at.fail("directory " + std::to_string(index) + " of " + std::to_string(directories.size()));
        return directories[static_cast<size_t>(index)];
    }

    void read_unit(Cursor& section) {
        uint64_t length = section.number(4);
        size_t offset_size = 4;
        if (length == 0xFFFFFFFFu) {
            length = section.number(8);
            offset_size = 8;
        } else if (length >= 0xFFFFFFF0u) {
            section.fail("reserved unit length " + hex(length));
        }
        Cursor unit = section.piece(length, "unit runs past the section");
        const uint64_t version = unit.number(2);
        if (version < 2 || version > 5)
            unit.fail("line table version " + std::to_string(version) + ": expected 2 to 5");
        if (version >= 5) unit.skip(2);  // address and segment selector sizes
        Cursor header = unit.piece(unit.number(offset_size), "header runs past its unit");
        const uint8_t min_length = header.u8();
        const uint8_t max_ops = version >= 4 ? header.u8() : 1;
        if (max_ops == 0) header.fail("0 operations an instruction");
        header.skip(1);  // default_is_stmt: every row is kept
        const auto line_base = static_cast<int8_t>(header.u8());
        const uint8_t line_range = header.u8();
        if (line_range == 0) header.fail("line range 0");
        const uint8_t opcode_base = header.u8();
        if (opcode_base == 0) header.fail("opcode base 0");
        std::vector<uint8_t> operand_counts(opcode_base - 1u);
        for (uint8_t& count : operand_counts) count = header.u8();

        // The unit's file numbers to the interned files.
        std::vector<uint32_t> files;
        if (version >= 5) {
            std::vector<std::string> directories;
            // The first directory is the unit's own (where it was built); the
            // others, when relative, are relative to it, unless a build that
            // mapped its paths wrote them from elsewhere: one that exists as
            // written, from where this runs, is taken as it is.
            for (Entry& entry : read_entries(header, offset_size, "directory")) {
                if (!directories.empty() && !directories.front().empty() && !absolute_path(entry.path)) {
                    std::error_code error;
                    if (!std::filesystem::is_directory(entry.path, error))
                        entry.path = directories.front() + "/" + entry.path;
                }
                directories.push_back(std::move(entry.path));
            }
            for (const Entry& entry : read_entries(header, offset_size, "file"))
                files.push_back(intern(directory(directories, entry.directory, header), entry.path));
        } else {
            // Directory 0 is the unit's own, which only .debug_info names: its
            // files' paths stay as they are (relative to where it was built).
            std::vector<std::string> directories{""};
            for (std::string name = header.string(); !name.empty(); name = header.string())
                directories.push_back(std::move(name));
            files.push_back(kNoFile);  // numbered from 1
            for (std::string name = header.string(); !name.empty(); name = header.string()) {
                const std::string& in = directory(directories, header.uleb(), header);
                header.uleb();  // modification time
                header.uleb();  // length
                files.push_back(intern(in, name));
            }
        }
        run_program(unit, version, min_length, max_ops, line_base, line_range, opcode_base, operand_counts, files);
    }

    void run_program(Cursor& program, uint64_t version, uint8_t min_length, uint8_t max_ops, int8_t line_base,
                     uint8_t line_range, uint8_t opcode_base, const std::vector<uint8_t>& operand_counts,
                     std::vector<uint32_t>& files) {
        State state;
        std::vector<SourceLine> sequence;
        // Rows' addresses stay 64-bit until the sequence is checked against the image.
        std::vector<uint64_t> addresses;
        // Unsigned arithmetic wraps: an absurd advance gives an address the
        // sequence check refuses, never undefined behaviour.
        const auto advance = [&](uint64_t operations) {
            const uint64_t total = state.op_index + operations;
            state.address += min_length * (total / max_ops);
            state.op_index = total % max_ops;
        };
        const auto emit = [&](bool end) {
            if (state.file >= files.size() || files[static_cast<size_t>(state.file)] == kNoFile)
                program.fail("row in file " + std::to_string(state.file) + " of " + std::to_string(files.size()));
            if (state.line > UINT32_MAX) program.fail("row at line " + std::to_string(state.line));
            sequence.push_back(SourceLine{.rva = 0,
                                          .file = files[static_cast<size_t>(state.file)],
                                          .line = static_cast<uint32_t>(state.line),
                                          .end_sequence = end});
            addresses.push_back(state.address);
            if (out_.rows_.size() + sequence.size() > kMaxRows)
                program.fail("more than " + std::to_string(kMaxRows) + " rows");
        };
        while (!program.at_end()) {
            const uint8_t opcode = program.u8();
            if (opcode >= opcode_base) {
                const uint8_t adjusted = static_cast<uint8_t>(opcode - opcode_base);
                advance(adjusted / line_range);
                state.line += static_cast<uint64_t>(int64_t{line_base} + adjusted % line_range);
                emit(false);
            } else if (opcode == 0) {
                Cursor extended = program.piece(program.uleb(), "extended opcode runs past its unit");
                switch (extended.u8()) {
                    case kEndSequence:
                        emit(true);
                        close_sequence(sequence, addresses, program);
                        state = State{};
                        break;
                    case kSetAddress:
                        if (extended.left() != 4 && extended.left() != 8)
                            extended.fail("address of " + std::to_string(extended.left()) + " bytes");
                        state.address = extended.number(extended.left());
                        state.op_index = 0;
                        break;
                    case kDefineFile:
                        if (version < 5) {
                            const std::string name = extended.string();
                            files.push_back(intern("", name));
                        }
                        break;
                    default: break;  // discriminators and vendors' opcodes say nothing of lines
                }
            } else {
                switch (opcode) {
                    case kCopy: emit(false); break;
                    case kAdvancePc: advance(program.uleb()); break;
                    case kAdvanceLine: state.line += static_cast<uint64_t>(program.sleb()); break;
                    case kSetFile: state.file = program.uleb(); break;
                    case kConstAddPc: advance(static_cast<uint8_t>(255 - opcode_base) / line_range); break;
                    case kFixedAdvancePc:
                        state.address += program.number(2);
                        state.op_index = 0;
                        break;
                    default:
                        for (uint8_t i = 0; i < operand_counts[opcode - 1u]; ++i) program.uleb();
                        break;
                }
            }
        }
        // A sequence the unit leaves open has no end to give its last row's
        // extent: it is dropped.
    }

    // Keeps a sequence inside the image, in ascending order; one wholly
    // outside it is code the linker dropped (its address left at 0).
    void close_sequence(std::vector<SourceLine>& sequence, std::vector<uint64_t>& addresses, const Cursor& at) {
        const uint64_t base = image_.image_base();
        const uint64_t end = base + image_.size_of_image();
        const auto inside = [&](uint64_t address) { return address >= base && address <= end; };
        if (!inside(addresses.front()) || addresses.front() == end) {
            if (!std::none_of(addresses.begin(), addresses.end(), [&](uint64_t a) { return a > base && a < end; }))
                at.fail("sequence from " + hex(addresses.front()) + " reaches into the image");
        } else {
            for (size_t i = 0; i < sequence.size(); ++i) {
                if (!inside(addresses[i])) at.fail("row at " + hex(addresses[i]) + " outside the image");
                if (i > 0 && addresses[i] < addresses[i - 1])
                    at.fail("row at " + hex(addresses[i]) + " before the row above it");
                sequence[i].rva = static_cast<uint32_t>(addresses[i] - base);
            }
            out_.rows_.insert(out_.rows_.end(), sequence.begin(), sequence.end());
        }
        addresses.clear();
        sequence.clear();
    }

    void read_functions() {
        const auto& sections = image_.sections();
        std::vector<FunctionSymbol> found;
        if (image_.symbol_count() > 0) {
            const auto table = file_bytes(
                image_.symbol_table(), uint64_t{sizeof(pe::CoffSymbol)} * image_.symbol_count(), "COFF symbol table");
            for (size_t i = 0; i < image_.symbol_count(); ++i) {
                const auto symbol = pe::read_struct<pe::CoffSymbol>(table, i * sizeof(pe::CoffSymbol));
                i += symbol.aux_count;
                if (symbol.type != kFunctionType ||
                    (symbol.storage_class != kClassExternal && symbol.storage_class != kClassStatic) ||
                    symbol.section <= 0)
                    continue;
                std::string name;
                uint32_t in_table = 0;
                std::memcpy(&in_table, symbol.name, 4);
                if (in_table == 0) {
                    uint32_t offset = 0;
                    std::memcpy(&offset, symbol.name + 4, 4);
                    name = long_name(offset, "symbol name");
                    spend_name_bytes(name.size());
                } else {
                    name.assign(symbol.name, strnlen(symbol.name, sizeof symbol.name));
                }
                const auto number = static_cast<size_t>(symbol.section);
                if (number > sections.size() || symbol.value >= sections[number - 1].virtual_size) {
                    fail("function " + name + " at " + hex(symbol.value) + " of section " + std::to_string(number) +
                         ": outside it");
                }
                found.push_back({source_name(name), sections[number - 1].virtual_address + symbol.value, 0});
            }
        } else {
            for (const auto& [name, rva] : image_.export_rvas()) found.push_back({name, rva, 0});
        }
        std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.rva < b.rva; });
        for (FunctionSymbol& function : found) {
            const auto section = std::find_if(sections.begin(), sections.end(), [&](const PeSection& s) {
                return function.rva >= s.virtual_address && function.rva - s.virtual_address < s.virtual_size;
            });
            if (section == sections.end() || (section->characteristics & (kSectionCode | kSectionExecute)) == 0)
                continue;
            if (!out_.functions_.empty() && out_.functions_.back().rva == function.rva) continue;  // an alias
            function.size = section->virtual_address + section->virtual_size - function.rva;
            if (!out_.functions_.empty()) {
                FunctionSymbol& previous = out_.functions_.back();
                previous.size = std::min(previous.size, function.rva - previous.rva);
            }
            out_.functions_.push_back(std::move(function));
        }
    }

    void index() {
        for (size_t first = 0; first < out_.rows_.size();) {
            size_t last = first;
            while (!out_.rows_[last].end_sequence) ++last;
            if (out_.rows_[last].rva > out_.rows_[first].rva)
                out_.sequences_.push_back({out_.rows_[first].rva, out_.rows_[last].rva, first, last});
            first = last + 1;
        }
        std::sort(out_.sequences_.begin(), out_.sequences_.end(),
                  [](const auto& a, const auto& b) { return a.start < b.start; });
    }

    const PeImage& image_;
    const std::string& file_name_;
    std::optional<Section> line_, line_str_, str_;
    std::map<std::string, uint32_t> file_index_;
    uint64_t name_bytes_ = 0;
    DebugLines out_;
};

DebugLines DebugLines::read(const PeImage& image, const std::string& file_name) {
    try {
        return DwarfLineReader(image, file_name).run();
    } catch (const std::bad_alloc&) {
        throw PeError(file_name + ": more than the memory at hand to read its line table");
    }
}

std::optional<SourceLocation> DebugLines::location(uint32_t rva) const {
    auto sequence = std::upper_bound(sequences_.begin(), sequences_.end(), rva,
                                     [](uint32_t value, const Sequence& s) { return value < s.start; });
    if (sequence == sequences_.begin()) return std::nullopt;
    --sequence;
    if (rva >= sequence->end) return std::nullopt;
    const auto first = rows_.begin() + static_cast<ptrdiff_t>(sequence->first);
    const auto last = rows_.begin() + static_cast<ptrdiff_t>(sequence->last);
    const auto row = std::prev(
        std::upper_bound(first, last, rva, [](uint32_t value, const SourceLine& r) { return value < r.rva; }));
    return SourceLocation{row->file, row->line};
}

const FunctionSymbol* DebugLines::function_at(uint32_t rva) const {
    auto function = std::upper_bound(functions_.begin(), functions_.end(), rva,
                                     [](uint32_t value, const FunctionSymbol& f) { return value < f.rva; });
    if (function == functions_.begin()) return nullptr;
    --function;
    return rva - function->rva < function->size ? &*function : nullptr;
}

}  // namespace emulator
