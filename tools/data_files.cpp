#include "tools/data_files.h"

#include <filesystem>
#include <system_error>

namespace gaugebench {
namespace fs = std::filesystem;

namespace {

struct Place {
    const char* installed;   // under <prefix>/share/gaugebench
    const char* build_tree;  // from the program's own tree, build/<tree>
};

// One row per file, in DataFile's order.
constexpr Place kPlaces[] = {
    {"panel/panel.cfg", "../../panel/panel.cfg"},
    {"fdm", "../../fdm"},
    {"jsbsim/JSBSim", "../jsbsim/bin/JSBSim"},
    {"web", "../../web/page"},
    {"modules", "../win"},
    {"scenarios", "../../scenarios"},
    {"kit", "kit"},
};

}  // namespace

std::string program_dir() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path(error).string() : self.parent_path().string();
}

std::string data_file(DataFile file) {
    const Place& place = kPlaces[static_cast<int>(file)];
    const fs::path here = program_dir();
    const fs::path share = here / ".." / "share" / "gaugebench";
    std::error_code error;
    if (fs::is_directory(share, error)) return (share / place.installed).lexically_normal().string();
    return (here / place.build_tree).lexically_normal().string();
}

}  // namespace gaugebench
