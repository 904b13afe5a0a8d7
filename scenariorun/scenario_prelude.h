// A scenario as what plays before a panel goes live (`serve --scenario`).
#pragma once

#include <memory>
#include <string>

#include "panelhost/prelude.h"

namespace scenario {

// The scenario in `path`; its snapshots go to `out_dir` (empty: the working
// directory), as the scenario command writes them.
std::shared_ptr<panels::Prelude> scenario_prelude(std::string path, std::string out_dir);

}  // namespace scenario
