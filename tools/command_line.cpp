#include "tools/command_line.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <system_error>

#include "flightmodel/jsbsim.h"
#include "panelhost/panel.h"
#include "panelhost/panel_config.h"
#include "platform/file_identity.h"
#include "platform/output_file.h"
#include "platform/text_input.h"
#include "render/image.h"
#include "runtime/calculator.h"
#include "runtime/dib.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "runtime/mouse.h"
#include "scenariorun/scenario.h"
#include "tools/data_files.h"
#include "web/transport.h"

namespace gaugebench {
namespace fs = std::filesystem;

ExitStatus exit_status_of(const std::exception& error) {
    if (const auto* command = dynamic_cast<const CommandError*>(&error)) return command->status();
    // Module code that faulted, or records leading outside the module's
    // memory: the module loaded, and failed while it ran.
    if (const auto* module = dynamic_cast<const runtime::ModuleError*>(&error);
        module != nullptr && module->kind() == runtime::ModuleError::Kind::kCode) {
        return ExitStatus::kFailed;
    }
    if (dynamic_cast<const runtime::GaugeFault*>(&error) != nullptr || runtime::is_module_fault(error)) {
        return ExitStatus::kFailed;
    }
    // A --scale the panel's gauges cannot be drawn at is the option's fault.
    if (dynamic_cast<const panels::PanelScaleError*>(&error) != nullptr) return ExitStatus::kUsage;
    // Files that are not what they claim: modules, PE files, bitmaps, panel
    // configurations, scenarios (their parse; a run that fails is reported
    // by the command as a failure), mouse lists of a module.
    if (dynamic_cast<const runtime::ModuleError*>(&error) != nullptr ||
        dynamic_cast<const runtime::DibError*>(&error) || dynamic_cast<const panels::PanelConfigError*>(&error) ||
        dynamic_cast<const scenario::ScenarioError*>(&error) || dynamic_cast<const panels::PanelError*>(&error) ||
        dynamic_cast<const runtime::MouseListError*>(&error) || dynamic_cast<const fs::filesystem_error*>(&error)) {
        return ExitStatus::kBadInput;
    }
    // A script JSBSim cannot fly, or a picture that cannot be made or written.
    if (dynamic_cast<const flightmodel::FlightModelError*>(&error) || dynamic_cast<const render::RenderError*>(&error))
        return ExitStatus::kBadInput;
    // An output refused where the work found it (a snapshot's name), or one
    // that could not be written.
    if (dynamic_cast<const platform::OutputPathError*>(&error) != nullptr) return ExitStatus::kUsage;
    if (dynamic_cast<const platform::OutputFileError*>(&error) != nullptr) return ExitStatus::kBadInput;
    // The live server: a --host that is no address is a bad argument, one it
    // cannot listen on (a port in use) an output it could not open.
    if (dynamic_cast<const web::AddressError*>(&error)) return ExitStatus::kUsage;
    if (dynamic_cast<const web::ServerError*>(&error)) return ExitStatus::kBadInput;
    // A calculator program the host refused, memory running out, anything
    // else: the work did not succeed.
    return ExitStatus::kFailed;
}

std::string message_of(const std::exception& error) {
    if (const auto* file = dynamic_cast<const fs::filesystem_error*>(&error)) {
        return file->path1().string() + ": " + file->code().message();
    }
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return "out of memory";
    return error.what();
}

namespace {

enum class ColourMode { kAuto, kAlways, kNever };

Console the_console;
ColourMode colour_mode = ColourMode::kAuto;

bool colour_for(std::FILE* stream) {
    if (colour_mode != ColourMode::kAuto) return colour_mode == ColourMode::kAlways;
    const char* no_colour = std::getenv("NO_COLOR");
    if (no_colour != nullptr && *no_colour != '\0') return false;
    const char* term = std::getenv("TERM");
    if (term != nullptr && std::string_view(term) == "dumb") return false;
    return isatty(fileno(stream)) != 0;
}

}  // namespace

const Console& console() { return the_console; }

namespace {

// One of a few words, refused in the command's words ("takes auto, always or
// never, not 'x'") rather than CLI11's set notation.
CLI::Validator one_of(std::vector<std::string> words) {
    std::string listed;
    for (size_t i = 0; i < words.size(); ++i) {
        listed += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    }
    return CLI::Validator(
        [words, listed](std::string& text) {
            if (std::find(words.begin(), words.end(), text) != words.end()) return std::string();
            return "takes " + listed + ", not '" + text + "'";
        },
        "");
}

}  // namespace

void add_console_options(CLI::App& app) {
    CLI::Option* quiet = app.add_flag_callback(
        "-q,--quiet", [] { the_console.verbosity = Verbosity::kQuiet; },
        "say less: no progress, notes or summaries (results, errors and warnings stay)");
    CLI::Option* verbose = app.add_flag_callback(
        "-v,--verbose", [] { the_console.verbosity = Verbosity::kVerbose; },
        "say more: the files a panel was made from, every finding, serve's figures every period");
    quiet->excludes(verbose);
    app.add_option_function<std::string>(
           "--color,--colour",
           [](const std::string& mode) {
               colour_mode = mode == "always"  ? ColourMode::kAlways
                             : mode == "never" ? ColourMode::kNever
                                               : ColourMode::kAuto;
           },
           "colour pass, fail, warnings and errors: auto (on a terminal, unless NO_COLOR is set), always, never")
        ->type_name("auto|always|never")
        ->check(one_of({"auto", "always", "never"}));
}

int console_option_words(int argc, char** argv, int index) {
    const std::string_view word = argv[index];
    if (word == "-q" || word == "--quiet" || word == "-v" || word == "--verbose") return 1;
    if (word.starts_with("--color=") || word.starts_with("--colour=")) return 1;
    if (word == "--color" || word == "--colour") return index + 1 < argc ? 2 : 1;
    return 0;
}

void settle_console() {
    the_console.colour_stdout = colour_for(stdout);
    the_console.colour_stderr = colour_for(stderr);
}

std::string painted(const std::string& text, Paint paint, bool colour) {
    if (!colour) return text;
    const char* code = "";
    switch (paint) {
        case Paint::kPass: code = "32"; break;
        case Paint::kFail: code = "1;31"; break;
        case Paint::kWarn: code = "33"; break;
        case Paint::kSkip: code = "2"; break;
        case Paint::kError: code = "1;31"; break;
    }
    return std::string("\033[") + code + "m" + text + "\033[0m";
}

void print_error(const std::string& where, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s %s\n", painted(where + ":", Paint::kError, the_console.colour_stderr).c_str(),
                 message.c_str());
}

