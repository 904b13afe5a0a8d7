// The man page and the bash completion, made from the one command-line
// definition (the CLI::App gaugebench parses with), so neither can drift
// from what the program accepts. The build writes both and installs them.
#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace gaugebench {

// roff for man(1): NAME, SYNOPSIS, DESCRIPTION, one COMMANDS entry per
// subcommand with its arguments and options, EXIT STATUS, EXAMPLES, FILES.
std::string man_page(const CLI::App& app, const std::string& version, const std::string& exit_statuses);

// The examples the program's help ends with, and where the documents are
// for this copy of the program: an installed one names the installed ones.
std::string examples_and_documents();

// A bash completion script: the commands, each command's options, and file
// names where an option or argument takes a path.
std::string bash_completion(const CLI::App& app);

}  // namespace gaugebench
