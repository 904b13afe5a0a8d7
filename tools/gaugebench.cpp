// gaugebench: the bench host on the command line. `gaugebench --help` lists
// the commands, `gaugebench <command> --help` a command's options; README.md
// describes them and the exit statuses (tools/command_line.h).
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frame/vocabulary_names.h"
#include "korvane_version.h"
#include "platform/output_file.h"
#include "platform/text_input.h"
#include "runtime/debugging.h"
#include "runtime/host.h"
#include "runtime/host_calculator.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "scenariorun/scenario.h"
#include "tools/command_line.h"
#include "tools/command_reference.h"
#include "tools/fly_command.h"
#include "tools/inspection_options.h"
#include "tools/interrupt.h"
#include "tools/listing.h"
#include "tools/new_command.h"
#include "tools/panel_commands.h"
#include "tools/record_command.h"
#include "tools/serve_command.h"
#include "tools/vocabulary_command.h"
#include "validate/validator.h"

namespace {

using gaugebench::add_json_option;
using gaugebench::Command;
using gaugebench::CommandError;
using gaugebench::ExitStatus;
using gaugebench::write_text;
namespace fs = std::filesystem;

// --- list ---------------------------------------------------------------------------------------------

struct ListOptions {
    std::string module;
    double scale = 1.0;
    std::string json;
    bool main_window = false;
};

// Every fault the listing met, on stderr, as the command's error lines.
ExitStatus report_faults(const listing::ModuleListing& listed) {
    const std::vector<std::string> faults = listing::faults(listed);
    std::fflush(stdout);
    for (const std::string& fault : faults) gaugebench::print_error("gaugebench list", fault);
    return faults.empty() ? ExitStatus::kSuccess : ExitStatus::kFailed;
}

Command add_list(CLI::App& app) {
    auto options = std::make_shared<ListOptions>();
    CLI::App* command = app.add_subcommand(
        "list",
        "List a module's gauges: imports it lacks, element trees, mouse areas, and what each element shows after "
        "set-up and one update; exit status 1 when module code faults");
    gaugebench::add_module_argument(*command, options->module);
    gaugebench::add_scale_option(*command, options->scale, runtime::GaugeInstance::kMaxScale);
    add_json_option(*command, options->json, "also write the listing as JSON ('-': on stdout, instead of the text)");
    gaugebench::add_main_window_option(*command, options->main_window);
    return {command, [options] {
                gaugebench::CommandFiles files;
                files.write(options->json, "--json");
                gaugebench::check_input_file(options->module);
                files.read(options->module, "the module being read");
                files.check();
                runtime::Host host;
                host.set_main_window(options->main_window);
                const runtime::Module module(host, options->module);
                const listing::ModuleListing listed = listing::list_module(host, module, options->scale);
                if (options->json != "-") listing::print(stdout, listed);
                if (!options->json.empty()) write_text(options->json, listing::json(listed));
                return report_faults(listed);
            }};
}

// --- bombrun ------------------------------------------------------------------------------------------

void print_counter(const runtime::Host& host, const char* after) {
    const runtime::VariableStore& vars = host.vars();
    std::printf("  %-40s L:Bombs_dropped %-4g L:Repeat %-4g L:Elapsed %g\n", after, vars.get("L:Bombs_dropped"),
                vars.get("L:Repeat"), vars.get("L:Elapsed"));
}

ExitStatus bomb_run(const std::string& path) {
    gaugebench::check_input_file(path);
    runtime::Host host;
    runtime::HostCalculator calculator(host, 3600.0);
    const runtime::Module module(host, path);
    if (host.key_event_handlers().empty()) {
        throw CommandError(ExitStatus::kBadInput, path +
                                                      ": registers no key-event routine, so a bomb run drives "
                                                      "nothing (bombrun plays to the bomb counter, Dropwatch.gau)");
    }
    host.vars().set("L:Vq17_Nbr_Sum", 4.0);
    host.vars().set("L:Vq17_Interv_Sum", 1.5);
    std::printf("%s: %zu key-event routine%s registered; stick of 4 bombs, 1.5 s apart\n", module.path().c_str(),
                host.key_event_handlers().size(), host.key_event_handlers().size() == 1 ? "" : "s");
    print_counter(host, "before the run");
    // The key events of a bomb run as the aircraft's other gauges send them.
    char label[48];
    host.send_key_event(sim::event::kReleaseSequenceStart, 0);
    std::snprintf(label, sizeof label, "sequence start (%s)",
                  sim::event_of(sim::event::kReleaseSequenceStart)->name.c_str());
    print_counter(host, label);
    for (int bomb = 1; bomb <= 4; ++bomb) {
        calculator.set_absolute_time_seconds(3600.0 + 1.5 * bomb);
        host.send_key_event(sim::event::kBombReleased, 0);
        std::snprintf(label, sizeof label, "bomb %d released (%s)", bomb,
                      sim::event_of(sim::event::kBombReleased)->name.c_str());
        print_counter(host, label);
    }
    const uint32_t other = sim::event::throttle_set(0);
    host.send_key_event(other, 0);  // an unrelated event runs nothing
    std::snprintf(label, sizeof label, "other event (%s)", sim::event_of(other)->name.c_str());
    print_counter(host, label);
    for (const runtime::CalculatorError& error : calculator.errors()) std::printf("  refused: %s\n", error.what());
    return calculator.errors().empty() ? ExitStatus::kSuccess : ExitStatus::kFailed;
}

Command add_bombrun(CLI::App& app) {
    auto module = std::make_shared<std::string>();
    CLI::App* command = app.add_subcommand(
        "bombrun", "Play a short bomb run of key events to a bomb counter module, printing its variables");
    command->add_option("module", *module, "the bomb counter module (Dropwatch.gau)")
        ->required()
        ->type_name("<module>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kModule));
    return {command, [module] { return bomb_run(*module); }};
}

// --- validate -----------------------------------------------------------------------------------------

struct ValidateOptions {
    std::string module;
    std::string pe;
    std::string json;
    uint64_t seed = validate::kDefaultSeed;
    bool require_bitmaps = false;
    gaugebench::InspectionOptions inspection;
};

// --pe as given: a file, or a directory holding the module's namesake; by
// default the module itself, the PE file carrying its own bitmaps. One that
// names nothing readable is refused before any work.
std::string resolve_pe(const ValidateOptions& options) {
    if (options.pe.empty()) return options.module;
    std::error_code error;
    std::string pe = options.pe;
    if (fs::is_directory(options.pe, error)) {
        pe = (fs::path(options.pe) / fs::path(options.module).filename()).string();
        if (!fs::exists(pe, error)) {
            throw CommandError(ExitStatus::kBadInput,
                               options.pe + ": holds no " + fs::path(options.module).filename().string() + " (--pe)");
        }
    }
    try {
        gaugebench::check_input_file(pe);
    } catch (const CommandError& refused) {
        throw CommandError(refused.status(), std::string(refused.what()) + " (--pe)");
    }
    return pe;
}

// The module's gauge names, for a --trace-gauge to be checked against; none
// when it does not load (validate says why).
std::vector<std::string> module_gauge_names(const std::string& path) {
    std::vector<std::string> names;
    try {
        runtime::Host host;
        const runtime::Module module(host, path);
        for (const runtime::GaugePtr gauge : module.gauges()) names.push_back(module.gauge_name(gauge));
    } catch (const std::exception&) {}
    return names;
}

ExitStatus validate(const ValidateOptions& options) {
    gaugebench::CommandFiles files;
    files.write(options.json, "--json");
    gaugebench::add_inspection_files(options.inspection, files);
    gaugebench::check_input_file(options.module);
    files.read(options.module, "the module being read");
    validate::Options validation;
    validation.pe = resolve_pe(options);
    files.read(validation.pe, "the PE read for the module's bitmaps (--pe)");
    files.check();
    gaugebench::Inspection inspection(options.inspection);
    if (!options.inspection.trace_filter.gauges.empty()) inspection.check_gauges(module_gauge_names(options.module));
    validation.seed = options.seed;
    validation.trace = inspection.trace();
    inspection.start_debugger();
    validate::Report report = validate::validate_module(options.module, validation);
    inspection.finish();
    using validate::Check;
    using validate::Status;
    if (options.require_bitmaps && report.check(Check::kBitmaps).status() == Status::kSkip) {
        report.fail(Check::kBitmaps, "", "", "", "no PE with the module's bitmaps was found (--require-bitmaps)");
    }
    if (report.no_gauge_module) {
        // Nothing else could be checked: one line, not a table of skips.
        const validate::CheckResult& loads = report.check(Check::kModuleLoads);
        const std::string reason = loads.findings.empty() ? "it does not load" : loads.findings.front().message;
        throw CommandError(ExitStatus::kBadInput, reason + ": not a gauge module");
    }
    if (!options.json.empty()) write_text(options.json, report.json());
    if (options.json != "-") {
        const gaugebench::Console& console = gaugebench::console();
        validate::Report::PrintStyle style;
        style.colour = console.colour_stdout;
        style.problems_only = console.quiet();
        if (console.verbose()) style.max_lines = validate::Report::kMaxKeptFindings;
        report.print(stdout, style);
    }
    return report.failed() ? ExitStatus::kFailed : ExitStatus::kSuccess;
}

// Whole numbers in decimal or 0x hexadecimal, never negative.
CLI::Validator seed_check() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
            const std::string digits = hex ? text.substr(2) : text;
            const char* allowed = hex ? "0123456789abcdefABCDEF" : "0123456789";
            const bool whole = !digits.empty() && digits.find_first_not_of(allowed) == std::string::npos;
            const bool fits = whole && (hex ? digits.size() <= 16 : digits.size() < 20);
            return fits ? std::string() : "takes a whole number from 0 (decimal or 0x...), not '" + text + "'";
        },
        "");
}