std::string warning_line(const std::string& message) {
    return painted("warning:", Paint::kWarn, the_console.colour_stderr) + " " + message;
}

void print_warning(const std::string& message) { std::fprintf(stderr, "%s\n", warning_line(message).c_str()); }

std::string counted(size_t count, const std::string& noun) {
    return std::to_string(count) + " " + noun + (count == 1 ? "" : "s");
}

void print_note(const std::string& message) {
    if (!the_console.quiet()) std::fprintf(stderr, "%s\n", message.c_str());
}

void check_output_file(const std::string& path, const std::string& option) {
    std::error_code error;
    if (fs::is_directory(path, error)) {
        throw CommandError(ExitStatus::kUsage, option + " names a directory (" + path + "): give a file name in it");
    }
    const fs::path parent = fs::path(path).parent_path();
    if (!parent.empty() && !fs::is_directory(parent, error)) {
        throw CommandError(ExitStatus::kUsage, option + " " + path + ": there is no directory " + parent.string());
    }
    try {
        platform::check_output_path(path);
    } catch (const platform::OutputPathError& refused) {
        throw CommandError(ExitStatus::kUsage, option + ": " + refused.what());
    }
}

void check_output_dir(const std::string& path, const std::string& option) {
    std::error_code error;
    if (fs::exists(path, error) && !fs::is_directory(path, error)) {
        throw CommandError(ExitStatus::kUsage, option + " names a file (" + path + "), not a directory");
    }
}

CLI::Validator output_name() {
    return CLI::Validator(
        [](std::string& text) { return text.empty() ? std::string("an empty name cannot be written") : std::string(); },
        "");
}

