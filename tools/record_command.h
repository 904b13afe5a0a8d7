// `gaugebench record`: what a simulator sends, written as a scenario that
// `scenario` and `serve --scenario` replay.
#pragma once

#include "tools/command_line.h"

namespace record_command {

void add(CLI::App& app, gaugebench::Commands& commands);

}  // namespace record_command
