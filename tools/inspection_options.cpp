#include "tools/inspection_options.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/text_input.h"
#include "runtime/coverage.h"
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

// Below this a trace would hold hardly more than the line saying it was cut.
constexpr uint64_t kSmallestTraceLimit = 1024;

constexpr std::pair<char, unsigned> kSizeUnits[] = {{'G', 30}, {'M', 20}, {'k', 10}};

// --trace-limit's text made the number of bytes CLI11 then reads.
CLI::Validator trace_limit_size() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::optional<uint64_t> bytes = parse_byte_size(text);
            if (!bytes || (*bytes != 0 && *bytes < kSmallestTraceLimit))
                return "takes a size of at least 1k such as 500k, 20M or 1G, or none, not '" + text + "'";
            text = std::to_string(*bytes);
            return {};
        },
        "");
}

void add_debugger_options(CLI::App& command, runtime::DebuggerOptions& options) {
    command
        .add_option("--gdb", options.address,
                    "wait for a debugger (GDB's remote protocol: target remote HOST:PORT) before any module code runs; "
                    "HOST is loopback unless named")
        ->type_name("[<host>:]<port>");
    command.add_flag("--gdb-anywhere", options.anywhere,
                     "let --gdb listen on an address other machines reach (anyone reaching it runs module code)");
    command
        .add_option("--gdb-module", options.module,
                    "the module file to debug (default: the first one loaded), in every machine that loads it")
        ->type_name("<name.gau>");
}

}  // namespace

void add_inspection_options(CLI::App& command, InspectionOptions& options) {
    command
        .add_option("--trace", options.trace,
                    "write every call into module code as JSON Lines: gauge, callback, the services it called "
                    "by name with the values it received, instructions, simulated time ('-': on stdout, as it "
                    "runs; the command's own text then goes to stderr)")
        ->type_name("<file.jsonl>")
        ->check(output_name());
    command
        .add_option("--trace-limit", options.trace_limit,
                    "end the --trace file before it passes this size, at a whole line, with a last line saying it "
                    "was cut: 500k, 20M, 1G (k: 1024 bytes), or none (default " +
                        byte_size_text(options.trace_limit) + ")")
        ->type_name("<size>")
        ->transform(trace_limit_size())
        ->needs("--trace");
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
    command
        .add_option("--coverage", options.coverage,
                    "write what module code ran as an lcov tracefile (genhtml draws it): source lines where the "
                    "module has them, else its functions and code by address ('-': on stdout; the command's own "
                    "text then goes to stderr)")
        ->type_name("<file.info>")
        ->check(output_name());
    std::string excluded;
    for (const runtime::Exclusion& exclusion : runtime::kDefaultExclusions)
        excluded += (excluded.empty() ? "" : " ") + std::string(exclusion.glob);
    command
        .add_option("--coverage-include", options.coverage_filter.include,
                    "report only the source files this glob matches (repeatable; '*' spans folders, 'korvane/*' "
                    "matches below any folder of that name); by default every file on this machine but the "
                    "compiler's, the C runtime's and the kit's: " +
                        excluded)
        ->type_name("<glob>")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->needs("--coverage");
    command
        .add_option("--coverage-exclude", options.coverage_filter.exclude,
                    "leave out of the coverage report the source files this glob matches (repeatable)")
        ->type_name("<glob>")
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
        ->needs("--coverage");
    add_debugger_options(command, options.debugger);
}

std::optional<uint64_t> parse_byte_size(std::string_view text) {
    if (text == "none") return 0;
    uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) return std::nullopt;
    const std::string_view unit(end, static_cast<size_t>(text.data() + text.size() - end));
    if (unit.empty()) return value;
    if (unit.size() != 1) return std::nullopt;
    for (const auto& [letter, shift] : kSizeUnits) {
        if (std::toupper(static_cast<unsigned char>(unit[0])) != std::toupper(static_cast<unsigned char>(letter)))
            continue;
        if (value > (UINT64_MAX >> shift)) return std::nullopt;
        return value << shift;
    }
    return std::nullopt;
}

std::string byte_size_text(uint64_t bytes) {
    if (bytes == 0) return "none";
    for (const auto& [letter, shift] : kSizeUnits) {
        if (bytes % (uint64_t{1} << shift) == 0) return std::to_string(bytes >> shift) + letter;
    }
    return std::to_string(bytes);
}

void add_inspection_files(const InspectionOptions& options, CommandFiles& files) {
    const bool filtered = !options.trace_filter.gauges.empty() || !options.trace_filter.callbacks.empty();
    if (options.trace.empty() && filtered)
        throw CommandError(ExitStatus::kUsage, "--trace-gauge and --trace-callback need --trace <file>");
    files.write(options.trace, "--trace");
    files.write(options.coverage, "--coverage");
}

