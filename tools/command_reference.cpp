#include "tools/command_reference.h"

#include <algorithm>
#include <regex>
#include <set>
#include <sstream>
#include <vector>

#include "tools/data_files.h"

namespace gaugebench {
namespace {

// The defaults help prints are where this copy of the program finds its
// files; a page made at build time names them by their installed place.
std::string portable(std::string text) {
    for (int file = 0; file < static_cast<int>(DataFile::kCount); ++file) {
        const std::string here = data_file(static_cast<DataFile>(file));
        const std::string installed = "PREFIX/" + installed_path(static_cast<DataFile>(file));
        for (size_t at = text.find(here); at != std::string::npos; at = text.find(here, at)) {
            text.replace(at, here.size(), installed);
            at += installed.size();
        }
    }
    return text;
}

// roff text: a leading dot or quote would start a request, a backslash an escape.
std::string roff(const std::string& text) {
    std::string out;
    bool line_start = true;
    for (char c : portable(text)) {
        if (line_start && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
        line_start = c == '\n';
    }
    return out;
}

// A first session, in the order a newcomer takes it; shipped files by name.
struct Example {
    const char* command;
    const char* gives;
};
constexpr Example kExamples[] = {
    {"gaugebench render -o panel.png", "the shipped panel at a steady cruise"},
    {"gaugebench scenario engine_start.txt --out shots", "the four engines started, pictures in shots/"},
    {"gaugebench validate Dropwatch.gau", "a module checked as plug-in validators do (name yours: My.gau)"},
    {"gaugebench render debuggee.cfg -o probe.png --gdb 1234", "module code waits for GDB: target remote :1234"},
    {"gaugebench serve", "the shipped panel live at http://127.0.0.1:8080/"},
    {"gaugebench fly takeoff.xml --out flight --at 100,400", "the take-off flown in JSBSim, two pictures"},
    {"gaugebench new Demo", "a module project of your own, built with CMake"},
};

std::vector<const CLI::App*> commands_of(const CLI::App& app) {
    return app.get_subcommands([](const CLI::App* command) { return !command->get_group().empty(); });
}

std::string option_names(const CLI::Option& option) {
    std::string names;
    for (const std::string& name : option.get_snames()) names += (names.empty() ? "-" : ", -") + name;
    for (const std::string& name : option.get_lnames()) names += (names.empty() ? "--" : ", --") + name;
    return names;
}

// The value's shape as help shows it, without the list CLI11 appends to a
// choice ("open|closed:{open,closed}").
std::string value_shape(const CLI::Option& option) {
    const std::string type = option.get_type_name();
    return type.substr(0, type.find(":{"));
}

// The words of a choice ("open|closed"), or empty for a free value.
std::string choices(const CLI::Option& option) {
    std::string shape = value_shape(option);
    if (shape.find('|') == std::string::npos || shape.find('<') != std::string::npos) return {};
    for (char& c : shape) c = c == '|' ? ' ' : c;
    return shape;
}

bool takes_value(const CLI::Option& option) { return option.get_expected_max() > 0 && option.get_type_size_max() > 0; }

enum class ValueKind { kFree, kFile, kDirectory };

// What a value is completed with: directories for a <dir>, file names for a
// file of any shape (<file>, <module>, <panel.cfg>...), nothing for the rest
// (<t1,t2,..>, <n>, <address>).
ValueKind value_kind(const CLI::Option& option) {
    static const std::set<std::string> kFileTypes = {"<file>", "<file|dir>", "<module>", "<program>"};
    static const std::regex kNamedFile("<[a-z_]+\\.[a-z]+>");
    const std::string type = option.get_type_name();
    if (type == "<dir>") return ValueKind::kDirectory;
    if (kFileTypes.count(type) != 0 || std::regex_match(type, kNamedFile)) return ValueKind::kFile;
    return ValueKind::kFree;
}

void man_options(std::ostringstream& out, const CLI::App& command) {
    for (const CLI::Option* option : command.get_options()) {
        if (option->get_group().empty()) continue;
        out << ".TP\n.B " << roff(option->nonpositional() ? option_names(*option) : option->get_name());
        if (option->nonpositional() && takes_value(*option)) out << " \\fI" << roff(value_shape(*option)) << "\\fR";
        out << "\n" << roff(option->get_description()) << "\n";
    }
}

}  // namespace

std::string examples_and_documents() {
    std::string text = "Examples:\n";
    for (const Example& example : kExamples) {
        std::string line = "  " + std::string(example.command);
        line.resize(std::max<size_t>(line.size() + 2, 62), ' ');
        text += line + example.gives + "\n";
    }
    return text + "Documents: " + data_file(DataFile::kReadme) + ", " + data_file(DataFile::kScenarioDoc) +
           " (the scenario format), man gaugebench\n";
}

std::string man_page(const CLI::App& app, const std::string& version, const std::string& exit_statuses) {
    std::ostringstream out;
    out << ".TH GAUGEBENCH 1 \"\" \"" << roff(version) << "\" \"User Commands\"\n";
    out << ".SH NAME\ngaugebench \\- " << roff(app.get_description().substr(app.get_description().find(':') + 2))
        << "\n";
    out << ".SH SYNOPSIS\n.B gaugebench\n\\fIcommand\\fR [\\fIoptions\\fR] [\\fIarguments\\fR]\n.br\n"
           ".B gaugebench help\n[\\fIcommand\\fR]\n";
    out << ".SH DESCRIPTION\n" << roff(app.get_description()) << "\n.PP\nOptions common to every command:\n";
    man_options(out, app);
    out << ".SH COMMANDS\n";
    for (const CLI::App* command : commands_of(app)) {
        out << ".SS " << roff(command->get_name()) << "\n";
        out << roff(command->get_description()) << "\n";
        man_options(out, *command);
    }
    out << ".SH EXIT STATUS\n.nf\n" << roff(exit_statuses) << "\n.fi\n";
    out << ".SH EXAMPLES\n";
    for (const Example& example : kExamples) {
        out << ".TP\n.B " << roff(example.command) << "\n" << roff(example.gives) << "\n";
    }
    out << ".SH FILES\n.TP\n.I PREFIX/share/gaugebench\nthe shipped panel, scenarios, aircraft (fdm), the live page, "
           "JSBSim and the PE modules, found from the program's own place; a panel, scenario or JSBSim script named "
           "alone and not found in the working folder is taken from there\n.TP\n.I "
        << roff(data_file(DataFile::kReadme)) << "\nthe README: what the bench does, walkthroughs of each command\n"
        << ".SH SEE ALSO\n.BR gdb (1),\n.BR genhtml (1)\n";
    return out.str();
}

namespace {

// A completion's reply: the words given that start with what is typed.
std::string reply_words(const std::string& words) {
    return "mapfile -t COMPREPLY < <(compgen -W '" + words + "' -- \"$cur\")";
}

// The case of `$prev` that completes an option's value, or "" for none.
std::string value_case(const CLI::Option& option) {
    std::string names;
    for (const std::string& name : option.get_lnames()) names += (names.empty() ? "" : "|") + ("--" + name);
    for (const std::string& name : option.get_snames()) names += (names.empty() ? "" : "|") + ("-" + name);
    if (const std::string words = choices(option); !words.empty()) {
        return names + ") " + reply_words(words) + "; return ;;";
    }
    switch (value_kind(option)) {
        case ValueKind::kDirectory: return names + ") _gaugebench_paths -d; return ;;";
        case ValueKind::kFile: return names + ") _gaugebench_paths -f; return ;;";
        case ValueKind::kFree: return names + ") return ;;";
    }
    return {};
}

bool is_global(const CLI::Option& option) { return !option.check_lname("help") && !option.check_lname("version"); }

// The options every command takes, before or after it, and the ones of them that take a value.
struct GlobalWords {
    std::string top;     // every option of the program, for the first word
    std::string global;  // those every command takes
    std::string values;  // those of them that take a value, as a case pattern
    std::string cases;   // their values' completions
};

GlobalWords global_words_of(const CLI::App& app) {
    GlobalWords words;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) words.top += " --" + name;
        for (const std::string& name : option->get_snames()) words.top += " -" + name;
        if (!is_global(*option)) continue;
        for (const std::string& name : option->get_lnames()) words.global += " --" + name;
        if (!takes_value(*option)) continue;
        for (const std::string& name : option->get_lnames()) {
            words.values += (words.values.empty() ? "" : "|") + ("--" + name);
        }
        words.cases += "    " + value_case(*option) + "\n";
    }
    return words;
}

// One command's branch: its options, their values and its argument.
std::string command_case(const CLI::App& command, const std::string& commands, const std::string& global_words) {
    std::string words, cases;
    ValueKind argument = ValueKind::kFree;
    for (const CLI::Option* option : command.get_options()) {
        if (!option->nonpositional()) {
            if (value_kind(*option) != ValueKind::kFree) argument = value_kind(*option);
            continue;
        }
        for (const std::string& name : option->get_lnames()) words += " --" + name;
        if (takes_value(*option)) cases += "        " + value_case(*option) + "\n";
    }
    std::string out = "    " + command.get_name() + ")\n";
    if (!cases.empty()) out += "        case $prev in\n" + cases + "        esac\n";
    out += "        if [[ $cur == -* ]]; then " + reply_words(words.substr(1) + global_words) + "\n";
    if (command.get_name() == "help") {
        out += "        else " + reply_words(commands) + "\n";
    } else if (argument != ValueKind::kFree) {
        out += std::string("        else _gaugebench_paths ") + (argument == ValueKind::kDirectory ? "-d" : "-f") + "\n";
    }
    return out + "        fi ;;\n";
}

}  // namespace

