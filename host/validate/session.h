// One load of the module under validation and what the dynamic checks share
// on it: the host, the records read from this load, the seeded random
// source, and the probe that every direct module call goes through.
#pragma once

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "host/host.h"
#include "host/module.h"
#include "host/validate/module_memory.h"
#include "host/validate/probe.h"
#include "host/validate/records.h"
#include "host/validate/report.h"
#include "host/validate/validator.h"

namespace bench::validate {

// Where a module call was made: the gauge, element and field (callback,
// handler, service id) a finding names.
struct Site {
    std::string gauge;
    std::string element;
    std::string field;
};

struct Session {
    Session(Report& report, const Options& options, Host& host, Module& module, std::mt19937_64& random);

    Report& report;
    const Options& options;
    Host& host;
    Module& module;
    ModuleMemory memory;
    Records records;
    std::mt19937_64& random;
    bool allocation_hooked = false;
    // Every token the module reads: embedded in its elements, or passed to
    // initialize_var or lookup_var in stand-alone records.
    std::set<uint32_t> tokens;
    // First and last values of every table, ends of every moving image.
    std::vector<double> limits;

    // One finding per check and site: a callback that fails for a thousand
    // inputs is reported once, with the first input.
    void once(Check check, const Site& site, const std::string& message);
    // Sets every known token in the host, and every variable embedded in the
    // module's elements (bit for bit), to the double with these bits.
    void set_all_variables(uint64_t bits);
    // Adds the tokens of stand-alone records the module has passed to the
    // variable services so far.
    void learn_tokens();
    // Reports service slots the module called that the host does not serve.
    void check_unexpected_services(const Site& site, size_t seen_before);

    template <typename Call>
    auto probe(const Site& site, const std::string& input, Call&& call) {
        const size_t unexpected = host.unexpected_slots().size();
        const FpControl before = fp_control();
        if (allocation_hooked) AllocationWatch::arm();
        if constexpr (std::is_void_v<std::invoke_result_t<Call>>) {
            call();
            after_call(site, input, before, unexpected);
        } else {
            auto result = call();
            after_call(site, input, before, unexpected);
            return result;
        }
    }

private:
    void after_call(const Site& site, const std::string& input, const FpControl& before, size_t unexpected);
    std::set<std::string> reported_;
    // What set_all_variables writes, gathered once: it runs thousands of
    // times, and looking each variable up anew made the validator's time
    // grow with the square of the module's size.
    std::vector<double*> token_values_;  // host slots of `tokens`, rebuilt when tokens grows
    std::vector<MODULE_VAR*> embedded_;  // variables in the elements of sound gauges
};

// The dynamic checks, each on a session; see report.h for the ids.
void check_mouse_before_setup(Session& session);  // KV103
void check_service_ids(Session& session);         // KV102
void check_lifecycle(Session& session);           // KV101
void check_value_callbacks(Session& session);     // KV201
void check_gauge_callbacks(Session& session);     // KV202
void check_mouse_handlers(Session& session);      // KV203, and KV103 after kill
void check_key_routines(Session& session);        // KV204

}  // namespace bench::validate