CLI::Option* add_json_option(CLI::App& command, std::string& path, const char* what) {
    return command.add_option("--json", path, what)->type_name("<file>")->check(output_name());
}

void CommandFiles::read(const std::string& path, const std::string& what) {
    if (!path.empty() && path != "-") inputs_.push_back({path, what});
}

void CommandFiles::read_modules(const panels::ModulePaths& paths) {
    const std::string module_dir = paths.module_dir.empty() ? "." : paths.module_dir;
    for (const std::string& dir : {module_dir, paths.pe_dir}) {
        std::error_code error;
        for (const fs::directory_entry& entry : fs::directory_iterator(dir, error)) {
            const std::string name = entry.path().filename().string();
            if (name.size() > 4 && platform::same_name(std::string_view(name).substr(name.size() - 4), ".gau"))
                read(entry.path().string(), "a module the panel may load from " + dir);
        }
    }
}

void CommandFiles::write(const std::string& path, const std::string& option) {
    if (path.empty()) return;
    if (path != "-") check_output_file(path, option);
    write_later(path, option);
}

void CommandFiles::write_later(const std::string& path, const std::string& option) {
    if (!path.empty()) outputs_.push_back({path, option});
}

void CommandFiles::check() const {
    std::vector<platform::FileIdentity> read;
    for (const Named& input : inputs_) read.push_back(platform::file_identity(input.path));
    std::vector<platform::FileIdentity> written;
    for (size_t i = 0; i < outputs_.size(); ++i) {
        const Named& output = outputs_[i];
        if (output.path == "-") {
            for (size_t j = 0; j < i; ++j) {
                if (outputs_[j].path == "-")
                    throw CommandError(ExitStatus::kUsage, outputs_[j].label + " - and " + output.label +
                                                               " - cannot share standard output");
            }
            written.emplace_back();
            continue;
        }
        const platform::FileIdentity identity = platform::file_identity(output.path);
        const std::string refused = output.label + " " + output.path + ": ";
        for (size_t j = 0; j < inputs_.size(); ++j) {
            if (identity == read[j])
                throw CommandError(ExitStatus::kUsage,
                                   refused + "is " + inputs_[j].label + " (" + inputs_[j].path + ")");
        }
        for (size_t j = 0; j < i; ++j) {
            if (outputs_[j].path != "-" && identity == written[j]) {
                throw CommandError(ExitStatus::kUsage, refused + "is also written by " + outputs_[j].label + " (" +
                                                           outputs_[j].path + "): one would overwrite the other");
            }
        }
        written.push_back(identity);
    }
}

std::FILE* take_standard_output() {
    static std::FILE* taken = nullptr;
    if (taken != nullptr) return taken;
    std::fflush(stdout);
    const int own = dup(STDOUT_FILENO);
    taken = own >= 0 ? fdopen(own, "w") : nullptr;
    if (taken == nullptr) throw CommandError(ExitStatus::kBadInput, "standard output: cannot be written");
    // What the command says goes where its errors go, coloured as they are.
    dup2(STDERR_FILENO, STDOUT_FILENO);
    the_console.colour_stdout = the_console.colour_stderr;
    return taken;
}

void write_text(const std::string& path, const std::string& text) {
    if (path == "-") {
        std::fwrite(text.data(), 1, text.size(), stdout);
        std::fflush(stdout);
        return;
    }
    try {
        platform::write_output_file(path, std::span(reinterpret_cast<const unsigned char*>(text.data()), text.size()));
    } catch (const platform::OutputFileError& error) {
        throw CommandError(ExitStatus::kBadInput, error.what());
    }
}

void check_input_file(const std::string& path, bool standard_input) {
    if (standard_input && path == "-") return;
    if (path.empty()) throw CommandError(ExitStatus::kBadInput, "an empty name names no file");
    std::error_code error;
    if (!fs::exists(fs::status(path, error))) throw CommandError(ExitStatus::kBadInput, path + ": file not found");
    if (const std::string fault = platform::input_file_fault(path); !fault.empty())
        throw CommandError(ExitStatus::kBadInput, path + ": " + fault);
}