Command add_validate(CLI::App& app) {
    auto options = std::make_shared<ValidateOptions>();
    CLI::App* command = app.add_subcommand(
        "validate",
        "Check a module as plug-in validators do: records, lifecycle, hostile inputs, allocations and "
        "floating-point state in every module call; exit status 1 when a check fails");
    command
        ->add_option("module", options->module,
                     "the gauge module (.gau, the PE file; a shipped one by its name alone)")
        ->required()
        ->type_name("<module>")
        ->transform(gaugebench::shipped_input(gaugebench::Shipped::kModule));
    command
        ->add_option("--pe", options->pe,
                     "another PE file carrying the module's bitmaps, or a directory holding one under the module's "
                     "name (default: the module itself)")
        ->type_name("<file|dir>");
    add_json_option(*command, options->json, "also write the report as JSON ('-': on stdout, instead of the table)");
    command->add_option("--seed", options->seed, "seed of the random inputs (the report names it)")
        ->type_name("<n>")
        ->check(seed_check());
    command->add_flag("--require-bitmaps", options->require_bitmaps,
                      "fail the bitmap check (KV014) when no PE with the bitmaps is found, instead of skipping it");
    gaugebench::add_inspection_options(*command, options->inspection);
    return {command, [options] { return validate(*options); }};
}

