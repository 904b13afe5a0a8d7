// One load of the module under validation and what the dynamic checks share
// on it: the host, the records read from this load, the variables the
// module reads, the seeded random source, and the watch every module call
// goes through: its fault, heap allocations, floating-point control state,
// services and instructions.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/host.h"
#include "runtime/module.h"
#include "runtime/module_code.h"
#include "validate/plan.h"
#include "validate/records.h"
#include "validate/report.h"
#include "validate/validator.h"

namespace validate {

// A call that takes more instructions than this fails KV306.
inline constexpr uint64_t kMaxInstructionsPerCall = 1'000'000;

// Where a module call was made: the gauge, element and field (callback,
// handler, service id) a finding names.
struct Site {
    std::string gauge;
    std::string element;
    std::string field;
};

// What the validator keeps across the loads of one module: the gauges (and
// routines) whose code ran past its instruction budget, which are called no
// more (each such call costs the whole budget), the findings made once per
// check and site, and the figures of KV306.
struct Memo {
    std::set<std::string> spent;     // gauge names; the field for a call of no gauge's
    std::set<std::string> reported;  // check and site of every finding made once
    uint64_t most_instructions = 0;
    std::string most_where;
    std::vector<uint64_t> panel_updates;  // instructions per update of every installed gauge
};

// Which check a fault of module code fails, by its kind: memory accesses
// KV304, instruction budget KV306, unbound imports KV307, the rest KV305.
Check check_of_fault(emulator::GuestFault::Kind kind);

// The counters a call is judged by, taken before it.
struct CallStart {
    size_t unexpected = 0;
    uint64_t allocations = 0;
    uint64_t instructions = 0;
    std::optional<emulator::ResourceUse> resources;  // with the calls of imports, where the machine has budgets
    std::vector<std::pair<std::string, uint64_t>> import_calls;
};

struct Session {
    Session(Report& report, const Options& options, runtime::Host& host, runtime::Module& module,
            std::mt19937_64& random, Memo& memo);

    Report& report;
    const Options& options;
    runtime::Host& host;
    runtime::Module& module;
    Records records;
    std::mt19937_64& random;
    Memo& memo;
    HostileVariables variables;
    frame::GuestPtr<guest::PIXPOINT> point;  // what the validator hands mouse handlers

    // One finding per check and site: a callback that fails for a thousand
    // inputs is reported once, with the first input (over every load).
    void once(Check check, const Site& site, const std::string& message);
    // Reports service slots the module called that the host does not serve.
    void check_unexpected_services(const Site& site, size_t seen_before);
    // Reports what the call kept of the budgets, and what they refused it.
    void check_resources(const Site& site, const std::string& input, const CallStart& before);

    // Whether module code of this site may still be called (its gauge has
    // not run out of its budget).
    bool may_call(const Site& site) const;
    CallStart start() const;
    // Judges a call: its fault (`error`, null when it returned), and, for a
    // call made `direct`ly into module code, the floating-point control
    // state it left; for every call the allocations, services and
    // instructions. A fault of module code becomes a finding of its check
    // (`fallback` for a failure of the host's own), and a gauge whose code
    // ran out of its budget is called no more.
    void finish(const Site& site, const std::string& input, const CallStart& start, bool direct,
                std::exception_ptr error, Check fallback = Check::kLifecycle);

    // Runs `call` (module code, directly when `direct`, else through the
    // host) and judges it; false when it was not made or it failed.
    template <typename Call>
    bool probe(const Site& site, const std::string& input, bool direct, Call&& call,
               Check fallback = Check::kLifecycle) {
        if (!may_call(site)) return false;
        const CallStart before = start();
        std::exception_ptr error;
        try {
            call();
        } catch (...) {
            error = std::current_exception();
        }
        finish(site, input, before, direct, error, fallback);
        return error == nullptr;
    }

    // Calls module code at `code` directly with the stdcall convention, as
    // the gauge's `callback` to the debugger and the trace.
    uint32_t call(std::string_view gauge, std::string_view callback, uint32_t code,
                  std::initializer_list<uint32_t> args);
};

// The validator's message for a fault: the module, where it was and what.
std::string fault_text(const runtime::Module& module, const Site& site, const std::exception& error);
// Reports a failure of a call (once per check and site over the loads of
// `memo`): a fault of module code under its check, else under `fallback`.
// `instructions` the call took tell a fault the host reported in its own
// words as one of the budget. Returns whether the call ran out of its
// budget; then its site (gauge, or field) is called no more.
bool report_failure(Report& report, Memo& memo, const runtime::Module& module, const Site& site,
                    const std::string& input, std::exception_ptr error, Check fallback, uint64_t instructions);
// Instructions module code ran since the machine was made (0 where the
// machine does not count).
uint64_t instructions_run(const runtime::Module& module);

// The dynamic checks, each on a session; see report.h for the ids.
void check_mouse_before_setup(Session& session);   // KV103
void check_service_ids(Session& session);          // KV102
void check_lifecycle(Session& session);            // KV101
void check_hostile_plan(Session& session);         // KV201 to KV204, KV306's figures
void check_handlers_after_kill(Session& session);  // KV103, after every instance went

}  // namespace validate
