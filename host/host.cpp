#include "host/host.h"

#include <algorithm>
#include <array>
#include <exception>
#include <iterator>
#include <utility>

namespace bench {
namespace {

Host* g_active_host = nullptr;

uint32_t word(uint32_t value) { return value; }
uint32_t word(const void* pointer) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(pointer)); }
uint32_t word(KeyEventHandler handler) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(handler)); }

template <typename... Args>
std::array<uint32_t, sizeof...(Args)> words(Args... args) {
    return {word(args)...};
}

// --- The service table's entries ---------------------------------------------
// Modules call these with the host convention. Each hands the call to the
// active host and does nothing when there is none (a module outliving its
// host must not bring the process down). Module code lies below on the
// stack and cannot pass an exception on: whatever the host raises stops
// here, is kept as a fault of the slot, and the call returns.

template <uint32_t Slot, typename Serve>
void guarded(Serve serve) noexcept {
    Host* const host = Host::active();
    if (host == nullptr) return;
    try {
        serve(*host);
    } catch (const std::exception& error) {
        host->record_fault(Slot, error.what());
    } catch (...) {
        host->record_fault(Slot, "an exception that is no std::exception");
    }
}

#define BENCH_SERVICE_ENTRY(slot, name, parameters, arguments) \
    void GAUGE_CALL name##_entry parameters noexcept {         \
        guarded<slot>([&](Host& host) {                        \
            host.record(slot, words arguments);                \
            host.on_##name arguments;                          \
        });                                                    \
    }
KORVANE_SERVICES(BENCH_SERVICE_ENTRY)
#undef BENCH_SERVICE_ENTRY

// Every slot the host does not serve holds its own trap, so that a module
// calling a service it should not is caught with the slot it used. A trap
// takes no arguments: a caller that passes some is already at fault, and the
// trap reports the slot before anything else happens.
template <uint32_t Slot>
struct Trap {
    static void GAUGE_CALL call() noexcept {
        guarded<Slot>([](Host& host) { host.record_unexpected(Slot); });
    }
};

PANELS make_panels() {
    PANELS table{};
    fill_unused_slots<Trap>(table);
#define BENCH_SERVE(slot, name, parameters, arguments) table.name = &name##_entry;
    KORVANE_SERVICES(BENCH_SERVE)
#undef BENCH_SERVE
    return table;
}

}  // namespace

Host::Host() : panels_(make_panels()), previous_(g_active_host) { g_active_host = this; }

Host::~Host() {
    if (g_active_host == this) g_active_host = previous_;
}

Host* Host::active() noexcept { return g_active_host; }

PANELS* Host::panels() noexcept { return &panels_; }

void Host::send_key_event(uint32_t event_id, uint32_t value) {
    const KeyEvent event{event_id, value};
    key_log_.add(event);
    model_.apply(event, vars_);
    deliver(event_id, value);
}

// A routine may register or unregister routines, and send events, while it
// runs. Indices stay valid meanwhile: registrations are only appended, and
// those taken back leave the list when the outermost delivery ends.
void Host::deliver(uint32_t event_id, uint32_t value) {
    const uint64_t event = ++events_;
    struct Delivering {
        Host& host;
        explicit Delivering(Host& h) : host(h) { ++host.delivering_; }
        ~Delivering() {
            if (--host.delivering_ != 0) return;
            std::erase_if(host.routines_, [](const Routine& r) { return r.until != UINT64_MAX; });
        }
        Delivering(const Delivering&) = delete;
        Delivering& operator=(const Delivering&) = delete;
    } delivering(*this);
    for (size_t i = 0; i < routines_.size(); ++i) {
        const Routine routine = routines_[i];  // the call may move the list
        if (routine.from < event && event <= routine.until && routine.registration.handler != nullptr) {
            routine.registration.handler(event_id, value, routine.registration.user_data);
        }
    }
}

std::vector<KeyEventRegistration> Host::key_event_handlers() const {
    std::vector<KeyEventRegistration> live;
    for (const Routine& routine : routines_) {
        if (routine.until == UINT64_MAX) live.push_back(routine.registration);
    }
    return live;
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
bool Host::has_window(const char* window_class, const char* title) const noexcept {
    return std::any_of(windows_.begin(), windows_.end(), [&](const auto& window) {
        return (window_class == nullptr || window.first == window_class) &&
               (title == nullptr || window.second == title);
    });
}

void Host::record(uint32_t slot, std::span<const uint32_t> args) noexcept {
    ServiceCall call;
    call.slot = slot;
    std::copy_n(args.begin(), std::min(args.size(), std::size(call.args)), call.args);
    service_log_.add(call);
}

// The slots are kept up to a bound, and no further: a module that calls a
// trap on every update must not make the host grow.
void Host::record_unexpected(uint32_t slot) noexcept {
    record(slot, {});
    ++unexpected_count_;
    if (unexpected_slots_.size() == kMaxKeptUnexpected) return;
    try {
        unexpected_slots_.push_back(slot);
    } catch (...) {}
}

// The count goes first: it cannot fail, so a fault whose details cannot be
// kept is still counted.
void Host::record_fault(uint32_t slot, const char* what) noexcept {
    ++service_fault_count_;
    if (service_faults_.size() == kMaxKeptFaults) return;
    try {
        service_faults_.push_back({slot, what != nullptr ? what : ""});
    } catch (...) {}
}

// The element-list services are logged and no more: the bench keeps no
// simulator-side state of element lists.
void Host::on_element_list_query(ELEMENT_HEADER*) {}
void Host::on_element_list_install(ELEMENT_HEADER*, uint32_t) {}
void Host::on_element_list_initialize(ELEMENT_HEADER*) {}
void Host::on_element_list_update(ELEMENT_HEADER*) {}
void Host::on_element_list_generate(ELEMENT_HEADER*, uint32_t) {}
void Host::on_element_list_plot(ELEMENT_HEADER*) {}
void Host::on_element_list_kill(ELEMENT_HEADER*) {}

void Host::on_trigger_key_event(uint32_t event_id, uint32_t value) { send_key_event(event_id, value); }

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
    routines_.push_back({{handler, user_data}, events_, UINT64_MAX});
}

// Removes the earliest registration of exactly this routine with exactly this
// user data; the same routine registered with other data stays. While events
// are handed round it is only marked, so that they still reach it.
void Host::on_unregister_key_event_handler(KeyEventHandler handler, uint32_t user_data) {
    const auto match = std::find_if(routines_.begin(), routines_.end(), [&](const Routine& r) {
        return r.until == UINT64_MAX && r.registration.handler == handler && r.registration.user_data == user_data;
    });
    if (match == routines_.end()) return;
    if (delivering_ != 0) {
        match->until = events_;
    } else {
        routines_.erase(match);
    }
}

// No result is ever written back: the host's programs are run for their
// effect on the variables.
void Host::on_execute_calculator_code(const char* program, double*, int32_t*, const char**) {
    if (program == nullptr) return;
    calculator_log_.add(program);
    if (calculator_) calculator_(program);
}

}  // namespace bench

#ifndef _WIN32
namespace {
// Stands for the window's handle; only its being non-null matters.
char g_window_handle;
}  // namespace

extern "C" void* GAUGE_CALL FindWindowA(const char* window_class, const char* title) noexcept {
    bench::Host* host = bench::Host::active();
    return host != nullptr && host->has_window(window_class, title) ? &g_window_handle : nullptr;
}
#endif
