// A debugger for module code (GDB's remote protocol): the commands listen
// with --gdb [HOST:]PORT and wait for one debugger before any module code
// runs, so that its breakpoints catch the entry routine and module_init. It
// debugs one module (by its file's name; the first loaded when none is
// named), in every machine that loads it. Only the bench host's tree has
// it; the twin's refuses.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/net_address.h"

namespace runtime {

struct DebuggerOptions {
    std::string address;    // [HOST:]PORT; HOST loopback (127.0.0.1) when none
    bool anywhere = false;  // a HOST other than loopback is allowed
    std::string module;     // the module file's name ("Korvane.gau"); empty: the first loaded
};

// The address as listened on, its host resolved once: what is judged is
// what the socket binds (HOST 127.0.0.1 when none). Throws
// std::invalid_argument naming what was expected for a malformed one or a
// host that resolves to nothing, and for one that resolves to any address
// but loopback unless `anywhere`.
using ListenAddress = platform::ResolvedAddress;
ListenAddress parse_listen_address(const std::string& text, bool anywhere);

// Listens, tells `say` where, and waits for the debugger: false when the
// program was told to end first. Throws std::runtime_error when it cannot
// listen (naming the address), std::invalid_argument as above.
bool start_debugger(const DebuggerOptions& options, std::function<void(const std::string& line)> say);
bool debugger_started();
// The program ends with `status`: an attached debugger is told so (the
// inferior exited with that code) and let go, and a --gdb-module that named
// no module loaded is said to have seen nothing.
void end_debugger(int status);

// Told, on the thread running module code, each time a debugger stops it
// (where, as "Korvane!Altimeter, gauge_callback (update), altimeter.cpp:42")
// and each time it goes on: the live page shows the stop, and its clock
// waits. Empty functions: nobody is told.
void observe_debugger(std::function<void(const std::string& where)> stopped, std::function<void()> resumed);

}  // namespace runtime
