// The bench host: the stand-in for the simulator's panel system.
//
// The Host made last of those that exist is the active host of the process
// (what the twins' FindWindowA asks); hosts may end in any order. A module's
// service table dispatches to the host that loaded it. It keeps the simulator variables
// by token (and by name), the latest key events sent to it and services
// called, the active failures and the top-level windows the platform reports.
// Once its logs have filled, serving a module allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "frame/argument_words.h"
#include "frame/services.h"
#include "runtime/key_model.h"
#include "runtime/module.h"
#include "runtime/recent_log.h"
#include "runtime/variables.h"

namespace runtime {

class Trace;

// The slots the host serves (service_slot:: names each); the rest hold traps.
using ::kServedSlots;

// A served slot: its number, its name and how many 32-bit words its
// arguments take.
struct ServiceShape {
    uint32_t slot;
    const char* name;
    uint32_t words;
};
// The served slot `slot`, or null for an unused one.
const ServiceShape* service_shape(uint32_t slot);

// A service's signature with the calling module first.
template <typename Signature>
struct WithCaller;
template <typename... Args>
struct WithCaller<void(Args...)> {
    using type = void(Module&, Args...);
};

// One call the module made into the service table.
struct ServiceCall {
    uint32_t slot = 0;      // service number (offset / 4)
    uint32_t args[4] = {};  // the 32-bit arguments as passed (pointers as addresses)
};

// The service numbered `Slot`'s signature as the host sees it.
template <uint32_t Slot>
struct ServiceSignature;
#define RUNTIME_SERVICE_SIGNATURE(slot, name, parameters, arguments) \
    template <>                                                      \
    struct ServiceSignature<slot> {                                  \
        using type = guest::name##_service;                          \
    };
PANEL_SERVICES(RUNTIME_SERVICE_SIGNATURE)
#undef RUNTIME_SERVICE_SIGNATURE

template <typename... Args>
std::tuple<Args...> service_arguments(std::span<const uint32_t> words, void (*)(Args...)) {
    return argument_words::unpack<Args...>(words);
}

// The words of a call of service `Slot` as the row's typed parameters, to be
// named where they are used: `const auto [var] = service_arguments<service_slot::lookup_var>(call.args)`.
// A word the call did not pass reads as 0.
template <uint32_t Slot>
auto service_arguments(std::span<const uint32_t> words) {
    using Signature = typename ServiceSignature<Slot>::type;
    return []<typename... Args>(std::span<const uint32_t> w, void (*)(Args...)) {
        return service_arguments(w, static_cast<void (*)(Args...)>(nullptr));
    }(words, static_cast<Signature*>(nullptr));
}

// An exception a service raised inside the host. The host stopped it there,
// since the module code below it cannot pass one on, and returned to the
// module; whatever the call had done before it stays done. (A fault of
// module memory, a pointer the module passed that leads nowhere, is no such
// exception: it ends the module's call with an error.)
struct ServiceFault {
    uint32_t slot = 0;
    std::string what;  // the exception's what(), or a note that it was no std::exception
};

// A key-event routine registered by a module, with its user data.
struct KeyEventRegistration {
    Module* module = nullptr;
    guest::KeyEventHandler handler;
    uint32_t user_data = 0;
};

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The host the service table dispatches to; null when none exists.
    static Host* active() noexcept;

    VariableStore& vars() { return vars_; }
    const VariableStore& vars() const { return vars_; }

    // Whether the simulator's world is at night: the panel is then seen under
    // its flood light, and only the elements that light themselves (image
    // flag kImageBright) keep their brightness. The modules are not told.
    bool night() const { return night_; }
    void set_night(bool night) { night_ = night; }

    // The logs keep this many of their latest entries.
    static constexpr size_t kServiceLogLength = 1u << 16;
    static constexpr size_t kKeyLogLength = 1u << 14;
    static constexpr size_t kCalculatorLogLength = 1u << 12;
    static constexpr size_t kMaxKeptFaults = 1024;
    static constexpr size_t kMaxKeptUnexpected = 4096;

    // Key events: every event, from a module or from outside, is logged,
    // applied to the model and handed to every registered key-event routine.
    // A routine that faults ends the delivery with a ModuleFault naming its
    // module and the event.
    void send_key_event(uint32_t event_id, uint32_t value);
    const RecentLog<KeyEvent>& key_log() const { return key_log_; }
    void clear_key_log() { key_log_.clear(); }
    KeyModel& model() { return model_; }

    // One simulation step of the model (engines spooling up and the like),
    // taken once a panel update: the simulator updates its gauges this many
    // times a second.
    static constexpr int kUpdatesPerSecond = 18;
    static constexpr double kSecondsPerUpdate = 1.0 / kUpdatesPerSecond;
    void tick();

