#include <cstdio>

#include "tools/panel_commands.h"

namespace panel_commands {
namespace {

int unavailable(const char* command) {
    std::fprintf(stderr, "gaugebench: '%s' draws pictures, which only the Linux build can do\n", command);
    return 2;
}

}  // namespace

int render(int, char** argv) { return unavailable(argv[0]); }
int scenario(int, char** argv) { return unavailable(argv[0]); }

}  // namespace panel_commands
