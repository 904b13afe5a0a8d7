// Where the build cannot draw (cairo and JSBSim are the Linux twin's), the
// drawing commands are still known, so that they are not taken for typos,
// and say why they cannot run.
#include "tools/fly_command.h"
#include "tools/panel_commands.h"
#include "tools/serve_command.h"

namespace {

void add_unavailable(CLI::App& app, gaugebench::Commands& commands, const char* name, const char* what) {
    CLI::App* command = app.add_subcommand(name, std::string(what) + " (Linux build only)");
    command->allow_extras();
    commands.push_back({command, [command]() -> gaugebench::ExitStatus {
                            throw gaugebench::CommandError(
                                gaugebench::ExitStatus::kUsage,
                                "'" + command->get_name() + "' draws pictures, which only the Linux build can do");
                        }});
}

}  // namespace

namespace panel_commands {

void add(CLI::App& app, gaugebench::Commands& commands) {
    add_unavailable(app, commands, "render", "Draw a panel configuration at a steady cruise");
    add_unavailable(app, commands, "scenario", "Run a scripted session on a panel");
}

}  // namespace panel_commands

namespace fly_command {

void add(CLI::App& app, gaugebench::Commands& commands) {
    add_unavailable(app, commands, "fly", "Fly a JSBSim script with the panel driven by the model");
}

}  // namespace fly_command

namespace serve_command {

void add(CLI::App& app, gaugebench::Commands& commands) {
    add_unavailable(app, commands, "serve", "Serve the panel live to a web browser");
}

}  // namespace serve_command
