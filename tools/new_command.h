// `gaugebench new NAME [--dir DIR]`: a designer's first module, as a project
// folder that builds on its own with CMake and MinGW-w64: one gauge with a
// needle and a click box, its bitmaps, a panel, a scenario, a README and a
// copy of the module kit (tools/data_files.h finds the kit and the
// project's template, template/, from where the program runs).
#pragma once

#include "tools/command_line.h"

namespace new_command {

void add(CLI::App& app, gaugebench::Commands& commands);

}  // namespace new_command
