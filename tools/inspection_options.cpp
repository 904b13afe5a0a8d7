#include "tools/inspection_options.h"

#include <algorithm>

#include "platform/text_input.h"
#include "tools/command_line.h"

namespace gaugebench {
namespace {

// The --trace-gauge names that name no gauge in `gauges`, each with the
// nearest that does.
std::vector<std::string> unknown_gauges(const runtime::TraceFilter& filter, const std::vector<std::string>& gauges) {
    std::vector<std::string> unknown;
    for (const std::string& name : filter.gauges) {
        const bool known = std::any_of(gauges.begin(), gauges.end(),
                                       [&](const std::string& gauge) { return platform::same_name(gauge, name); });
        if (!known)
            unknown.push_back("--trace-gauge " + name + ": no such gauge" + platform::did_you_mean(name, gauges));
    }
    return unknown;
}

}  // namespace

void add_inspection_options(CLI::App& command, InspectionOptions& options) {
    command
        .add_option("--trace", options.trace,
                    "write every call into module code as JSON Lines: gauge, callback, the services it called "
                    "by name with the values it received, instructions, simulated time")
        ->type_name("<file.jsonl>")
        ->check(output_name());
    command
        .add_option("--trace-gauge", options.trace_filter.gauges,
                    "trace only this gauge's calls (repeatable; letter case aside)")
        ->type_name("<gauge>")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    command
        .add_option("--trace-callback", options.trace_filter.callbacks,
                    "trace only this callback's calls: 'mouse handler', 'update', 'gauge_callback', "
                    "'key-event routine'... (repeatable; letter case aside)")
        ->type_name("<callback>")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
}

void check_inspection_files(const InspectionOptions& options, const std::string& other,
                            const std::string& other_option) {
    const bool filtered = !options.trace_filter.gauges.empty() || !options.trace_filter.callbacks.empty();
    if (options.trace.empty()) {
        if (filtered) throw CommandError(ExitStatus::kUsage, "--trace-gauge and --trace-callback need --trace <file>");
        return;
    }
    check_output_file(options.trace, "--trace");
    check_distinct_outputs(options.trace, "--trace", other, other_option);
}

TraceRun::TraceRun(const InspectionOptions& options, size_t recent_per_gauge) : options_(options) {
    if (options.trace.empty() && recent_per_gauge == 0) return;
    if (!options.trace.empty()) file_ = std::make_unique<platform::OutputFile>(options.trace);
    trace_ = std::make_unique<runtime::Trace>(file_ ? file_->file() : nullptr, options.trace_filter, recent_per_gauge);
}

void TraceRun::check_gauges(const std::vector<std::string>& gauges) const {
    const std::vector<std::string> unknown = unknown_gauges(options_.trace_filter, gauges);
    if (!unknown.empty()) throw CommandError(ExitStatus::kUsage, unknown.front());
}

void TraceRun::warn_unknown_gauges(const std::vector<std::string>& gauges) const {
    for (const std::string& unknown : unknown_gauges(options_.trace_filter, gauges)) print_warning(unknown);
}

void TraceRun::finish() {
    if (!file_) return;
    if (!trace_->end()) throw platform::OutputFileError(file_->path() + ": the trace could not be written");
    file_->commit();
}

}  // namespace gaugebench
