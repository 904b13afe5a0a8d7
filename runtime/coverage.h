// What module code ran: with coverage started (--coverage), every machine
// counts the blocks it runs, and each module's count is kept by its file
// when the module goes; the lcov tracefile (runtime/coverage_report.h) is
// made of it at the end. Only the bench host's tree counts; the twin's
// refuses.
#pragma once

#include <string>

namespace runtime {

// From now on, for every module loaded after this. Throws std::runtime_error
// where module code cannot be counted (the twin).
void start_coverage();
// The lcov tracefile of what the modules gone since ran (`test_name` is its TN).
// Throws std::runtime_error naming a module file that cannot be read again.
std::string coverage_tracefile(const std::string& test_name);

}  // namespace runtime
