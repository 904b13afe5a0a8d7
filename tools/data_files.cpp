#include "tools/data_files.h"

#include <filesystem>
#include <iterator>
#include <system_error>
#include <vector>

namespace gaugebench {
namespace fs = std::filesystem;

namespace {

struct Place {
    const char* installed;   // from <prefix>/share/gaugebench
    const char* build_tree;  // from the program's own tree, build/<tree>
};

// One row per file, in DataFile's order.
constexpr Place kPlaces[] = {
    {"panel/panel.cfg", "../../panel/panel.cfg"},
    {"fdm", "../../fdm"},
    {"../../lib/gaugebench/JSBSim", "../jsbsim/bin/JSBSim"},
    {"web", "../../web/page"},
    {"modules", "../win"},
    {"scenarios", "../../scenarios"},
    {"kit", "kit"},
    {"../doc/gaugebench/README.md", "../../README.md"},
    {"../doc/gaugebench/docs/scenarios.md", "../../docs/scenarios.md"},
    {"source/tests/fixtures/debuggee", "../../tests/fixtures/debuggee"},
};
static_assert(std::size(kPlaces) == static_cast<size_t>(DataFile::kCount));

}  // namespace

std::string program_dir() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path(error).string() : self.parent_path().string();
}

std::string installed_path(DataFile file) {
    return (fs::path("share/gaugebench") / kPlaces[static_cast<int>(file)].installed).lexically_normal().string();
}

std::string data_file(DataFile file) {
    const Place& place = kPlaces[static_cast<int>(file)];
    const fs::path here = program_dir();
    const fs::path share = here / ".." / "share" / "gaugebench";
    std::error_code error;
    if (fs::is_directory(share, error)) return (share / place.installed).lexically_normal().string();
    return (here / place.build_tree).lexically_normal().string();
}

std::string shipped_file(const std::string& name, Shipped kind) {
    std::error_code error;
    if (name.empty() || name == "-" || fs::path(name).is_absolute()) return {};
    if (fs::exists(fs::symlink_status(name, error))) return {};
    std::vector<fs::path> folders;
    switch (kind) {
        case Shipped::kPanel:
            folders = {fs::path(data_file(DataFile::kPanel)).parent_path(), data_file(DataFile::kDebuggee)};
            break;
        case Shipped::kScenario: folders = {data_file(DataFile::kScenarios), data_file(DataFile::kDebuggee)}; break;
        case Shipped::kModule: folders = {data_file(DataFile::kModules)}; break;
        case Shipped::kScript:
            folders = {fs::path(data_file(DataFile::kFdmRoot)) / "scripts", data_file(DataFile::kFdmRoot)};
            break;
    }
    for (const fs::path& folder : folders) {
        const fs::path shipped = (folder / name).lexically_normal();
        if (fs::is_regular_file(shipped, error)) return shipped.string();
    }
    return {};
}

}  // namespace gaugebench
