// What module code can do wrong, in one list for every floor that meets it:
// the machine raises these, the runtime reports them, the validator and the
// commands name them. A floor's own fault class carries one of them.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

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

// A fault of module code as every floor carries it: its kind, the address it
// concerns and the instruction's (0: not in module code), and the message.
// Each floor's own fault class is one of these in its words.
class CodeFault : public std::runtime_error {
public:
    using Kind = FaultKind;
    CodeFault(Kind kind, uint32_t address, uint32_t pc, const std::string& what)
        : std::runtime_error(what), kind_(kind), address_(address), pc_(pc) {}
    Kind kind() const { return kind_; }
    uint32_t address() const { return address_; }
    uint32_t pc() const { return pc_; }

private:
    Kind kind_;
    uint32_t address_;
    uint32_t pc_;
};

}  // namespace platform
