// Ctrl-C and SIGTERM for the commands that write files or start programs:
// the handler removes every unfinished output file, kills the child process
// groups (platform/output_file.h keeps both), says in one line what was kept and
// exits 130 (SIGINT) or 143 (SIGTERM), as a shell reports a process killed
// by the signal.
#pragma once

namespace gaugebench {

void install_interrupt_handlers();

}  // namespace gaugebench
