// How a one-shot command's heap is laid out for the few large buffers it
// makes (a panel's background, pictures as large as the panel, files read
// whole).
#pragma once

namespace platform {

// From here on large buffers come from the heap rather than from mappings
// of their own, and stay in it once freed, so that the next one reuses
// pages already touched instead of faulting in fresh ones; and the heap is
// asked for 2 MiB pages where the kernel gives them on request, one fault
// for each 2 MiB rather than each 4 KiB. The heap then never shrinks: meant
// for a command that runs once and exits, called before its large buffers
// are made. Nothing that is drawn or written changes.
void keep_large_buffers_in_heap();

}  // namespace platform
