// Files the tools write, written so that no half-written file ever carries
// its final name: each is written under a temporary name in its own folder
// and renamed over the final name once complete. An interrupted process must
// still remove its temporary files and stop the programs it started
// (platform/child_processes.h), from a signal handler: the files are kept in
// a fixed table that cleanup_after_signal() reads without allocating or
// locking.
#pragma once

#include <cstdio>
#include <filesystem>
#include <span>
#include <stdexcept>
#include <string>

namespace platform {

// An output path that must not be written: empty, a directory, a symbolic
// link, in a missing folder, or outside the folder it belongs in.
class OutputPathError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file that could not be created, written, completed or renamed.
class OutputFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// `path` checked as a file to write, and returned with its folder's links
// resolved. A link in the last place is refused even when dangling: renaming
// over it would surprise whoever made it, writing through it would overwrite
// its target. With `inside` given, the file must lie within that folder once
// every link is resolved.
std::filesystem::path check_output_path(const std::string& path, const std::string& inside = {});

class OutputFile {
public:
    // Checks `path` (as above) and creates the temporary file beside it.
    explicit OutputFile(const std::string& path, const std::string& inside = {});
    // Removes the temporary file unless commit() renamed it.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    std::FILE* file() const { return file_; }
    const std::string& path() const { return path_; }
    const std::string& temporary_path() const { return temporary_; }
    // Flushes, closes and renames the file to its final name; throws
    // OutputFileError (the temporary file removed) when any step fails, and
    // OutputPathError when the name is that of a file the process read
    // (platform/file_identity.h), which is left as it was, unless
    // `replaces_input`: an editor saving the very file it opened.
    void commit(bool replaces_input = false);

private:
    void discard() noexcept;

    std::string path_;
    std::string temporary_;
    std::FILE* file_ = nullptr;
    int slot_ = -1;
};

// `bytes` written to `path` through an OutputFile; "-" is standard output.
void write_output_file(const std::string& path, std::span<const unsigned char> bytes, const std::string& inside = {});

// The table the signal handler reads. A partial file is removed; a kept
// file is named in the handler's last line. Registration fails (returns -1)
// only when the table is full, which leaves the file without a guard, never
// the work undone.
int register_partial_file(const std::string& path);
void unregister_partial_file(int slot);
void note_kept_file(const std::string& path);

// Async-signal-safe: kills every registered child group (as
// kill_child_groups), removes every partial file and writes one line to `fd`
// saying what was removed and kept.
void cleanup_after_signal(const char* signal_name, int fd);

}  // namespace platform
