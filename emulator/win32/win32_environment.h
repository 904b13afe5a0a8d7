// The Windows a gauge module sees inside the emulator: the KERNEL32, msvcrt
// and USER32 functions gauge modules and the C run-time start-up of MinGW and
// MSVC import, each a host routine working on guest memory. The list
// (win32_functions.h) is the documentation: time and counters, module handle
// and GetProcAddress, locks, TLS, virtual memory, the heap, memory and string
// functions, the printf family, maths, start-up and shut-down. Any other
// import binds to a trap that stops the call naming DLL!name.
//
// A routine given a pointer that leads out of the module's memory throws
// GuestFault, which ends the call into the module; so do the ones that would
// end the process (exit, abort, ExitProcess...). Routines that return in EDX
// or ST(0), or that take variable arguments, run through a few instructions
// of the environment's own code beside the host routine.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "emulator/pe/pe_module.h"
#include "emulator/win32/win32_budgets.h"

namespace emulator {

class Win32Environment : public ImportResolver {
public:
    explicit Win32Environment(EmulatedMachine& machine);
    ~Win32Environment() override;
    Win32Environment(const Win32Environment&) = delete;
    Win32Environment& operator=(const Win32Environment&) = delete;

    // The guest address of DLL!name (DLL case-insensitive, with or without
    // ".dll"), bound once; nullopt when this environment does not provide
    // it. Data imports (msvcrt's _iob, _commode...) give the data's address.
    std::optional<uint32_t> resolve(std::string_view dll, std::string_view name) override;
    uint32_t trap(std::string_view dll, std::string_view name, std::string_view why) override;
    bool provides(std::string_view dll) const override;
    void module_mapped(const std::string& name, uint32_t base, uint32_t size,
                       std::function<std::optional<uint32_t>(std::string_view)> exports) override;
    void module_unmapped(uint32_t base) override;

    // FindWindowA's answer: whether a top-level window of that class and
    // title is open (nullopt: any). Default: none is.
    // Told of every call of a provided function as it begins: its name
    // ("KERNEL32.dll!Sleep") and what makes its arguments named as its row
    // names them ("milliseconds=10", addresses in hex), made only if asked
    // for. Empty: no one is told.
    using CallArguments = std::function<std::string()>;
    using CallObserver = std::function<void(const std::string& function, const CallArguments& arguments)>;
    void set_call_observer(CallObserver observer);
    using WindowQuery =
        std::function<bool(const std::optional<std::string>& window_class, const std::optional<std::string>& title)>;
    void set_window_query(WindowQuery query);

    // The virtual clock every time function reads (win32_functions.h says
    // how): moved forward by the host, or set to a wall-clock time in
    // seconds since 1970 (UTC), which the counters since start-up ignore.
    void advance_clock(uint64_t microseconds);
    void set_wall_clock(int64_t unix_seconds);

    // What module code called, by "DLL!name" ("KERNEL32.dll!GetTickCount"),
    // and how often.
    const std::map<std::string, uint64_t>& calls() const;
    // Calls that handed out heap memory (malloc, calloc, realloc, _strdup,
    // HeapAlloc, HeapReAlloc, LocalAlloc, GlobalAlloc) since the environment
    // was made.
    uint64_t allocations() const;
    // Heap blocks handed out and not yet freed.
    size_t live_blocks() const;
    // What the module holds against each budget (win32_budgets.h), and the
    // calls each budget refused.
    ResourceUse resources() const;
    // What the module wrote with OutputDebugStringA (and MessageBoxA, as
    // "caption: text"), in order.
    const std::vector<std::string>& debug_output() const;
    // What it printed to stdout and stderr.
    const std::string& console_output() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace emulator
