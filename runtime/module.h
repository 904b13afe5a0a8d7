// Loading a gauge module: its code on its machine, its Linkage and
// ImportTable, the host's service table, init and deinit, and the bitmaps it
// carries. Everything the host reads of a module goes through the module's
// guest memory, checked: the floors above the runtime read its records
// through records() and never see the machine (the runtime and the
// validator reach it through runtime/module_code.h).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "frame/linkage.h"
#include "frame/services.h"
#include "runtime/dib.h"
#include "runtime/module_memory.h"

// The machine a module runs on stays the runtime's: named here, defined
// only where the runtime's own include root reaches.
namespace emulator {
class GuestMemory;
class Machine;
class PeImage;
}  // namespace emulator

namespace runtime {

class Host;
class ModuleCode;

// Stops every call into module code at once, from any thread (a signal's
// watcher): the running call and every later one stop (is_stopped_call()).
void stop_all_module_calls();

// Runs `work`, the host's own code, so that the calls it makes into module
// code on this thread (a panel update's many callbacks and handlers) take
// one entry into the emulator for a run of calls into the same module, not
// one each. Each call ends as it would alone: its result, or its fault
// thrown from it and caught where the host catches it, a debugger's stops,
// the trace and coverage naming the gauge and callback as ever. Nested, or
// where module code runs natively (the twin), it only runs `work`; what
// `work` throws comes out.
void run_module_calls_together(void (*work)(void*), void* context);
template <typename Work>
void module_calls_together(Work&& work) {
    run_module_calls_together([](void* w) { (*static_cast<std::remove_reference_t<Work>*>(w))(); }, &work);
}

// A module that cannot be loaded; the message names the file and the reason,
// the kind says which part of the module is at fault.
class ModuleError : public std::runtime_error {
public:
    enum class Kind {
        kFile,        // missing, or no loadable library
        kResources,   // the bitmap resource file
        kExports,     // Linkage or ImportTable missing, or ImportTable malformed
        kGaugeTable,  // the gauge table has no null end within its record
        kCode,        // module code faulted while loading (entry routine, module_init)
    };
    explicit ModuleError(const std::string& message, Kind kind = Kind::kFile)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

// A DLL loaded for a module: one it imports that the host does not provide
// itself, or one such a DLL imports.
struct ModuleLibrary {
    std::string path;
    std::string imported_by;  // the file name of the module or DLL importing it
};

// The bitmaps of a PE file read once for several loads of one module.
using ModuleResources = std::shared_ptr<const emulator::PeImage>;

using frame::GuestPtr;
using GaugePtr = GuestPtr<guest::GAUGEHDR>;
using ElementPtr = GuestPtr<guest::ELEMENT_HEADER>;

class Module {
public:
    // Loads the module at `path`, checks its exports, writes the host's
    // service table into ImportTable and calls module_init. `resource_path`
    // is the PE file whose bitmaps the module carries where the module file
    // does not carry them itself (the i386 twin); empty: the file's own.
    // Throws ModuleError naming the file for a missing file, a file that is
    // no module, a module without Linkage or ImportTable, or module code
    // that faults while loading.
    Module(Host& host, const std::string& path, const std::string& resource_path = {});
    // The same with bitmaps already read (null: the file's own, if any), so
    // that loads of one module share one reading of its PE file.
    Module(Host& host, const std::string& path, ModuleResources resources);
    // Reads the PE file whose bitmaps a module carries; throws ModuleError
    // (kResources) naming the file and the reason.
    static ModuleResources read_resources(const std::string& resource_path);
    // Calls module_deinit (a fault there is dropped: the module goes anyway)
    // and unloads.
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const std::string& path() const { return path_; }
    Host& host() const { return host_; }
    // The module's records, read-only.
    ModuleMemory records() const { return ModuleMemory(memory()); }
    // The machine and its memory, for the runtime and the validator.
    emulator::Machine& machine() const;
    emulator::GuestMemory& memory() const;
    const ModuleCode& code() const { return *code_; }

    // Imports bound to a trap, as DLL!name.
    std::vector<std::string> unbound_imports() const;
    // The DLLs loaded for it, in the order they were set up.
    std::vector<ModuleLibrary> libraries() const;
    // Instructions its code has run so far (0 where the machine cannot count
    // them: the twin's runs natively).
    uint64_t instructions() const;
    // Times the emulator was started for its code so far (0 where it runs natively).
    uint64_t emulator_entries() const;
    // Heap allocations its code made through its imports (0 where the
    // machine cannot tell: the twin's are counted by the process's hook).
    uint64_t allocations() const;
    // The bytes of the bitmaps the module file carries itself (0: none, or
    // a machine that reads no PE file: the twin).
    uint64_t own_bitmap_bytes() const;
    // Each budget that refused its code a call so far: "Korvane.gau: 12
    // calls of its code refused past its budget of 10,000 handles".
    std::vector<std::string> budget_warnings() const;

    GuestPtr<guest::LINKAGE_HEADER> linkage() const { return linkage_; }
    GuestPtr<guest::IMPORT_TABLE> import_table() const { return import_table_; }
    GuestPtr<guest::PANELS> panels() const { return panels_; }

    // The gauge table up to its terminating null.
    const std::vector<GaugePtr>& gauges() const { return gauges_; }
    // The gauge whose header names it; null when there is none.
    GaugePtr gauge(std::string_view name) const;
    // A gauge's name as its header gives it; "" when it has none or the name
    // cannot be read.
    std::string gauge_name(GaugePtr gauge) const;

    // A bitmap resource of the module, when the module carries it.
    std::optional<Bitmap> bitmap(uint32_t resource_id) const;
    // Gives a bitmap a size without pixels (for modules built without art).
    void override_bitmap_size(uint32_t resource_id, uint32_t width, uint32_t height);
    // Puts a whole bitmap in place of the module's own (synthetic pictures).
    void override_bitmap(uint32_t resource_id, Bitmap bitmap);

private:
    void check_import_table(uint32_t address);
    void read_gauge_table(uint32_t address);
    void build_service_table();

    Host& host_;
    std::string path_;
    std::unique_ptr<ModuleCode> code_;
    GuestPtr<guest::LINKAGE_HEADER> linkage_;
    GuestPtr<guest::IMPORT_TABLE> import_table_;
    GuestPtr<guest::PANELS> panels_;
    std::vector<GaugePtr> gauges_;
    ModuleResources resources_;
    std::map<uint32_t, Bitmap> overrides_;
};

// The message of a fault in module code, naming the module, where the host
// called it and, where the module's line table says, the source line of the
// instruction at fault: "Korvane.gau: gauge Altimeter, needle callback: read
// at ... (altimeter.cpp:42, in altitude_needle)". The module's host's trace,
// if it has one, is told the fault for the line of the call it cut short.
std::string fault_message(const Module& module, const std::string& where, const std::exception& fault);

}  // namespace runtime
