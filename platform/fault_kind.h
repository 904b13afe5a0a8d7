// What module code can do wrong, in one list for every floor that meets it:
// the machine raises these, the runtime reports them, the validator and the
// commands name them. A floor's own fault class carries one of them.
#pragma once

#include <cstdint>

namespace platform {

#define PLATFORM_FAULT_KINDS(X)                                                                              \
    X(kRead, "read of unmapped memory")                       /* memory no region holds */                   \
    X(kWrite, "write of unmapped or read-only memory")        /* or one the module may only read */          \
    X(kFetch, "code run outside the module's code")           /* code run where there is none */             \
    X(kInvalidInstruction, "invalid instruction")             /* one the processor refuses */                \
    X(kDivide, "division fault")                              /* by zero, or overflowing */                  \
    X(kBudget, "instruction budget spent (a loop that never ends?)")                                         \
    X(kUnboundImport, "call of an import the host does not provide")                                         \
    X(kBrokenCall, "call returned with its stack or registers moved") /* or callee-saved registers */       \
    X(kOther, "fault")                                        /* anything else the machine stopped for */

enum class FaultKind : uint8_t {
#define PLATFORM_FAULT_KIND_ENUM(name, text) name,
    PLATFORM_FAULT_KINDS(PLATFORM_FAULT_KIND_ENUM)
#undef PLATFORM_FAULT_KIND_ENUM
};

constexpr const char* fault_kind_name(FaultKind kind) {
    switch (kind) {
#define PLATFORM_FAULT_KIND_NAME(name, text) \
    case FaultKind::name: return text;
        PLATFORM_FAULT_KINDS(PLATFORM_FAULT_KIND_NAME)
#undef PLATFORM_FAULT_KIND_NAME
    }
    return "fault";
}

}  // namespace platform
