// A module file made into running code: the machine it runs on and what the
// host asks of it while loading. The bench host's tree runs the PE file in
// the emulator (module_code_emulated.cpp); the i386 twin's tree runs the
// twin's own code in the process (module_code_native.cpp). Exactly one of
// the two is built into each tree. The runtime's own, and the validator's
// (it checks module code on its machine): the floors above cannot include
// it, their include roots holding no emulator/.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/machine/machine.h"
#include "emulator/pe/pe_image.h"
#include "emulator/win32/win32_budgets.h"
#include "platform/listener.h"
#include "runtime/module.h"

namespace runtime {

// The machine's faults in the runtime's words, and back (for the validator,
// which judges module code by the machine's own).
ModuleFault module_fault(const emulator::GuestFault& fault);
emulator::GuestFault guest_fault(const ModuleFault& fault);

// Module code's side of start_debugger (runtime/debugging.h), which
// listens: the process's one GDB stub, debugging `module` (a file name;
// empty: the first loaded), telling `say` what becomes of its debuggers,
// and taking them from `next_connection` (one that connected within the
// time given, in milliseconds; null when none did). The twin's throws
// std::runtime_error: it runs module code natively, for gdb itself.
using NextConnection = std::function<std::unique_ptr<platform::ByteStream>(int timeout_ms)>;
void make_stub(const std::string& module, std::function<void(const std::string& line)> say,
               NextConnection next_connection);
// Waits for the stub's first debugger: false when the program is told to
// end first (stop_all_module_calls()).
bool wait_for_debugger();

// Instructions module code has run on `machine` so far (0 where the machine
// cannot count them: the twin's runs natively).
uint64_t instructions_run(const emulator::Machine& machine);
// Starts of the emulator on `machine` so far (0 where module code runs natively).
uint64_t emulator_entries(const emulator::Machine& machine);

// A part of the module's image as loaded: guest addresses [begin, end).
struct CodeSection {
    uint32_t begin = 0;
    uint32_t end = 0;
    bool code = false;  // holds code (and only code runs)
};

// Where in a module's source a piece of its code comes from, as far as its
// line table and symbols tell.
struct SourcePlace {
    std::string file;  // the source file's name, "debuggee.cpp"; empty: no line for it
    uint32_t line = 0;
    std::string function;  // "probe_callback"; empty: no symbol holds it
};
// "debuggee.cpp:35, in probe_callback", "in probe_callback", "debuggee.cpp:35".
std::string source_text(const SourcePlace& place);

class ModuleCode {
public:
    virtual ~ModuleCode() = default;
    virtual emulator::Machine& machine() = 0;
    virtual std::optional<uint32_t> export_address(std::string_view name) const = 0;
    // How many bytes from `address` on the record there may span: to the end
    // of the section holding it (the PE), or the exported symbol's size (the
    // twin); nullopt when the file does not say.
    virtual std::optional<uint32_t> record_extent(uint32_t address) const = 0;
    // The image's sections as loaded, as far as each one's own size: a
    // record reaches no further, whatever fills the rest of its last page.
    virtual std::vector<CodeSection> sections() const = 0;
    // The bitmaps the file carries itself (the PE); null for the twin.
    virtual std::shared_ptr<const emulator::PeImage> own_resources() const = 0;
    // The DLLs loaded for the module, in the order they were set up (none
    // where the machine loads none: the twin's).
    virtual std::vector<ModuleLibrary> libraries() const = 0;
    // Imports bound to a trap, as DLL!name.
    virtual std::vector<std::string> unbound_imports() const = 0;
    // Imports module code called, as DLL!name with the count; empty where the
    // machine cannot tell.
    virtual std::vector<std::pair<std::string, uint64_t>> import_calls() const = 0;
    // Heap allocations module code made through its imports (0 where the
    // machine cannot tell: the twin's are counted by the process's hook).
    virtual uint64_t allocations() const = 0;
    // What module code holds against each of the emulator's budgets and the
    // calls they refused; nullopt where the machine has no budgets (the twin).
    virtual std::optional<emulator::ResourceUse> resources() const = 0;
    // Where the code at guest `address` comes from, when the module file says
    // (its line table, its symbols); nullopt outside the module's code or
    // where the machine cannot tell (the twin).
    virtual std::optional<SourcePlace> source_place(uint32_t address) const {
        (void)address;
        return std::nullopt;
    }
};

// FindWindowA's answer for the module: null class or title match any.
using WindowQuery =
    std::function<bool(const std::optional<std::string>& window_class, const std::optional<std::string>& title)>;

// Loads the module file at `path`; throws ModuleError naming the file.
std::unique_ptr<ModuleCode> load_module_code(const std::string& path, WindowQuery windows);

}  // namespace runtime
