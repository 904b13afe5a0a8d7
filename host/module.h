// Loading a gauge module: the library, its Linkage and ImportTable, init and
// deinit, and the bitmaps it carries.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "frame/linkage.h"
#include "host/host.h"
#include "host/pe_image.h"

namespace bench {

// A module that cannot be loaded; the message names the file and the reason,
// the kind says which part of the module is at fault.
class ModuleError : public std::runtime_error {
public:
    enum class Kind {
        kFile,        // missing, or no loadable library
        kResources,   // the bitmap resource file
        kExports,     // Linkage or ImportTable missing, or ImportTable malformed
        kGaugeTable,  // the gauge table has no null end within its record
    };
    explicit ModuleError(const std::string& message, Kind kind = Kind::kFile)
        : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

class Module {
public:
    // Loads the library at `path`, checks its exports, writes the host's
    // service table into ImportTable and calls module_init. `resource_path`
    // is the PE file whose bitmaps the module carries: the library itself on
    // Windows; on the Linux twin the matching PE build (empty: no bitmaps).
    // Throws ModuleError naming the file for a missing file, a file that is
    // no library, or a library without Linkage or ImportTable.
    Module(Host& host, const std::string& path, const std::string& resource_path = {});
    // The same with bitmaps already read (null: none), so that loads of one
    // module share one reading of its PE file.
    Module(Host& host, const std::string& path, std::shared_ptr<const PeImage> resources);
    // Reads the PE file whose bitmaps a module carries; throws ModuleError
    // (kResources) naming the file and the reason.
    static std::shared_ptr<const PeImage> read_resources(const std::string& resource_path);
    // Calls module_deinit and unloads.
    ~Module();
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    const std::string& path() const { return path_; }
    LINKAGE_HEADER* linkage() const { return linkage_; }
    IMPORT_TABLE* import_table() const { return import_table_; }

    // The gauge table up to its terminating null.
    const std::vector<GAUGEHDR*>& gauges() const { return gauges_; }
    // The gauge whose header names it; null when there is none.
    GAUGEHDR* gauge(std::string_view name) const;

    // A bitmap resource of the module, when the module carries it.
    std::optional<Bitmap> bitmap(uint32_t resource_id) const;
    // Gives a bitmap a size without pixels (for modules built without art).
    void override_bitmap_size(uint32_t resource_id, uint32_t width, uint32_t height);
    // Puts a whole bitmap in place of the module's own (synthetic pictures).
    void override_bitmap(uint32_t resource_id, Bitmap bitmap);

private:
    Host& host_;
    std::string path_;
    void* handle_ = nullptr;
    LINKAGE_HEADER* linkage_ = nullptr;
    IMPORT_TABLE* import_table_ = nullptr;
    std::vector<GAUGEHDR*> gauges_;
    std::shared_ptr<const PeImage> resources_;
    std::map<uint32_t, Bitmap> overrides_;
};

}  // namespace bench
