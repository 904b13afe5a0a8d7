// KV018: the host reads the records in place and writes its own working data
// into their reserved fields (a static image's picture, a table's degrees,
// the variables' values and words of its own in every record kind). A record
// the module declared const lies in read-only memory once the module is
// loaded, and the host's first write there faults; this check finds such
// records before any host touches them.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "frame/services.h"
#include "host/module.h"
#include "host/validate/module_memory.h"
#include "host/validate/records.h"
#include "host/validate/report.h"

namespace bench::validate {

// One finding per record with reserved fields (gauge header, element,
// failure list, calibration table, mouse list) that lies in memory the
// loaded module does not let the host write.
void check_writable_records(const Records& records, const ModuleMemory& memory, Report& report);

// Stand-alone variables are records too, but only the module's calls name
// them: the host writes into every MODULE_VAR handed to initialize_var or
// lookup_var. While a guard is attached to a loaded module, those two services
// check the record first; one in read-only memory is reported (once per
// record over every load) and left unwritten, so that the validation
// survives to report it. The guard must outlive every module attached to it.
class VariableGuard {
public:
    explicit VariableGuard(Report& report) : report_(report) {}
    ~VariableGuard();
    VariableGuard(const VariableGuard&) = delete;
    VariableGuard& operator=(const VariableGuard&) = delete;

    // Puts the guarded services in front of the module's current service
    // table (the proxy, or the host's own) for as long as the module is loaded.
    void attach(Module& module);

    // Whether the host may write `var`; reports it when it may not.
    bool admit(const MODULE_VAR* var);

    const PANELS* services() const { return inner_; }

private:
    std::string gauge_before(uintptr_t address) const;

    Report& report_;
    ModuleMemory memory_;
    std::vector<std::pair<uintptr_t, std::string>> headers_;  // address, gauge name
    PANELS* inner_ = nullptr;
    PANELS table_{};
    std::set<uintptr_t> reported_;  // offsets from the module's base
};

}  // namespace bench::validate
