// A PE32 module loaded into an emulated machine as Windows loads a DLL:
// headers validated (by PeImage, the one place that checks them), the image
// reserved at its preferred base where free and elsewhere otherwise, the
// headers mapped read-only and each page with its sections' protection (the
// more permissive where sections share a page; pages no section covers stay
// inaccessible), base relocations applied (HIGHLOW; any other type refuses a
// module that must move), the module made known to the resolver (so that the
// DLLs its imports load, which may import it back, find it), imports bound by
// DLL!name (data imports included: the resolver gives their data's address),
// a TLS directory set up (block, index, callbacks with DLL_PROCESS_ATTACH
// before the entry routine), then the entry routine called as Windows does
// (stdcall: module handle, reason, 0) and its BOOL checked. Exports by name
// and by ordinal, forwarders followed through the resolver; the bitmaps come
// from the same file. The module's regions in memory() are named
// "<section> of <file>".
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/machine/emulated_machine.h"
#include "emulator/pe/pe_image.h"

namespace emulator {

// Where a module's imports come from (Win32Environment is the bench host's).
class ImportResolver {
public:
    virtual ~ImportResolver() = default;
    // The guest address of DLL!name (a function's, or a data import's data),
    // or nullopt when there is none. `name` is "#n" for an import by ordinal.
    virtual std::optional<uint32_t> resolve(std::string_view dll, std::string_view name) = 0;
    // A routine that stops the call naming DLL!name (GuestFault kUnboundImport);
    // `why` is what is known of why there is none (empty: nothing), which a
    // resolver standing before another may add to as it passes the call on.
    virtual uint32_t trap(std::string_view dll, std::string_view name, std::string_view why) = 0;
    // Whether DLL is one the resolver provides itself (a function it lacks
    // is missing, not to be looked for elsewhere).
    virtual bool provides(std::string_view dll) const {
        (void)dll;
        return false;
    }
    // A module was mapped (for GetModuleHandle and GetProcAddress); called
    // before its imports are bound and its TLS callbacks and entry routine
    // run. `name` is its file's name without the directory; `size` the
    // image's size in memory; `exports` finds an export by name or "#n",
    // following a forwarder through the resolver the module was loaded with.
    virtual void module_mapped(const std::string& name, uint32_t base, uint32_t size,
                               std::function<std::optional<uint32_t>(std::string_view)> exports) = 0;
    // The module mapped at `base` is gone (its PeModule was destroyed, or its
    // load failed after module_mapped): called before its image is unmapped.
    virtual void module_unmapped(uint32_t base) { (void)base; }
};

// A file that is no loadable PE32 DLL; the message names the file and what
// was expected.
class LoadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct Import {
    std::string dll;     // as stored, e.g. "KERNEL32.dll"
    std::string name;    // the function's name, or "#ordinal"
    uint32_t slot = 0;   // the guest address of its import-table cell
    bool bound = false;  // false: bound to a trap that stops the call naming DLL!name
};

class PeModule {
public:
    // Loads `path` into `machine`, binding imports from `resolver`; both
    // must outlive the module (its destructor calls into them).
    // Throws LoadError for a malformed file and GuestFault for a fault in a
    // TLS callback or the entry routine; an entry routine returning FALSE is a
    // LoadError.
    static std::unique_ptr<PeModule> load(EmulatedMachine& machine, ImportResolver& resolver, const std::string& path);
    // The same from the file's bytes, already read (`name` names it in errors).
    static std::unique_ptr<PeModule> load(EmulatedMachine& machine, ImportResolver& resolver,
                                          std::vector<uint8_t> bytes, const std::string& name);
    // Calls the entry routine and then the TLS callbacks with
    // DLL_PROCESS_DETACH (faults are swallowed: the module is going anyway),
    // frees its TLS index and unmaps the image.
    ~PeModule();
    PeModule(const PeModule&) = delete;
    PeModule& operator=(const PeModule&) = delete;

    const std::string& path() const { return path_; }
    uint32_t base() const { return base_; }
    uint32_t image_size() const { return image_size_; }
    // An export's address, by name or "#ordinal"; nullopt for one it lacks
    // or forwards (see forwarder()).
    std::optional<uint32_t> export_address(std::string_view name) const;
    // Where it forwards an export, by name or "#ordinal": {"OTHER.dll",
    // "name" or "#n"}; nullopt for one it does not forward.
    std::optional<std::pair<std::string, std::string>> forwarder(std::string_view name) const;
    const std::vector<Import>& imports() const { return imports_; }
    // The file as read: its bitmaps among the rest.
    const std::shared_ptr<const PeImage>& image() const { return image_; }

private:
    PeModule() = default;
    static std::unique_ptr<PeModule> load_image(EmulatedMachine& machine, ImportResolver& resolver,
                                                std::shared_ptr<const PeImage> image, const std::string& name);

    EmulatedMachine* machine_ = nullptr;
    ImportResolver* resolver_ = nullptr;  // set once module_mapped was called
    std::string path_;
    uint32_t base_ = 0;  // 0 until the image is mapped
    uint32_t image_size_ = 0;
    uint32_t entry_ = 0;     // the entry routine's address, 0 for none
    bool attached_ = false;  // DLL_PROCESS_ATTACH ran (and did not fault): detach on destruction
    std::optional<uint32_t> tls_index_;
    std::vector<uint32_t> tls_callbacks_;
    std::vector<Import> imports_;
    std::shared_ptr<const PeImage> image_;
};

}  // namespace emulator
