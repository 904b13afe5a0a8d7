#include "platform/output_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace platform {
namespace {

namespace fs = std::filesystem;

constexpr int kFileSlots = 32;
constexpr int kGroupSlots = 16;
constexpr size_t kPathBytes = 4096;

// A slot is taken (0 -> 1), filled, then published (2); the handler reads
// only published slots.
struct PathSlot {
    std::atomic<int> state{0};
    char path[kPathBytes];
};

PathSlot partial_files[kFileSlots];
std::atomic<pid_t> child_groups[kGroupSlots];
// The last kept file, in one of two buffers so that the handler never reads
// the one being written.
char kept_paths[2][kPathBytes];
std::atomic<int> kept_latest{-1};
std::atomic<long> kept_count{0};

// Text for the handler's line, built without allocating.
struct Line {
    char text[kPathBytes + 256];
    size_t size = 0;
    void add(const char* more) {
        for (; *more != '\0' && size + 1 < sizeof text; ++more) text[size++] = *more;
    }
    void add(long number) {
        char digits[24];
        int count = 0;
        do {
            digits[count++] = static_cast<char>('0' + number % 10);
            number /= 10;
        } while (number > 0 && count < 23);
        while (count > 0 && size + 1 < sizeof text) text[size++] = digits[--count];
    }
};

bool registered_group(pid_t pid) {
    for (const std::atomic<pid_t>& slot : child_groups) {
        if (slot.load() == pid) return true;
    }
    return false;
}

// The processes of a model being stopped, in a fixed table: the signal
// handler walks them too.
constexpr int kTreeSlots = 1024;
struct Tree {
    pid_t pid[kTreeSlots];
    bool gone[kTreeSlots];
    int count = 0;
    bool add(pid_t member) {
        for (int i = 0; i < count; ++i) {
            if (pid[i] == member) return false;
        }
        if (count == kTreeSlots) return false;
        gone[count] = false;
        pid[count++] = member;
        return true;
    }
    bool contains(pid_t member) const {
        for (int i = 0; i < count; ++i) {
            if (pid[i] == member) return true;
        }
        return false;
    }
};

// A number from `text` at `at`, moving past it; -1 when none starts there.
long read_number(const char* text, size_t size, size_t& at) {
    if (at >= size || text[at] < '0' || text[at] > '9') return -1;
    long number = 0;
    for (; at < size && text[at] >= '0' && text[at] <= '9'; ++at) number = number * 10 + (text[at] - '0');
    return number;
}

// A process's parent and group from /proc/<pid>/stat, read without
// allocating; false once it has gone.
bool parent_and_group(pid_t pid, pid_t& parent, pid_t& group) {
    Line path;
    path.add("/proc/");
    path.add(static_cast<long>(pid));
    path.add("/stat");
    path.text[path.size] = '\0';
    const int fd = open(path.text, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char stat[512];
    const ssize_t got = read(fd, stat, sizeof stat);
    close(fd);
    if (got <= 0) return false;
    // "pid (name) state parent group ...": the name may hold anything, ')' too.
    size_t at = static_cast<size_t>(got);
    while (at > 0 && stat[at - 1] != ')') --at;
    if (at == 0) return false;
    at += 3;  // " S "
    const long ppid = read_number(stat, static_cast<size_t>(got), at);
    ++at;
    const long pgrp = read_number(stat, static_cast<size_t>(got), at);
    if (ppid < 0 || pgrp < 0) return false;
    parent = static_cast<pid_t>(ppid);
    group = static_cast<pid_t>(pgrp);
    return true;
}

// One pass over /proc: each process whose parent is in `tree`, or that is
// in `group`, or that is an orphan reparented to us that no live session
// owns, joins it, stopped at once so that it forks no more. The number that
// joined. The kernel here need not offer /proc/<pid>/task/<tid>/children,
// and a member that called setsid() is in no group of ours: parents are
// what tie a model's processes together.
int grow(Tree& tree, pid_t group, pid_t self) {
    const int fd = open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return 0;
    int joined = 0;
    alignas(8) char entries[8192];
    for (;;) {
        const long got = syscall(SYS_getdents64, fd, entries, sizeof entries);
        if (got <= 0) break;
        for (long at = 0; at < got;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(entries + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            size_t digits = 0;
            const long pid = read_number(name, std::strlen(name), digits);
            if (pid <= 0 || name[digits] != '\0' || pid == self) continue;
            pid_t parent = 0, its_group = 0;
            if (!parent_and_group(static_cast<pid_t>(pid), parent, its_group)) continue;
            const bool ours = tree.contains(parent) || (group > 0 && its_group == group) ||
                              (parent == self && !registered_group(static_cast<pid_t>(pid)));
            if (ours && tree.add(static_cast<pid_t>(pid))) {
                kill(static_cast<pid_t>(pid), SIGSTOP);
                ++joined;
            }
        }
    }
    close(fd);
    return joined;
}

void pause_briefly() {
    const timespec five_ms{0, 5'000'000};
    nanosleep(&five_ms, nullptr);
}

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

void OutputFile::commit() {
    if (file_ == nullptr) throw OutputFileError(path_ + ": already completed or abandoned");
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    int failure = errno;
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (flushed && !closed) failure = errno;
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

void register_child_group(pid_t group) {
    for (std::atomic<pid_t>& slot : child_groups) {
        pid_t free = 0;
        if (slot.compare_exchange_strong(free, group)) return;
    }
}

void unregister_child_group(pid_t group) {
    for (std::atomic<pid_t>& slot : child_groups) {
        pid_t expected = group;
        slot.compare_exchange_strong(expected, 0);
    }
}

namespace {

int kill_and_reap_groups() {
    int stopped = 0;
    for (std::atomic<pid_t>& slot : child_groups) {
        const pid_t group = slot.exchange(0);
        if (group <= 0) continue;
        kill_process_tree(group);
        ++stopped;
    }
    // Orphans of a model already gone, should any have outlived it.
    if (stopped == 0) kill_process_tree(0);
    return stopped;
}

}  // namespace

void note_kept_file(const std::string& path) {
    const int next = kept_latest.load() == 0 ? 1 : 0;
    const size_t size = std::min(path.size(), kPathBytes - 1);
    std::memcpy(kept_paths[next], path.data(), size);
    kept_paths[next][size] = '\0';
    kept_latest.store(next);
    kept_count.fetch_add(1);
}

void adopt_orphans() { prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0); }

void kill_process_tree(pid_t root) {
    const int saved = errno;
    const pid_t self = getpid();
    Tree tree;
    if (root > 0) {
        tree.add(root);
        kill(-root, SIGSTOP);
        kill(root, SIGSTOP);
    }
    // Until a pass finds no one new: a process stopped in one pass may have
    // forked just before its stop arrived.
    for (int pass = 0; pass < 8 && grow(tree, root, self) > 0; ++pass) {}
    if (root > 0) kill(-root, SIGKILL);
    for (int i = 0; i < tree.count; ++i) kill(tree.pid[i], SIGKILL);
    // Every one was sent SIGKILL: those that were or become ours (a member's
    // orphans come to us) are reaped as they die, the others end without us.
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        int left = 0;
        for (int i = 0; i < tree.count; ++i) {
            if (tree.gone[i]) continue;
            const pid_t waited = waitpid(tree.pid[i], nullptr, WNOHANG);
            tree.gone[i] = waited == tree.pid[i] || (waited < 0 && errno != EINTR && kill(tree.pid[i], 0) < 0);
            if (!tree.gone[i]) ++left;
        }
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (left == 0 || now.tv_sec - start.tv_sec >= 3) break;
        pause_briefly();
    }
    errno = saved;
}

void kill_child_groups() { kill_and_reap_groups(); }

void cleanup_after_signal(const char* signal_name, int fd) {
    const int saved = errno;
    const int stopped = kill_and_reap_groups();
    long removed = 0;
    for (PathSlot& slot : partial_files) {
        if (slot.state.load() != 2) continue;
        if (unlink(slot.path) == 0) ++removed;
        slot.state.store(0);
    }
    Line line;
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
