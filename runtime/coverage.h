// What module code ran: with coverage started (--coverage), every machine
// counts the blocks it runs, and each module's count is kept by its file
// when the module goes; the lcov tracefile (runtime/coverage_report.h) is
// made of it at the end. Only the bench host's tree counts; the twin's
// refuses.
#pragma once

#include <string>
#include <vector>

#include "runtime/coverage_report.h"

namespace runtime {

// From now on, for every module loaded after this. Throws std::runtime_error
// where module code cannot be counted (the twin).
void start_coverage();
// What a tracefile covers and leaves out.
struct CoverageSummary {
    CoverageTotals totals;
    ChosenSources sources;
};

// The lcov tracefile of what the modules gone since ran (`test_name` is its
// TN), of the source files `filter` chooses (summed up in `summary`). What
// else it leaves out is said in `warnings`: a module whose line table or
// symbols do not read is counted by its pieces of code, one whose file
// cannot be read again is left out. Throws std::runtime_error when modules
// ran and none of them can be reported.
std::string coverage_tracefile(const std::string& test_name, const SourceFilter& filter,
                               std::vector<std::string>& warnings, CoverageSummary& summary);

}  // namespace runtime
