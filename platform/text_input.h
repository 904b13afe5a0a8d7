// What the bench host's text readers share: reading a file a user named,
// which may be anything (a directory, a device, a FIFO, a huge log),
// suggesting the name a user probably meant, and writing counts as people
// read them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/input_file.h"

namespace platform {

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
// missing file, a directory, a device, FIFO or socket (refused without
// waiting on it), or a larger file.
std::string read_text_file(const std::string& path, std::uintmax_t max_bytes = kMaxTextFileBytes);

// The name of an input in messages: "-" is standard input. It holds no
// slash, so names relative to it resolve against the working directory.
inline constexpr const char* kStandardInputName = "<stdin>";
std::string input_name(const std::string& path);

// A hand-written text input, `what` it should be ("a panel
// configuration"): read_text_file, or standard input for "-" (read once;
// asked again, the same text). Binary data is refused as what it looks like
// ("binary data (a PNG picture), not a panel configuration"), so that no
// message quotes its bytes.
std::string read_text_input(const std::string& path, const std::string& what);

// The same, a failure thrown as the caller's own error, Error(name, 0, why),
// so that it reads like the caller's other errors of that file.
template <class Error>
std::string read_text_file_as(const std::string& path, const std::string& what) {
    try {
        return read_text_input(path, what);
    } catch (const TextFileError& error) {
        throw Error(input_name(path), 0, error.what());
    }
}

// Names compare as Windows compares file and gauge names: letter case aside.
bool same_name(std::string_view a, std::string_view b);
// ASCII letters in lower case, the rest as it is.
std::string lowercase(std::string_view text);
// A path's last part, after either kind of slash (a module's own paths are
// Windows', the host's are this machine's).
std::string file_name_of(std::string_view path);

// The name a user probably meant, for every reader and the command line
// alike: the candidate nearest to `name` by edit distance, letter case aside
// and a swap of neighbours counting one slip, or the one candidate that
// `name` (three letters or more) begins; empty when none is near enough to
// be a slip. The first of equally near candidates wins.
std::string nearest_name(std::string_view name, const std::vector<std::string>& candidates);

// " (did you mean 'Altimeter'?)" for nearest_name, or empty.
std::string did_you_mean(std::string_view name, const std::vector<std::string>& candidates);

// 1234567 as "1,234,567".
std::string thousands(uint64_t value);

}  // namespace platform
