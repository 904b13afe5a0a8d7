// What module code is running for, as the host's callers name it: the
// module, the gauge and the callback. A debugger's stop, the trace and every
// fault report say "Korvane!Altimeter, gauge_callback (update)" from it,
// where the machine alone knows only an address. Calls nest (a service that
// sends a key event runs another module's routine), so the innermost scope
// is current. Scopes are per thread and allocate nothing.
//
// A callback has one name wherever it is reported: the record's field a
// module fills in for it, with the service id in the designer's words for
// a gauge callback ("gauge_callback (update)"), and "needle callback",
// "mouse handler", "key-event routine", "module_init"... for the others.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/key_model.h"

namespace runtime {

class Module;
class Trace;

struct CallContext {
    const Module* module = nullptr;
    std::string_view gauge;         // empty: the module's own (module_init, a key-event routine)
    std::string_view callback;      // "gauge_callback (update)", "mouse handler", "module_init"
    std::optional<KeyEvent> event;  // the event a key-event routine is run for
};

// Marks module code run from here to the scope's end; the strings must
// outlive it. The module's host's trace, if it has one, records the call.
class CallScope {
public:
    CallScope(const Module& module, std::string_view gauge, std::string_view callback) noexcept;
    // A key-event routine of the module, run for `event`.
    CallScope(const Module& module, const KeyEvent& event) noexcept;
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

private:
    Trace* trace_;
};

inline constexpr std::string_view kKeyEventRoutine = "key-event routine";
inline constexpr std::string_view kMouseHandler = "mouse handler";

// The gauge callback's name for a service id: "gauge_callback (update)",
// "gauge_callback (service 7)" for an id the host never sends.
std::string gauge_callback_name(uint32_t service_id);
// The same for the ids the host sends, as constants (a panel update names
// one for every gauge); nullopt for any other.
std::optional<std::string_view> sent_gauge_callback_name(uint32_t service_id);
// An element's callback by its record's field: "needle callback" for a
// needle's update_callback, "sprite callback x" for a sprite's callback_x.
std::string element_callback_name(uint32_t element_type, std::string_view field);
// The same, composed in place: an update names a callback for every element
// it asks, so naming allocates nothing (a name past the room is cut short).
class ElementCallbackName {
public:
    ElementCallbackName(uint32_t element_type, std::string_view field) noexcept;
    std::string_view view() const noexcept { return {text_, size_}; }

private:
    void append(std::string_view part) noexcept;
    char text_[48];
    size_t size_ = 0;
};
// A key-event routine's name with its event in the vocabulary's words:
// "key-event routine (throttle_set.1, value 8192)", "key-event routine
// (event 70000, value 0)" for an event the vocabulary lacks.
std::string key_event_routine_name(const KeyEvent& event);
// The callback as reports name it: its name, with the event for a key-event routine.
std::string callback_text(const CallContext& call);

// The innermost scope of this thread; null outside any.
const CallContext* current_call() noexcept;

}  // namespace runtime
