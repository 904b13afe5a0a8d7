// Options that look inside module code as a command runs it, the same on
// every command that runs a panel or a module (render, scenario, fly, serve,
// validate): --trace FILE with its filters --trace-gauge and
// --trace-callback.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

#include "platform/output_file.h"
#include "runtime/host.h"
#include "runtime/trace.h"

namespace gaugebench {

struct InspectionOptions {
    std::string trace;  // JSON Lines of every call into module code (empty: none)
    runtime::TraceFilter trace_filter;
};

void add_inspection_options(CLI::App& command, InspectionOptions& options);

// Refuses, before any work, a --trace file the command could not write, or
// one that is another output of the command (`other`, named `other_option`).
void check_inspection_files(const InspectionOptions& options, const std::string& other,
                            const std::string& other_option);

// The trace of one run: its file (written whole, or not at all when the run
// is cut short) and what writes it. Without --trace there is no trace, and
// every host works as it would. `recent_per_gauge` keeps each gauge's latest
// calls, with or without a file (the live page shows them).
class TraceRun {
public:
    explicit TraceRun(const InspectionOptions& options, size_t recent_per_gauge = 0);
    runtime::Trace* trace() const { return trace_.get(); }
    void attach(runtime::Host& host) const { host.set_trace(trace_.get()); }
    // Once the modules are loaded: a --trace-gauge that names none of
    // `gauges` is refused, with the nearest name.
    void check_gauges(const std::vector<std::string>& gauges) const;
    // The same as a warning where the names are known only after the run.
    void warn_unknown_gauges(const std::vector<std::string>& gauges) const;
    // Writes the rest and gives the file its name.
    void finish();

private:
    InspectionOptions options_;
    std::unique_ptr<platform::OutputFile> file_;
    std::unique_ptr<runtime::Trace> trace_;
};

}  // namespace gaugebench