// A stream named '-' is standard output, which the command's own text then
// leaves to it; a file is written under a temporary name until complete.
Inspection::Inspection(const InspectionOptions& options, size_t recent_per_gauge) : options_(options) {
    const auto open = [](const std::string& path, std::unique_ptr<platform::OutputFile>& file) {
        if (path == "-") return take_standard_output();
        file = std::make_unique<platform::OutputFile>(path);
        return file->file();
    };
    if (!options.coverage.empty()) {
        try {
            runtime::start_coverage();
        } catch (const std::runtime_error& error) {
            throw CommandError(ExitStatus::kUsage, error.what());
        }
        coverage_stream_ = open(options.coverage, coverage_);
    }
    if (options.trace.empty() && recent_per_gauge == 0) return;
    if (!options.trace.empty()) trace_stream_ = open(options.trace, file_);
    trace_ =
        std::make_unique<runtime::Trace>(trace_stream_, options.trace_filter, recent_per_gauge, options.trace_limit);
    trace_->when_cut([trace = trace_.get(), path = options.trace, limit = options.trace_limit] {
        char when[64];
        std::snprintf(when, sizeof when, "%.3f s (update %llu)", trace->seconds(),
                      static_cast<unsigned long long>(trace->updates()));
        print_warning("--trace " + path + ": the trace reached its limit of " + byte_size_text(limit) + " at " + when +
                      " and ends there (--trace-limit)");
    });
}

void Inspection::check_gauges(const std::vector<std::string>& gauges) const {
    const std::vector<std::string> unknown = unknown_gauges(options_.trace_filter, gauges);
    if (!unknown.empty()) throw CommandError(ExitStatus::kUsage, unknown.front());
}

void Inspection::warn_unknown_gauges(const std::vector<std::string>& gauges) const {
    for (const std::string& unknown : unknown_gauges(options_.trace_filter, gauges)) print_warning(unknown);
}

void Inspection::finish() {
    const auto done = [this](std::unique_ptr<platform::OutputFile>& file, std::FILE* stream, const char* what) {
        if (!file) {
            if (std::fflush(stream) != 0) throw platform::OutputFileError(std::string("standard output: ") + what);
            return;
        }
        file->commit();
        written_.push_back(file->path());
    };
    if (coverage_stream_ != nullptr) {
        std::vector<std::string> warnings;
        std::string tracefile;
        std::string failure;
        runtime::CoverageSummary summary;
        try {
            tracefile = runtime::coverage_tracefile("gaugebench", options_.coverage_filter, warnings, summary);
        } catch (const std::runtime_error& error) {
            failure = error.what();
        }
        for (const std::string& warning : warnings) print_warning(warning);
        if (failure.empty()) say_coverage(summary);
        if (!failure.empty()) throw CommandError(ExitStatus::kBadInput, "--coverage: " + failure);
        if (std::fwrite(tracefile.data(), 1, tracefile.size(), coverage_stream_) != tracefile.size()) {
            throw platform::OutputFileError((coverage_ ? coverage_->path() : std::string("standard output")) +
                                            ": the coverage report could not be written");
        }
        done(coverage_, coverage_stream_, "the coverage report could not be written");
        coverage_stream_ = nullptr;
    }
    if (trace_stream_ == nullptr) return;
    if (!trace_->end()) {
        throw platform::OutputFileError((file_ ? file_->path() : std::string("standard output")) +
                                        ": the trace could not be written");
    }
    done(file_, trace_stream_, "the trace could not be written");
    trace_stream_ = nullptr;
}

// What the report covers, and what it leaves out of the modules' sources.
void Inspection::say_coverage(const runtime::CoverageSummary& summary) const {
    const std::string name = "--coverage " + options_.coverage;
    const runtime::ChosenSources& sources = summary.sources;
    std::string left;
    const auto leave = [&left](size_t count, const std::string& why) {
        if (count != 0) left += (left.empty() ? "; left out: " : ", ") + std::to_string(count) + " " + why;
    };
    for (const auto& [whose, files] : sources.excluded) leave(files.size(), "of " + whose);
    leave(sources.missing.size(), "not on this machine");
    leave(sources.filtered.size(), "by --coverage-include or --coverage-exclude");
    const runtime::CoverageTotals& totals = summary.totals;
    if (totals.files == 0) {
        if (!left.empty())
            print_warning(name + ": no source file of the modules is left to report" + left +
                          " (--coverage-include '*' keeps every one on this machine)");
        return;
    }
    char share[32];
    std::snprintf(
        share, sizeof share, "%.1f %%",
        100.0 * static_cast<double>(totals.lines_hit) / static_cast<double>(std::max<size_t>(totals.lines, 1)));
    print_note(name + ": " + std::to_string(totals.lines_hit) + " of " + counted(totals.lines, "line") + " run (" +
               share + "), " + std::to_string(totals.functions_hit) + " of " + counted(totals.functions, "function") +
               ", in " + counted(totals.files, "source file") + left);
}

void Inspection::start_debugger() const {
    const runtime::DebuggerOptions& options = options_.debugger;
    if (options.address.empty() || runtime::debugger_started()) return;
    bool attached = false;
    try {
        attached = runtime::start_debugger(options, [](const std::string& line) {
            std::fprintf(stderr, "gaugebench: %s\n", line.c_str());
            std::fflush(stderr);
        });
    } catch (const std::invalid_argument& error) {
        throw CommandError(ExitStatus::kUsage, error.what());
    } catch (const std::runtime_error& error) {
        // It cannot listen (the port taken): as serve's own port, status 3.
        throw CommandError(ExitStatus::kBadInput, error.what());
    }
    if (!attached) throw CommandError(ExitStatus::kInterrupted, "interrupted while waiting for a debugger");
}

}  // namespace gaugebench