std::string bash_completion(const CLI::App& app) {
    std::string commands;
    for (const CLI::App* command : commands_of(app)) commands += (commands.empty() ? "" : " ") + command->get_name();
    const GlobalWords global = global_words_of(app);
    std::ostringstream out;
    out << "# bash completion for gaugebench, made from its command-line definition\n"
           "\n"
           "# File or directory names (-f, -d) into COMPREPLY, one a line, so a name with blanks stays one word.\n"
           "_gaugebench_paths() {\n"
           "    local typed=${cur//\\\\/}\n"
           "    typed=${typed#[\\\"\\']}\n"
           "    mapfile -t COMPREPLY < <(compgen \"$1\" -- \"$typed\")\n"
           "}\n"
           "\n"
           "_gaugebench() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command= i=1\n"
           "    COMPREPLY=()\n"
           "    # bash splits --color=never at '=': the option is the word before it.\n"
           "    if [[ $cur == = ]]; then\n"
           "        cur=\n"
           "    elif [[ $prev == = && $COMP_CWORD -ge 2 ]]; then\n"
           "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
           "    fi\n"
           "    # The command: the first word that is no option, nor the value of one every command takes.\n"
           "    while ((i < COMP_CWORD)); do\n"
           "        case ${COMP_WORDS[i]} in\n";
    if (!global.values.empty()) {
        out << "        " << global.values
            << ") i=$((i + 2)); [[ ${COMP_WORDS[i-1]} != = ]] || i=$((i + 1)) ;;\n";
    }
    out << "        -*) i=$((i + 1)) ;;\n"
           "        *) command=${COMP_WORDS[i]}; break ;;\n"
           "        esac\n"
           "    done\n"
           "    case $prev in\n"
        << global.cases
        << "    esac\n"
           "    if [ -z \"$command\" ]; then\n"
           "        " << reply_words(commands + global.top) << "\n"
           "        return\n"
           "    fi\n"
           "    case $command in\n";
    for (const CLI::App* command : commands_of(app)) out << command_case(*command, commands, global.global);
    out << "    esac\n}\ncomplete -o filenames -F _gaugebench gaugebench\n";
    return out.str();
}

}  // namespace gaugebench
