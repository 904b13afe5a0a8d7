// Where gaugebench finds its own files (the shipped panel, the aircraft, the
// page, JSBSim, the PE modules, the module kit) when an option does not name
// them: from the running program's place, never from where it was built, so
// a moved checkout and an installed copy work alike.
//
//   installed:   <prefix>/bin/gaugebench       files in <prefix>/share/gaugebench/,
//                JSBSim in <prefix>/lib/gaugebench, the documents in
//                <prefix>/share/doc/gaugebench
//   build tree:  <checkout>/build/linux/gaugebench
//                files in <checkout>/ (panel, fdm, web/page, scenarios),
//                <checkout>/build/win (modules), <checkout>/build/jsbsim,
//                <checkout>/build/linux/kit (the kit: links into the checkout)
#pragma once

#include <string>

namespace gaugebench {

enum class DataFile {
    kPanel,      // the shipped panel configuration
    kFdmRoot,    // JSBSim's root: aircraft/, scripts/
    kJsbsim,     // the JSBSim program
    kWebRoot,    // the live page's files
    kModules,    // the PE modules and the bitmaps panels name
    kScenarios,  // the shipped scenarios
    kKit,        // the module kit and the project template `new` makes from
    kReadme,     // the README, the walkthroughs and their pictures beside it
    kScenarioDoc,  // the scenario format
    kDebuggee,     // the debugger's fixture: its panel, its faulting scenario, its source
    kCount,
};

// The path of `file` for the program running now (it may not exist: the
// command that needs it says so, naming the path).
std::string data_file(DataFile file);

// The kinds of shipped file a command takes by name alone.
enum class Shipped {
    kPanel,     // beside the shipped panel, or the debugger's fixture: panel.cfg, debuggee.cfg
    kScenario,  // the shipped scenarios, or the fixture's: engine_start.txt, fault.txt
    kScript,    // JSBSim's scripts under its root: takeoff.xml, scripts/takeoff.xml
    kModule,    // the shipped modules: Dropwatch.gau
};

// The shipped file a relative name stands for when nothing by that name is
// in the working folder; empty when the name is found here, is absolute or
// '-', or names no shipped file either (the command then says it is missing).
std::string shipped_file(const std::string& name, Shipped kind);

// Where `file` is installed, from the prefix: share/gaugebench/panel/panel.cfg.
std::string installed_path(DataFile file);

// The directory of the running program.
std::string program_dir();

}  // namespace gaugebench
