// Which file a name leads to, whatever its spelling: `panel.cfg`,
// `./panel.cfg`, a symbolic link to it and a hard link of it are one file.
// A command that wrote one of its inputs, or two of its outputs to one file,
// would destroy what it was given or lose what it made; names alone cannot
// tell, the file system can.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string>

namespace platform {

// A file that exists is its device and inode (links followed); one still to
// be written is its path with every link of its folders resolved.
struct FileIdentity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::filesystem::path resolved;  // when it does not exist

    bool operator==(const FileIdentity& other) const;
};

FileIdentity file_identity(const std::string& path);

// Every file the process read whole (read_input_file), by identity and
// last change: an output about to take such a file's name would replace what
// the work came from. Safe to call from any thread.
void note_file_read(const struct stat& info);
bool file_was_read(const std::string& path);

}  // namespace platform
