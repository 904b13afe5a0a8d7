#include "host/module.h"

#include <algorithm>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#endif

namespace bench {
namespace {

// A gauge table longer than this is taken for one without its terminator.
constexpr size_t kMaxGauges = 1024;

[[noreturn]] void fail(const std::string& path, const std::string& reason,
                       ModuleError::Kind kind = ModuleError::Kind::kFile) {
    throw ModuleError(path + ": " + reason, kind);
}

// An exported data record and, where the platform tells, its size in bytes
// (0: unknown), so that reading the record never runs past its end.
struct Export {
    void* address = nullptr;
    size_t size = 0;
};

#ifdef _WIN32

bool file_exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

void* load_library(const std::string& path, std::string& error) {
    // Windows paths may come with forward slashes ("Z:/..." under Wine);
    // the loader wants backslashes.
    std::string native = path;
    std::replace(native.begin(), native.end(), '/', '\\');
    // No message box for a file that is no library: the caller reports it.
    const UINT previous_mode = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE handle = LoadLibraryA(native.c_str());
    const DWORD code = GetLastError();
    SetErrorMode(previous_mode);
    if (handle == nullptr) error = "error " + std::to_string(code);
    return reinterpret_cast<void*>(handle);
}

void unload_library(void* handle) { FreeLibrary(reinterpret_cast<HMODULE>(handle)); }

// PE exports carry no size: a record exported from a section can reach no
// further than that section's end, which bounds what the loader reads.
size_t bytes_to_section_end(void* handle, const void* address) {
    const auto* base = static_cast<const unsigned char*>(handle);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (dos->e_magic != IMAGE_DOS_SIGNATURE) return 0;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return 0;
    const uintptr_t rva = reinterpret_cast<uintptr_t>(address) - reinterpret_cast<uintptr_t>(base);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
        const uintptr_t size = section->Misc.VirtualSize != 0 ? section->Misc.VirtualSize : section->SizeOfRawData;
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size) {
            return section->VirtualAddress + size - rva;
        }
    }
    return 0;
}

Export find_export(void* handle, const char* name) {
    void* address = reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle), name));
    if (address == nullptr) return {};
    return {address, bytes_to_section_end(handle, address)};
}

#else

bool file_exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

void* load_library(const std::string& path, std::string& error) {
    // A path without a slash would send dlopen searching the library path.
    const std::string explicit_path = path.find('/') == std::string::npos ? "./" + path : path;
    void* handle = dlopen(explicit_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* message = dlerror();
        error = message != nullptr ? message : "unknown error";
    }
    return handle;
}

void unload_library(void* handle) { dlclose(handle); }

Export find_export(void* handle, const char* name) {
    Export result;
    dlerror();
    result.address = dlsym(handle, name);
    if (result.address == nullptr) return result;
    Dl_info info{};
    void* extra = nullptr;
    if (dladdr1(result.address, &info, &extra, RTLD_DL_SYMENT) != 0 && extra != nullptr) {
        const auto* symbol = static_cast<const ElfW(Sym)*>(extra);
        // Only a symbol that starts at the address describes the record.
        if (info.dli_saddr == result.address) result.size = symbol->st_size;
    }
    return result;
}

#endif

// Unloads a library unless the load completes.
class LibraryGuard {
public:
    explicit LibraryGuard(void* handle) : handle_(handle) {}
    ~LibraryGuard() {
        if (handle_ != nullptr) unload_library(handle_);
    }
    LibraryGuard(const LibraryGuard&) = delete;
    LibraryGuard& operator=(const LibraryGuard&) = delete;
    void* release() { return std::exchange(handle_, nullptr); }

private:
    void* handle_;
};

}  // namespace

std::shared_ptr<const PeImage> Module::read_resources(const std::string& resource_path) {
    if (!file_exists(resource_path)) {
        fail(resource_path, "bitmap resource file not found", ModuleError::Kind::kResources);
    }
    try {
        return std::make_shared<const PeImage>(PeImage::read_file(resource_path));
    } catch (const PeError& error) {
        throw ModuleError(std::string("bitmap resources unreadable: ") + error.what(), ModuleError::Kind::kResources);
    }
}

