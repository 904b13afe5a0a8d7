#include "platform/text_input.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "platform/input_file.h"

namespace platform {
namespace {

char fold(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

// Optimal string alignment distance, letter case aside: a swap of two
// neighbours ("Altimetre") counts one, as the slip of one key it is.
size_t distance(std::string_view a, std::string_view b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t change = fold(a[i - 1]) == fold(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + change});
            if (i > 1 && j > 1 && fold(a[i - 1]) == fold(b[j - 2]) && fold(a[i - 2]) == fold(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    }
    return d[a.size()][b.size()];
}

bool begins(std::string_view text, std::string_view start) {
    return text.size() > start.size() && same_name(text.substr(0, start.size()), start);
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

std::string lowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string file_name_of(std::string_view path) {
    const size_t slash = path.find_last_of("/\\");
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string nearest_name(std::string_view name, const std::vector<std::string>& candidates) {
    // A typed beginning ("val", "--req") names the one name it begins; one
    // that begins several names none of them.
    const bool typed_beginning =
        name.size() >= 3 && std::count_if(candidates.begin(), candidates.end(),
                                          [&](const std::string& candidate) { return begins(candidate, name); }) == 1;
    const std::string* best = nullptr;
    size_t best_distance = 0;
    for (const std::string& candidate : candidates) {
        if (candidate == name) continue;  // no slip: the name was refused for another reason
        const size_t d = typed_beginning && begins(candidate, name) ? 1 : distance(name, candidate);
        if (best == nullptr || d < best_distance) {
            best = &candidate;
            best_distance = d;
        }
    }
    // A slip changes two letters, or a third of a long name, and fewer than
    // half of a short one: "ls" is no "list".
    const size_t allowed = std::min(std::max<size_t>(2, name.size() / 3), (name.size() + 1) / 2);
    return best != nullptr && best_distance <= allowed ? *best : std::string();
}

std::string did_you_mean(std::string_view name, const std::vector<std::string>& candidates) {
    const std::string near = nearest_name(name, candidates);
    return near.empty() ? std::string() : " (did you mean '" + near + "'?)";
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
