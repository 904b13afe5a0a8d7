#include "emulator/pe/pe_dependencies.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/text_input.h"

namespace emulator {
namespace {

namespace fs = std::filesystem;

// Letter case aside, as Windows compares file names.
bool starts_with(std::string_view name, std::string_view prefix) {
    return name.size() >= prefix.size() && platform::same_name(name.substr(0, prefix.size()), prefix);
}


// An import's DLL as a file name: Windows adds ".dll" to a name without an
// extension (a forwarder's).
std::string dll_file(std::string_view dll) {
    std::string file(dll);
    if (fs::path(file).extension().empty()) file += ".dll";
    return file;
}

// Windows' own DLLs: loaded from the system, never from beside a module, so
// one the host lacks is missing whatever lies there.
bool windows_dll(const std::string& file) {
    static constexpr std::string_view kSystem[] = {
        "advapi32.dll",   "comctl32.dll", "comdlg32.dll", "crypt32.dll",  "gdi32.dll",  "imm32.dll",   "kernel32.dll",
        "kernelbase.dll", "ntdll.dll",    "ole32.dll",    "oleaut32.dll", "rpcrt4.dll", "shell32.dll", "shlwapi.dll",
        "ucrtbase.dll",   "user32.dll",   "version.dll",  "winmm.dll",    "ws2_32.dll"};
    return starts_with(file, "api-ms-win-") ||
           std::any_of(std::begin(kSystem), std::end(kSystem),
                       [&file](std::string_view system) { return platform::same_name(file, system); });
}

// How a module does without one of MinGW's run-time DLLs: linked into it.
std::string static_link_hint(const std::string& file) {
    if (starts_with(file, "libgcc_s_") || starts_with(file, "libstdc++"))
        return "; link the module with -static-libgcc -static-libstdc++ to carry what it uses of it inside";
    if (starts_with(file, "libwinpthread"))
        return "; link the module with -static-libgcc -static-libstdc++ -static to carry what it uses of it inside";
    return "";
}

// "12-posix" before "12-win32", both before "9.3-posix": the version's
// number first (newest first), then posix threads, which the project's own
// tool chain uses.
bool newer_first(const fs::path& a, const fs::path& b) {
    const std::string x = a.filename().string(), y = b.filename().string();
    const auto version = [](const std::string& name) { return std::atoi(name.c_str()); };
    if (version(x) != version(y)) return version(x) > version(y);
    return x < y;
}

}  // namespace

std::vector<std::string> mingw_dll_folders() {
    std::vector<fs::path> versions;
    std::error_code error;
    for (fs::directory_iterator it("/usr/lib/gcc/i686-w64-mingw32", error), end; !error && it != end;
         it.increment(error)) {
        if (it->is_directory(error)) versions.push_back(it->path());
    }
    std::sort(versions.begin(), versions.end(), newer_first);
    std::vector<std::string> folders;
    for (const fs::path& version : versions) folders.push_back(version.string());
    if (fs::is_directory("/usr/i686-w64-mingw32/lib", error)) folders.push_back("/usr/i686-w64-mingw32/lib");
    return folders;
}

DependentDlls::DependentDlls(EmulatedMachine& machine, ImportResolver& host, std::vector<std::string> folders,
                             Limits limits)
    : machine_(machine), host_(host), folders_(std::move(folders)), limits_(limits) {}

DependentDlls::~DependentDlls() {
    while (!loaded_.empty()) loaded_.pop_back();
}

std::unique_ptr<PeModule> DependentDlls::load(const std::string& path) {
    std::error_code error;
    module_folder_ = fs::absolute(path, error).parent_path().string();
    named_ = false;
    loading_.push_back(platform::file_name_of(path));
    const Pop pop{loading_};
    return PeModule::load(machine_, *this, path);
}

std::vector<DependentDll> DependentDlls::loaded() const {
    std::vector<DependentDll> dlls;
    for (const Loaded& loaded : loaded_) dlls.push_back(loaded.dll);
    return dlls;
}

std::optional<uint32_t> DependentDlls::resolve(std::string_view dll, std::string_view name) {
    if (host_.provides(dll)) return host_.resolve(dll, name);
    if (const auto address = host_.resolve(dll, name)) return address;
    const std::string file = dll_file(dll);
    if (windows_dll(file)) return std::nullopt;
    const Mapped* module = mapped(file);
    if (module == nullptr) module = load_dependency(file);
    if (module == nullptr) return std::nullopt;
    // The export may be a forwarder, leading here again, and on to another
    // that leads back.
    if (forwarding_ >= limits_.forwards) return std::nullopt;
    const Restore restore{forwarding_, forwarding_ + 1};
    return module->exports(name);
}

uint32_t DependentDlls::trap(std::string_view dll, std::string_view name, std::string_view why) {
    std::string reason(why);
    const std::string file = dll_file(dll);
    for (const Missing& missing : missing_) {
        if (platform::same_name(missing.name, file)) reason = missing.why;
    }
    if (reason.empty() && mapped(file) != nullptr) {
        for (const Loaded& loaded : loaded_) {
            if (platform::same_name(platform::file_name_of(loaded.dll.path), file))
                reason = loaded.dll.path + " exports no " + std::string(name);
        }
    }
    return host_.trap(dll, name, reason);
}

void DependentDlls::module_mapped(const std::string& name, uint32_t base, uint32_t size,
                                  std::function<std::optional<uint32_t>(std::string_view)> exports) {
    mapped_.push_back({name, base, exports});
    host_.module_mapped(name, base, size, std::move(exports));
}

void DependentDlls::module_unmapped(uint32_t base) {
    std::erase_if(mapped_, [base](const Mapped& module) { return module.base == base; });
    host_.module_unmapped(base);
}

const DependentDlls::Mapped* DependentDlls::mapped(std::string_view file) const {
    for (const Mapped& module : mapped_) {
        if (platform::same_name(module.name, file)) return &module;
    }
    return nullptr;
}

// The DLL `file` that the module loading last imports: found, checked
// against the limits, loaded (its own imports with it) and kept; null when it
// is nowhere, which is remembered.
const DependentDlls::Mapped* DependentDlls::load_dependency(const std::string& file) {
    // Outside a load (GetProcAddress following a forwarder as module code
    // runs) nothing more is loaded.
    if (loading_.empty()) return nullptr;
    for (const Missing& missing : missing_) {
        if (platform::same_name(missing.name, file)) return nullptr;
    }
    const std::optional<std::string> path = find(file);
    if (!path) {
        missing_.push_back({file, missing_message(file)});
        return nullptr;
    }
    std::string chain;
    for (const std::string& importer : loading_) chain += importer + " imports ";
    chain += file;
    // The module and the DLLs loading for it are on the stack.
    if (loaded_.size() + loading_.size() - 1 >= limits_.dlls) {
        named_ = true;
        throw LoadError(chain + ": more than the " + std::to_string(limits_.dlls) +
                        " DLLs the host loads for one module");
    }
    if (loading_.size() > limits_.depth) {
        named_ = true;
        throw LoadError(chain + ": DLLs importing DLLs more than " + std::to_string(limits_.depth) +
                        " deep, which the host does not follow");
    }
    const std::string importer = loading_.back();
    loading_.push_back(file);
    const Pop pop{loading_};
    // Its imports are bound afresh, whatever forwarder led to it.
    const Restore restore{forwarding_, 0};
    std::unique_ptr<PeModule> module;
    // An error from further down the chain names it already (named_).
    try {
        module = PeModule::load(machine_, *this, *path);
    } catch (const LoadError& error) {
        if (named_) throw;
        named_ = true;
        throw LoadError(chain + ": " + error.what());
    } catch (const GuestFault& fault) {
        if (named_) throw;
        named_ = true;
        throw GuestFault(fault.kind(), fault.address(), fault.pc(),
                         chain + " (" + *path + "), whose code faulted as it loaded: " + fault.what());
    }
    loaded_.push_back({{*path, importer}, std::move(module)});
    return mapped(file);
}

// The file `file` in the folders, the module's first; a name that differs
// only in letter case is the same name to Windows.
std::optional<std::string> DependentDlls::find(const std::string& file) const {
    std::error_code error;
    std::vector<std::string> folders{module_folder_};
    folders.insert(folders.end(), folders_.begin(), folders_.end());
    for (const std::string& folder : folders) {
        const fs::path exact = fs::path(folder) / file;
        if (fs::is_regular_file(exact, error)) return exact.string();
        for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
            if (platform::same_name(it->path().filename().string(), file) && it->is_regular_file(error))
                return it->path().string();
        }
    }
    return std::nullopt;
}

std::string DependentDlls::missing_message(const std::string& file) const {
    std::string where = "the module's folder " + module_folder_;
    for (const std::string& folder : folders_) where += ", " + folder;
    return file + " is in none of the folders searched (" + where + ")" + static_link_hint(file);
}

}  // namespace emulator
