#include "runtime/call_context.h"

#include <algorithm>
#include <array>

#include "frame/records.h"
#include "frame/vocabulary_names.h"
#include "runtime/host.h"
#include "runtime/trace.h"

namespace runtime {
namespace {

// Deeper nesting than the machine allows is still counted, so that each
// scope's end pops its own entry; only the first entries are kept.
constexpr size_t kKept = 128;
thread_local std::array<CallContext, kKept> t_calls;
thread_local size_t t_depth = 0;

}  // namespace

CallScope::CallScope(const Module& module, std::string_view gauge, std::string_view callback) noexcept
    : trace_(module.host().trace()) {
    if (t_depth < kKept) t_calls[t_depth] = CallContext{&module, gauge, callback, std::nullopt};
    ++t_depth;
    if (trace_ != nullptr) trace_->enter(module, gauge, callback);
}

CallScope::CallScope(const Module& module, const KeyEvent& event) noexcept : trace_(module.host().trace()) {
    if (t_depth < kKept) t_calls[t_depth] = CallContext{&module, {}, kKeyEventRoutine, event};
    ++t_depth;
    if (trace_ != nullptr) trace_->enter(module, {}, kKeyEventRoutine, &event);
}

CallScope::~CallScope() {
    if (trace_ != nullptr) trace_->leave();
    --t_depth;
}

std::optional<std::string_view> sent_gauge_callback_name(uint32_t service_id) {
    switch (service_id) {
        case kServiceSetup: return "gauge_callback (setup)";
        case kServiceAfterSetup: return "gauge_callback (after setup)";
        case kServiceUpdate: return "gauge_callback (update)";
        default: return std::nullopt;
    }
}

std::string gauge_callback_name(uint32_t service_id) {
    if (const std::optional<std::string_view> sent = sent_gauge_callback_name(service_id)) return std::string(*sent);
    return "gauge_callback (service " + std::to_string(service_id) + ")";
}

ElementCallbackName::ElementCallbackName(uint32_t element_type, std::string_view field) noexcept {
    const ElementKind* kind = element_kind(element_type);
    append(kind != nullptr ? kind->name : "element");
    append(" callback");
    constexpr std::string_view kAxis = "callback_";
    if (field.starts_with(kAxis)) {
        append(" ");
        append(field.substr(kAxis.size()));
    }
}

void ElementCallbackName::append(std::string_view part) noexcept {
    const size_t count = std::min(part.size(), sizeof text_ - size_);
    std::copy_n(part.data(), count, text_ + size_);
    size_ += count;
}

std::string element_callback_name(uint32_t element_type, std::string_view field) {
    return std::string(ElementCallbackName(element_type, field).view());
}

std::string key_event_routine_name(const KeyEvent& event) {
    const std::optional<sim::Event> named = sim::event_of(event.id);
    return std::string(kKeyEventRoutine) + " (" + (named ? named->name : "event " + std::to_string(event.id)) +
           ", value " + std::to_string(event.value) + ")";
}

std::string callback_text(const CallContext& call) {
    return call.event ? key_event_routine_name(*call.event) : std::string(call.callback);
}

const CallContext* current_call() noexcept {
    if (t_depth == 0) return nullptr;
    return &t_calls[(t_depth <= kKept ? t_depth : kKept) - 1];
}

}  // namespace runtime
