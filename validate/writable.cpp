#include "validate/writable.h"

#include <cstdio>

#include "runtime/host.h"
#include "runtime/module_code.h"
#include "validate/records.h"

namespace validate {
namespace {

// Stand-alone records follow a version-700 header, one slot each.
constexpr size_t kMaxStandaloneSlots = 64;

}  // namespace

void VariableGuard::attach(runtime::Module& module) {
    const emulator::GuestMemory& memory = module.memory();
    headers_.clear();
    for (const runtime::GaugePtr gauge : module.gauges()) {
        if (!memory.readable(gauge.address, sizeof(guest::GAUGEHDR))) continue;
        if (memory.read(gauge).header_version != kHeaderVersion700) continue;
        const std::string name = module.gauge_name(gauge);
        if (!name.empty()) headers_.emplace_back(gauge.address, name);
    }
    for (const uint32_t slot : {service_slot::initialize_var, service_slot::lookup_var}) {
        const runtime::ServiceShape* shape = runtime::service_shape(slot);
        const uint32_t routine = module.machine().host_routine(
            std::string(shape->name) + " (guarded)", shape->words, emulator::Convention::kStdcall,
            [this, &module, slot](std::span<const uint32_t> args) -> uint32_t {
                static_assert(std::is_same_v<runtime::ServiceSignature<service_slot::lookup_var>::type,
                                             runtime::ServiceSignature<service_slot::initialize_var>::type>);
                const auto [var] = runtime::service_arguments<service_slot::lookup_var>(args);
                if (!args.empty() && !admit(module, var.address)) {
                    module.host().record(slot, args);  // logged as served, so its token is learnt
                    return 0;
                }
                module.host().serve(module, slot, args);
                return 0;
            });
        module.memory().write(frame::GuestPtr<uint32_t>(module.panels().address + 4 * slot)) = routine;
    }
}

bool VariableGuard::admit(const runtime::Module& module, uint32_t var) {
    const emulator::GuestMemory& memory = module.memory();
    // A record the module cannot read is its own fault (the host's read
    // faults, ending the call); one it may write, the host writes.
    if (var == 0 || !memory.readable(var, sizeof(guest::MODULE_VAR))) return true;
    if (memory.writable(var, sizeof(guest::MODULE_VAR))) return true;
    if (reported_.insert(var).second) {
        const uint32_t token = memory.read(frame::GuestPtr<guest::MODULE_VAR>(var)).token;
        char what[64];
        std::snprintf(what, sizeof what, "stand-alone variable (token %u)", token);
        report_.fail(Check::kWritableRecords, gauge_before(var), "", what, kReadOnlyRecord);
    }
    return false;
}

// The gauge whose header the record follows in one of its slots; "" for a
// record kept elsewhere.
std::string VariableGuard::gauge_before(uint32_t address) const {
    const std::pair<uint32_t, std::string>* nearest = nullptr;
    for (const auto& entry : headers_) {
        const uint64_t first = uint64_t{entry.first} + sizeof(guest::GAUGEHDR);
        if (address < first || (nearest != nullptr && entry.first < nearest->first)) continue;
        const uint64_t offset = address - first;
        const bool in_a_slot = offset % sizeof(guest::MODULE_VAR_SLOT) == 0;
        if (in_a_slot && offset / sizeof(guest::MODULE_VAR_SLOT) < kMaxStandaloneSlots) nearest = &entry;
    }
    return nearest != nullptr ? nearest->second : std::string();
}

}  // namespace validate
