// Line programs of .debug_line made byte by byte, for the line table
// reader's tests and the fuzz harnesses: a unit of any version with its
// directory and file tables, and the opcodes the tests use. Rows are made by
// special opcodes with line advances from -5 to 8.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "debug_image.h"

namespace test_support {

using Bytes = std::vector<uint8_t>;

inline constexpr int kLineBase = -5;
inline constexpr int kLineRange = 14;
inline constexpr int kOpcodeBase = 13;

inline void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }
inline void append_number(Bytes& to, uint64_t value, int size) {
    for (int i = 0; i < size; ++i) to.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void append_string(Bytes& to, const std::string& text) {
    to.insert(to.end(), text.begin(), text.end());
    to.push_back(0);
}

inline Bytes set_address(uint32_t address) {
    Bytes op{0, 5, 2};
    append_number(op, address, 4);
    return op;
}
// A special opcode: a row `address_advance` bytes on, `line_advance` lines on.
inline Bytes row(int address_advance, int line_advance) {
    return {static_cast<uint8_t>(line_advance - kLineBase + kLineRange * address_advance + kOpcodeBase)};
}
inline const Bytes kEndSequence{0, 1, 1};

// A unit of `version`: its directory and file tables, then the program.
inline Bytes unit(int version, const Bytes& tables, const Bytes& program) {
    Bytes header{1};                        // minimum instruction length
    if (version >= 4) header.push_back(1);  // operations an instruction
    append(header, {1, static_cast<uint8_t>(kLineBase), kLineRange, kOpcodeBase, 0, 1, 1, 1, 1, 0, 0, 0, 1, 0, 0, 1});
    append(header, tables);
    Bytes body;
    append_number(body, static_cast<uint64_t>(version), 2);
    if (version >= 5) append(body, {4, 0});
    append_number(body, header.size(), 4);
    append(body, header);
    append(body, program);
    Bytes out;
    append_number(out, body.size(), 4);
    append(out, body);
    return out;
}

// Version 2 to 4's tables: the directories, then each file with the number
// of its directory (0: the unit's own).
inline Bytes tables_before_5(const std::vector<std::string>& directories,
                             const std::vector<std::pair<std::string, uint8_t>>& files) {
    Bytes tables;
    for (const std::string& directory : directories) append_string(tables, directory);
    tables.push_back(0);
    for (const auto& [name, directory] : files) {
        append_string(tables, name);
        append(tables, {directory, 0, 0});
    }
    tables.push_back(0);
    return tables;
}

}  // namespace test_support
