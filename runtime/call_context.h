// What module code is running for, as the host's callers name it: the
// module, the gauge and the callback. A debugger's stop and the trace say
// "Korvane!Altimeter, gauge_callback (update)" from it, where the machine
// alone knows only an address. Calls nest (a service that sends a key
// event runs another module's routine), so the innermost scope is current.
// Scopes are per thread and allocate nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace runtime {

class Module;
class Trace;

struct CallContext {
    const Module* module = nullptr;
    std::string_view gauge;     // empty: the module's own (module_init, a key-event routine)
    std::string_view callback;  // "gauge_callback (update)", "mouse handler", "module_init"
};

// Marks module code run from here to the scope's end; the strings must
// outlive it. The module's host's trace, if it has one, records the call.
class CallScope {
public:
    CallScope(const Module& module, std::string_view gauge, std::string_view callback) noexcept;
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    Trace* trace_;
};

// The gauge callback's name for a service id: "gauge_callback (update)".
std::string_view gauge_callback_name(uint32_t service_id) noexcept;

// The innermost scope of this thread; null outside any.
const CallContext* current_call() noexcept;

}  // namespace runtime
