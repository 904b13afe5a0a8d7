// gaugebench: the bench host on the command line.
//
//   gaugebench list <module> [--pe <PE file>] [--scale <s>]
//       loads the module, lists every gauge with its element tree and mouse
//       areas, sets each gauge up, runs one update and prints what each
//       element shows.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "host/host.h"
#include "host/instance.h"
#include "host/module.h"
#include "host/mouse.h"
#include "tools/listing.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: gaugebench list <module> [--pe <PE file>] [--scale <s>]\n"
                 "  <module>      a gauge module (.gau) built for this platform\n"
                 "  --pe <file>   the PE build of the module, whose bitmaps it carries\n"
                 "  --scale <s>   displayed size over the bitmaps' size (default 1)\n");
    return 2;
}

struct Options {
    std::string command;
    std::string module;
    std::string pe;
    double scale = 1.0;
};

bool parse(int argc, char** argv, Options& options) {
    if (argc < 3) return false;
    options.command = argv[1];
    options.module = argv[2];
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--pe" && i + 1 < argc) {
            options.pe = argv[++i];
        } else if (arg == "--scale" && i + 1 < argc) {
            char* end = nullptr;
            options.scale = std::strtod(argv[++i], &end);
            if (end == nullptr || *end != '\0' || !(options.scale > 0.0) || options.scale > 16.0) {
                std::fprintf(stderr, "gaugebench: --scale takes a number above 0 and at most 16\n");
                return false;
            }
        } else {
            std::fprintf(stderr, "gaugebench: unknown argument '%s'\n", arg.c_str());
            return false;
        }
    }
    return options.command == "list";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) return usage();
    try {
        bench::Host host;
        bench::Module module(host, options.module, options.pe);
        listing::print_module(stdout, host, module, options.scale);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "gaugebench: %s\n", error.what());
        return 1;
    }
    return 0;
}
