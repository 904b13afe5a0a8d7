// A stand-in entry point for `gaugebench serve` until the command line takes it:
//   gaugebench-serve <panel.cfg> [--port n] [--host addr] [--fdm script.xml [--jsbsim program] [--aircraft-root dir]]
//                    [--scenario file] [--modules dir] [--pe dir]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string>

#include "tools/serve_command.h"

int main(int argc, char** argv) {
    ServeOptions options;
    // Modules are looked for beside the program unless told otherwise.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    options.paths.module_dir = error ? std::string(".") : self.parent_path().string();
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--port" && has_value) {
            options.port = std::atoi(argv[++i]);
        } else if ((arg == "--host" || arg == "--listen") && has_value) {
            options.host = argv[++i];
        } else if (arg == "--fdm" && has_value) {
            options.fdm_script = argv[++i];
        } else if (arg == "--modules" && has_value) {
            options.paths.module_dir = argv[++i];
        } else if (arg == "--pe" && has_value) {
            options.paths.pe_dir = argv[++i];
        } else if (arg == "--jsbsim" && has_value) {
            options.jsbsim = argv[++i];
        } else if (arg == "--aircraft-root" && has_value) {
            options.aircraft_root = argv[++i];
        } else if (arg == "--scenario" && has_value) {
            options.scenario = argv[++i];
        } else if (arg == "--web-root" && has_value) {
            options.web_root = argv[++i];
        } else if (arg[0] != '-') {
            options.panel = arg;
        } else {
            std::fprintf(stderr, "gaugebench-serve: unknown or incomplete argument '%s'\n", arg.c_str());
            return 2;
        }
    }
    if (options.port <= 0 || options.port > 65535) {
        std::fprintf(stderr, "gaugebench-serve: --port takes 1 to 65535\n");
        return 2;
    }
    return serve(options);
}
