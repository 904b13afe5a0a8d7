#include "platform/child_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

#include "platform/signal_line.h"

namespace platform {
namespace {

constexpr int kGroupSlots = 16;

std::atomic<pid_t> child_groups[kGroupSlots];

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
    SignalLine path;
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

}  // namespace

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

int kill_child_groups() {
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

}  // namespace platform