// --- the command line ---------------------------------------------------------------------------------

constexpr const char* kExitStatuses =
    "'-' names standard input for a panel or scenario read, standard output for -o, --json, --trace and\n"
    "--coverage (one of them; beside a trace or a coverage report the command's own text goes to stderr).\n"
    "No output may be an input or another output, however named (./a, a link): refused before any work.\n"
    "Exit status: 0 success; 1 a check or a scenario failed, or module code faulted; 2 a usage error; 3 an\n"
    "input that could not be read or is not what it claims to be (or an output that could not be written);\n"
    "130 and 143 stopped by SIGINT (Ctrl-C) or SIGTERM, unfinished files removed.\n";

const CLI::App* find_command(const CLI::App& app, const std::string& name) {
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        if (command->check_name(name)) return command;
    }
    return nullptr;
}

std::vector<std::string> command_names(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
        names.push_back(command->get_name());
    }
    return names;
}

int usage_error(const std::string& where, const std::string& message, const std::string& help_for) {
    gaugebench::print_error(where, message);
    std::fprintf(stderr, "run '%s --help' for help\n", help_for.c_str());
    return static_cast<int>(ExitStatus::kUsage);
}

std::string unknown_command(const CLI::App& app, const std::string& word) {
    std::string message = "unknown command '" + word + "'";
    const std::string near = platform::nearest_name(word, command_names(app));
    if (!near.empty()) message += "; did you mean '" + near + "'?";
    return message;
}

