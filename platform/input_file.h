// The one way the host reads a file a user named (a module, a PE with
// bitmaps, a panel configuration, a scenario, a bitmap a panel names, a
// JSBSim script): opened without blocking, and taken only when it is a
// regular file. A FIFO, a device or a socket would block the reader, or
// never end; a directory reads as nothing. It lies beneath the rest of the
// host so that the PE reader, which knows nothing above it, reads the same way.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace platform {

// The reason alone ("not a regular file (a FIFO)"); the caller puts the
// file's name in front in its own error type.
class InputFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Why `path` cannot be read as an input file, without opening it: empty when
// it is a regular file, else "file not found", "is a directory, not a file",
// "not a regular file (a FIFO)" and the like. Links are followed.
std::string input_file_fault(const std::string& path);

// The whole of the regular file at `path`, at most `max_bytes` long;
// InputFileError saying why not (missing, a directory, a FIFO, device or
// socket, larger than `max_bytes`, unreadable).
std::string read_input_file(const std::string& path, std::uintmax_t max_bytes);
// The same as bytes, for a binary file kept whole.
std::vector<uint8_t> read_input_bytes(const std::string& path, std::uintmax_t max_bytes);

}  // namespace platform