Module::Module(Host& host, const std::string& path, const std::string& resource_path)
    : Module(host, path, resource_path.empty() ? nullptr : read_resources(resource_path)) {}

Module::Module(Host& host, const std::string& path, std::shared_ptr<const PeImage> resources)
    : host_(host), path_(path), resources_(std::move(resources)) {
    if (!file_exists(path)) fail(path, "file not found");
    std::string load_error;
    void* handle = load_library(path, load_error);
    if (handle == nullptr) fail(path, "not a loadable library (" + load_error + ")");
    LibraryGuard guard(handle);

    const Export linkage = find_export(handle, "Linkage");
    if (linkage.address == nullptr) fail(path, "no exported Linkage", ModuleError::Kind::kExports);
    const Export import_table = find_export(handle, "ImportTable");
    if (import_table.address == nullptr) fail(path, "no exported ImportTable", ModuleError::Kind::kExports);

    if (import_table.size != 0 && import_table.size < sizeof(IMPORT_TABLE)) {
        fail(path, "ImportTable too small", ModuleError::Kind::kExports);
    }
    auto* imports = static_cast<IMPORT_TABLE*>(import_table.address);
    if (imports->panels_id != kImportPanelsId) {
        fail(path,
             "ImportTable does not start with the service table entry 0x0F (found " +
                 std::to_string(imports->panels_id) + ")",
             ModuleError::Kind::kExports);
    }
    if (imports->end_id != 0 || imports->end_pointer != nullptr) {
        fail(path, "ImportTable lacks its (0, null) end", ModuleError::Kind::kExports);
    }

    if (linkage.size != 0 && linkage.size < sizeof(LINKAGE_HEADER) + sizeof(GAUGEHDR*)) {
        fail(path, "Linkage too small", ModuleError::Kind::kExports);
    }
    auto* header = static_cast<LINKAGE_HEADER*>(linkage.address);
    auto* const* table =
        reinterpret_cast<GAUGEHDR* const*>(static_cast<char*>(linkage.address) + sizeof(LINKAGE_HEADER));
    // Slots read at most, the terminator included.
    size_t slots = kMaxGauges + 1;
    if (linkage.size != 0) slots = std::min(slots, (linkage.size - sizeof(LINKAGE_HEADER)) / sizeof(GAUGEHDR*));
    std::vector<GAUGEHDR*> gauges;
    for (size_t i = 0;; ++i) {
        if (i == slots) fail(path, "gauge table without its null end", ModuleError::Kind::kGaugeTable);
        if (table[i] == nullptr) break;
        gauges.push_back(table[i]);
    }

    handle_ = guard.release();
    linkage_ = header;
    import_table_ = imports;
    gauges_ = std::move(gauges);
    import_table_->panels = host_.panels();
    if (linkage_->module_init != nullptr) linkage_->module_init();
}

Module::~Module() {
    if (linkage_->module_deinit != nullptr) linkage_->module_deinit();
    unload_library(handle_);
}

GAUGEHDR* Module::gauge(std::string_view name) const {
    for (GAUGEHDR* gauge : gauges_) {
        if (gauge->gauge_name != nullptr && name == gauge->gauge_name) return gauge;
    }
    return nullptr;
}

std::optional<Bitmap> Module::bitmap(uint32_t resource_id) const {
    if (auto it = overrides_.find(resource_id); it != overrides_.end()) return it->second;
    if (!resources_) return std::nullopt;
    const auto& bitmaps = resources_->bitmaps();
    if (auto it = bitmaps.find(resource_id); it != bitmaps.end()) return it->second;
    return std::nullopt;
}

void Module::override_bitmap_size(uint32_t resource_id, uint32_t width, uint32_t height) {
    Bitmap bitmap;
    bitmap.width = width;
    bitmap.height = height;
    bitmap.bits_per_pixel = 8;
    overrides_[resource_id] = std::move(bitmap);
}

void Module::override_bitmap(uint32_t resource_id, Bitmap bitmap) { overrides_[resource_id] = std::move(bitmap); }

}  // namespace bench