// Why the arguments left over were not taken, in the command's words.
std::string explain_extras(const CLI::App& app, const CLI::App& command) {
    // An option the command does not take falls through to the program's
    // own options (the global ones), which leave it over.
    std::vector<std::string> extras = command.remaining();
    if (extras.empty()) extras = app.remaining();
    if (extras.empty()) return "unexpected arguments";
    const std::string& first = extras.front();
    if (first.size() < 2 || first[0] != '-') return "unexpected argument '" + first + "'";
    const std::string name = first.substr(0, first.find('='));
    auto option_names = [](const CLI::App& of) {
        std::vector<std::string> names;
        for (const CLI::Option* option : of.get_options()) {
            for (const std::string& long_name : option->get_lnames()) names.push_back("--" + long_name);
            for (const std::string& short_name : option->get_snames()) names.push_back("-" + short_name);
        }
        return names;
    };
    if (&command != &app) {
        std::vector<std::string> takers;
        for (const CLI::App* other : app.get_subcommands([](const CLI::App*) { return true; })) {
            const std::vector<std::string> names = option_names(*other);
            if (std::find(names.begin(), names.end(), name) != names.end()) takers.push_back(other->get_name());
        }
        if (!takers.empty()) {
            std::string who = takers.front();
            for (size_t i = 1; i < takers.size(); ++i) who += (i + 1 == takers.size() ? " and " : ", ") + takers[i];
            return command.get_name() + " takes no option " + name + " (" + who +
                   (takers.size() == 1 ? " does)" : " do)");
        }
    }
    std::string message = "unknown option '" + name + "'";
    const std::string near = platform::nearest_name(name, option_names(command));
    if (!near.empty()) message += "; did you mean '" + near + "'?";
    return message;
}

// A required argument that is missing, named as the help names it.
std::string explain_missing(const CLI::App& command, const std::string& fallback) {
    for (const CLI::Option* option : command.get_options()) {
        if (!option->get_required() || option->count() != 0) continue;
        if (option->get_positional()) return "missing " + option->get_type_name() + ": " + option->get_description();
        return "missing " + option->get_name(false, true) + " " + option->get_type_name() + ": " +
               option->get_description();
    }
    return fallback;
}

// An option given without its value.
std::string explain_mismatch(const CLI::App& app, const CLI::App& command, const std::string& fallback) {
    const std::string name = fallback.substr(0, fallback.find(':'));
    const CLI::Option* option = command.get_option_no_throw(name);
    if (option == nullptr) option = app.get_option_no_throw(name);  // one every command takes
    if (option == nullptr || option->get_positional()) return fallback;
    std::string message = option->get_name(false, true) + " needs a value, " + option->get_type_name();
    if (option->check_lname("json")) message += " ('-' for stdout)";
    return message;
}

// The command line read; an exit status where it could not be (its usage
// error said, or the help or version printed), none where a command runs.
std::optional<int> parse_line(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& call) {
        return app.exit(call);
    } catch (const CLI::CallForAllHelp& call) {
        return app.exit(call);
    } catch (const CLI::CallForVersion& call) {
        return app.exit(call);
    } catch (const CLI::ParseError& error) {
        const std::vector<CLI::App*> parsed = app.get_subcommands();
        const CLI::App& command = parsed.empty() ? app : *parsed.front();
        const std::string where = parsed.empty() ? "gaugebench" : "gaugebench " + command.get_name();
        std::string message = error.what();
        if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) message = explain_extras(app, command);
        if (dynamic_cast<const CLI::RequiredError*>(&error) != nullptr) {
            // An unknown option explains a missing argument better than the other way round
            // ('list --jsn' has no module because the option was mistyped).
            const bool extras = !command.remaining().empty() || !app.remaining().empty();
            message = extras ? explain_extras(app, command) : explain_missing(command, message);
        }
        if (dynamic_cast<const CLI::ArgumentMismatch*>(&error) != nullptr)
            message = explain_mismatch(app, command, message);
        return usage_error(where, message, where);
    } catch (const std::exception& error) {
        // An option's own check found its input missing or unreadable.
        const std::vector<CLI::App*> parsed = app.get_subcommands();
        gaugebench::print_error(parsed.empty() ? "gaugebench" : "gaugebench " + parsed.front()->get_name(),
                                gaugebench::message_of(error));
        return static_cast<int>(gaugebench::exit_status_of(error));
    }
    return std::nullopt;
}

// Every command on `app`, each with the footer naming the global options.
gaugebench::Commands define_commands(CLI::App& app) {
    gaugebench::Commands commands;
    commands.push_back(add_list(app));
    commands.push_back(add_bombrun(app));
    commands.push_back(add_validate(app));
    panel_commands::add(app, commands);
    fly_command::add(app, commands);
    serve_command::add(app, commands);
    record_command::add(app, commands);
    vocabulary_command::add(app, commands);
    new_command::add(app, commands);
    // A command's help names the options every command takes, which only the program's help lists.
    for (const Command& command : commands) {
        command.app->footer(
            "Every command also takes -q,--quiet, -v,--verbose and --color=auto|always|never (gaugebench --help).\n" +
            std::string(kExitStatuses));
    }
    // Listed for the help; main() answers it before parsing.
    app.add_subcommand("help", "Print this help, or a command's: gaugebench help <command>")->allow_extras();
    return commands;
}