namespace {
std::vector<std::string> shipped_notes;
}  // namespace

CLI::Validator shipped_input(Shipped kind) {
    return CLI::Validator(
        [kind](std::string& name) {
            if (std::string shipped = shipped_file(name, kind); !shipped.empty()) {
                shipped_notes.push_back("gaugebench: no " + name + " here: took the shipped " + shipped);
                name = std::move(shipped);
            }
            return std::string();
        },
        "");
}

void print_shipped_notes() {
    for (const std::string& note : shipped_notes) print_note(note);
    shipped_notes.clear();
}

void add_module_paths(CLI::App& command, panels::ModulePaths& paths) {
    paths.module_dir = data_file(DataFile::kModules);
    command
        .add_option_function<std::string>(
            "--modules",
            [&paths](const std::string& path) {
                std::error_code error;
                const fs::file_status status = fs::status(path, error);
                if (!fs::exists(status))
                    throw CommandError(ExitStatus::kBadInput, path + ": no such directory (--modules)");
                if (!fs::is_directory(status))
                    throw CommandError(ExitStatus::kBadInput, path + ": not a directory (--modules)");
                paths.module_dir = path;
            },
            "directory of the PE modules the panel names, <dir>/<Name>.gau (default " + paths.module_dir + ")")
        ->type_name("<dir>");
    // The name validate takes for the PE: here a module file stands for the
    // folder it lies in, where the panel's other modules are looked for too.
    command
        .add_option_function<std::string>(
            "--pe",
            [&paths](const std::string& path) {
                std::error_code error;
                const fs::file_status status = fs::status(path, error);
                if (!fs::exists(status)) throw CommandError(ExitStatus::kBadInput, path + ": file not found (--pe)");
                if (!fs::is_directory(status)) check_input_file(path);
                paths.module_dir = fs::is_directory(status) ? path : fs::path(path).parent_path().string();
                if (paths.module_dir.empty()) paths.module_dir = ".";
            },
            "the PE modules: a directory of them, or one module file standing for its folder (as --modules)")
        ->type_name("<file|dir>");
}

void add_module_argument(CLI::App& command, std::string& module) {
    command.add_option("module", module, "the gauge module (.gau, the PE file; a shipped one by its name alone)")
        ->required()
        ->type_name("<module>")
        ->transform(shipped_input(Shipped::kModule));
}

void add_night_flag(CLI::App& command, bool& night) {
    command.add_flag("--night", night,
                     "the panel at night: dimmed under its flood light, apart from what lights itself (lamps)");
}

void add_main_window_option(CLI::App& command, bool& open) {
    command
        .add_option_function<std::string>(
            "--main-window", [&open](const std::string& state) { open = state == "open"; },
            "whether the modules find the simulator's main window open (FindWindowA; default closed)")
        ->type_name("open|closed")
        ->check(one_of({"open", "closed"}));
}

namespace {

CLI::Validator number_check(double low, double high, const std::string& what, bool whole) {
    return CLI::Validator(
        [=](std::string& text) -> std::string {
            char* end = nullptr;
            const double value = std::strtod(text.c_str(), &end);
            bool number = !text.empty() && end != text.c_str() && *end == '\0';
            // CLI11 converts a whole number's text itself and would refuse '1e3' or '5.0' in
            // its own words after this check passed it: only digits pass here.
            if (whole) number = number && text.find_first_not_of("+-0123456789") == std::string::npos;
            if (number && value >= low && value <= high && (!whole || value == std::floor(value))) return {};
            return "takes " + what + ", not '" + text + "'";
        },
        "");
}

}  // namespace

CLI::Validator number_within(double low, double high, const std::string& what) {
    return number_check(low, high, what, false);
}

CLI::Validator whole_number_within(double low, double high, const std::string& what) {
    return number_check(low, high, what, true);
}

void add_scale_option(CLI::App& command, double& scale, double largest) {
    char what[64];
    std::snprintf(what, sizeof what, "a number from 0.001 to %g", largest);
    command.add_option("--scale", scale, "displayed size over the bitmaps' size (default 1)")
        ->type_name("<s>")
        ->check(number_within(1e-3, largest, what));
}

}  // namespace gaugebench
