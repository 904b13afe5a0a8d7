// The DLLs a module imports that the host does not provide itself, loaded as
// Windows' loader loads them: looked for in the module's own folder, then in
// the folders given (the MinGW run-time's, where MinGW-w64 ships
// libgcc_s_dw2-1.dll, libstdc++-6.dll and libwinpthread-1.dll), mapped into
// the module's machine (its memory budget and all), their own imports loaded
// the same way, each one's TLS callbacks and entry routine run before those
// of the module that imports it, and unloaded in the reverse order once the
// module has gone. Windows' own DLLs are never looked for: what the host
// lacks of them is missing. A DLL that is nowhere leaves the imports from it
// bound to traps whose message names the DLL, where it was looked for and
// how to do without it; a DLL that cannot be loaded refuses the module.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "emulator/pe/pe_module.h"

namespace emulator {

// Where MinGW-w64's i686 run-time DLLs lie on this machine: each GCC
// version's folder under /usr/lib/gcc/i686-w64-mingw32 (the newest first,
// the posix threads variant before the win32 one), then
// /usr/i686-w64-mingw32/lib; only the folders that exist.
std::vector<std::string> mingw_dll_folders();

// A DLL loaded for a module: its file, and the module or DLL that imports it.
struct DependentDll {
    std::string path;
    std::string imported_by;  // a file name
};

class DependentDlls : public ImportResolver {
public:
    struct Limits {
        size_t dlls = 32;     // loaded for one module
        size_t depth = 8;     // DLLs importing DLLs: the longest chain
        size_t forwards = 8;  // forwarders followed for one import
    };
    // `host` provides what it can (Win32Environment); `folders` are looked
    // in after the module's own. Both `machine` and `host` must outlive this.
    DependentDlls(EmulatedMachine& machine, ImportResolver& host, std::vector<std::string> folders, Limits limits);
    DependentDlls(EmulatedMachine& machine, ImportResolver& host, std::vector<std::string> folders)
        : DependentDlls(machine, host, std::move(folders), Limits{}) {}
    // Unloads the DLLs, the last loaded first.
    ~DependentDlls() override;
    DependentDlls(const DependentDlls&) = delete;
    DependentDlls& operator=(const DependentDlls&) = delete;

    // Loads the module at `path` (one module: call it once) with the DLLs it
    // needs; the module must be destroyed before this. Throws as
    // PeModule::load does: LoadError naming the chain of imports for a DLL
    // that cannot be loaded or one past the limits, GuestFault naming the
    // DLL whose code faulted.
    std::unique_ptr<PeModule> load(const std::string& path);
    // The DLLs loaded, in the order their entry routines ran.
    std::vector<DependentDll> loaded() const;

    std::optional<uint32_t> resolve(std::string_view dll, std::string_view name) override;
    uint32_t trap(std::string_view dll, std::string_view name, std::string_view why) override;
    bool provides(std::string_view dll) const override { return host_.provides(dll); }
    void module_mapped(const std::string& name, uint32_t base, uint32_t size,
                       std::function<std::optional<uint32_t>(std::string_view)> exports) override;
    void module_unmapped(uint32_t base) override;

private:
    struct Mapped {
        std::string name;  // the file name it was mapped under
        uint32_t base = 0;
        std::function<std::optional<uint32_t>(std::string_view)> exports;
    };
    struct Pop {
        std::vector<std::string>& stack;
        ~Pop() { stack.pop_back(); }
    };
    // Sets a count for a while.
    struct Restore {
        Restore(size_t& count, size_t now) : count(count), was(count) { count = now; }
        ~Restore() { count = was; }
        size_t& count;
        size_t was;
    };
    struct Missing {
        std::string name;  // as imported
        std::string why;
    };
    const Mapped* mapped(std::string_view file) const;
    const Mapped* load_dependency(const std::string& file);
    std::optional<std::string> find(const std::string& file) const;
    std::string missing_message(const std::string& file) const;

    EmulatedMachine& machine_;
    ImportResolver& host_;
    std::string module_folder_;         // searched first
    std::vector<std::string> folders_;  // then these
    Limits limits_;
    bool named_ = false;                // the error on its way names the chain of imports
    std::vector<Mapped> mapped_;        // the module and its DLLs, loaded or loading
    std::vector<std::string> loading_;  // file names: the module, the DLL it imports, ...
    std::vector<Missing> missing_;
    size_t forwarding_ = 0;  // forwarders followed for the import being bound
    struct Loaded {
        DependentDll dll;
        std::unique_ptr<PeModule> module;
    };
    std::vector<Loaded> loaded_;
};

}  // namespace emulator
