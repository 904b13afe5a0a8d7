// Where gaugebench finds its own files (the shipped panel, the aircraft, the
// page, JSBSim, the PE modules, the module kit) when an option does not name
// them: from the running program's place, never from where it was built, so
// a moved checkout and an installed copy work alike.
//
//   installed:   <prefix>/bin/gaugebench       files in <prefix>/share/gaugebench/
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
};

// The path of `file` for the program running now (it may not exist: the
// command that needs it says so, naming the path).
std::string data_file(DataFile file);

// The directory of the running program.
std::string program_dir();

}  // namespace gaugebench
