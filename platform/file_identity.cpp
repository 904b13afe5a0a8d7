#include "platform/file_identity.h"

#include <sys/stat.h>

#include <algorithm>
#include <mutex>
#include <system_error>
#include <vector>

namespace platform {
namespace {

namespace fs = std::filesystem;

// With its last change: an inode freed and given to a file made later is
// another file.
struct ReadFile {
    dev_t device;
    ino_t inode;
    timespec changed;

    explicit ReadFile(const struct stat& info) : device(info.st_dev), inode(info.st_ino), changed(info.st_mtim) {}
    bool operator==(const ReadFile& other) const {
        return device == other.device && inode == other.inode && changed.tv_sec == other.changed.tv_sec &&
               changed.tv_nsec == other.changed.tv_nsec;
    }
};

std::mutex read_mutex;
std::vector<ReadFile> files_read;

}  // namespace

bool FileIdentity::operator==(const FileIdentity& other) const {
    if (exists != other.exists) return false;
    return exists ? device == other.device && inode == other.inode : resolved == other.resolved;
}

FileIdentity file_identity(const std::string& path) {
    FileIdentity identity;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        identity.exists = true;
        identity.device = info.st_dev;
        identity.inode = info.st_ino;
        return identity;
    }
    std::error_code error;
    identity.resolved = fs::weakly_canonical(fs::absolute(path, error), error);
    if (error) identity.resolved = fs::absolute(path, error).lexically_normal();
    return identity;
}

void note_file_read(const struct stat& info) {
    const std::lock_guard lock(read_mutex);
    const ReadFile file(info);
    // A panel reloaded under --watch reads the same files again and again.
    if (std::find(files_read.begin(), files_read.end(), file) == files_read.end()) files_read.push_back(file);
}

bool file_was_read(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return false;
    const std::lock_guard lock(read_mutex);
    return std::find(files_read.begin(), files_read.end(), ReadFile(info)) != files_read.end();
}

}  // namespace platform
