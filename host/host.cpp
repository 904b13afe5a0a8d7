#include "host/host.h"

#include <algorithm>
#include <utility>

namespace bench {
namespace {

Host* g_active_host = nullptr;

uint32_t word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }
uint32_t word(KeyEventHandler handler) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handler)); }

// --- The service table's entry points --------------------------------------
// Modules call these with the host convention; each hands the call to the
// active host and does nothing when there is none (a module outliving its
// host must not bring the process down).

template <uint32_t Slot>
void GAUGE_CALL element_list_service(ELEMENT_HEADER* element) {
    if (Host* host = Host::active()) host->record(Slot, {word(element)});
}

template <uint32_t Slot>
void GAUGE_CALL element_list_service_with_arg(ELEMENT_HEADER* element, uint32_t host_argument) {
    if (Host* host = Host::active()) host->record(Slot, {word(element), host_argument});
}

void GAUGE_CALL trigger_key_event_service(uint32_t event_id, uint32_t value) {
    if (Host* host = Host::active()) {
        host->record(kSlotTriggerKeyEvent, {event_id, value});
        host->send_key_event(event_id, value);
    }
}

void GAUGE_CALL initialize_var_service(MODULE_VAR* var) {
    if (Host* host = Host::active()) {
        host->record(kSlotInitializeVar, {word(var)});
        host->on_initialize_var(var);
    }
}

void GAUGE_CALL lookup_var_service(MODULE_VAR* var) {
    if (Host* host = Host::active()) {
        host->record(kSlotLookupVar, {word(var)});
        host->on_lookup_var(var);
    }
}

void GAUGE_CALL execute_calculator_code_service(const char* code, double* float_result, int32_t* int_result,
                                                const char** string_result) {
    if (Host* host = Host::active()) {
        host->record(kSlotExecuteCalculatorCode, {word(code), word(float_result), word(int_result), word(string_result)});
        host->on_execute_calculator_code(code);
    }
}

void GAUGE_CALL register_key_event_handler_service(KeyEventHandler handler, uint32_t user_data) {
    if (Host* host = Host::active()) {
        host->record(kSlotRegisterKeyEventHandler, {word(handler), user_data});
        host->on_register_key_event_handler(handler, user_data);
    }
}

void GAUGE_CALL unregister_key_event_handler_service(KeyEventHandler handler, uint32_t user_data) {
    if (Host* host = Host::active()) {
        host->record(kSlotUnregisterKeyEventHandler, {word(handler), user_data});
        host->on_unregister_key_event_handler(handler, user_data);
    }
}

// Every slot the host does not serve holds its own trap, so that a module
// calling a service it should not is caught with the slot it used. A trap
// takes no arguments: a caller that passes some is already at fault, and the
// trap reports the slot before anything else happens.
template <uint32_t Slot>
void GAUGE_CALL unexpected_service() {
    if (Host* host = Host::active()) host->record_unexpected(Slot);
}

template <uint32_t First, size_t... I>
void fill_traps(UnusedService* slots, std::index_sequence<I...>) {
    ((slots[I] = &unexpected_service<First + static_cast<uint32_t>(I)>), ...);
}

template <uint32_t First, size_t N>
void fill_traps(UnusedService (&slots)[N]) {
    fill_traps<First>(slots, std::make_index_sequence<N>{});
}

PANELS make_panels() {
    PANELS table{};
    fill_traps<0>(table.unused_0_23);
    table.element_list_query = &element_list_service<kSlotElementListQuery>;
    table.element_list_install = &element_list_service_with_arg<kSlotElementListInstall>;
    table.element_list_initialize = &element_list_service<kSlotElementListInitialize>;
    table.element_list_update = &element_list_service<kSlotElementListUpdate>;
    table.element_list_generate = &element_list_service_with_arg<kSlotElementListGenerate>;
    table.element_list_plot = &element_list_service<kSlotElementListPlot>;
    table.unused_30 = &unexpected_service<30>;
    table.element_list_kill = &element_list_service<kSlotElementListKill>;
    fill_traps<32>(table.unused_32_35);
    table.trigger_key_event = &trigger_key_event_service;
    table.unused_37 = &unexpected_service<37>;
    table.initialize_var = &initialize_var_service;
    table.unused_39 = &unexpected_service<39>;
    table.lookup_var = &lookup_var_service;
    fill_traps<41>(table.unused_41_68);
    table.execute_calculator_code = &execute_calculator_code_service;
    fill_traps<70>(table.unused_70_79);
    table.register_key_event_handler = &register_key_event_handler_service;
    table.unregister_key_event_handler = &unregister_key_event_handler_service;
    return table;
}

}  // namespace

