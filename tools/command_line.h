// gaugebench's command line: its exit statuses, the errors a command throws
// to choose one, and the checks of paths every command shares.
#pragma once

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "panelhost/panel.h"
#include "tools/data_files.h"

namespace gaugebench {

// The process's exit status, the one list of them; README.md's table says
// which failure takes which.
enum class ExitStatus : int {
    kSuccess = 0,
    kFailed = 1,         // a check or a scenario failed, module code faulted
    kUsage = 2,          // the command line is wrong, or asks what this build cannot do
    kBadInput = 3,       // a file could not be read or written, or is not what it claims to be
    kInterrupted = 130,  // SIGINT (Ctrl-C), as a shell reports it: 128 + 2
    kTerminated = 143,   // SIGTERM: 128 + 15
};

// Thrown by a command once it knows the outcome; the message is printed.
class CommandError : public std::runtime_error {
public:
    CommandError(ExitStatus status, const std::string& message) : std::runtime_error(message), status_(status) {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

// The one mapping from what a command threw to the exit status.
ExitStatus exit_status_of(const std::exception& error);
// The message to print for it (a filesystem error names its path).
std::string message_of(const std::exception& error);

// A subcommand and the work it does once the whole line has been read.
struct Command {
    CLI::App* app = nullptr;
    std::function<ExitStatus()> run;
};
using Commands = std::vector<Command>;

// How much the commands say, and whether in colour: the global options
// -q/--quiet, -v/--verbose and --color, taken before or after the command.
// Quiet drops progress, notes and summaries (what a command makes, its
// errors and warnings stay); verbose adds detail.
enum class Verbosity { kQuiet, kNormal, kVerbose };
struct Console {
    Verbosity verbosity = Verbosity::kNormal;
    bool colour_stdout = false;
    bool colour_stderr = false;

    bool quiet() const { return verbosity == Verbosity::kQuiet; }
    bool verbose() const { return verbosity == Verbosity::kVerbose; }
};
const Console& console();
// The global options on the program's own command line.
void add_console_options(CLI::App& app);
// Whether a global option (or its value) is `word`, at argv[index]; the
// count of words it takes (0: none of them).
int console_option_words(int argc, char** argv, int index);
// After parsing: colour for a stream only on a terminal (--color=auto, the
// default), never with NO_COLOR set to anything, unless --color=always.
void settle_console();

// Colours of the words that say how something went.
enum class Paint { kPass, kFail, kWarn, kSkip, kError };
// `text` in `paint`'s colour when `colour`, else as it is.
std::string painted(const std::string& text, Paint paint, bool colour);
// "<where>: <message>" on stderr, `where` in the colour of errors.
void print_error(const std::string& where, const std::string& message);
// "warning: <message>" on stderr, the word in the colour of warnings.
void print_warning(const std::string& message);
// The same line, for a writer that places it itself (beside a progress line).
std::string warning_line(const std::string& message);
// A note about the work (not its result) on stderr; none when quiet.
void print_note(const std::string& message);

// "1 update", "2 updates": a count with its noun, plural when not one.
std::string counted(size_t count, const std::string& noun);

// Refuse, before any work, an output the command could not write: a file
// path naming a directory or lying in a missing one, a directory path naming
// a file. `option` names the option in the message.
void check_output_file(const std::string& path, const std::string& option);
void check_output_dir(const std::string& path, const std::string& option);

// The files one command reads and writes, each named before any work, and
// the one judge of whether they may all be written: check() refuses, as a
// usage error, an output that is one of the inputs or another output,
// whatever the spellings (./panel.cfg, a symbolic or a hard link: see
// platform/file_identity.h), and two outputs on standard output, which
// would mix.
class CommandFiles {
public:
    // An input, and what the command does with it ("the panel being read").
    // Standard input ('-') and names not given pass.
    void read(const std::string& path, const std::string& what);
    // Every module where `paths` has a panel look (<dir>/<Name>.gau, letter
    // case aside): it loads whichever it names.
    void read_modules(const panels::ModulePaths& paths);
    // An output, named by its option ("-o", "--trace") or by the line that
    // asks for it ("takeoff.txt:5: snapshot"), checked at once as a file to
    // write (check_output_file). '-' is standard output; empty: not given.
    void write(const std::string& path, const std::string& option);
    // An output in a folder the work makes first (a snapshot's), checked as
    // a file to write only when it is written.
    void write_later(const std::string& path, const std::string& option);
    void check() const;

private:
    struct Named {
        std::string path;
        std::string label;  // the input's part, the output's option
    };
    std::vector<Named> inputs_;
    std::vector<Named> outputs_;
};

// Standard output for an output named '-' that is written while the command
// runs (--trace, --coverage). From the first call on, the command's own text,
// which would have gone there, goes to stderr; CommandFiles has made sure no
// other output takes standard output.
std::FILE* take_standard_output();

// Refuses an empty output name, which would read as the option not given:
// what was asked for would silently not be written.
CLI::Validator output_name();

// --json <file|->: the command's results as one JSON document, '-' for
// standard output, where it then stands instead of the text.
CLI::Option* add_json_option(CLI::App& command, std::string& path, const char* what);
// `text` written to `path` as every output file is ('-': standard output).
void write_text(const std::string& path, const std::string& text);

// Refuse, before any work, an input that is missing or no regular file (a
// directory, a FIFO, device or socket, which would block its reader), as
// bad input. With `standard_input`, "-" names standard input and passes.
void check_input_file(const std::string& path, bool standard_input = false);

// For an input named on the command line: a relative name found nowhere
// here that names a shipped file of `kind` (scenario engine_start.txt)
// becomes that file, with a note saying where it was taken from, printed
// once the command line is read (print_shipped_notes), where --quiet is known.
CLI::Validator shipped_input(Shipped kind);
void print_shipped_notes();

// The options of every command that places a panel: where the PE modules it
// names are (each carries its own bitmaps), as --modules <dir> or --pe
// <file|dir>; a --pe that names nothing is refused before any work.
void add_module_paths(CLI::App& command, panels::ModulePaths& paths);
// The module a command takes as its argument.
void add_module_argument(CLI::App& command, std::string& module);

// --main-window open|closed: whether FindWindowA finds the simulator's main
// window for the modules (default closed).
void add_main_window_option(CLI::App& command, bool& open);

// --night: the panel as seen at night, under its flood light (a scenario's
// `night` lines change it from there on).
void add_night_flag(CLI::App& command, bool& night);

// The displayed size over the bitmaps' size (default 1), from 0.001 to `largest`.
void add_scale_option(CLI::App& command, double& scale, double largest);

// Common option shapes: a number within [low, high], checked before it is
// converted so that the message names the option's meaning.
CLI::Validator number_within(double low, double high, const std::string& what);
CLI::Validator whole_number_within(double low, double high, const std::string& what);

}  // namespace gaugebench
