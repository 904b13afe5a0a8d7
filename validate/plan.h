// The plan of hostile inputs: which module calls to make, in which order and
// with which inputs, all from one seed. The validator drives it to judge each
// call (KV201 to KV204, KV3xx); diffdrive drives it in both trees (the PE in
// the bench host's emulator, the i386 twin in its own process) and writes
// what each call gave back, so that the two compare line for line. It uses
// only the host's own parts, which the twin's tree compiles too.
//
// In order:
//   install  every sound gauge set up by the host (set-up, after set-up)
//   then for every input (the special doubles, every limit of the records and
//   its neighbours one ulp away, seeded random values), with every variable
//   the module reads set to it:
//     value   every value callback, lent its element
//     gauge   every gauge callback with service ids 2, 4 and 6
//     update  the host's update of every installed gauge
//   mouse    every mouse handler at every pair of extreme coordinates with
//            every flag, and at seeded random points
//   pointer  the host's pointer actions on every gauge with mouse boxes, at
//            the ends of the coordinate range, at three display scales
//   key      every registered key-event routine with the simulator's events,
//            extreme and seeded random ids, extreme values and user data
//   event    every one of those events sent through the host to every routine
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "runtime/host.h"
#include "runtime/instance.h"
#include "runtime/module.h"
#include "validate/hostile.h"
#include "validate/records.h"

namespace validate {

inline constexpr uint64_t kPlanSeed = 0x4B6F7276616E65ull;

struct PlanOptions {
    uint64_t seed = kPlanSeed;
    int random_values = 48;  // random inputs beside the special ones and the limits
    int random_points = 40;  // random points per mouse handler
    int random_events = 16;  // random key-event ids
};

enum class CallKind : uint8_t { kInstall, kValue, kGauge, kUpdate, kMouse, kPointer, kKey, kEvent };
// "install", "value", "gauge", "update", "mouse", "pointer", "key", "event".
const char* kind_name(CallKind kind);

// One call of the plan.
struct PlannedCall {
    CallKind kind = CallKind::kValue;
    const GaugeRecord* gauge = nullptr;      // null for key-event routines and events
    const ElementRecord* element = nullptr;  // value callbacks
    // What is called: "update_callback", "service 6", "mouse_rects[3]",
    // "routine 0", "scale 16"; empty for an install or an update.
    std::string field;
    std::string input;  // how the input is named
    uint32_t code = 0;  // the routine called directly; 0 for a call through the host
    // A value callback's limits: its table's ends, an icon's frames, a moving
    // image's range.
    bool limited = false;
    double lower = 0.0;
    double upper = 0.0;
};

// What a call gave back.
struct CallOutcome {
    // Set when module code faulted, or a record led out of the module's
    // memory (then the call's effects so far stay, and the rest of it is
    // left out); the message names module, gauge and call where the host
    // gave them.
    std::optional<std::string> fault;
    std::optional<runtime::ModuleFault> guest_fault;   // the fault itself, when the call was made directly
    double value = 0.0;                                // a value callback's return
    int32_t result = 0;                                // a mouse handler's return
    const runtime::GaugeInstance* instance = nullptr;  // install, update, pointer: the gauge as the host holds it
};

class PlanObserver {
public:
    virtual ~PlanObserver() = default;
    // Whether to make the call; one left out is not counted.
    virtual bool admit(const PlannedCall&) { return true; }
    // Just before the call, with the variables set for it.
    virtual void before(const PlannedCall&) {}
    // Just after; the host's logs still hold what the call did (the plan
    // clears them once this returns).
    virtual void after(const PlannedCall&, const CallOutcome&) = 0;
};

// The variables a module reads: every token embedded in the elements of its
// sound gauges or passed to initialize_var or lookup_var, and the embedded
// records themselves.
class HostileVariables {
public:
    HostileVariables(runtime::Host& host, runtime::Module& module, const Records& records);

    // Every known token in the host, and every embedded variable with a token
    // (bit for bit, in the module's memory where it may be written), to the
    // double with these bits.
    void set_all(uint64_t bits);
    // Adds the tokens of the stand-alone records the module passed to the
    // variable services, as the host's service log holds them.
    void learn();
    const std::set<uint32_t>& tokens() const { return tokens_; }

private:
    runtime::Host& host_;
    runtime::Module& module_;
    std::set<uint32_t> tokens_;
    std::vector<double*> slots_;  // the host's slots of tokens_, rebuilt when tokens_ grows
    std::vector<frame::GuestPtr<guest::MODULE_VAR>> embedded_;
};

class Plan {
public:
    Plan(runtime::Host& host, runtime::Module& module, const Records& records, const PlanOptions& options);
    ~Plan();
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;

    // Makes every call in order, each between the observer's before and after.
    void run(PlanObserver& observer);

    // What the plan covers.
    HostileVariables& variables() { return variables_; }
    const std::vector<double>& limits() const { return limits_; }
    const std::vector<HostileValue>& inputs() const { return inputs_; }
    size_t value_callbacks() const;
    size_t gauge_callbacks() const;
    size_t handlers() const;
    size_t routines() const { return routines_; }
    size_t calls() const { return calls_; }  // made so far

    // Where the plan parks the point it hands mouse handlers, in memory the
    // host gave the module.
    frame::GuestPtr<guest::PIXPOINT> point() const { return point_; }

private:
    struct ValueCall;
    struct HandlerCall;
    bool call(PlanObserver& observer, PlannedCall& call, const std::function<void(CallOutcome&)>& make);
    void settle();
    void collect_limits();
    void add_value_calls(const GaugeRecord& gauge, const ElementRecord& element);
    void install(PlanObserver& observer);
    void value_callbacks(PlanObserver& observer, const HostileValue& input);
    void gauge_callbacks(PlanObserver& observer, const HostileValue& input);
    void updates(PlanObserver& observer, const HostileValue& input);
    void mouse_handlers(PlanObserver& observer);
    void pointer_actions(PlanObserver& observer);
    void key_routines(PlanObserver& observer);

    runtime::Host& host_;
    runtime::Module& module_;
    const Records& records_;
    PlanOptions options_;
    std::mt19937_64 random_;
    HostileVariables variables_;
    std::vector<double> limits_;
    std::vector<HostileValue> inputs_;
    std::vector<ValueCall> values_;
    std::vector<HandlerCall> handlers_;
    std::vector<std::pair<const GaugeRecord*, std::unique_ptr<runtime::GaugeInstance>>> panel_;
    frame::GuestPtr<guest::PIXPOINT> point_;
    size_t routines_ = 0;
    size_t calls_ = 0;
};

// "quiet NaN" etc. for the variables' setting, as plan lines name inputs.
std::string variables_at(const HostileValue& value);

}  // namespace validate
