// gaugebench's panel commands: drawing a panel configuration at a steady
// cruise, and running scripted sessions. Only the Linux twin draws; other
// builds report the commands as unavailable.
#pragma once

namespace panel_commands {

// `gaugebench render ...` and `gaugebench scenario ...`; argv[0] is the
// command word. Return the process exit code; errors are printed.
int render(int argc, char** argv);
int scenario(int argc, char** argv);

}  // namespace panel_commands
