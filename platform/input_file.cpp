#include "platform/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/file_identity.h"

namespace platform {
namespace {

// What a file that is not a regular one is, for the message.
std::string kind_fault(mode_t mode) {
    if (S_ISREG(mode)) return {};
    if (S_ISDIR(mode)) return "is a directory, not a file";
    if (S_ISFIFO(mode)) return "not a regular file (a FIFO)";
    if (S_ISCHR(mode)) return "not a regular file (a character device)";
    if (S_ISBLK(mode)) return "not a regular file (a block device)";
    if (S_ISSOCK(mode)) return "not a regular file (a socket)";
    return "not a regular file";
}

std::string errno_fault(int error) {
    if (error == ENOENT || error == ENOTDIR) return "file not found";
    return std::string("cannot be read: ") + std::strerror(error);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

}  // namespace

std::string input_file_fault(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errno_fault(errno);
    return kind_fault(info.st_mode);
}

namespace {

template <typename Bytes>
Bytes read_whole(const std::string& path, std::uintmax_t max_bytes) {
    // O_NONBLOCK: opening a FIFO with no writer would wait for one; what was
    // opened is judged by fstat before a byte is read.
    const Descriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.get() < 0) throw InputFileError(errno_fault(errno));
    struct stat info {};
    if (::fstat(file.get(), &info) != 0) throw InputFileError(errno_fault(errno));
    if (const std::string fault = kind_fault(info.st_mode); !fault.empty()) throw InputFileError(fault);
    note_file_read(info);
    const std::string limit = "at most " + std::to_string(max_bytes) + " bytes are read";
    const auto size = static_cast<std::uintmax_t>(info.st_size);
    if (size > max_bytes) throw InputFileError("is " + std::to_string(size) + " bytes long; " + limit);
    // A regular file never blocks; clearing the flag keeps reads plain.
    ::fcntl(file.get(), F_SETFL, ::fcntl(file.get(), F_GETFL) & ~O_NONBLOCK);
    // The size was checked, but a file may grow while it is read.
    Bytes bytes(static_cast<size_t>(size) + 1, 0);
    size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (bytes.size() > max_bytes) break;
            bytes.resize(std::min<std::uintmax_t>(max_bytes + 1, bytes.size() * 2));
        }
        const ssize_t got = ::read(file.get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) throw InputFileError(std::string("cannot be read: ") + std::strerror(errno));
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    if (done > max_bytes) throw InputFileError("grew while it was read; " + limit);
    bytes.resize(done);
    return bytes;
}

}  // namespace

std::string read_input_file(const std::string& path, std::uintmax_t max_bytes) {
    return read_whole<std::string>(path, max_bytes);
}

std::vector<uint8_t> read_input_bytes(const std::string& path, std::uintmax_t max_bytes) {
    return read_whole<std::vector<uint8_t>>(path, max_bytes);
}

}  // namespace platform
