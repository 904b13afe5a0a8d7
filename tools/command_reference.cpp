#include "tools/command_reference.h"

#include <set>
#include <sstream>
#include <vector>

#include "tools/data_files.h"

namespace gaugebench {
namespace {

// The defaults help prints are where this copy of the program finds its
// files; a page made at build time names them by their installed place.
std::string portable(std::string text) {
    static constexpr struct {
        DataFile file;
        const char* installed;
    } kInstalled[] = {
        {DataFile::kPanel, "PREFIX/share/gaugebench/panel/panel.cfg"},
        {DataFile::kFdmRoot, "PREFIX/share/gaugebench/fdm"},
        {DataFile::kJsbsim, "PREFIX/share/gaugebench/jsbsim/JSBSim"},
        {DataFile::kWebRoot, "PREFIX/share/gaugebench/web"},
        {DataFile::kModules, "PREFIX/share/gaugebench/modules"},
        {DataFile::kScenarios, "PREFIX/share/gaugebench/scenarios"},
    };
    for (const auto& entry : kInstalled) {
        const std::string here = data_file(entry.file);
        for (size_t at = text.find(here); at != std::string::npos; at = text.find(here, at)) {
            text.replace(at, here.size(), entry.installed);
            at += std::string_view(entry.installed).size();
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

// Options and arguments whose value is a path: completed with file names.
bool takes_path(const CLI::Option& option) {
    static const std::set<std::string> kPathTypes = {"<file>",        "<dir>",        "<file|dir>", "<module>",
                                                     "<panel.cfg>",   "<script.xml>", "<program>",  "<picture.png>",
                                                     "<scenario>",    "<file.png>",   "<path>",     "<out>"};
    const std::string type = option.get_type_name();
    return kPathTypes.count(type) != 0 || type.find('.') != std::string::npos || type.find("file") != std::string::npos;
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

std::string man_page(const CLI::App& app, const std::string& version) {
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
    out << ".SH EXIT STATUS\n.nf\n" << roff(app.get_footer()) << "\n.fi\n";
    out << ".SH FILES\n.TP\n.I PREFIX/share/gaugebench\nthe shipped panel, scenarios, aircraft (fdm), the live page, "
           "JSBSim and the PE modules, found from the program's own place\n";
    return out.str();
}

std::string bash_completion(const CLI::App& app) {
    std::ostringstream out;
    out << "# bash completion for gaugebench, made from its command-line definition\n"
           "_gaugebench() {\n"
           "    local cur prev command i\n"
           "    cur=${COMP_WORDS[COMP_CWORD]}\n"
           "    prev=${COMP_WORDS[COMP_CWORD-1]}\n"
           "    command=\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case ${COMP_WORDS[i]} in -*) ;; *) command=${COMP_WORDS[i]}; break ;; esac\n"
           "    done\n";
    std::string commands;
    for (const CLI::App* command : commands_of(app)) commands += (commands.empty() ? "" : " ") + command->get_name();
    std::string global;
    for (const CLI::Option* option : app.get_options()) {
        for (const std::string& name : option->get_lnames()) global += " --" + name;
        for (const std::string& name : option->get_snames()) global += " -" + name;
    }
    out << "    if [ -z \"$command\" ]; then\n"
        << "        COMPREPLY=($(compgen -W '" << commands << global << "' -- \"$cur\"))\n"
        << "        return\n    fi\n    case $command in\n";
    for (const CLI::App* command : commands_of(app)) {
        std::string words, path_options, value_options, choice_cases;
        bool path_argument = false;
        for (const CLI::Option* option : command->get_options()) {
            if (!option->nonpositional()) {
                path_argument = path_argument || takes_path(*option);
                continue;
            }
            std::string names;
            for (const std::string& name : option->get_lnames()) names += (names.empty() ? "" : "|") + ("--" + name);
            for (const std::string& name : option->get_snames()) names += (names.empty() ? "" : "|") + ("-" + name);
            for (const std::string& name : option->get_lnames()) words += " --" + name;
            if (!takes_value(*option)) continue;
            if (const std::string words = choices(*option); !words.empty()) {
                choice_cases += "        " + names + ") COMPREPLY=($(compgen -W '" + words + "' -- \"$cur\")); return ;;\n";
                continue;
            }
            std::string& into = takes_path(*option) ? path_options : value_options;
            into += (into.empty() ? "" : "|") + names;
        }
        if (command->get_name() == "help") words += " " + commands;
        out << "    " << command->get_name() << ")\n        case $prev in\n";
        if (!path_options.empty()) {
            out << "        " << path_options << ") COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n";
        }
        out << choice_cases;
        if (!value_options.empty()) out << "        " << value_options << ") return ;;\n";
        out << "        esac\n";
        out << "        if [[ $cur == -* ]]; then COMPREPLY=($(compgen -W '" << words.substr(words.empty() ? 0 : 1)
            << "' -- \"$cur\"))\n";
        if (command->get_name() == "help") {
            out << "        else COMPREPLY=($(compgen -W '" << commands << "' -- \"$cur\"))\n";
        } else if (path_argument) {
            out << "        else COMPREPLY=($(compgen -f -- \"$cur\"))\n";
        }
        out << "        fi ;;\n";
    }
    out << "    esac\n}\ncomplete -o filenames -F _gaugebench gaugebench\n";
    return out.str();
}

}  // namespace gaugebench
