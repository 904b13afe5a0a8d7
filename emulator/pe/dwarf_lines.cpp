#include "emulator/pe/dwarf_lines.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <span>

#include "emulator/machine/guest_memory.h"
#include "emulator/pe/pe_format.h"

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
// hundred functions and some thousands of rows). Each bound is checked
// before what it counts is allocated.
constexpr size_t kMaxStringLength = 4096;
constexpr uint64_t kMaxNameBytes = 16u << 20;
// Directory and file entries of every unit together.
constexpr uint64_t kMaxEntries = 1u << 16;
// Rows and functions: each describes a byte of code at least (a row per
// instruction is the densest a compiler writes), so no more of them than
// the code sections' bytes in the file, and a margin for rows sharing an
// address and the sequences' end rows in a small module.
constexpr size_t kMaxRows = 1u << 20;
constexpr size_t kRowMargin = 1024;

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
        uint64_t code_bytes = 0;
        for (const PeSection& section : image_.sections()) {
            if ((section.characteristics & (pe::kSectionCode | pe::kSectionExecute)) != 0) code_bytes += section.raw_size;
        }
        code_bytes_ = code_bytes;
        row_limit_ = static_cast<size_t>(std::min<uint64_t>(kMaxRows, code_bytes + kRowMargin));
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
    // A unit's file, interned only once a row names it: the paths of files
    // no row uses are never made, nor their directories looked up.
    struct UnitFile {
        uint64_t directory = 0;
        std::string name;
        uint32_t interned = kNoFile;
    };
    struct Unit {
        uint64_t version = 0;
        std::vector<std::string> directories;  // as written
        std::vector<UnitFile> files;
        uint64_t first_file = 0;  // the number of files[0]: 1 before version 5
    };
    // The sequence the program is in: its rows go into out_.rows_ from
    // `first` as they come, checked as they come; a fault is told when the
    // sequence ends (one the unit leaves open is dropped, faults and all).
    struct OpenSequence {
        size_t first = 0;
        bool started = false;
        bool kept = false;  // false: code the linker dropped, its rows not kept
        uint64_t first_address = 0;
        uint64_t last = 0;
        std::string fault;
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
    void spend_entries(uint64_t count, const Cursor& at) {
        entries_ += count;
        if (entries_ > kMaxEntries)
            at.fail("more than " + std::to_string(kMaxEntries) + " directory and file entries in all");
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
        if (count > header.left() || (count > 0 && format.empty()))
            header.fail(std::to_string(count) + " " + what + " entries in " + std::to_string(header.left()) + " bytes");
        spend_entries(count, header);
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

    static void check_directory(const Unit& unit, uint64_t index, const Cursor& at) {
        if (index >= unit.directories.size())
            at.fail("directory " + std::to_string(index) + " of " + std::to_string(unit.directories.size()));
    }

    // Version 5's first directory is the unit's own (where it was built); the
    // others, when relative, are relative to it, unless a build that mapped
    // its paths wrote them from elsewhere: one written from the mapped top
    // ("./src", as -ffile-prefix-map=TOP=. writes it), or one that exists as
    // written from where this runs, is taken as it is. Each is looked up once.
    std::string directory_path(const Unit& unit, uint64_t index) {
        const std::string& written = unit.directories[static_cast<size_t>(index)];
        const std::string& own = unit.directories.front();
        if (unit.version < 5 || index == 0 || own.empty() || absolute_path(written) || written.starts_with("./"))
            return written;
        auto known = directory_exists_.find(written);
        if (known == directory_exists_.end()) {
            std::error_code error;
            known = directory_exists_.emplace(written, std::filesystem::is_directory(written, error)).first;
        }
        return known->second ? written : own + "/" + written;
    }

    // The file a row names, by the unit's number for it.
    uint32_t file_of(Unit& unit, uint64_t number, const Cursor& at) {
        if (number < unit.first_file || number - unit.first_file >= unit.files.size())
            at.fail("row in file " + std::to_string(number) + " of " +
                    std::to_string(unit.files.size() + unit.first_file));
        UnitFile& file = unit.files[static_cast<size_t>(number - unit.first_file)];
        if (file.interned == kNoFile) file.interned = intern(directory_path(unit, file.directory), file.name);
        return file.interned;
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

        Unit files{.version = version, .directories = {}, .files = {}, .first_file = version >= 5 ? 0u : 1u};
        if (version >= 5) {
            for (Entry& entry : read_entries(header, offset_size, "directory"))
                files.directories.push_back(std::move(entry.path));
            for (Entry& entry : read_entries(header, offset_size, "file")) {
                check_directory(files, entry.directory, header);
                files.files.push_back({entry.directory, std::move(entry.path), kNoFile});
            }
        } else {
            // Directory 0 is the unit's own, which only .debug_info names: its
            // files' paths stay as they are (relative to where it was built).
            files.directories.emplace_back();
            for (std::string name = header.string(); !name.empty(); name = header.string()) {
                spend_entries(1, header);
                spend_name_bytes(name.size());
                files.directories.push_back(std::move(name));
            }
            for (std::string name = header.string(); !name.empty(); name = header.string()) {
                spend_entries(1, header);
                spend_name_bytes(name.size());
                const uint64_t in = header.uleb();
                check_directory(files, in, header);
                header.uleb();  // modification time
                header.uleb();  // length
                files.files.push_back({in, std::move(name), kNoFile});
            }
        }
        run_program(unit, min_length, max_ops, line_base, line_range, opcode_base, operand_counts, files);
    }

    void run_program(Cursor& program, uint8_t min_length, uint8_t max_ops, int8_t line_base, uint8_t line_range,
                     uint8_t opcode_base, const std::vector<uint8_t>& operand_counts, Unit& files) {
        State state;
        OpenSequence sequence;
        sequence.first = out_.rows_.size();
        // Unsigned arithmetic wraps: an absurd advance gives an address the
        // sequence check refuses, never undefined behaviour.
        const auto advance = [&](uint64_t operations) {
            const uint64_t total = state.op_index + operations;
            state.address += min_length * (total / max_ops);
            state.op_index = total % max_ops;
        };
        const auto emit = [&](bool end) {
            const uint32_t file = file_of(files, state.file, program);
            if (state.line > UINT32_MAX) program.fail("row at line " + std::to_string(state.line));
            if (check_row(sequence, state.address)) {
                if (out_.rows_.size() >= row_limit_)
                    program.fail("more than " + std::to_string(row_limit_) + " rows for " +
                                 std::to_string(code_bytes_) + " bytes of code");
                out_.rows_.push_back(SourceLine{.rva = static_cast<uint32_t>(state.address - image_.image_base()),
                                                .file = file,
                                                .line = static_cast<uint32_t>(state.line),
                                                .end_sequence = end});
            }
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
                        if (!sequence.fault.empty()) program.fail(sequence.fault);
                        sequence = OpenSequence{};
                        sequence.first = out_.rows_.size();
                        state = State{};
                        break;
                    case kSetAddress:
                        if (extended.left() != 4 && extended.left() != 8)
                            extended.fail("address of " + std::to_string(extended.left()) + " bytes");
                        state.address = extended.number(extended.left());
                        state.op_index = 0;
                        break;
                    case kDefineFile:
                        if (files.version < 5) {
                            spend_entries(1, extended);
                            std::string name = extended.string();
                            spend_name_bytes(name.size());
                            files.files.push_back({0, std::move(name), kNoFile});
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
        out_.rows_.resize(sequence.first);
    }

    // Whether a row at `address` is kept: a sequence lies inside the image,
    // in ascending order, or wholly outside it, code the linker dropped (its
    // address left at 0), whose rows are not kept. The first fault is noted
    // for the sequence's end.
    bool check_row(OpenSequence& sequence, uint64_t address) const {
        const uint64_t base = image_.image_base();
        const uint64_t end = base + image_.size_of_image();
        const bool inside = address >= base && address <= end;
        if (!sequence.started) {
            sequence.started = true;
            sequence.kept = inside && address != end;
            sequence.first_address = address;
        } else if (sequence.fault.empty()) {
            if (!sequence.kept && address > base && address < end) {
                sequence.fault = "sequence from " + hex(sequence.first_address) + " reaches into the image";
            } else if (sequence.kept && !inside) {
                sequence.fault = "row at " + hex(address) + " outside the image";
            } else if (sequence.kept && address < sequence.last) {
                sequence.fault = "row at " + hex(address) + " before the row above it";
            }
        }
        sequence.last = address;
        return sequence.kept && inside;
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
                if (found.size() >= row_limit_)
                    fail("more than " + std::to_string(row_limit_) + " functions for " + std::to_string(code_bytes_) +
                         " bytes of code");
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
            if (section == sections.end() || (section->characteristics & (pe::kSectionCode | pe::kSectionExecute)) == 0)
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
    std::map<std::string, bool> directory_exists_;  // relative directories looked up
    uint64_t name_bytes_ = 0;
    uint64_t entries_ = 0;
    uint64_t code_bytes_ = 0;  // in the code sections, as the file holds them
    size_t row_limit_ = 0;     // for rows, and for functions
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