    // Services the modules called, in order; calls to unused slots land here
    // too and are also counted as unexpected.
    const RecentLog<ServiceCall>& service_log() const { return service_log_; }
    // The logged calls to one service number, in order.
    std::vector<ServiceCall> calls_to(uint32_t slot) const;
    void clear_service_log() { service_log_.clear(); }
    // The slots of calls to unused slots, in order: the first
    // kMaxKeptUnexpected of them (unexpected_count() counts them all).
    const std::vector<uint32_t>& unexpected_slots() const { return unexpected_slots_; }
    uint64_t unexpected_count() const { return unexpected_count_; }

    // Exceptions the table's entries stopped, in order: the first
    // kMaxKeptFaults. The count includes faults whose details were not kept.
    const std::vector<ServiceFault>& service_faults() const { return service_faults_; }
    size_t service_fault_count() const { return service_fault_count_; }

    // MODULE_VAR records passed to initialize_var (bound to their token).
    bool is_bound(const Module& module, frame::GuestPtr<guest::MODULE_VAR> var) const {
        return bound_.count({&module, uint32_t{var.address}}) != 0;
    }
    // A module going away takes its registrations and bindings with it.
    void forget(const Module& module);

    // Registered key-event routines, in registration order. Unregistering
    // removes the earliest registration of exactly that routine and user data.
    // An event goes to the routines registered when it arrived, also to those
    // unregistered while it is handed round.
    std::vector<KeyEventRegistration> key_event_handlers() const;

    // Failure keys active in the host; elements listing them apply the action.
    void fail(uint32_t failure_key) { failures_.insert(failure_key); }
    void restore(uint32_t failure_key) { failures_.erase(failure_key); }
    bool is_failed(uint32_t failure_key) const { return failures_.count(failure_key) != 0; }

    // The trace every call into module code and every service is written
    // to (runtime/trace.h); null, the default, traces nothing. The trace
    // must outlive the modules' calls through this host.
    void set_trace(Trace* trace) { trace_ = trace; }
    Trace* trace() const { return trace_; }

    // Top-level windows FindWindowA reports to modules.
    void set_window(const std::string& window_class, const std::string& title, bool present);
    // The simulator's main window, which modules look for with FindWindowA
    // to tell which shell of the simulator runs them.
    static constexpr char kMainWindowClass[] = "MSCFSMAIN";
    static constexpr char kMainWindowTitle[] = "Microsoft Combat Flight Simulator";
    void set_main_window(bool open) { set_window(kMainWindowClass, kMainWindowTitle, open); }
    bool has_window(const std::optional<std::string>& window_class,
                    const std::optional<std::string>& title) const noexcept;

    // A call of service `slot` by module code of `caller`, its arguments as
    // passed: logged, then handed to the service's on_ function. What that
    // raises is kept with record_fault, but a fault of module memory, which
    // ends the module's call.
    void serve(Module& caller, uint32_t slot, std::span<const uint32_t> args);
    void record(uint32_t slot, std::span<const uint32_t> args) noexcept;
    void record_unexpected(uint32_t slot) noexcept;
    void record_fault(uint32_t slot, const char* what) noexcept;

    // The services, each with the module that called it and its arguments as
    // the host sees them: on_lookup_var(Module&, GuestPtr<guest::MODULE_VAR>).
#define BENCH_HOST_SERVICE(slot, name, parameters, arguments) WithCaller<guest::name##_service>::type on_##name;
    PANEL_SERVICES(BENCH_HOST_SERVICE)
#undef BENCH_HOST_SERVICE

    // The calculator hook for execute_calculator_code; without one the program
    // is only logged.
    using CalculatorRunner = std::function<void(const char* program)>;
    void set_calculator(CalculatorRunner runner) { calculator_ = std::move(runner); }
    const RecentLog<std::string>& calculator_log() const { return calculator_log_; }

private:
    // A registration lives from the event count at which it was made until
    // the one at which it was taken back; one taken back while events are
    // handed round stays in the list until the outermost delivery ends.
    struct Routine {
        KeyEventRegistration registration;
        uint64_t from = 0;
        uint64_t until = UINT64_MAX;
    };
    // send_key_event in the machine's words: the event a module sends
    // through its service table, whose routines' faults end the module's
    // own call as its own faults would.
    void post_key_event(uint32_t event_id, uint32_t value);
    void deliver(uint32_t event_id, uint32_t value);

    VariableStore vars_;
    bool night_ = false;
    KeyModel model_;
    RecentLog<KeyEvent> key_log_{kKeyLogLength};
    RecentLog<ServiceCall> service_log_{kServiceLogLength};
    std::vector<uint32_t> unexpected_slots_;
    uint64_t unexpected_count_ = 0;
    std::vector<ServiceFault> service_faults_;
    size_t service_fault_count_ = 0;
    std::set<std::pair<const Module*, uint32_t>> bound_;
    std::vector<Routine> routines_;
    uint64_t events_ = 0;  // events that have arrived
    int delivering_ = 0;   // deliveries under way (they nest)
    std::set<uint32_t> failures_;
    std::set<std::pair<std::string, std::string>> windows_;
    CalculatorRunner calculator_;
    RecentLog<std::string> calculator_log_{kCalculatorLogLength};
    Host* previous_ = nullptr;
    Trace* trace_ = nullptr;
};

}  // namespace runtime
