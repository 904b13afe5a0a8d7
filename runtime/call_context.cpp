#include "runtime/call_context.h"

#include <array>

#include "frame/records.h"
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
    if (t_depth < kKept) t_calls[t_depth] = CallContext{&module, gauge, callback};
    ++t_depth;
    if (trace_ != nullptr) trace_->enter(module, gauge, callback);
}

CallScope::~CallScope() {
    if (trace_ != nullptr) trace_->leave();
    --t_depth;
}

std::string_view gauge_callback_name(uint32_t service_id) noexcept {
    switch (service_id) {
        case kServiceSetup: return "gauge_callback (setup)";
        case kServiceAfterSetup: return "gauge_callback (after setup)";
        case kServiceUpdate: return "gauge_callback (update)";
        default: return "gauge_callback";
    }
}

const CallContext* current_call() noexcept {
    if (t_depth == 0) return nullptr;
    return &t_calls[(t_depth <= kKept ? t_depth : kKept) - 1];
}

}  // namespace runtime
