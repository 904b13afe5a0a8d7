#include "host/text_input.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace bench {
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
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) throw TextFileError("no such file");
    if (error) throw TextFileError("cannot be read: " + error.message());
    if (status.type() == fs::file_type::directory) throw TextFileError("is a directory, not a file");
    if (status.type() != fs::file_type::regular)
        throw TextFileError("is not a regular file (a device, FIFO or socket)");
    const std::uintmax_t size = fs::file_size(path, error);
    const std::string limit = "at most " + std::to_string(max_bytes) + " bytes are read";
    if (!error && size > max_bytes) throw TextFileError("is " + std::to_string(size) + " bytes long; " + limit);

    std::ifstream file(path, std::ios::binary);
    if (!file) throw TextFileError("cannot be read");
    // The size was checked, but a file may grow while it is read.
    std::string text(static_cast<size_t>(std::min(size, max_bytes)) + 1, '\0');
    file.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (file.bad()) throw TextFileError("cannot be read");
    text.resize(static_cast<size_t>(file.gcount()));
    if (text.size() > max_bytes) throw TextFileError("grew while it was read; " + limit);
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

}  // namespace bench
