// Loading a gauge module: its code on its machine, its Linkage and
// ImportTable, the host's service table, init and deinit, and the bitmaps it
// carries. Everything the host reads of a module goes through the module's
// guest memory (memory()), checked.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "frame/linkage.h"
#include "frame/services.h"
#include "runtime/dib.h"
#include "runtime/module_code.h"

namespace runtime {

class Host;

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
    Module(Host& host, const std::string& path, std::shared_ptr<const PeImage> resources);
    // Reads the PE file whose bitmaps a module carries; throws ModuleError
    // (kResources) naming the file and the reason.
    static std::shared_ptr<const PeImage> read_resources(const std::string& resource_path);
    // Calls module_deinit (a fault there is dropped: the module goes anyway)
    // and unloads.
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const std::string& path() const { return path_; }
    Host& host() const { return host_; }
    emulator::Machine& machine() const { return code_->machine(); }
    emulator::GuestMemory& memory() const { return code_->machine().memory(); }
    const ModuleCode& code() const { return *code_; }

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
    std::shared_ptr<const PeImage> resources_;
    std::map<uint32_t, Bitmap> overrides_;
};

// The message of a fault in module code, naming the module and where the
// host called it: "Korvane.gau: gauge Altimeter, needle callback: ...".
std::string fault_message(const Module& module, const std::string& where, const std::exception& fault);

}  // namespace runtime
