// `gaugebench vocabulary`: every variable and key event the gauges know, with
// its number, unit, range and meaning (frame/vocabulary.h), as a table or JSON.
#pragma once

#include "tools/command_line.h"

namespace vocabulary_command {

void add(CLI::App& app, gaugebench::Commands& commands);

}  // namespace vocabulary_command
