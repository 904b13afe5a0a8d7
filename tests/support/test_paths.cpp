#include "support/test_paths.h"

#include <cstdlib>

namespace test_paths {
namespace {

std::string join(const char* variable, const std::string& file_name) {
    const char* dir = std::getenv(variable);
    if (dir == nullptr || *dir == '\0') return {};
    return std::string(dir) + "/" + file_name;
}

}  // namespace

std::string module(const std::string& file_name) {
    std::string path = join("KORVANE_MODULE_DIR", file_name);
    return path.empty() ? file_name : path;
}

std::string pe(const std::string& file_name) { return join("KORVANE_PE_DIR", file_name); }

std::string source(const std::string& path) { return join("KORVANE_SOURCE_DIR", path); }

}  // namespace test_paths
