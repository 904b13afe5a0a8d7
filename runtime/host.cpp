#include "runtime/host.h"

#include <algorithm>
#include <array>
#include <exception>
#include <iterator>
#include <utility>

#include "runtime/call_context.h"
#include "runtime/module_code.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

Host* g_active_host = nullptr;

constexpr ServiceShape kServiceShapes[] = {
#define BENCH_SERVICE_SHAPE(slot, name, parameters, arguments) \
    {slot, #name, static_cast<uint32_t>(frame::arity_of<guest::name##_service>)},
    PANEL_SERVICES(BENCH_SERVICE_SHAPE)
#undef BENCH_SERVICE_SHAPE
};

// A call passing fewer words than the service takes is recorded and not served.
template <typename... Args>
void invoke(Host& host, void (Host::*service)(Module&, Args...), Module& caller, std::span<const uint32_t> args) {
    if (args.size() < argument_words::kWords<Args...>) return;
    std::apply([&](Args... parameters) { (host.*service)(caller, parameters...); },
               argument_words::unpack<Args...>(args));
}

}  // namespace

const ServiceShape* service_shape(uint32_t slot) {
    for (const ServiceShape& shape : kServiceShapes) {
        if (shape.slot == slot) return &shape;
    }
    return nullptr;
}

// Module code lies below on the stack and cannot pass an exception on:
// whatever the host raises stops here and is kept as a fault of the slot, but
// a fault of module memory, which ends the module's call as the module's own
// fault would, and a stop of the program's, which ends it as no fault.
void Host::serve(Module& caller, uint32_t slot, std::span<const uint32_t> args) {
    record(slot, args);
    try {
        switch (slot) {
#define BENCH_SERVICE_CASE(slot_, name, parameters, arguments) \
    case slot_: invoke(*this, &Host::on_##name, caller, args); break;
            PANEL_SERVICES(BENCH_SERVICE_CASE)
#undef BENCH_SERVICE_CASE
            default: record_unexpected(slot); break;
        }
    } catch (const emulator::GuestFault&) {
        throw;
    } catch (const emulator::CallStopped&) {
        throw;
    } catch (const std::exception& error) {
        record_fault(slot, error.what());
    } catch (...) {
        record_fault(slot, "an exception that is no std::exception");
    }
    if (trace_ != nullptr) trace_->service(caller, slot, args);
}

Host::Host() : previous_(g_active_host) { g_active_host = this; }

// Hosts need not end in the order they began: a live panel's new host is
// made beside the running one, which ends once the new one stands. One that
// is not the latest leaves the chain where it stands, so none is left
// pointing at it.
Host::~Host() {
    if (g_active_host == this) {
        g_active_host = previous_;
        return;
    }
    for (Host* later = g_active_host; later != nullptr; later = later->previous_) {
        if (later->previous_ == this) {
            later->previous_ = previous_;
            return;
        }
    }
}

Host* Host::active() noexcept { return g_active_host; }

void Host::send_key_event(uint32_t event_id, uint32_t value) {
    try {
        post_key_event(event_id, value);
    } catch (const emulator::GuestFault& fault) {
        throw module_fault(fault);
    }
}

void Host::post_key_event(uint32_t event_id, uint32_t value) {
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
        const KeyEventRegistration& r = routine.registration;
        if (routine.from < event && event <= routine.until && r.handler && r.module != nullptr) {
            const uint32_t args[] = {event_id, value, r.user_data};
            const KeyEvent event{event_id, value};
            try {
                const CallScope scope(*r.module, event);
                r.module->machine().call(r.handler.address, args, emulator::Convention::kCdecl);
            } catch (const emulator::GuestFault& fault) {
                // The same fault, its message naming the module whose routine it was.
                throw emulator::GuestFault(fault.kind(), fault.address(), fault.pc(),
                                           fault_message(*r.module, key_event_routine_name(event), fault));
            }
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

void Host::tick() {
    if (trace_ != nullptr) trace_->tick();
    model_.tick(vars_);
}

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
bool Host::has_window(const std::optional<std::string>& window_class,
                      const std::optional<std::string>& title) const noexcept {
    return std::any_of(windows_.begin(), windows_.end(), [&](const auto& window) {
        return (!window_class || window.first == *window_class) && (!title || window.second == *title);
    });
}

void Host::forget(const Module& module) {
    std::erase_if(bound_, [&](const auto& bound) { return bound.first == &module; });
    for (Routine& routine : routines_) {
        if (routine.registration.module == &module) routine.registration.module = nullptr;
    }
    if (delivering_ == 0) std::erase_if(routines_, [](const Routine& r) { return r.registration.module == nullptr; });
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
void Host::on_element_list_query(Module&, ElementPtr) {}
void Host::on_element_list_install(Module&, ElementPtr, uint32_t) {}
void Host::on_element_list_initialize(Module&, ElementPtr) {}
void Host::on_element_list_update(Module&, ElementPtr) {}
void Host::on_element_list_generate(Module&, ElementPtr, uint32_t) {}
void Host::on_element_list_plot(Module&, ElementPtr) {}
void Host::on_element_list_kill(Module&, ElementPtr) {}

void Host::on_trigger_key_event(Module&, uint32_t event_id, uint32_t value) { post_key_event(event_id, value); }

void Host::on_initialize_var(Module& caller, frame::GuestPtr<guest::MODULE_VAR> var) {
    if (!var) return;
    guest::MODULE_VAR& record = caller.memory().write(var);
    bound_.insert({&caller, uint32_t{var.address}});
    record.value = vars_.get(record.token);
}

// By token alone: the record need never have been bound.
void Host::on_lookup_var(Module& caller, frame::GuestPtr<guest::MODULE_VAR> var) {
    if (!var) return;
    guest::MODULE_VAR& record = caller.memory().write(var);
    record.value = vars_.get(record.token);
}

void Host::on_register_key_event_handler(Module& caller, guest::KeyEventHandler handler, uint32_t user_data) {
    routines_.push_back({{&caller, handler, user_data}, events_, UINT64_MAX});
}

// Removes the earliest registration of exactly this routine with exactly this
// user data; the same routine registered with other data stays. While events
// are handed round it is only marked, so that they still reach it.
void Host::on_unregister_key_event_handler(Module& caller, guest::KeyEventHandler handler, uint32_t user_data) {
    const auto match = std::find_if(routines_.begin(), routines_.end(), [&](const Routine& r) {
        return r.until == UINT64_MAX && r.registration.module == &caller && r.registration.handler == handler &&
               r.registration.user_data == user_data;
    });
    if (match == routines_.end()) return;
    if (delivering_ != 0) {
        match->until = events_;
    } else {
        routines_.erase(match);
    }
}

// No result is ever written back: the host's programs are run for their
// effect on the variables. A program longer than any gauge writes is cut
// off as unreadable.
void Host::on_execute_calculator_code(Module& caller, frame::GuestPtr<const char> code, frame::GuestPtr<double>,
                                      frame::GuestPtr<int32_t>, frame::GuestPtr<frame::GuestPtr<const char>>) {
    if (!code) return;
    const std::string program = caller.memory().read_string(code, 1u << 16);
    calculator_log_.add(program);
    if (calculator_) calculator_(program.c_str());
}

}  // namespace runtime
