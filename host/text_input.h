// What the bench host's text readers share: reading a file a user named,
// which may be anything (a directory, a device, a FIFO, a huge log), and
// suggesting the name a user probably meant.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace bench {

// A text input that cannot be read. The message is the reason alone; the
// reader that called puts the file name in front in its own error type.
class TextFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Panel configurations and scenarios are hand-written: anything larger is a
// wrong file, and reading it whole would only exhaust memory.
inline constexpr std::uintmax_t kMaxTextFileBytes = 4u << 20;

// The whole of a regular file of at most `max_bytes`; TextFileError for a
// missing file, a directory, a device or FIFO, or a larger file.
std::string read_text_file(const std::string& path, std::uintmax_t max_bytes = kMaxTextFileBytes);

// The same, a failure thrown as the caller's own error, Error(path, 0, why),
// so that it reads like the caller's other errors of that file.
template <class Error>
std::string read_text_file_as(const std::string& path) {
    try {
        return read_text_file(path);
    } catch (const TextFileError& error) {
        throw Error(path, 0, error.what());
    }
}

// Names compare as Windows compares file and gauge names: letter case aside.
bool same_name(std::string_view a, std::string_view b);

// " (did you mean 'Altimeter'?)" for the candidate nearest to `name` by edit
// distance, when it is near enough to be a slip; otherwise empty.
std::string did_you_mean(std::string_view name, const std::vector<std::string>& candidates);

}  // namespace bench
