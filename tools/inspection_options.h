// Options that look inside module code as a command runs it, the same on
// every command that runs a panel or a module (render, scenario, fly, serve,
// validate): --trace FILE with its filters --trace-gauge and
// --trace-callback and its bound --trace-limit, --coverage FILE (an lcov
// tracefile) with --coverage-include and --coverage-exclude, and --gdb
// [HOST:]PORT with --gdb-anywhere and --gdb-module.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/output_file.h"
#include "runtime/coverage.h"
#include "runtime/coverage_report.h"
#include "runtime/debugging.h"
#include "runtime/host.h"
#include "runtime/trace.h"
#include "tools/command_line.h"

namespace gaugebench {

struct InspectionOptions {
    std::string trace;  // JSON Lines of every call into module code (empty: none)
    runtime::TraceFilter trace_filter;
    // The most bytes the trace's file takes (0: no limit); a command sets
    // its default before add_inspection_options.
    uint64_t trace_limit = 0;
    std::string coverage;  // an lcov tracefile of the module code run (empty: none)
    runtime::SourceFilter coverage_filter;
    runtime::DebuggerOptions debugger;
};

void add_inspection_options(CLI::App& command, InspectionOptions& options);

// A size as --trace-limit takes it: a whole number of bytes, or of k, M or G
// (1024, 1024^2, 1024^3 bytes, either letter case), or "none" (0: no
// limit); nothing for any other text or a size beyond 64 bits.
std::optional<uint64_t> parse_byte_size(std::string_view text);
// The same size written back, in the largest unit that divides it.
std::string byte_size_text(uint64_t bytes);

// The --trace and --coverage files among the command's outputs, before any
// work; the trace's filters without --trace are refused.
void add_inspection_files(const InspectionOptions& options, CommandFiles& files);

// What one run looks at: the trace and its file, the coverage report's file
// (each written whole, or not at all when the run is cut short), and the
// debugger. Without the options there is none of them, and every host works
// as it would. `recent_per_gauge` keeps each gauge's latest calls, with or
// without a file (the live page shows them).
class Inspection {
public:
    explicit Inspection(const InspectionOptions& options, size_t recent_per_gauge = 0);
    runtime::Trace* trace() const { return trace_.get(); }
    void attach(runtime::Host& host) const { host.set_trace(trace_.get()); }
    // Once the modules are loaded: a --trace-gauge that names none of
    // `gauges` is refused, with the nearest name.
    void check_gauges(const std::vector<std::string>& gauges) const;
    // The same as a warning where the names are known only after the run.
    void warn_unknown_gauges(const std::vector<std::string>& gauges) const;
    // With --gdb, listens and waits for the debugger: called once, before
    // any module code runs. Throws CommandError for an address refused or
    // not listened on, and when Ctrl-C ends the wait.
    void start_debugger() const;
    // Writes the rest (the trace's, the coverage of what ran until now) and
    // gives the files their names.
    void finish();
    // The files finish() gave their names (not standard output), for a
    // summary's files_written.
    const std::vector<std::string>& files_written() const { return written_; }

private:
    void say_coverage(const runtime::CoverageSummary& summary) const;

    InspectionOptions options_;
    std::unique_ptr<platform::OutputFile> file_;
    std::unique_ptr<platform::OutputFile> coverage_;
    std::FILE* trace_stream_ = nullptr;  // the trace's file, or standard output
    std::FILE* coverage_stream_ = nullptr;
    std::unique_ptr<runtime::Trace> trace_;
    std::vector<std::string> written_;
};

}  // namespace gaugebench