Host::Host() : panels_(make_panels()), previous_(g_active_host) { g_active_host = this; }

Host::~Host() {
    if (g_active_host == this) g_active_host = previous_;
}

Host* Host::active() { return g_active_host; }

PANELS* Host::panels() { return &panels_; }

void Host::send_key_event(uint32_t event_id, uint32_t value) {
    const KeyEvent event{event_id, value};
    key_log_.push_back(event);
    model_.apply(event, vars_);
    // A routine may register or unregister routines while it runs; the event
    // goes to those registered when it arrived.
    const std::vector<KeyEventRegistration> routines = key_handlers_;
    for (const KeyEventRegistration& routine : routines) {
        if (routine.handler != nullptr) routine.handler(event_id, value, routine.user_data);
    }
}

void Host::tick() { model_.tick(vars_); }

std::vector<ServiceCall> Host::calls_to(uint32_t slot) const {
    std::vector<ServiceCall> calls;
    for (const ServiceCall& call : service_log_) {
        if (call.slot == slot) calls.push_back(call);
    }
    return calls;
}

void Host::set_window(const std::string& window_class, const std::string& title, bool present) {
    if (present) {
        windows_.emplace(window_class, title);
    } else {
        windows_.erase({window_class, title});
    }
}

// As with the platform's FindWindowA, a null class or title matches any.
bool Host::has_window(const char* window_class, const char* title) const {
    return std::any_of(windows_.begin(), windows_.end(), [&](const auto& window) {
        return (window_class == nullptr || window.first == window_class) && (title == nullptr || window.second == title);
    });
}

void Host::record(uint32_t slot, std::initializer_list<uint32_t> args) {
    ServiceCall call;
    call.slot = slot;
    size_t i = 0;
    for (uint32_t arg : args) {
        if (i == std::size(call.args)) break;
        call.args[i++] = arg;
    }
    service_log_.push_back(call);
}

void Host::record_unexpected(uint32_t slot) {
    record(slot, {});
    unexpected_slots_.push_back(slot);
}

void Host::on_initialize_var(MODULE_VAR* var) {
    if (var == nullptr) return;
    bound_.insert(var);
    var->value = vars_.get(var->token);
}

// By token alone: the record need never have been bound.
void Host::on_lookup_var(MODULE_VAR* var) {
    if (var == nullptr) return;
    var->value = vars_.get(var->token);
}

void Host::on_register_key_event_handler(KeyEventHandler handler, uint32_t user_data) {
    key_handlers_.push_back({handler, user_data});
}

// Removes the earliest registration of exactly this routine with exactly this
// user data; the same routine registered with other data stays.
void Host::on_unregister_key_event_handler(KeyEventHandler handler, uint32_t user_data) {
    const auto match = std::find_if(key_handlers_.begin(), key_handlers_.end(), [&](const KeyEventRegistration& r) {
        return r.handler == handler && r.user_data == user_data;
    });
    if (match != key_handlers_.end()) key_handlers_.erase(match);
}

void Host::on_execute_calculator_code(const char* program) {
    if (program == nullptr) return;
    calculator_log_.emplace_back(program);
    if (calculator_) calculator_(program);
}

}  // namespace bench

#ifndef _WIN32
namespace {
// Stands for the window's handle; only its being non-null matters.
char g_window_handle;
}  // namespace

extern "C" void* GAUGE_CALL FindWindowA(const char* window_class, const char* title) {
    bench::Host* host = bench::Host::active();
    return host != nullptr && host->has_window(window_class, title) ? &g_window_handle : nullptr;
}
#endif
