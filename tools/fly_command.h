// `gaugebench fly`: a JSBSim script flown headless, the panel driven by the
// model through the coupling, pictures at chosen moments (Linux build).
#pragma once

namespace fly_command {

// argv[0] is the command word. Returns the process exit code; errors are
// printed.
int fly(int argc, char** argv);

}  // namespace fly_command
