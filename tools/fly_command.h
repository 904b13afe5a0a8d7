// `gaugebench fly`: a JSBSim script flown headless, the panel driven by the
// model through the coupling, pictures at chosen moments.
#pragma once

#include "tools/command_line.h"

namespace fly_command {

void add(CLI::App& app, gaugebench::Commands& commands);

}  // namespace fly_command
