#include "tools/interrupt.h"

#include <signal.h>
#include <unistd.h>

#include "platform/output_file.h"
#include "tools/command_line.h"

namespace gaugebench {
namespace {

// Set once, before any handler can run: isatty is no async-signal-safe call.
bool stderr_is_terminal = false;

void on_signal(int signal_number) {
    // A progress line on a terminal is rewritten in place: start clean.
    if (stderr_is_terminal) (void)!write(STDERR_FILENO, "\r\033[K", 4);
    platform::cleanup_after_signal(signal_number == SIGINT ? "interrupted (SIGINT)" : "terminated (SIGTERM)",
                                   STDERR_FILENO);
    _exit(static_cast<int>(signal_number == SIGINT ? ExitStatus::kInterrupted : ExitStatus::kTerminated));
}

}  // namespace

void install_interrupt_handlers() {
    stderr_is_terminal = isatty(STDERR_FILENO) != 0;
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    // A second signal waits for the first handler to finish its cleanup.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    for (const int signal_number : {SIGINT, SIGTERM}) sigaction(signal_number, &action, nullptr);
}

}  // namespace gaugebench
