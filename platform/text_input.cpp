#include "platform/text_input.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/input_file.h"

namespace platform {
namespace {

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Levenshtein distance, letter case aside.
size_t distance(std::string_view a, std::string_view b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

}  // namespace

std::string read_text_file(const std::string& path, std::uintmax_t max_bytes) {
    try {
        return platform::read_input_file(path, max_bytes);
    } catch (const platform::InputFileError& error) {
        throw TextFileError(error.what());
    }
}

std::string input_name(const std::string& path) { return path == "-" ? kStandardInputName : path; }

namespace {

// Standard input, read to its end once: a panel made again (a reset of the
// live panel) reads the same configuration.
const std::string& standard_input() {
    static const std::string text = [] {
        std::string read;
        char buffer[1 << 16];
        size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) {
            read.append(buffer, got);
            if (read.size() > kMaxTextFileBytes) break;
        }
        return read;
    }();
    if (text.size() > kMaxTextFileBytes)
        throw TextFileError("longer than " + std::to_string(kMaxTextFileBytes) + " bytes; no more is read");
    return text;
}

// What a file that is no text looks like, by its first bytes; empty for text.
std::string binary_kind(std::string_view text) {
    struct Signature {
        std::string_view start;
        const char* kind;
    };
    // clang-format off
    static constexpr Signature kSignatures[] = {
        {"\x89PNG", "a PNG picture"},         {"BM", "a BMP picture"},   {"GIF8", "a GIF picture"},
        {"\xff\xd8\xff", "a JPEG picture"},   {"MZ", "a Windows program or library"},
        {"\x7f" "ELF", "an ELF program or library"}, {"PK\x03\x04", "a ZIP archive"},
        {"\x1f\x8b", "gzip data"},             {"%PDF", "a PDF document"},
    };
    // clang-format on
    const std::string_view head = text.substr(0, 8192);
    // Signatures as short as "BM" or "MZ" begin text too: only with the
    // control bytes no text holds.
    const bool control = std::any_of(head.begin(), head.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f' && byte != '\v';
    });
    if (!control) return {};
    for (const Signature& signature : kSignatures) {
        if (head.starts_with(signature.start)) return std::string("binary data (") + signature.kind + ")";
    }
    return "binary data";
}

}  // namespace

std::string read_text_input(const std::string& path, const std::string& what) {
    std::string text = path == "-" ? standard_input() : read_text_file(path);
    if (const std::string binary = binary_kind(text); !binary.empty()) throw TextFileError(binary + ", not " + what);
    return text;
}

bool same_name(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

std::string did_you_mean(std::string_view name, const std::vector<std::string>& candidates) {
    const std::string* best = nullptr;
    size_t best_distance = 0;
    for (const std::string& candidate : candidates) {
        const size_t d = distance(name, candidate);
        if (best == nullptr || d < best_distance) {
            best = &candidate;
            best_distance = d;
        }
    }
    // A slip changes a few letters; beyond a third of the name it is another name.
    if (best == nullptr || best_distance == 0 || best_distance > std::max<size_t>(2, name.size() / 3)) return {};
    return " (did you mean '" + *best + "'?)";
}

std::string thousands(uint64_t value) {
    const std::string digits = std::to_string(value);
    std::string text;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) text += ',';
        text += digits[i];
    }
    return text;
}

}  // namespace platform
