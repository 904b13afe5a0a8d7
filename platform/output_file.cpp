#include "platform/output_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/child_processes.h"
#include "platform/file_identity.h"
#include "platform/signal_line.h"

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr int kFileSlots = 32;
constexpr size_t kPathBytes = 4096;

// A slot is taken (0 -> 1), filled, then published (2); the handler reads
// only published slots.
struct PathSlot {
    std::atomic<int> state{0};
    char path[kPathBytes];
};

PathSlot partial_files[kFileSlots];
// The last kept file, in one of two buffers so that the handler never reads
// the one being written.
char kept_paths[2][kPathBytes];
std::atomic<int> kept_latest{-1};
std::atomic<long> kept_count{0};

mode_t creation_mode() {
    // Files get the mode a plain open would give them, not mkstemp's 0600.
    static const mode_t mode = [] {
        const mode_t mask = umask(022);
        umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

bool within(const fs::path& file, const fs::path& folder) {
    const fs::path relative = file.lexically_relative(folder);
    return !relative.empty() && *relative.begin() != "..";
}

}  // namespace

fs::path check_output_path(const std::string& path, const std::string& inside) {
    if (path.empty()) throw OutputPathError("an empty file name cannot be written");
    const fs::path given(path);
    const fs::path name = given.filename();
    if (name.empty() || name == "." || name == "..") throw OutputPathError(path + ": names a folder, not a file");
    std::error_code error;
    const fs::file_status status = fs::symlink_status(given, error);
    if (fs::is_symlink(status)) {
        throw OutputPathError(path + ": is a symbolic link" + (fs::exists(given, error) ? "" : " (dangling)") +
                              ": give the file's own name");
    }
    if (fs::is_directory(status)) throw OutputPathError(path + ": names a folder, not a file");
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        throw OutputPathError(path + ": is not a regular file (a device, FIFO or socket)");
    }
    const fs::path parent = given.has_parent_path() ? given.parent_path() : fs::path(".");
    const fs::path folder = fs::canonical(parent, error);
    if (error || !fs::is_directory(folder)) throw OutputPathError(path + ": there is no folder " + parent.string());
    if (!inside.empty()) {
        const fs::path root = fs::weakly_canonical(fs::path(inside), error);
        if (error || !(folder == root || within(folder, root))) {
            throw OutputPathError(path + ": lies outside " + inside + " once its links are resolved");
        }
    }
    return folder / name;
}

OutputFile::OutputFile(const std::string& path, const std::string& inside) : path_(path) {
    const fs::path checked = check_output_path(path, inside);
    std::string hidden(".");
    hidden += checked.filename().string();
    hidden += ".XXXXXX";
    std::string pattern = (checked.parent_path() / hidden).string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0) throw OutputFileError(path + ": cannot create a file beside it (" + std::strerror(errno) + ")");
    temporary_ = pattern;
    slot_ = register_partial_file(temporary_);
    fchmod(fd, creation_mode());
    file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
        const int failure = errno;
        close(fd);
        discard();
        throw OutputFileError(path + ": cannot write (" + std::strerror(failure) + ")");
    }
}

OutputFile::~OutputFile() { discard(); }

void OutputFile::discard() noexcept {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
    unregister_partial_file(slot_);
    slot_ = -1;
}

void OutputFile::commit(bool replaces_input) {
    if (file_ == nullptr) throw OutputFileError(path_ + ": already completed or abandoned");
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    int failure = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (flushed && !closed) failure = errno;
    // The last guard of what the work came from: a file the commands could
    // not name before their work (a bitmap a panel names) is refused here.
    if (flushed && closed && !replaces_input && file_was_read(path_)) {
        discard();
        throw OutputPathError(path_ + ": is a file this command read; it is left as it was");
    }
    if (flushed && closed && std::rename(temporary_.c_str(), path_.c_str()) == 0) {
        temporary_.clear();
        unregister_partial_file(slot_);
        slot_ = -1;
        note_kept_file(path_);
        return;
    }
    if (flushed && closed) failure = errno;
    discard();
    throw OutputFileError(path_ + ": cannot write (" + std::strerror(failure) + ")");
}

void write_output_file(const std::string& path, std::span<const unsigned char> bytes, const std::string& inside) {
    if (path == "-") {
        if ((!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), stdout) != bytes.size()) ||
            std::fflush(stdout) != 0) {
            throw OutputFileError(std::string("standard output: cannot write (") + std::strerror(errno) + ")");
        }
        return;
    }
    OutputFile out(path, inside);
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), out.file()) != bytes.size()) {
        throw OutputFileError(path + ": cannot write (" + std::strerror(errno) + ")");
    }
    out.commit();
}

int register_partial_file(const std::string& path) {
    if (path.size() >= kPathBytes) return -1;
    for (int i = 0; i < kFileSlots; ++i) {
        int free = 0;
        if (!partial_files[i].state.compare_exchange_strong(free, 1)) continue;
        std::memcpy(partial_files[i].path, path.c_str(), path.size() + 1);
        partial_files[i].state.store(2);
        return i;
    }
    return -1;
}

void unregister_partial_file(int slot) {
    if (slot >= 0 && slot < kFileSlots) partial_files[slot].state.store(0);
}

void note_kept_file(const std::string& path) {
    const int next = kept_latest.load() == 0 ? 1 : 0;
    const size_t size = std::min(path.size(), kPathBytes - 1);
    std::memcpy(kept_paths[next], path.data(), size);
    kept_paths[next][size] = '\0';
    kept_latest.store(next);
    kept_count.fetch_add(1);
}

void cleanup_after_signal(const char* signal_name, int fd) {
    const int saved = errno;
    const int stopped = kill_child_groups();
    long removed = 0;
    for (PathSlot& slot : partial_files) {
        if (slot.state.load() != 2) continue;
        if (unlink(slot.path) == 0) ++removed;
        slot.state.store(0);
    }
    SignalLine line;
    line.add("gaugebench: ");
    line.add(signal_name);
    line.add(": removed ");
    line.add(removed);
    line.add(" unfinished file(s), stopped ");
    line.add(static_cast<long>(stopped));
    line.add(" child process group(s); kept ");
    const long kept = kept_count.load();
    line.add(kept);
    line.add(" finished file(s)");
    const int latest = kept_latest.load();
    if (kept > 0 && latest >= 0) {
        line.add(", the last ");
        line.add(kept_paths[latest]);
    }
    line.add("\n");
    for (size_t written = 0; written < line.size;) {
        const ssize_t wrote = write(fd, line.text + written, line.size - written);
        if (wrote <= 0) break;
        written += static_cast<size_t>(wrote);
    }
    errno = saved;
}

}  // namespace platform
