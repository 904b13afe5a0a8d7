// KV018 for the records only a module's calls name: the host writes into
// every MODULE_VAR handed to initialize_var or lookup_var. While a guard is
// attached to a loaded module, those two services of the module's service
// table check the record first: one that lies in memory the loaded module
// keeps read-only is reported (once per record over every load) and left
// unwritten, so that the validation survives to report it, where the host's
// own write would end the module's call with a fault. (The records the host
// reaches from the gauge table, check_writable_records in records.h checks
// before any host touches them.)
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "runtime/module.h"
#include "validate/report.h"

namespace validate {

class VariableGuard {
public:
    explicit VariableGuard(Report& report) : report_(report) {}
    VariableGuard(const VariableGuard&) = delete;
    VariableGuard& operator=(const VariableGuard&) = delete;

    // Puts the guarded services into the module's service table for as long
    // as the module is loaded. The guard must outlive the module.
    void attach(runtime::Module& module);

private:
    // Whether the host may write the record at `var`; reports it when not.
    bool admit(const runtime::Module& module, uint32_t var);
    std::string gauge_before(uint32_t address) const;

    Report& report_;
    std::vector<std::pair<uint32_t, std::string>> headers_;  // address, gauge name
    std::set<uint32_t> reported_;                            // guest addresses (every load maps the module alike)
};

}  // namespace validate
