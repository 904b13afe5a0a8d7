// The programs the tools start (JSBSim and whatever it starts in turn),
// stopped with the tool: on a normal stop path and from a signal handler
// alike, so the groups to stop are kept in a fixed table that
// kill_child_groups() reads without allocating or locking.
#pragma once

#include <sys/types.h>

namespace platform {

// The table the signal handler reads. Registration fails silently only when
// the table is full, which leaves the group without a guard, never the work
// undone.
void register_child_group(pid_t group);
void unregister_child_group(pid_t group);

// Async-signal-safe: kills every registered child process group with all its
// descendants (as kill_process_tree), or the orphans alone when none is
// registered, and says how many groups it stopped; for a normal stop path
// too, which must not leave them behind.
int kill_child_groups();

// Makes this process the reaper of its descendants' orphans (Linux's child
// subreaper): a child's descendant that left its process group (setsid,
// setpgid) and lost its parent comes to us, where kill_process_tree finds
// it. Called before a child that must be stopped whole is started.
void adopt_orphans();

// Async-signal-safe (/proc read into fixed buffers): kills `root`, its
// process group and every descendant, each stopped as it is found so that
// none forks meanwhile, and every orphan reparented to us that is no
// registered child group; reaps those that are or become our children,
// waiting a few seconds at most. `root` 0: the orphans alone.
void kill_process_tree(pid_t root);

}  // namespace platform
