// The bench host: the stand-in for the simulator's panel system.
//
// One Host is the active host of the process while it exists: the service
// table it hands to modules dispatches to it. It keeps the simulator variables
// by token (and by name), the key events sent to it, the services called, the
// active failures and the top-level windows the platform reports.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "frame/services.h"
#include "host/key_model.h"
#include "host/variables.h"

namespace bench {

// Service numbers of the slots the host serves (the rest hold traps).
inline constexpr uint32_t kSlotElementListQuery = offsetof(PANELS, element_list_query) / 4;
inline constexpr uint32_t kSlotElementListInstall = offsetof(PANELS, element_list_install) / 4;
inline constexpr uint32_t kSlotElementListInitialize = offsetof(PANELS, element_list_initialize) / 4;
inline constexpr uint32_t kSlotElementListUpdate = offsetof(PANELS, element_list_update) / 4;
inline constexpr uint32_t kSlotElementListGenerate = offsetof(PANELS, element_list_generate) / 4;
inline constexpr uint32_t kSlotElementListPlot = offsetof(PANELS, element_list_plot) / 4;
inline constexpr uint32_t kSlotElementListKill = offsetof(PANELS, element_list_kill) / 4;
inline constexpr uint32_t kSlotTriggerKeyEvent = offsetof(PANELS, trigger_key_event) / 4;
inline constexpr uint32_t kSlotInitializeVar = offsetof(PANELS, initialize_var) / 4;
inline constexpr uint32_t kSlotLookupVar = offsetof(PANELS, lookup_var) / 4;
inline constexpr uint32_t kSlotExecuteCalculatorCode = offsetof(PANELS, execute_calculator_code) / 4;
inline constexpr uint32_t kSlotRegisterKeyEventHandler = offsetof(PANELS, register_key_event_handler) / 4;
inline constexpr uint32_t kSlotUnregisterKeyEventHandler = offsetof(PANELS, unregister_key_event_handler) / 4;

inline constexpr std::array<uint32_t, 13> kServedSlots = {
    kSlotElementListQuery,    kSlotElementListInstall,      kSlotElementListInitialize,
    kSlotElementListUpdate,   kSlotElementListGenerate,     kSlotElementListPlot,
    kSlotElementListKill,     kSlotTriggerKeyEvent,         kSlotInitializeVar,
    kSlotLookupVar,           kSlotExecuteCalculatorCode,   kSlotRegisterKeyEventHandler,
    kSlotUnregisterKeyEventHandler,
};

// One call the module made into the service table.
struct ServiceCall {
    uint32_t slot = 0;            // service number (offset / 4)
    uint32_t args[4] = {};        // the 32-bit arguments as passed (pointers as addresses)
};

// A key-event routine registered by a module, with its user data.
struct KeyEventRegistration {
    KeyEventHandler handler = nullptr;
    uint32_t user_data = 0;
};

class Host {
public:
    Host();
    ~Host();
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    // The host the service table dispatches to; null when none exists.
    static Host* active();

    // The table whose address goes into a module's ImportTable.
    PANELS* panels();

    VariableStore& vars() { return vars_; }
    const VariableStore& vars() const { return vars_; }

    // Key events: every event, from a module or from outside, is logged,
    // applied to the model and handed to every registered key-event routine.
    void send_key_event(uint32_t event_id, uint32_t value);
    const std::vector<KeyEvent>& key_log() const { return key_log_; }
    void clear_key_log() { key_log_.clear(); }
    KeyModel& model() { return model_; }

    // One simulation step of the model (engines spooling up and the like).
    void tick();

    // Services the modules called, in order; calls to unused slots land here
    // too and are also counted as unexpected.
    const std::vector<ServiceCall>& service_log() const { return service_log_; }
    // The logged calls to one service number, in order.
    std::vector<ServiceCall> calls_to(uint32_t slot) const;
    void clear_service_log() { service_log_.clear(); }
    const std::vector<uint32_t>& unexpected_slots() const { return unexpected_slots_; }

    // MODULE_VAR records passed to initialize_var (bound to their token).
    bool is_bound(const MODULE_VAR* var) const { return bound_.count(var) != 0; }

    // Registered key-event routines, in registration order. Unregistering
    // removes the earliest registration of exactly that routine and user data.
    const std::vector<KeyEventRegistration>& key_event_handlers() const { return key_handlers_; }

    // Failure keys active in the host; elements listing them apply the action.
    void fail(uint32_t failure_key) { failures_.insert(failure_key); }
    void restore(uint32_t failure_key) { failures_.erase(failure_key); }
    bool is_failed(uint32_t failure_key) const { return failures_.count(failure_key) != 0; }

    // Top-level windows the platform reports to FindWindowA on the Linux twin.
    void set_window(const std::string& window_class, const std::string& title, bool present);
    bool has_window(const char* window_class, const char* title) const;

    // Entry points of the service table (called by the module through PANELS).
    void record(uint32_t slot, std::initializer_list<uint32_t> args);
    void record_unexpected(uint32_t slot);
    void on_initialize_var(MODULE_VAR* var);
    void on_lookup_var(MODULE_VAR* var);
    void on_register_key_event_handler(KeyEventHandler handler, uint32_t user_data);
    void on_unregister_key_event_handler(KeyEventHandler handler, uint32_t user_data);

    // The calculator hook for execute_calculator_code; without one the program
    // is only logged.
    using CalculatorRunner = std::function<void(const char* program)>;
    void set_calculator(CalculatorRunner runner) { calculator_ = std::move(runner); }
    void on_execute_calculator_code(const char* program);
    const std::vector<std::string>& calculator_log() const { return calculator_log_; }

private:
    PANELS panels_{};
    VariableStore vars_;
    KeyModel model_;
    std::vector<KeyEvent> key_log_;
    std::vector<ServiceCall> service_log_;
    std::vector<uint32_t> unexpected_slots_;
    std::set<const MODULE_VAR*> bound_;
    std::vector<KeyEventRegistration> key_handlers_;
    std::set<uint32_t> failures_;
    std::set<std::pair<std::string, std::string>> windows_;
    CalculatorRunner calculator_;
    std::vector<std::string> calculator_log_;
    Host* previous_ = nullptr;
};

}  // namespace bench

#ifndef _WIN32
// The Linux twin's stand-in for user32's FindWindowA: it answers from the
// active host's windows (see Host::set_window). Exported by every executable
// that hosts modules, so that modules resolve it from there.
extern "C" void* GAUGE_CALL FindWindowA(const char* window_class, const char* title);
#endif