// What is answered before the parser reads the line: the build's
// --reference, "help <command>" (which the parser would take for the
// command itself), no command at all and a command unknown. The exit
// status, or nothing when the parser is to go on.
std::optional<int> answer_before_parsing(const CLI::App& app, int argc, char** argv) {
    // The build makes the man page and the completion from this definition.
    if (argc == 3 && std::string_view(argv[1]) == "--reference") {
        const std::string kind = argv[2];
        if (kind != "man" && kind != "bash") {
            return usage_error("gaugebench --reference", "takes man or bash", "gaugebench");
        }
        const std::string text =
            kind == "man" ? gaugebench::man_page(app, std::string("gaugebench ") + kKorvaneVersion, kExitStatuses)
                          : gaugebench::bash_completion(app);
        std::fputs(text.c_str(), stdout);
        return 0;
    }
    // The first word that is no global option: the command, or help.
    int at = 1;
    while (at < argc && gaugebench::console_option_words(argc, argv, at) > 0)
        at += gaugebench::console_option_words(argc, argv, at);
    if (argc < 2) {
        std::fputs(app.help().c_str(), stderr);
        return static_cast<int>(ExitStatus::kUsage);
    }
    const std::string first = at < argc ? argv[at] : std::string();
    if (first == "help") {
        if (argc > at + 2) return usage_error("gaugebench help", "takes one command at most", "gaugebench");
        if (argc == at + 1) {
            std::fputs(app.help().c_str(), stdout);
            return 0;
        }
        const CLI::App* topic = find_command(app, argv[at + 1]);
        if (topic == nullptr) return usage_error("gaugebench help", unknown_command(app, argv[at + 1]), "gaugebench");
        std::fputs(topic->help("gaugebench").c_str(), stdout);
        return 0;
    }
    if (!first.empty() && first[0] != '-' && find_command(app, first) == nullptr) {
        return usage_error("gaugebench", unknown_command(app, first), "gaugebench");
    }
    return std::nullopt;
}

// The command the line named, run; its exit status.
int run_parsed(CLI::App& app, const gaugebench::Commands& commands, int argc, char** argv) {
    const std::vector<CLI::App*> parsed = app.get_subcommands();
    if (parsed.empty()) {
        // Many tools take -v for their version: say which one it is here.
        for (int i = 1; i < argc; ++i) {
            if (std::string_view(argv[i]) == "-v") {
                return usage_error("gaugebench", "-v is --verbose, for a command; the version is -V (--version)",
                                   "gaugebench");
            }
        }
        std::fputs(app.help().c_str(), stderr);
        return static_cast<int>(ExitStatus::kUsage);
    }
    for (const Command& command : commands) {
        if (command.app != parsed.front()) continue;
        int status = 0;
        try {
            status = static_cast<int>(command.run());
        } catch (const std::exception& error) {
            gaugebench::print_error("gaugebench " + command.app->get_name(), gaugebench::message_of(error));
            status = static_cast<int>(gaugebench::exit_status_of(error));
        }
        runtime::end_debugger(status);
        return status;
    }
    return static_cast<int>(ExitStatus::kUsage);
}

}  // namespace

// The command line's one entry: the commands, then help, parse errors and
// the run, each answered with its exit status in one place.
int main(int argc, char** argv) {
    CLI::App app("gaugebench: the bench host of the Korvane gauge modules", "gaugebench");
    app.set_version_flag("-V,--version", std::string("gaugebench ") + kKorvaneVersion);
    app.footer(gaugebench::examples_and_documents() + "\n" + kExitStatuses);
    // The global options are taken after the command too.
    app.fallthrough();
    gaugebench::add_console_options(app);
    gaugebench::install_interrupt_handlers();
    const gaugebench::Commands commands = define_commands(app);
    // Errors of the command line itself are coloured as NO_COLOR and the
    // terminal say; --color is known only once the line is read.
    gaugebench::settle_console();
    if (const std::optional<int> status = answer_before_parsing(app, argc, argv)) return *status;
    if (const std::optional<int> status = parse_line(app, argc, argv)) return *status;
    gaugebench::settle_console();
    gaugebench::print_shipped_notes();
    return run_parsed(app, commands, argc, argv);
}
